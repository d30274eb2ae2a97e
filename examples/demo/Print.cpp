#include "Print.h"

#include "DemoProtocol.h"

#include <cstring>
#include <vector>

namespace demo {

std::string hex(const void* data, std::size_t size)
{
    static const char digits[] = "0123456789abcdef";
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::string text;
    for (std::size_t i = 0; i < size; ++i) {
        if (i)
            text += ' ';
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

const char* typeName(const VTag& tag)
{
    switch (tag.mType) {
    case VTag::TagNull: return "null";
    case VTag::TagString: return "str";
    case VTag::TagUInt32: return "u32";
    case VTag::TagUInt16: return "u16";
    case VTag::TagUInt8: return "u8";
    case VTag::TagBytes: return "bytes";
    case VTag::TagFloat: return "f32";
    }
    return "?";
}

std::string value(const VTag& tag)
{
    char text[64];
    switch (tag.mType) {
    case VTag::TagNull:
        return "-";
    case VTag::TagString: {
        std::vector<char> buffer(tag.mLength + 1u, '\0');
        static_cast<const VTagString&>(tag).getValue(buffer.data(), tag.mLength);
        return "\"" + std::string(buffer.data()) + "\"";
    }
    case VTag::TagUInt32:
        std::snprintf(text, sizeof text, "%u", static_cast<const VTagUInt32&>(tag).getValue());
        return text;
    case VTag::TagFloat:
        std::snprintf(text, sizeof text, "%g", static_cast<double>(static_cast<const VTagUInt32&>(tag).getFloatValue()));
        return text;
    case VTag::TagUInt16:
        std::snprintf(text, sizeof text, "%u", static_cast<const VTagUInt16&>(tag).getValue());
        return text;
    case VTag::TagUInt8:
        std::snprintf(text, sizeof text, "%u", static_cast<const VTagUInt8&>(tag).getValue());
        return text;
    case VTag::TagBytes:
        return tag.mLength <= 16 ? hex(tag.mData, tag.mLength)
                                 : hex(tag.mData, 16) + " ... (" + std::to_string(tag.mLength) + " bytes)";
    }
    return "?";
}

namespace {

void printTag(std::FILE* out, const VTag& tag, int indent)
{
    const char* name = tagName(tag.mId);
    std::fprintf(out, "%*stag %3u %-8s %-5s %s\n", indent, "", tag.mId, name ? name : "", typeName(tag),
                 value(tag).c_str());
}

} // namespace

void printMessage(std::FILE* out, VMsg& msg, int indent)
{
    std::fprintf(out, "%*smessage 0x%02x flags 0x%02x, %u tags, %u payload bytes\n", indent, "", msg.mId,
                 msg.mFlags, msg.mTagCount, msg.mLength);
    msg.gotoFirst();
    while (const VTag* tag = msg.getTag())
        printTag(out, *tag, indent + 2);
}

void printStructured(std::FILE* out, const CarrowMessage& msg, int indent)
{
    std::fprintf(out, "%*sstructured message 0x%02x: %zu plain tags, %zu objects\n", indent, "", msg.mId,
                 msg.mTags.size(), msg.mObjects.size());
    for (const VTag* tag : msg.mTags)
        printTag(out, *tag, indent + 2);
    for (const CarrowObject* object : msg.mObjects) {
        std::fprintf(out, "%*sobject %u:\n", indent + 2, "", object->mId);
        printTag(out, *object->mMetaTag, indent + 4);
        for (const VTag* tag : object->mTags)
            printTag(out, *tag, indent + 6);
    }
}

void printAndFreeErrors(std::FILE* out, VList* errors, int indent)
{
    if (!errors)
        return;
    while (void* item = errors->pull()) {
        auto* error = static_cast<VError*>(item);
        std::fprintf(out, "%*serror %u, detail [%s]\n", indent, "", error->mCode,
                     hex(error->mData, error->mLength).c_str());
        delete error;
    }
    delete errors;
}

bool sameTags(VMsg& a, VMsg& b)
{
    unsigned char wa[vmsg::kMaxTagSize], wb[vmsg::kMaxTagSize];
    a.gotoFirst();
    b.gotoFirst();
    for (;;) {
        VTag* ta = a.getTag();
        VTag* tb = b.getTag();
        if (!ta || !tb)
            return !ta && !tb;
        unsigned short na = ta->getTag(wa, sizeof wa), nb = tb->getTag(wb, sizeof wb);
        if (na == 0 || na != nb || std::memcmp(wa, wb, na) != 0)
            return false;
    }
}

} // namespace demo
