// The tag wire layout: id, type code, 16-bit big-endian payload length,
// payload. getTag writes one tag, parseTag reads one.
#include <VTag.h>

#include "tags/ByteOrder.h"
#include "tags/TagAccess.h"
#include "tags/TagFactoryInternal.h"

#include <cstring>

namespace {

// Codes above TagFloat have no class; they are written as TagNull.
unsigned char wireTypeCode(const VTag& tag)
{
    int code = vmsg::typeCode(tag);
    return code >= VTag::TagNull && code <= VTag::TagFloat ? static_cast<unsigned char>(code) : 0;
}

} // namespace

unsigned short VTag::getTag(void* out, unsigned short size) const
{
    const unsigned int whole = mLength + static_cast<unsigned int>(VTAG_HEADER_SIZE);
    if (!out || size < whole || (mLength && !mData))
        return 0;
    auto* bytes = static_cast<unsigned char*>(out);
    bytes[0] = mId;
    bytes[1] = wireTypeCode(*this);
    vmsg::storeBE16(bytes + 2, mLength);
    if (mLength)
        std::memcpy(bytes + VTAG_HEADER_SIZE, mData, mLength);
    return static_cast<unsigned short>(whole);
}

VTag* VTag::parseTag(void* in, unsigned short length, void** next)
{
    if (!in || length < VTAG_HEADER_SIZE)
        return nullptr;
    const auto* bytes = static_cast<const unsigned char*>(in);
    const unsigned int declared = vmsg::loadBE16(bytes + 2);
    // Widened: a declared length near 65535 must not wrap past the input.
    if (declared + VTAG_HEADER_SIZE > length)
        return nullptr;
    if (next)
        *next = static_cast<unsigned char*>(in) + VTAG_HEADER_SIZE + declared;
    return vmsg::tagFromWire(bytes[0], bytes[1], bytes + VTAG_HEADER_SIZE, declared);
}
