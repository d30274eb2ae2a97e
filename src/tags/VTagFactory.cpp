// Creating tags from native values, from wire payloads, and as clones.
#include <VTag.h>

#include "tags/ByteOrder.h"
#include "tags/TagAccess.h"
#include "tags/TagFactoryInternal.h"

#include <cstring>

namespace {

// The text that starts at @p bytes: up to its first NUL or, without one,
// all @p length bytes (the constructor stops at the NUL and keeps at most
// 1017 characters).
VTag* textTag(unsigned char id, const unsigned char* bytes, unsigned int length)
{
    const unsigned int count = length > VTAG_MAX_PAYLOAD ? VTAG_MAX_PAYLOAD : length;
    return new VTagString(id, reinterpret_cast<const char*>(bytes), static_cast<unsigned short>(count));
}

VTag* bytesTag(unsigned char id, const unsigned char* bytes, unsigned int length)
{
    unsigned int kept = length > VTAG_MAX_PAYLOAD ? VTAG_MAX_PAYLOAD : length;
    return new VTagBytes(id, const_cast<unsigned char*>(bytes), static_cast<unsigned short>(kept));
}

} // namespace

namespace vmsg {

VTag* tagFromWire(unsigned char id, unsigned char code, const unsigned char* payload,
                  unsigned int length)
{
    switch (code) {
    case VTag::TagNull:
        return new VTagNull(id);
    case VTag::TagString:
        return textTag(id, payload, length);
    case VTag::TagUInt32:
        return length < 4 ? nullptr : new VTagUInt32(id, static_cast<unsigned int>(loadBE32(payload)));
    case VTag::TagUInt16:
        return length < 2 ? nullptr : new VTagUInt16(id, loadBE16(payload));
    case VTag::TagUInt8:
        return length < 1 ? nullptr : new VTagUInt8(id, payload[0]);
    case VTag::TagBytes:
        return bytesTag(id, payload, length);
    case VTag::TagFloat:
        return length < 4 ? nullptr : new VTagFloat(id, bitsFloat(loadBE32(payload)));
    default:
        return nullptr;
    }
}

} // namespace vmsg

VTag* VTagFactory::createVTag(unsigned char id)
{
    return new VTagNull(id);
}

VTag* VTagFactory::createVTag(unsigned char id, char* text)
{
    return new VTagString(id, text);
}

VTag* VTagFactory::createVTag(unsigned char id, unsigned int value)
{
    return new VTagUInt32(id, value);
}

VTag* VTagFactory::createVTag(unsigned char id, float value, bool asUInt32)
{
    if (asUInt32)
        return new VTagUInt32(id, value);
    return new VTagFloat(id, value);
}

VTag* VTagFactory::createVTag(unsigned char id, unsigned short value)
{
    return new VTagUInt16(id, value);
}

VTag* VTagFactory::createVTag(unsigned char id, unsigned char value)
{
    return new VTagUInt8(id, value);
}

VTag* VTagFactory::createVTag(unsigned char id, void* data, unsigned short size)
{
    return new VTagBytes(id, data, size);
}

// The clone follows the source's type code, not its class, so a plain VTag
// given a code and a payload is cloned into the matching typed class. The
// payload is read only within mLength; a missing or short payload gives the
// empty text, empty bytes or the value 0.
VTag* VTagFactory::createVTag(VTag* source)
{
    if (!source)
        return nullptr;
    const unsigned char* payload = source->mData;
    const unsigned int length = payload ? source->mLength : 0;
    const unsigned char id = source->mId;
    switch (vmsg::typeCode(*source)) {
    case VTag::TagNull:
        return new VTagNull(id);
    case VTag::TagString:
        return textTag(id, payload, length);
    case VTag::TagUInt32:
        return new VTagUInt32(id, static_cast<unsigned int>(vmsg::u32Value(*source)));
    case VTag::TagUInt16:
        return new VTagUInt16(id, vmsg::u16Value(*source));
    case VTag::TagUInt8:
        return new VTagUInt8(id, vmsg::u8Value(*source));
    case VTag::TagBytes:
        return bytesTag(id, payload, length);
    case VTag::TagFloat:
        // Moved as a float, never computed with: every bit pattern survives.
        return new VTagFloat(id, vmsg::bitsFloat(vmsg::u32Value(*source)));
    default:
        return nullptr;
    }
}
