// The tag wire layout: id, type code, 16-bit big-endian payload length,
// payload. getTag writes one tag, parseTag reads one.
#include <VTag.h>

#include "tags/ByteOrder.h"
#include "tags/TagFactoryInternal.h"
#include "tags/TagWire.h"

unsigned short VTag::getTag(void* out, unsigned short size) const
{
    return out ? vmsg::writeTag(*this, static_cast<unsigned char*>(out), size) : 0;
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
