// Writing one tag in wire layout through the tag encoder of vmsg::Writer;
// shared by VTag::getTag and VMsg::getMsg, so that a message is written
// without a call per tag.
#ifndef VMSG_SRC_TAGS_TAGWIRE_H
#define VMSG_SRC_TAGS_TAGWIRE_H

#include <VTag.h>
#include <VWire.h>

#include "tags/TagAccess.h"

namespace vmsg {

/// Writes @p tag to @p out, which has @p size bytes of room.
/// @return mLength + 4, or 0 with nothing written when the tag does not fit
///         (or claims a payload it does not hold).
inline unsigned short writeTag(const VTag& tag, unsigned char* out, unsigned size)
{
    const unsigned whole = tag.mLength + static_cast<unsigned>(kTagHeaderSize);
    if (size < whole || (tag.mLength && !tag.mData))
        return 0;
    // Codes above TagFloat have no class; they are written as TagNull.
    const int code = typeCode(tag);
    const bool known = typeInfo(static_cast<unsigned>(code)) != nullptr;
    encodeTagHeader(out, tag.mId, known ? static_cast<unsigned char>(code) : 0, tag.mLength);
    if (tag.mLength)
        copyPayload(out + kTagHeaderSize, tag.mData, tag.mLength);
    return static_cast<unsigned short>(whole);
}

} // namespace vmsg

#endif
