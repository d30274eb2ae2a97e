/// @file
/// Typed tags: the tag-length-value items that messages carry, their wire
/// codec and the factory that creates and clones them.
#ifndef VMSG_VTAG_H
#define VMSG_VTAG_H

#include <VWire.h>
#include <cVlog.h>

// VMSG_API, the export mark of libvmsg.so.0, comes from VWire.h.

// VTAG_MAX_PAYLOAD (largest payload a tag holds) and VTAG_HEADER_SIZE (id,
// type code, 16-bit length) come from VWire.h.

/// One typed tag: an id, a type code and a payload held in wire encoding.
///
/// On the wire a tag is: id (1 byte), type code (1 byte), payload length
/// (2 bytes, big-endian), then the payload. Numbers are stored big-endian
/// from the moment the tag is built, so writing copies the payload as is.
/// Tags are created with `new` and deleted through the virtual destructor by
/// their owner: the application, or the message they were added to.
///
/// Tags are not copyable; VTagFactory::createVTag(VTag*) makes an
/// independent copy.
class VMSG_API VTag : public cVlog {
public:
    /// Type codes; the same numbers are written on the wire.
    enum VTagType {
        TagNull = 0,   ///< No payload (VTagNull).
        TagString = 1, ///< NUL-terminated text (VTagString).
        TagUInt32 = 2, ///< Unsigned 32-bit value, big-endian (VTagUInt32).
        TagUInt16 = 3, ///< Unsigned 16-bit value, big-endian (VTagUInt16).
        TagUInt8 = 4,  ///< Unsigned 8-bit value (VTagUInt8).
        TagBytes = 5,  ///< Raw bytes (VTagBytes).
        TagFloat = 6   ///< IEEE 754 single, big-endian bit pattern (VTagFloat).
    };

    unsigned char mId;      ///< Tag id, chosen by the application.
    /// Payload length in bytes, 0 to 1018: exactly the number of bytes at
    /// mData. Change it only through setData (or the typed constructors),
    /// which sets mData and mLength together. The library cannot see the
    /// size of mData: raising mLength without a larger mData makes getTag
    /// and VMsg::getMsg copy bytes from beyond the payload into the block.
    /// Nor change it while the tag belongs to a message, whose mLength
    /// counted the tag as it was added.
    unsigned short mLength;
    VTagType mType;         ///< Type code.
    /// Payload (array new, owned), exactly mLength bytes; null until set.
    /// Replace it only through setData, never by assigning the field.
    unsigned char* mData;
    VTag* mNext;            ///< Next tag of the owning message's chain; not owned.

    /// Creates a tag without payload. Any type code is accepted.
    /// @param id   the tag id.
    /// @param type the type code; a code above 6 is kept as it is, but is
    ///             written as 0 on the wire and cannot be cloned.
    VTag(unsigned char id, VTagType type);
    /// Releases the payload. Does not follow or release mNext.
    virtual ~VTag();

    /// Not copyable: a copy would share the payload.
    VTag(const VTag&) = delete;
    /// Not assignable: an assignment would share the payload.
    VTag& operator=(const VTag&) = delete;

    /// Largest payload length of the object's class (0 for a plain VTag).
    /// @return 0 (VTag, VTagNull), 1 (VTagUInt8), 2 (VTagUInt16),
    ///         4 (VTagUInt32, VTagFloat) or 1018 (VTagString, VTagBytes).
    virtual unsigned int getMaxLength();

    /// Gives the tag a copy of @p size bytes at @p data as payload, cut to
    /// 1018 bytes. Any earlier payload is released. A null @p data gives an
    /// empty payload. mData is never null afterwards. If the allocation
    /// fails (std::bad_alloc), the tag keeps its earlier payload.
    /// @param data the bytes to copy; may be null.
    /// @param size the number of bytes at @p data.
    void setData(void* data, unsigned short size);

    /// Writes the tag in wire layout to @p out.
    /// @param out  the buffer to write to.
    /// @param size the capacity of @p out in bytes.
    /// @return mLength + 4, or 0 (nothing written) when @p out is null or
    ///         @p size is smaller than the whole tag.
    unsigned short getTag(void* out, unsigned short size) const;

    /// Reads one tag from the @p length bytes at @p in. Never reads beyond
    /// in + length and never writes the input.
    /// @param in     the first byte of the tag; may be null (result null).
    /// @param length the number of readable bytes at @p in. The declared
    ///        payload length is compared with it without 16-bit wrap.
    /// @param next when not null and the declared length fits the input,
    ///        receives in + 4 + declared length, also when the type code is
    ///        unknown or too short for its type (the result is then null).
    /// @return a new tag owned by the caller, or null when the input is
    ///         shorter than 4 bytes or than the declared tag, the type code
    ///         is above 6, or a fixed-size type declares fewer bytes than its
    ///         size. A text keeps the bytes up to its first NUL, or all of its
    ///         payload when it has none (at most 1017 characters); raw bytes
    ///         beyond 1018 are dropped; extra bytes of a fixed-size type are
    ///         ignored.
    static VTag* parseTag(void* in, unsigned short length, void** next);

protected:
    /// Payload = the @p count bytes at @p text followed by a NUL.
    /// @param text  the characters; read only when @p count is not 0.
    /// @param count the number of characters, at most 1017.
    void setText(const char* text, unsigned short count);
};

static_assert(VTag::TagNull == vmsg::kTypeNull && VTag::TagString == vmsg::kTypeString &&
                  VTag::TagUInt32 == vmsg::kTypeUInt32 && VTag::TagUInt16 == vmsg::kTypeUInt16 &&
                  VTag::TagUInt8 == vmsg::kTypeUInt8 && VTag::TagBytes == vmsg::kTypeBytes &&
                  VTag::TagFloat == vmsg::kTypeFloat,
              "the classic type codes are the wire codes of vmsg::kTypes");

/// A tag without payload (type code 0).
class VMSG_API VTagNull : public VTag {
public:
    /// A tag with id @p id and an empty payload.
    /// @param id the tag id.
    explicit VTagNull(unsigned char id);
    unsigned int getMaxLength() override;
};

/// A NUL-terminated text of at most 1017 characters (type code 1).
class VMSG_API VTagString : public VTag {
public:
    /// Copies @p text and its NUL. A text of 1018 characters or more is cut
    /// to 1017, and a NUL is written into the caller's text at index 1017.
    /// A null @p text gives the empty text.
    /// @param id   the tag id.
    /// @param text a NUL-terminated text, or null.
    VTagString(unsigned char id, char* text);
    unsigned int getMaxLength() override;

    /// Copies the characters at @p text up to its first NUL or the first
    /// @p count, whichever comes first (at most 1017), and adds a NUL; the
    /// text need not be terminated and is never written.
    /// @param id    the tag id.
    /// @param text  the characters; read only when @p count is not 0.
    /// @param count the number of characters to copy.
    VTagString(unsigned char id, const char* text, unsigned short count);

    /// Copies the text and its NUL (mLength bytes) to @p dst.
    /// @param dst  the buffer to copy to.
    /// @param size the capacity of @p dst in bytes.
    /// @return mLength, or 0 with nothing written when @p dst is null or
    ///         @p size is smaller than mLength.
    unsigned short getValue(char* dst, unsigned short size) const;
};

/// An unsigned 32-bit value, or the bit pattern of a float (type code 2).
class VMSG_API VTagUInt32 : public VTag {
public:
    /// A tag holding @p value, stored big-endian.
    /// @param id    the tag id.
    /// @param value the value.
    VTagUInt32(unsigned char id, unsigned int value);
    /// Stores the float's IEEE 754 bit pattern; the type code stays 2.
    /// @param id    the tag id.
    /// @param value the float; every bit pattern, NaNs included, is kept.
    VTagUInt32(unsigned char id, float value);
    unsigned int getMaxLength() override;

    /// The payload as an unsigned value; 0 without payload.
    /// @return the value in host byte order.
    unsigned int getValue() const;
    /// The float whose bit pattern is the payload; 0.0 without payload.
    /// @return the float in host byte order.
    float getFloatValue() const;
};

/// A 32-bit IEEE 754 float (type code 6). Read it with getFloatValue().
class VMSG_API VTagFloat : public VTagUInt32 {
public:
    /// A tag holding the bit pattern of @p value, stored big-endian.
    /// @param id    the tag id.
    /// @param value the float; every bit pattern, NaNs included, is kept.
    VTagFloat(unsigned char id, float value);
};

/// An unsigned 16-bit value (type code 3).
class VMSG_API VTagUInt16 : public VTag {
public:
    /// A tag holding @p value, stored big-endian.
    /// @param id    the tag id.
    /// @param value the value.
    VTagUInt16(unsigned char id, unsigned short value);
    unsigned int getMaxLength() override;
    /// The value; 0 without payload.
    /// @return the value in host byte order.
    unsigned short getValue() const;
};

/// An unsigned 8-bit value (type code 4).
class VMSG_API VTagUInt8 : public VTag {
public:
    /// A tag holding @p value.
    /// @param id    the tag id.
    /// @param value the value.
    VTagUInt8(unsigned char id, unsigned char value);
    unsigned int getMaxLength() override;
    /// The value; 0 without payload.
    /// @return the value.
    unsigned char getValue() const;
};

/// Raw bytes, at most 1018 (type code 5).
class VMSG_API VTagBytes : public VTag {
public:
    /// Copies the first @p size bytes at @p data, cut to 1018.
    /// @param id   the tag id.
    /// @param data the bytes; null gives an empty payload.
    /// @param size the number of bytes at @p data.
    VTagBytes(unsigned char id, void* data, unsigned short size);
    unsigned int getMaxLength() override;

    /// Copies the mLength payload bytes to @p dst.
    /// @param dst  the buffer to copy to.
    /// @param size the capacity of @p dst in bytes.
    /// @return mLength, or 0 with nothing written when @p dst is null or
    ///         @p size is smaller than mLength.
    unsigned short getValue(void* dst, unsigned short size) const;
};

/// Creates tags from native values and clones tags. Every tag returned is
/// new, unlinked, and owned by the caller.
class VMSG_API VTagFactory {
public:
    /// A VTagNull.
    /// @param id the tag id.
    /// @return a new tag owned by the caller.
    static VTag* createVTag(unsigned char id);
    /// A VTagString; the caller's text may be cut in place.
    /// @param id   the tag id.
    /// @param text a NUL-terminated text, or null for the empty text; a NUL
    ///             is written at index 1017 of a longer text.
    /// @return a new tag owned by the caller.
    static VTag* createVTag(unsigned char id, char* text);
    /// A VTagUInt32.
    /// @param id    the tag id.
    /// @param value the value.
    /// @return a new tag owned by the caller.
    static VTag* createVTag(unsigned char id, unsigned int value);
    /// A VTagUInt32 built from the float (code 2) when @p asUInt32 is true,
    /// otherwise a VTagFloat (code 6).
    /// @param id       the tag id.
    /// @param value    the float.
    /// @param asUInt32 true for type code 2, false for type code 6.
    /// @return a new tag owned by the caller.
    static VTag* createVTag(unsigned char id, float value, bool asUInt32);
    /// A VTagUInt16.
    /// @param id    the tag id.
    /// @param value the value.
    /// @return a new tag owned by the caller.
    static VTag* createVTag(unsigned char id, unsigned short value);
    /// A VTagUInt8.
    /// @param id    the tag id.
    /// @param value the value.
    /// @return a new tag owned by the caller.
    static VTag* createVTag(unsigned char id, unsigned char value);
    /// A VTagBytes.
    /// @param id   the tag id.
    /// @param data the bytes; null gives an empty payload.
    /// @param size the number of bytes at @p data (cut to 1018).
    /// @return a new tag owned by the caller.
    static VTag* createVTag(unsigned char id, void* data, unsigned short size);
    /// A copy of @p source with the same id, type code and payload bytes,
    /// chosen by its mType; null for a null source or a type code above 6.
    /// @param source the tag to copy; not changed. Its payload is read only
    ///        within mLength: a missing or short payload gives the empty
    ///        text, empty bytes or the value 0.
    /// @return a new tag owned by the caller, or null.
    static VTag* createVTag(VTag* source);
};

#endif
