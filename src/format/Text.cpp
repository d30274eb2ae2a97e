#include "format/Text.h"

#include <VWire.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace vmsg::detail {

namespace {

int digitValue(char c, unsigned base)
{
    int value = -1;
    if (c >= '0' && c <= '9')
        value = c - '0';
    else if (c >= 'a' && c <= 'f')
        value = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        value = c - 'A' + 10;
    return value >= 0 && static_cast<unsigned>(value) < base ? value : -1;
}

} // namespace

std::optional<unsigned long> parseUnsigned(std::string_view text, unsigned long max)
{
    unsigned base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty())
        return std::nullopt;
    unsigned long value = 0;
    for (char c : text) {
        int digit = digitValue(c, base);
        // Checked before the multiplication, so the sum never wraps.
        if (digit < 0 || static_cast<unsigned long>(digit) > max ||
            value > (max - static_cast<unsigned long>(digit)) / base)
            return std::nullopt;
        value = value * base + static_cast<unsigned long>(digit);
    }
    return value;
}

std::string quoteText(std::string_view text)
{
    std::string quoted = "\"";
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '"': quoted += "\\\""; break;
        case '\\': quoted += "\\\\"; break;
        case '\n': quoted += "\\n"; break;
        case '\r': quoted += "\\r"; break;
        case '\t': quoted += "\\t"; break;
        default:
            if (byte >= 0x20 && byte < 0x7f) {
                quoted += c;
            } else {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\x%02x", byte);
                quoted += escape;
            }
        }
    }
    return quoted + "\"";
}

std::string floatText(float value)
{
    if (std::isnan(value))
        return std::signbit(value) ? "-nan" : "nan";
    if (std::isinf(value))
        return value < 0 ? "-inf" : "inf";
    // Nine significant digits always read back exactly; fewer usually do.
    char text[32];
    for (int digits = 1; digits <= 9; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, static_cast<double>(value));
        if (std::strtof(text, nullptr) == value)
            break;
    }
    return text;
}

unsigned int floatBits(float value)
{
    unsigned int bits;
    static_assert(sizeof bits == sizeof value, "float is 32 bits wide");
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

std::string hexNumber(unsigned long value, int digits)
{
    char text[32];
    std::snprintf(text, sizeof text, "0x%0*lx", digits, value);
    return text;
}

std::string hexBytes(const unsigned char* data, std::size_t size, const char* separator)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(size * (2 + std::strlen(separator)));
    for (std::size_t i = 0; i < size; ++i) {
        if (i)
            text += separator;
        text += digits[data[i] >> 4];
        text += digits[data[i] & 15];
    }
    return text;
}

std::string withLimits(std::string text)
{
    const std::pair<std::string_view, std::string> limits[] = {
        {"{max-text}", std::to_string(vmsg::kMaxText)},
        {"{max-bytes}", std::to_string(vmsg::kMaxPayload)},
        {"{max-payload}", std::to_string(vmsg::kMaxMessagePayload)},
        {"{max-block}", std::to_string(vmsg::kMaxBlock)},
        {"{more}", hexNumber(vmsg::kMoreSegments, 2)},
    };
    for (const auto& [name, value] : limits) {
        for (auto at = text.find(name); at != std::string::npos; at = text.find(name, at + value.size()))
            text.replace(at, name.size(), value);
    }
    return text;
}

const char* typeName(unsigned code)
{
    const vmsg::TypeInfo* type = vmsg::typeInfo(code);
    return type ? type->name : nullptr;
}

std::optional<VTag::VTagType> typeFromName(std::string_view name)
{
    if (const vmsg::TypeInfo* type = vmsg::typeInfo(name))
        return static_cast<VTag::VTagType>(type->code);
    return std::nullopt;
}

const char* typeNameList()
{
    static const std::string list = [] {
        std::string names;
        for (const vmsg::TypeInfo& type : vmsg::kTypes)
            names += (names.empty() ? "" : ", ") + std::string(type.name);
        return names;
    }();
    return list.c_str();
}

} // namespace vmsg::detail
