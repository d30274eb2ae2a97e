// Small text conversions of the decode report, shared with the vmsg tool
// and the Python module: numbers in, quoted text, exact floats, bytes in
// hex and type names out. Internal to libvmsg (not installed), but
// exported, since the tool and the module use them as well.
#ifndef VMSG_FORMAT_TEXT_H
#define VMSG_FORMAT_TEXT_H

#include <VTag.h>
#include <VWire.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vmsg::detail {

/// Reads a decimal number, or a hex one with a 0x prefix.
/// @return the value, or nothing when @p text is empty, has a sign or any
///         other character, or exceeds @p max.
VMSG_API std::optional<unsigned long> parseUnsigned(std::string_view text, unsigned long max);

/// @p text in double quotes; quote, backslash and bytes outside printable
/// ASCII become C escapes (\n, \t, \r, \xNN), so every byte stays visible.
VMSG_API std::string quoteText(std::string_view text);

/// The shortest decimal text that reads back as exactly @p value;
/// "nan", "-nan", "inf" and "-inf" for the special values.
VMSG_API std::string floatText(float value);

/// The IEEE 754 bit pattern of @p value.
VMSG_API unsigned int floatBits(float value);

/// @p value as "0x" and @p digits lowercase hex digits (more if needed).
VMSG_API std::string hexNumber(unsigned long value, int digits);

/// The bytes as lowercase hex pairs, separated by @p separator.
VMSG_API std::string hexBytes(const unsigned char* data, std::size_t size, const char* separator = " ");

/// @p text with the library's limits in place of its placeholders, so that
/// a text stating a limit follows the constant: {max-text} (longest text),
/// {max-bytes} (largest tag payload), {max-payload} (largest message
/// payload) and {more} (the more-segments flag, as 0x80).
VMSG_API std::string withLimits(std::string text);

/// The short name of type code @p code: null, str, u32, u16, u8, bytes,
/// f32; null pointer for codes above 6.
VMSG_API const char* typeName(unsigned code);

/// The type code named @p name (the names of typeName), or nothing.
VMSG_API std::optional<VTag::VTagType> typeFromName(std::string_view name);

/// The type names in one line, for messages that list what was expected.
VMSG_API const char* typeNameList();

} // namespace vmsg::detail

#endif
