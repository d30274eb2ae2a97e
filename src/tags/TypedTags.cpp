// The typed tag classes: native value in, wire-encoded payload stored,
// value decoded again on reading.
#include <VTag.h>
#include <VWire.h>

#include "tags/TagAccess.h"

#include <cstring>

namespace {

// Longest text a VTagString keeps; the payload adds its NUL.
constexpr unsigned short kMaxText = vmsg::kMaxText;

// What getMaxLength answers for a class: the largest payload of its type.
constexpr unsigned int maxPayload(VTag::VTagType type)
{
    return vmsg::kTypes[type].maxPayload;
}

} // namespace

VTagNull::VTagNull(unsigned char id) : VTag(id, TagNull) {}

unsigned int VTagNull::getMaxLength()
{
    return maxPayload(TagNull);
}

VTagString::VTagString(unsigned char id, char* text) : VTag(id, TagString)
{
    if (!text) {
        setText("", 0);
        return;
    }
    std::size_t count = strnlen(text, kMaxText + 1);
    if (count > kMaxText) {
        // The caller's text is cut too, so that it matches what the tag keeps.
        text[kMaxText] = '\0';
        count = kMaxText;
    }
    setData(text, static_cast<unsigned short>(count + 1));
}

VTagString::VTagString(unsigned char id, const char* text, unsigned short count)
    : VTag(id, TagString)
{
    // The text ends at its first NUL, as it will for the receiver.
    const std::size_t length = text ? strnlen(text, count > kMaxText ? kMaxText : count) : 0;
    setText(text, static_cast<unsigned short>(length));
}

unsigned int VTagString::getMaxLength()
{
    return maxPayload(TagString);
}

unsigned short VTagString::getValue(char* dst, unsigned short size) const
{
    if (!dst || !mData || mLength > size)
        return 0;
    std::memcpy(dst, mData, mLength);
    return mLength;
}

VTagUInt32::VTagUInt32(unsigned char id, unsigned int value) : VTag(id, TagUInt32)
{
    unsigned char payload[4];
    vmsg::storeBE32(payload, value);
    setData(payload, sizeof payload);
}

VTagUInt32::VTagUInt32(unsigned char id, float value)
    : VTagUInt32(id, static_cast<unsigned int>(vmsg::bitsOfFloat(value)))
{
}

unsigned int VTagUInt32::getMaxLength()
{
    return maxPayload(TagUInt32);
}

unsigned int VTagUInt32::getValue() const
{
    return vmsg::viewOf(*this).u32();
}

float VTagUInt32::getFloatValue() const
{
    return vmsg::viewOf(*this).f32();
}

VTagFloat::VTagFloat(unsigned char id, float value) : VTagUInt32(id, value)
{
    mType = TagFloat;
}

VTagUInt16::VTagUInt16(unsigned char id, unsigned short value) : VTag(id, TagUInt16)
{
    unsigned char payload[2];
    vmsg::storeBE16(payload, value);
    setData(payload, sizeof payload);
}

unsigned int VTagUInt16::getMaxLength()
{
    return maxPayload(TagUInt16);
}

unsigned short VTagUInt16::getValue() const
{
    return vmsg::viewOf(*this).u16();
}

VTagUInt8::VTagUInt8(unsigned char id, unsigned char value) : VTag(id, TagUInt8)
{
    setData(&value, 1);
}

unsigned int VTagUInt8::getMaxLength()
{
    return maxPayload(TagUInt8);
}

unsigned char VTagUInt8::getValue() const
{
    return vmsg::viewOf(*this).u8();
}

VTagBytes::VTagBytes(unsigned char id, void* data, unsigned short size) : VTag(id, TagBytes)
{
    setData(data, size);
}

unsigned int VTagBytes::getMaxLength()
{
    return maxPayload(TagBytes);
}

unsigned short VTagBytes::getValue(void* dst, unsigned short size) const
{
    if (!dst || size < mLength)
        return 0;
    if (mLength)
        std::memcpy(dst, mData, mLength);
    return mLength;
}
