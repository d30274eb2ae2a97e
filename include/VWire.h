/// @file
/// Reading and writing blocks in place: the table of type facts, a reader
/// that walks the tags of a received block without copying or allocating,
/// and a writer that builds a block in a caller's buffer.
///
/// These are the library's own wire rules: VTag::parseTag and
/// VMsg::parseMsg read through the same per-tag check as vmsg::Reader, and
/// VTag::getTag and VMsg::getMsg write through the same tag encoder as
/// vmsg::Writer, so a block read or written either way is the same block.
#ifndef VMSG_VWIRE_H
#define VMSG_VWIRE_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

// This header is the root of the public headers: it includes no other header
// of the library and needs nothing but the C++ standard library, so a
// program that only reads or writes blocks in place includes it alone.

/// Marks a class as exported from libvmsg.so.0; the library is built with
/// hidden visibility, so only classes carrying it are visible to callers.
#if defined(__GNUC__)
#define VMSG_API __attribute__((visibility("default")))
#else
#define VMSG_API
#endif

/// The library's additions to the classic API.
namespace vmsg {

// ---------------------------------------------------------------------------
// Sizes and limits. Each is derived from the ones above it; the classic
// macros below are the same numbers under their old names.

/// Bytes in front of the tags of a block: message id and flags.
inline constexpr std::size_t kMessageHeaderSize = 2;
/// Bytes in front of a tag's payload: id, type code, 16-bit length.
inline constexpr std::size_t kTagHeaderSize = 4;
/// Largest block VMsg::getMsg and vmsg::Writer write.
inline constexpr std::size_t kMaxBlock = 1024;
/// Largest message payload (the tags of a block) getMsg writes: the block
/// without its header.
inline constexpr std::size_t kMaxMessagePayload = kMaxBlock - kMessageHeaderSize;
/// Largest tag, header included, that fits one block: the whole message payload.
inline constexpr std::size_t kMaxTagSize = kMaxMessagePayload;
/// Largest payload a tag holds; longer data is cut to this many bytes.
inline constexpr std::size_t kMaxPayload = kMaxTagSize - kTagHeaderSize;
/// Longest text a text tag holds; its payload adds the NUL.
inline constexpr std::size_t kMaxText = kMaxPayload - 1;
/// Bit of the flags byte that marks every segment but the last.
inline constexpr unsigned char kMoreSegments = 0x80;

static_assert(kMaxMessagePayload == 1022 && kMaxPayload == 1018 && kMaxText == 1017,
              "the limits are part of the wire format");
static_assert(kMessageHeaderSize + kMaxMessagePayload == kMaxBlock, "a block is its header and its payload");
static_assert(kTagHeaderSize + kMaxPayload == kMaxTagSize, "a tag is its header and its payload");
static_assert(kMaxBlock <= 0xFFFF, "every size fits the 16-bit lengths of the classic API");

// ---------------------------------------------------------------------------
// Type codes: the numbers written on the wire (the values of VTag::VTagType).

inline constexpr unsigned char kTypeNull = 0;   ///< No payload.
inline constexpr unsigned char kTypeString = 1; ///< NUL-terminated text.
inline constexpr unsigned char kTypeUInt32 = 2; ///< Unsigned 32-bit value, big-endian.
inline constexpr unsigned char kTypeUInt16 = 3; ///< Unsigned 16-bit value, big-endian.
inline constexpr unsigned char kTypeUInt8 = 4;  ///< Unsigned 8-bit value.
inline constexpr unsigned char kTypeBytes = 5;  ///< Raw bytes.
inline constexpr unsigned char kTypeFloat = 6;  ///< IEEE 754 single, big-endian bit pattern.

} // namespace vmsg

/// Classic name of vmsg::kMaxPayload (a plain number, usable in `#if`).
#define VTAG_MAX_PAYLOAD 1018
/// Classic name of vmsg::kTagHeaderSize.
#define VTAG_HEADER_SIZE 4
/// Classic name of vmsg::kMaxMessagePayload: one tag of 1018 bytes and its header.
#define VMSG_MAX_PAYLOAD 1022
/// Classic name of vmsg::kMaxBlock: 2 header bytes + VMSG_MAX_PAYLOAD.
#define VMSG_MAX_BLOCK 1024
/// Classic name of vmsg::kMoreSegments.
#define VMSG_MORE_SEGMENTS 0x80

static_assert(VTAG_MAX_PAYLOAD == vmsg::kMaxPayload && VTAG_HEADER_SIZE == vmsg::kTagHeaderSize &&
                  VMSG_MAX_PAYLOAD == vmsg::kMaxMessagePayload && VMSG_MAX_BLOCK == vmsg::kMaxBlock &&
                  VMSG_MORE_SEGMENTS == vmsg::kMoreSegments,
              "the classic macros name the same limits");

namespace vmsg {

// ---------------------------------------------------------------------------
// Type facts

/// What is fixed about one wire type code.
struct TypeInfo {
    unsigned char code;        ///< The wire code, a VTag::VTagType value.
    const char* name;          ///< Short name: "null", "str", "u32", "u16", "u8", "bytes" or "f32".
    bool fixedSize;            ///< True when every payload has exactly maxPayload bytes.
    unsigned short maxPayload; ///< Largest payload a tag of the type holds (what getMaxLength answers).

    /// The fewest payload bytes a received tag of the type must declare:
    /// the size of a fixed-size value, 0 for text and raw bytes. A tag
    /// that declares more than its fixed size is read from its first
    /// bytes; the rest is skipped.
    constexpr unsigned short minPayload() const { return fixedSize ? maxPayload : 0; }
};

/// Every wire type code, indexed by the code.
inline constexpr TypeInfo kTypes[] = {
    {kTypeNull, "null", true, 0},
    {kTypeString, "str", false, kMaxPayload},
    {kTypeUInt32, "u32", true, 4},
    {kTypeUInt16, "u16", true, 2},
    {kTypeUInt8, "u8", true, 1},
    {kTypeBytes, "bytes", false, kMaxPayload},
    {kTypeFloat, "f32", true, 4},
};

/// Number of wire type codes (0 to 6).
inline constexpr unsigned kTypeCount = sizeof kTypes / sizeof kTypes[0];

static_assert(kTypeCount == kTypeFloat + 1u && kTypes[kTypeNull].code == kTypeNull &&
                  kTypes[kTypeString].code == kTypeString && kTypes[kTypeUInt32].code == kTypeUInt32 &&
                  kTypes[kTypeUInt16].code == kTypeUInt16 && kTypes[kTypeUInt8].code == kTypeUInt8 &&
                  kTypes[kTypeBytes].code == kTypeBytes && kTypes[kTypeFloat].code == kTypeFloat,
              "kTypes is indexed by the type code");

/// The facts of wire code @p code.
/// @param code a type code as it stands on the wire or in VTag::mType.
/// @return the entry of kTypes, or null for a code above 6.
constexpr const TypeInfo* typeInfo(unsigned code)
{
    return code < kTypeCount ? &kTypes[code] : nullptr;
}

/// The type whose short name is @p name ("u16", ...).
/// @param name a short name as in TypeInfo::name.
/// @return the entry of kTypes, or null for an unknown name.
constexpr const TypeInfo* typeInfo(std::string_view name)
{
    for (const TypeInfo& type : kTypes) {
        if (name == type.name)
            return &type;
    }
    return nullptr;
}

// ---------------------------------------------------------------------------
// Byte order: every multi-byte number on the wire is big-endian.

/// The 16-bit big-endian number at @p p.
/// @param p two readable bytes.
/// @return the number in host order.
inline std::uint16_t loadBE16(const unsigned char* p)
{
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

/// The 32-bit big-endian number at @p p.
/// @param p four readable bytes.
/// @return the number in host order.
inline std::uint32_t loadBE32(const unsigned char* p)
{
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           std::uint32_t{p[3]};
}

/// Writes @p v big-endian to @p p.
/// @param p two writable bytes.
/// @param v the number.
inline void storeBE16(unsigned char* p, std::uint16_t v)
{
    p[0] = static_cast<unsigned char>(v >> 8);
    p[1] = static_cast<unsigned char>(v);
}

/// Writes @p v big-endian to @p p.
/// @param p four writable bytes.
/// @param v the number.
inline void storeBE32(unsigned char* p, std::uint32_t v)
{
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
}

/// The float whose IEEE 754 bit pattern is @p bits; every pattern, NaNs
/// included, is kept as it is.
/// @param bits the bit pattern.
/// @return the float.
inline float floatFromBits(std::uint32_t bits)
{
    float value;
    static_assert(sizeof value == sizeof bits, "float is 32 bits wide");
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

/// The IEEE 754 bit pattern of @p value.
/// @param value the float.
/// @return its bits.
inline std::uint32_t bitsOfFloat(float value)
{
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// ---------------------------------------------------------------------------
// Reading

/// Why a walk over a block ended.
enum class Stop {
    End,               ///< Every byte after the header was read as tags (or nothing was refused yet).
    ShortBlock,        ///< Fewer than the 2 header bytes (or a null block).
    ShortTagHeader,    ///< 1 to 3 bytes left where a tag header needs 4.
    LengthBeyondBlock, ///< The tag's declared length runs past the end of the block.
    UnknownType,       ///< The tag's type code is above 6.
    ShortFixedValue,   ///< A u8, u16, u32 or f32 tag declares fewer bytes than its value needs.
    TooLong            ///< The block is longer than its receiver takes (vmsg::EndpointOptions::maxBlock);
                       ///< the Reader itself reads blocks of any length and never stops so.
};

/// A short name of @p stop: "end", "short-block", "short-tag-header",
/// "length-beyond-block", "unknown-type", "short-fixed-value" or "too-long".
/// @param stop the reason.
/// @return a static text.
constexpr const char* stopName(Stop stop)
{
    switch (stop) {
    case Stop::End: return "end";
    case Stop::ShortBlock: return "short-block";
    case Stop::ShortTagHeader: return "short-tag-header";
    case Stop::LengthBeyondBlock: return "length-beyond-block";
    case Stop::UnknownType: return "unknown-type";
    case Stop::ShortFixedValue: return "short-fixed-value";
    case Stop::TooLong: return "too-long";
    }
    return "unknown";
}

/// One tag inside a block, read in place: nothing is copied, and the view
/// is valid as long as the block is.
///
/// The accessors give exactly what VTag::parseTag puts into the tag it
/// builds from the same bytes. They read the payload as their type does
/// whatever the tag's type code; on a payload too short for them they give
/// 0 or the empty text.
struct TagView {
    std::size_t offset = 0;                 ///< Offset of the tag's first byte in the block.
    unsigned char id = 0;                   ///< Tag id.
    unsigned char type = 0;                 ///< Type code as written on the wire.
    std::uint16_t declared = 0;             ///< Payload length as declared in the tag header.
    const unsigned char* payload = nullptr; ///< The declared payload; null when it does not lie in the block.

    /// Bytes the tag takes in the block: header and declared payload.
    /// @return 4 + declared.
    constexpr std::size_t size() const { return kTagHeaderSize + declared; }

    /// The value of a u8 tag: the first payload byte.
    /// @return the byte, or 0 without payload.
    std::uint8_t u8() const { return payload && declared >= 1 ? payload[0] : 0; }
    /// The value of a u16 tag: the first 2 payload bytes, big-endian.
    /// @return the value, or 0 when fewer bytes are declared.
    std::uint16_t u16() const { return payload && declared >= 2 ? loadBE16(payload) : 0; }
    /// The value of a u32 tag: the first 4 payload bytes, big-endian.
    /// @return the value, or 0 when fewer bytes are declared.
    std::uint32_t u32() const { return payload && declared >= 4 ? loadBE32(payload) : 0; }
    /// The value of an f32 tag: the float whose bit pattern is u32().
    /// @return the float, or 0.0 when fewer bytes are declared.
    float f32() const { return floatFromBits(u32()); }
    /// The characters of a text tag, without the NUL: up to the first NUL
    /// of the payload, or all of it when it has none, and at most 1017.
    /// @return a view into the block.
    std::string_view text() const
    {
        if (!payload)
            return {};
        const std::size_t limit = declared < kMaxText ? declared : kMaxText;
        const void* nul = std::memchr(payload, 0, limit);
        const std::size_t count = nul ? static_cast<std::size_t>(static_cast<const unsigned char*>(nul) - payload)
                                      : limit;
        return {reinterpret_cast<const char*>(payload), count};
    }
    /// The payload of a raw-bytes tag: the first 1018 declared bytes.
    /// @return a view into the block.
    std::string_view bytes() const
    {
        if (!payload)
            return {};
        return {reinterpret_cast<const char*>(payload), declared < kMaxPayload ? declared : kMaxPayload};
    }
};

/// Reads the tag that starts at @p offset of the @p length bytes at
/// @p block, by the rules of VTag::parseTag. Reads nothing outside
/// [block, block + length).
/// @param block  the bytes; readable for @p length bytes.
/// @param length the number of bytes at @p block.
/// @param offset where the tag starts; at most @p length.
/// @param tag    receives the offset and, when the 4 header bytes are
///               there, the header; its payload is set when the declared
///               payload lies within the bytes.
/// @return Stop::End when the tag is accepted; otherwise why it is refused
///         (ShortTagHeader, LengthBeyondBlock, UnknownType, ShortFixedValue).
inline Stop readTag(const unsigned char* block, std::size_t length, std::size_t offset, TagView& tag)
{
    tag = TagView{};
    tag.offset = offset;
    const std::size_t left = length - offset;
    if (left < kTagHeaderSize)
        return Stop::ShortTagHeader;
    const unsigned char* at = block + offset;
    tag.id = at[0];
    tag.type = at[1];
    tag.declared = loadBE16(at + 2);
    // Compared in the width of size_t: a declared length near 65535 cannot wrap.
    if (tag.declared > left - kTagHeaderSize)
        return Stop::LengthBeyondBlock;
    tag.payload = at + kTagHeaderSize;
    const TypeInfo* type = typeInfo(tag.type);
    if (!type)
        return Stop::UnknownType;
    if (tag.declared < type->minPayload())
        return Stop::ShortFixedValue;
    return Stop::End;
}

/// Walks the tags of a block in place. Never reads outside the block,
/// never writes, never allocates.
///
/// @code
/// vmsg::Reader reader(block, length);
/// vmsg::TagView tag;
/// while (reader.next(tag)) {
///     if (tag.type == vmsg::kTypeUInt16) use(tag.id, tag.u16());
/// }
/// if (reader.stop() != vmsg::Stop::End) report(reader.stop(), reader.offset());
/// @endcode
///
/// It takes exactly the tags that VMsg::parseMsg takes from the same block
/// and stops where parseMsg stops; unlike parseMsg it says why.
class Reader {
public:
    /// A reader over the @p length bytes at @p block.
    /// @param block  the block; null is read as an empty block.
    /// @param length the number of bytes at @p block.
    Reader(const void* block, std::size_t length)
        : mBlock(static_cast<const unsigned char*>(block)), mLength(block ? length : 0)
    {
        if (mLength < kMessageHeaderSize)
            mStop = Stop::ShortBlock;
        else
            mOffset = kMessageHeaderSize;
    }

    /// The message id (block byte 0); 0 for a short block.
    /// @return the id.
    unsigned char id() const { return mStop == Stop::ShortBlock ? 0 : mBlock[0]; }
    /// The flags byte (block byte 1); 0 for a short block.
    /// @return the flags; bit 7 set means more segments follow.
    unsigned char flags() const { return mStop == Stop::ShortBlock ? 0 : mBlock[1]; }

    /// Reads the next tag.
    /// @param tag receives the tag. When a tag is refused, it receives what
    ///        was read of that tag's header (see readTag).
    /// @return true with a tag; false at the end of the block or at a
    ///         refused tag, and from then on.
    bool next(TagView& tag)
    {
        if (mStop != Stop::End || mOffset >= mLength)
            return false;
        const Stop stop = readTag(mBlock, mLength, mOffset, tag);
        if (stop != Stop::End) {
            mStop = stop;
            return false;
        }
        mOffset += tag.size();
        return true;
    }

    /// Why the walk ended: Stop::End while no tag has been refused, and
    /// once every byte has been read as tags.
    /// @return the reason.
    Stop stop() const { return mStop; }
    /// Where the walk stands: the offset of the next tag to read; once a
    /// tag was refused, that tag's offset; 0 for a short block.
    /// @return an offset into the block.
    std::size_t offset() const { return mOffset; }
    /// True once next() has nothing more to give: the end of the block was
    /// reached, or a tag (or the block itself) was refused.
    /// @return whether the walk is over.
    bool done() const { return mStop != Stop::End || mOffset >= mLength; }
    /// The number of bytes of the block.
    /// @return the length given to the constructor (0 for a null block).
    std::size_t length() const { return mLength; }

private:
    const unsigned char* mBlock;
    std::size_t mLength;
    std::size_t mOffset = 0;
    Stop mStop = Stop::End;
};

// ---------------------------------------------------------------------------
// Writing

/// Writes a tag header: @p id, @p code and the 16-bit @p length.
/// @param out four writable bytes.
/// @param id the tag id.
/// @param code the type code.
/// @param length the payload length.
inline void encodeTagHeader(unsigned char* out, unsigned char id, unsigned char code, std::uint16_t length)
{
    out[0] = id;
    out[1] = code;
    storeBE16(out + 2, length);
}

namespace detail {
/// Copies @p n bytes, sizeof(Word) <= n <= 2 * sizeof(Word), as two
/// overlapping copies of a Word: the first and the last sizeof(Word) bytes.
template <class Word>
inline void copyHeadAndTail(unsigned char* dst, const unsigned char* src, std::size_t n)
{
    Word head, tail;
    std::memcpy(&head, src, sizeof head);
    std::memcpy(&tail, src + n - sizeof tail, sizeof tail);
    std::memcpy(dst, &head, sizeof head);
    std::memcpy(dst + n - sizeof tail, &tail, sizeof tail);
}
} // namespace detail

/// Copies @p n payload bytes. Most payloads are a few bytes long; those
/// are moved with two overlapping word copies instead of a library call.
/// Reads and writes exactly @p n bytes.
/// @param dst where to copy to.
/// @param src where to copy from.
/// @param n the number of bytes.
inline void copyPayload(unsigned char* dst, const unsigned char* src, std::size_t n)
{
    if (n > 16) {
        std::memcpy(dst, src, n);
    } else if (n >= 8) {
        detail::copyHeadAndTail<std::uint64_t>(dst, src, n);
    } else if (n >= 4) {
        detail::copyHeadAndTail<std::uint32_t>(dst, src, n);
    } else {
        for (std::size_t i = 0; i < n; ++i)
            dst[i] = src[i];
    }
}

/// Builds a block in a caller's buffer, tag by tag. Never allocates.
///
/// @code
/// unsigned char block[vmsg::kMaxBlock];
/// vmsg::Writer writer(block, sizeof block, 0x21);
/// writer.u8(5, 7);
/// writer.text(9, "hello");
/// if (writer.ok()) send(block, writer.size());
/// @endcode
///
/// The bytes are those of the same tags built with the typed constructors
/// and written with VMsg::getMsg: a text keeps at most 1017 characters and
/// ends at its first NUL, raw bytes keep at most 1018. A tag that does not
/// fit the capacity, or would take the block past the 1024 bytes getMsg
/// writes at most, writes nothing, returns false and makes ok() false; from
/// then on every tag is refused, so a block is never missing a tag in the
/// middle.
class Writer {
public:
    /// Starts a block of message @p id in @p out: writes the 2 header bytes.
    /// @param out      the buffer; null writes nothing (ok() is false).
    /// @param capacity the bytes of room at @p out; fewer than 2 writes
    ///                 nothing (ok() is false). Room beyond 1024 bytes is
    ///                 not used.
    /// @param id       the message id.
    /// @param flags    the flags byte; bit 7 set means more segments follow.
    Writer(void* out, std::size_t capacity, unsigned char id, unsigned char flags = 0)
        : mOut(static_cast<unsigned char*>(out)), mCapacity(capacity < kMaxBlock ? capacity : kMaxBlock)
    {
        if (!mOut || mCapacity < kMessageHeaderSize) {
            mOk = false;
            return;
        }
        mOut[0] = id;
        mOut[1] = flags;
        mSize = kMessageHeaderSize;
    }

    /// Appends a null tag (type code 0, no payload).
    /// @param tagId the tag id.
    /// @return false when the tag was not written.
    bool null(unsigned char tagId) { return begin(tagId, kTypeNull, 0) != nullptr; }
    /// Appends a u8 tag.
    /// @param tagId the tag id.
    /// @param value the value.
    /// @return false when the tag was not written.
    bool u8(unsigned char tagId, std::uint8_t value)
    {
        unsigned char* payload = begin(tagId, kTypeUInt8, 1);
        if (payload)
            payload[0] = value;
        return payload != nullptr;
    }
    /// Appends a u16 tag, big-endian.
    /// @param tagId the tag id.
    /// @param value the value.
    /// @return false when the tag was not written.
    bool u16(unsigned char tagId, std::uint16_t value)
    {
        unsigned char* payload = begin(tagId, kTypeUInt16, 2);
        if (payload)
            storeBE16(payload, value);
        return payload != nullptr;
    }
    /// Appends a u32 tag, big-endian.
    /// @param tagId the tag id.
    /// @param value the value.
    /// @return false when the tag was not written.
    bool u32(unsigned char tagId, std::uint32_t value)
    {
        unsigned char* payload = begin(tagId, kTypeUInt32, 4);
        if (payload)
            storeBE32(payload, value);
        return payload != nullptr;
    }
    /// Appends an f32 tag (type code 6): the float's bit pattern, big-endian.
    /// @param tagId the tag id.
    /// @param value the float; every bit pattern, NaNs included, is kept.
    /// @return false when the tag was not written.
    bool f32(unsigned char tagId, float value)
    {
        unsigned char* payload = begin(tagId, kTypeFloat, 4);
        if (payload)
            storeBE32(payload, bitsOfFloat(value));
        return payload != nullptr;
    }
    /// Appends a text tag: the characters of @p text up to its first NUL,
    /// at most 1017, followed by a NUL.
    /// @param tagId the tag id.
    /// @param text  the characters; never written.
    /// @return false when the tag was not written.
    bool text(unsigned char tagId, std::string_view text)
    {
        std::size_t count = text.size() < kMaxText ? text.size() : kMaxText;
        // (An empty view may have a null data pointer, which memchr must not see.)
        // The NUL lies within the first count characters; saying so with
        // the clamp lets the compiler bound the copy below by the view's
        // size (without it GCC's -Warray-bounds sees copies beyond a short
        // array for lengths that cannot occur).
        if (const void* nul = count ? std::memchr(text.data(), 0, count) : nullptr) {
            const auto at = static_cast<std::size_t>(static_cast<const char*>(nul) - text.data());
            count = at < count ? at : count;
        }
        unsigned char* payload = begin(tagId, kTypeString, count + 1);
        if (!payload)
            return false;
        copyPayload(payload, reinterpret_cast<const unsigned char*>(text.data()), count);
        payload[count] = 0;
        return true;
    }
    /// Appends a raw-bytes tag holding the first @p size bytes at @p data,
    /// at most 1018.
    /// @param tagId the tag id.
    /// @param data  the bytes; null gives an empty payload.
    /// @param size  the number of bytes at @p data.
    /// @return false when the tag was not written.
    bool bytes(unsigned char tagId, const void* data, std::size_t size)
    {
        const std::size_t kept = !data ? 0 : size < kMaxPayload ? size : kMaxPayload;
        unsigned char* payload = begin(tagId, kTypeBytes, kept);
        if (payload && kept)
            copyPayload(payload, static_cast<const unsigned char*>(data), kept);
        return payload != nullptr;
    }

    /// The bytes written so far, header included.
    /// @return 0 when even the header did not fit.
    std::size_t size() const { return mSize; }
    /// True while every tag has been written.
    /// @return false once the header or a tag did not fit.
    bool ok() const { return mOk; }
    /// The block, as far as it is written.
    /// @return the buffer given to the constructor.
    const unsigned char* data() const { return mOut; }

private:
    // Reserves a tag of @p length payload bytes and writes its header;
    // returns where the payload goes, or null (nothing written) when the
    // tag does not fit or an earlier one did not.
    unsigned char* begin(unsigned char tagId, unsigned char code, std::size_t length)
    {
        if (!mOk || length + kTagHeaderSize > mCapacity - mSize) {
            mOk = false;
            return nullptr;
        }
        unsigned char* at = mOut + mSize;
        encodeTagHeader(at, tagId, code, static_cast<std::uint16_t>(length));
        mSize += kTagHeaderSize + length;
        return at + kTagHeaderSize;
    }

    unsigned char* mOut;
    std::size_t mCapacity;
    std::size_t mSize = 0;
    bool mOk = true;
};

} // namespace vmsg

#endif
