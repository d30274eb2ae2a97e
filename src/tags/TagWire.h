// Writing one tag in wire layout; shared by VTag::getTag and VMsg::getMsg,
// so that a message is written without a call per tag.
#ifndef VMSG_SRC_TAGS_TAGWIRE_H
#define VMSG_SRC_TAGS_TAGWIRE_H

#include <VTag.h>

#include "tags/ByteOrder.h"
#include "tags/TagAccess.h"

#include <cstdint>
#include <cstring>

namespace vmsg {

/// Copies @p n bytes. Most payloads are a few bytes long; those are moved
/// with two overlapping word copies instead of a library call. Reads and
/// writes exactly @p n bytes.
inline void copyPayload(unsigned char* dst, const unsigned char* src, unsigned n)
{
    if (n > 16) {
        std::memcpy(dst, src, n);
    } else if (n >= 8) {
        std::uint64_t head, tail;
        std::memcpy(&head, src, 8);
        std::memcpy(&tail, src + n - 8, 8);
        std::memcpy(dst, &head, 8);
        std::memcpy(dst + n - 8, &tail, 8);
    } else if (n >= 4) {
        std::uint32_t head, tail;
        std::memcpy(&head, src, 4);
        std::memcpy(&tail, src + n - 4, 4);
        std::memcpy(dst, &head, 4);
        std::memcpy(dst + n - 4, &tail, 4);
    } else {
        for (unsigned i = 0; i < n; ++i)
            dst[i] = src[i];
    }
}

/// Writes @p tag to @p out, which has @p size bytes of room.
/// @return mLength + 4, or 0 with nothing written when the tag does not fit
///         (or claims a payload it does not hold).
inline unsigned short writeTag(const VTag& tag, unsigned char* out, unsigned size)
{
    const unsigned whole = tag.mLength + static_cast<unsigned>(VTAG_HEADER_SIZE);
    if (size < whole || (tag.mLength && !tag.mData))
        return 0;
    // Codes above TagFloat have no class; they are written as TagNull.
    const int code = typeCode(tag);
    out[0] = tag.mId;
    out[1] = code >= VTag::TagNull && code <= VTag::TagFloat ? static_cast<unsigned char>(code) : 0;
    storeBE16(out + 2, tag.mLength);
    if (tag.mLength)
        copyPayload(out + VTAG_HEADER_SIZE, tag.mData, tag.mLength);
    return static_cast<unsigned short>(whole);
}

} // namespace vmsg

#endif
