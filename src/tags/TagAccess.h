// Helpers shared by the tag codec, the typed classes and the factory.
#ifndef VMSG_SRC_TAGS_TAGACCESS_H
#define VMSG_SRC_TAGS_TAGACCESS_H

#include <VTag.h>

#include "tags/ByteOrder.h"

#include <cstdint>
#include <cstring>

namespace vmsg {

/// The type code as stored. Read as an integer because applications may
/// give a plain VTag a code outside the enumeration (written as 0 on the
/// wire, never cloned), and such a value must not be loaded as the enum.
inline int typeCode(const VTag& tag)
{
    int code;
    static_assert(sizeof code == sizeof tag.mType, "VTagType is 32 bits wide");
    std::memcpy(&code, &tag.mType, sizeof code);
    return code;
}

/// The first @p size payload bytes, or null when the tag holds fewer.
inline const unsigned char* fixedPayload(const VTag& tag, unsigned size)
{
    return tag.mData && tag.mLength >= size ? tag.mData : nullptr;
}

// Values read through the base class: a clone's source may be a plain VTag
// of any code, with a payload shorter than its type needs.
inline std::uint32_t u32Value(const VTag& tag)
{
    const unsigned char* payload = fixedPayload(tag, 4);
    return payload ? loadBE32(payload) : 0;
}

inline unsigned short u16Value(const VTag& tag)
{
    const unsigned char* payload = fixedPayload(tag, 2);
    return payload ? loadBE16(payload) : 0;
}

inline unsigned char u8Value(const VTag& tag)
{
    const unsigned char* payload = fixedPayload(tag, 1);
    return payload ? payload[0] : 0;
}

inline std::uint32_t floatBits(float value)
{
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

inline float bitsFloat(std::uint32_t bits)
{
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

} // namespace vmsg

#endif
