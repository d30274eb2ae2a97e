// The typed tag classes: native value in, wire-encoded payload stored,
// value decoded again on reading.
#include <VTag.h>

#include "tags/ByteOrder.h"
#include "tags/TagAccess.h"

#include <cstring>

namespace {

// Longest text a VTagString keeps; the payload adds its NUL.
constexpr unsigned short kMaxText = VTAG_MAX_PAYLOAD - 1;

} // namespace

VTagNull::VTagNull(unsigned char id) : VTag(id, TagNull) {}

unsigned int VTagNull::getMaxLength()
{
    return 0;
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
    return VTAG_MAX_PAYLOAD;
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
    : VTagUInt32(id, static_cast<unsigned int>(vmsg::floatBits(value)))
{
}

unsigned int VTagUInt32::getMaxLength()
{
    return 4;
}

unsigned int VTagUInt32::getValue() const
{
    return vmsg::u32Value(*this);
}

float VTagUInt32::getFloatValue() const
{
    return vmsg::bitsFloat(vmsg::u32Value(*this));
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
    return 2;
}

unsigned short VTagUInt16::getValue() const
{
    return vmsg::u16Value(*this);
}

VTagUInt8::VTagUInt8(unsigned char id, unsigned char value) : VTag(id, TagUInt8)
{
    setData(&value, 1);
}

unsigned int VTagUInt8::getMaxLength()
{
    return 1;
}

unsigned char VTagUInt8::getValue() const
{
    return vmsg::u8Value(*this);
}

VTagBytes::VTagBytes(unsigned char id, void* data, unsigned short size) : VTag(id, TagBytes)
{
    setData(data, size);
}

unsigned int VTagBytes::getMaxLength()
{
    return VTAG_MAX_PAYLOAD;
}

unsigned short VTagBytes::getValue(void* dst, unsigned short size) const
{
    if (!dst || size < mLength)
        return 0;
    if (mLength)
        std::memcpy(dst, mData, mLength);
    return mLength;
}
