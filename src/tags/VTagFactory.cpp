// Creating tags from native values, from wire payloads, and as clones.
#include <VTag.h>
#include <VWire.h>

#include "tags/TagAccess.h"

namespace vmsg {

// One construction for both received and cloned tags: the value comes from
// the view's accessors, which read the payload as VTag::parseTag defines
// (a text up to its NUL and at most 1017 characters, raw bytes cut to
// 1018, a short fixed-size payload as 0).
VTag* makeTag(const TagView& view)
{
    switch (view.type) {
    case VTag::TagNull:
        return new VTagNull(view.id);
    case VTag::TagString: {
        const std::string_view text = view.text();
        return new VTagString(view.id, text.data(), static_cast<unsigned short>(text.size()));
    }
    case VTag::TagUInt32:
        return new VTagUInt32(view.id, static_cast<unsigned int>(view.u32()));
    case VTag::TagUInt16:
        return new VTagUInt16(view.id, view.u16());
    case VTag::TagUInt8:
        return new VTagUInt8(view.id, view.u8());
    case VTag::TagBytes: {
        const std::string_view bytes = view.bytes();
        return new VTagBytes(view.id, const_cast<char*>(bytes.data()), static_cast<unsigned short>(bytes.size()));
    }
    case VTag::TagFloat:
        // Moved as a float, never computed with: every bit pattern survives.
        return new VTagFloat(view.id, view.f32());
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
    return source ? vmsg::makeTag(vmsg::viewOf(*source)) : nullptr;
}
