// Helpers shared by the tag codec, the typed classes and the factory: the
// stored type code, a tag's payload seen as a wire view, and building a
// tag from such a view.
#ifndef VMSG_SRC_TAGS_TAGACCESS_H
#define VMSG_SRC_TAGS_TAGACCESS_H

#include <VTag.h>
#include <VWire.h>

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

/// The tag's payload seen as a tag read from the wire, so that values are
/// read by the same accessors as a received tag's. A missing payload
/// counts as an empty one; a code outside 0 to 6 (negative ones too, as
/// unsigned) becomes 255, which no type has.
inline TagView viewOf(const VTag& tag)
{
    TagView view;
    const int code = typeCode(tag);
    view.id = tag.mId;
    view.type = typeInfo(static_cast<unsigned>(code)) ? static_cast<unsigned char>(code) : 255;
    view.declared = tag.mData ? tag.mLength : 0;
    view.payload = tag.mData;
    return view;
}

/// A new tag of the view's type holding what the view's accessors give:
/// the tag VTag::parseTag builds from those bytes, or the clone of a tag.
/// Null for an unknown type code. One construction serves both: the value
/// comes from the view's accessors (a text up to its NUL and at most 1017
/// characters, raw bytes cut to 1018, a short fixed-size payload as 0).
/// Inline, so that parseMsg builds its tags without a call per tag.
inline VTag* makeTag(const TagView& view)
{
    switch (view.type) {
    case VTag::TagNull:
        return new VTagNull(view.id);
    case VTag::TagString:
        // The counted constructor itself stops at the first NUL and keeps at
        // most 1017 characters, which is what view.text() gives; handing it
        // the payload saves a second scan of the text.
        return new VTagString(view.id, reinterpret_cast<const char*>(view.payload),
                              static_cast<unsigned short>(view.declared < kMaxText ? view.declared : kMaxText));
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

#endif
