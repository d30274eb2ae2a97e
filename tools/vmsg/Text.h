// Small text conversions shared by the tool's modules: numbers in, quoted
// text, exact floats and bytes in hex out.
#ifndef VMSG_TOOL_TEXT_H
#define VMSG_TOOL_TEXT_H

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vmsgtool {

/// Reads a decimal number, or a hex one with a 0x prefix.
/// @return the value, or nothing when @p text is empty, has a sign or any
///         other character, or exceeds @p max.
std::optional<unsigned long> parseUnsigned(std::string_view text, unsigned long max);

/// @p text in double quotes; quote, backslash and bytes outside printable
/// ASCII become C escapes (\n, \t, \r, \xNN), so every byte stays visible.
std::string quoteText(std::string_view text);

/// The shortest decimal text that reads back as exactly @p value;
/// "nan", "-nan", "inf" and "-inf" for the special values.
std::string floatText(float value);

/// The IEEE 754 bit pattern of @p value.
unsigned int floatBits(float value);

/// @p value as "0x" and @p digits lowercase hex digits (more if needed).
std::string hexNumber(unsigned long value, int digits);

/// The bytes as lowercase hex pairs, separated by @p separator.
std::string hexBytes(const unsigned char* data, std::size_t size, const char* separator = " ");

/// @p text with the library's limits in place of its placeholders, so that
/// a text stating a limit follows the constant: {max-text} (longest text),
/// {max-bytes} (largest tag payload), {max-payload} (largest message
/// payload) and {more} (the more-segments flag, as 0x80).
std::string withLimits(std::string text);

} // namespace vmsgtool

#endif
