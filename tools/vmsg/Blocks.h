// Reading blocks: hex text (one block per line) or raw bytes, from a file
// or standard input.
#ifndef VMSG_TOOL_BLOCKS_H
#define VMSG_TOOL_BLOCKS_H

#include "Library.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vmsgtool {

/// Parses hex text into one block per line. Whitespace and commas separate
/// bytes, a "0x" prefix is allowed on every group of digits, a group holds
/// whole bytes (an even number of digits), and '#' starts a comment.
/// Lines without digits are skipped.
/// @param source the input's name, used in positions and errors.
/// @throws UsageError "SOURCE:LINE:COLUMN: ..." naming what was expected.
std::vector<Block> parseHexBlocks(std::string_view text, const std::string& source);

/// Parses one line of hex text, as parseHexBlocks does each line; a line
/// without digits gives a block without bytes.
/// @param lineNumber the line's number in @p source, from 1.
/// @throws UsageError "SOURCE:LINE:COLUMN: ..." as parseHexBlocks does.
Block parseHexLine(std::string_view line, const std::string& source, std::size_t lineNumber);

/// Parses the hex digits of one value, e.g. the payload of a bytes tag;
/// the same rules as one line of parseHexBlocks.
/// @throws UsageError "column N: ..." naming what was expected.
std::vector<unsigned char> parseHexBytes(std::string_view text);

/// The name of input @p path in messages: "stdin" for "-".
std::string inputName(const std::string& path);

/// The whole content of @p path, or of standard input for "-".
/// @throws UsageError naming the file and the system's reason.
std::string readInput(const std::string& path);

/// Reads the blocks of @p path: one raw block when @p raw, else hex lines.
/// @throws UsageError for unreadable files, bad hex text, or a block
///         longer than kMaxBlockSize.
std::vector<Block> readBlocks(const std::string& path, bool raw);

/// The bytes as hex text, the format parseHexBlocks reads.
std::string hexLine(const std::vector<unsigned char>& bytes);

} // namespace vmsgtool

#endif
