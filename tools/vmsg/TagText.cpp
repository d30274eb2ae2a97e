#include "TagText.h"

#include "Blocks.h"
#include "Errors.h"

#include <VWire.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace vmsgtool {

namespace {

[[noreturn]] void badArgument(const std::string& argument, const std::string& what)
{
    // A long text or bytes value is named by its start.
    const std::string shown = argument.size() > 40 ? argument.substr(0, 37) + "..." : argument;
    throw UsageError("tag argument '" + shown + "': " + what);
}

unsigned long number(const std::string& argument, std::string_view text, unsigned long max, const char* what)
{
    if (auto value = parseUnsigned(text, max))
        return *value;
    badArgument(argument, "expected " + std::string(what) + " from 0 to " + std::to_string(max) +
                              " (decimal or 0x hex), found '" + std::string(text) + "'");
}

float floatValue(const std::string& argument, const std::string& text)
{
    errno = 0;
    char* end = nullptr;
    const float value = std::strtof(text.c_str(), &end);
    if (text.empty() || *end != '\0' || std::isspace(static_cast<unsigned char>(text[0])))
        badArgument(argument, "expected a float such as 1.5, -2e-3, inf or nan, found '" + text + "'");
    // ERANGE also flags values that end up subnormal; only an overflow
    // loses the value the user wrote.
    if (errno == ERANGE && std::isinf(value))
        badArgument(argument, "'" + text + "' is beyond the range of f32");
    return value;
}

VTag* textTag(const std::string& argument, unsigned char id, const std::string& text)
{
    if (text.size() > vmsg::kMaxText)
        badArgument(argument, "text of " + std::to_string(text.size()) + " characters; a str tag holds at most " +
                                  std::to_string(vmsg::kMaxText));
    return new VTagString(id, text.c_str(), static_cast<unsigned short>(text.size()));
}

VTag* bytesTag(const std::string& argument, unsigned char id, const std::string& text)
{
    std::vector<unsigned char> bytes;
    try {
        bytes = parseHexBytes(text);
    } catch (const UsageError& error) {
        badArgument(argument, std::string("bytes value, ") + error.what());
    }
    if (bytes.size() > vmsg::kMaxPayload)
        badArgument(argument, std::to_string(bytes.size()) + " bytes; a bytes tag holds at most " +
                                  std::to_string(vmsg::kMaxPayload));
    return new VTagBytes(id, bytes.data(), static_cast<unsigned short>(bytes.size()));
}

VTag* valueTag(const std::string& argument, VTag::VTagType type, unsigned char id, const std::string& value)
{
    switch (type) {
    case VTag::TagString: return textTag(argument, id, value);
    case VTag::TagBytes: return bytesTag(argument, id, value);
    case VTag::TagFloat: return new VTagFloat(id, floatValue(argument, value));
    case VTag::TagUInt32:
        return new VTagUInt32(id, static_cast<unsigned int>(number(argument, value, 0xFFFFFFFFul, "a u32 value")));
    case VTag::TagUInt16:
        return new VTagUInt16(id, static_cast<unsigned short>(number(argument, value, 0xFFFFul, "a u16 value")));
    case VTag::TagUInt8:
        return new VTagUInt8(id, static_cast<unsigned char>(number(argument, value, 0xFFul, "a u8 value")));
    case VTag::TagNull: break;
    }
    badArgument(argument, "a null tag takes no value; write null:ID");
}

} // namespace

std::unique_ptr<VTag> parseTagArgument(const std::string& argument)
{
    const std::size_t colon = argument.find(':');
    if (colon == std::string::npos)
        badArgument(argument, "expected TYPE:ID=VALUE or null:ID");
    const std::string typeText = argument.substr(0, colon);
    const auto type = typeFromName(typeText);
    if (!type)
        badArgument(argument, "unknown type '" + typeText + "'; expected one of " + typeNameList());
    const std::size_t equals = argument.find('=', colon + 1);
    const std::string_view rest = std::string_view(argument).substr(colon + 1);
    const std::string_view idText = equals == std::string::npos ? rest : rest.substr(0, equals - colon - 1);
    const auto id = static_cast<unsigned char>(number(argument, idText, 255, "a tag id"));
    if (*type == VTag::TagNull && equals == std::string::npos)
        return std::unique_ptr<VTag>(new VTagNull(id));
    if (equals == std::string::npos)
        badArgument(argument, "expected '=' and a value after the tag id");
    return std::unique_ptr<VTag>(valueTag(argument, *type, id, argument.substr(equals + 1)));
}

std::vector<unsigned char> encodeMessage(unsigned char id, unsigned char flags,
                                         const std::vector<std::string>& arguments)
{
    VMsg msg(id);
    msg.mFlags = flags;
    std::size_t payload = 0; // counted wide: the message's own sum is 16-bit
    for (const std::string& argument : arguments) {
        std::unique_ptr<VTag> tag = parseTagArgument(argument);
        payload += tag->mLength + vmsg::kTagHeaderSize;
        msg.addTag(tag.release());
    }
    if (payload > vmsg::kMaxMessagePayload)
        throw UsageError("the tags need " + std::to_string(payload) + " payload bytes; a block carries at most " +
                         std::to_string(vmsg::kMaxMessagePayload));
    std::vector<unsigned char> block(vmsg::kMaxBlock);
    const unsigned short written = msg.getMsg(block.data(), static_cast<unsigned short>(block.size()));
    if (written == 0)
        throw BlockError("the library refused to write the message (getMsg returned 0)");
    block.resize(written);
    return block;
}

} // namespace vmsgtool
