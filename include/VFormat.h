/// @file
/// Messages and blocks as text for people: the report `vmsg decode` prints,
/// with the names of a vmsg::Dictionary when one is given.
///
/// A report gives the message header, every tag with its offset, declared
/// length and value, where and why a block stopped parsing, and with a
/// dictionary the endpoint's verdict, the missing required tags, the tags a
/// closed message does not list and the message's objects:
///
///     const vmsg::Dictionary dict = vmsg::Dictionary::load("telemetry.json");
///     std::cout << vmsg::describe(block, length, &dict);
///
/// Each function builds its text anew and keeps no state: they may be
/// called from several threads at once (on one dictionary too).
#ifndef VMSG_VFORMAT_H
#define VMSG_VFORMAT_H

#include <VDictionary.h>
#include <VList.h>
#include <VMsg.h>
#include <VTag.h>
#include <VWire.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace vmsg {

/// The report on one received block, as `vmsg decode [--dict FILE]`
/// prints it under the line that names the block: "message 0x01
/// telemetry, flags 0x00, 2 tags, 14 payload bytes", the tag table, the
/// stop and, with @p dict, the dictionary's findings. A block shorter than
/// 2 bytes or longer than 65535 gives one line saying so.
/// @param block  the block's first byte; null is read as an empty block.
/// @param length the block's length in bytes.
/// @param dict   names and checks; null for none.
/// @return the text, one or more lines, each ending with a newline.
VMSG_API std::string describe(const void* block, std::size_t length, const Dictionary* dict = nullptr);

/// The same report as a JSON document (what `vmsg decode --json` gives for
/// each block, without its "block" and "source" members).
/// @param block  the block's first byte; null is read as an empty block.
/// @param length the block's length in bytes.
/// @param dict   names and checks; null for none.
/// @return the document, indented by 2, ending with a newline.
VMSG_API std::string describeJson(const void* block, std::size_t length, const Dictionary* dict = nullptr);

/// The report on the block @p msg is written as (describe of its
/// encoding). A message too large for one block gives a summary line,
/// "... payload bytes: too large for one block", and the first line of
/// each of its first 20 tags. The message's cursor is left alone.
/// @param msg  the message.
/// @param dict names and checks; null for none.
/// @return the text, each line ending with a newline.
VMSG_API std::string format(const VMsg& msg, const Dictionary* dict = nullptr);

/// One tag as the report's structured view shows it: "tag 33 reading f32
/// 21.5 (bits 0x41ac0000)"; long raw bytes continue on further lines,
/// aligned under the value.
/// @param tag    the tag.
/// @param dict   gives the tag's name; null for none.
/// @param indent put before every line.
/// @return the text, each line ending with a newline.
VMSG_API std::string format(const VTag& tag, const Dictionary* dict = nullptr, std::string_view indent = {});

/// An error record in words, with the names of @p dict: "message id 0x7f
/// is not in the dictionary", "required tag 1 (device) is missing", ...
/// @param error the record (from Carrow, vmsg::Endpoint or vmsg::structure).
/// @param dict  names the tag of ErrMissingTag; null for none.
/// @return the text, without a newline.
VMSG_API std::string errorText(const VError& error, const Dictionary* dict = nullptr);

} // namespace vmsg

#endif
