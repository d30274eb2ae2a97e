// Creating tags from native values, from wire payloads, and as clones.
#include <VTag.h>
#include <VWire.h>

#include "tags/TagAccess.h"

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
    return source ? vmsg::makeTag(vmsg::viewOf(*source)) : nullptr;
}
