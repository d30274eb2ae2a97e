/// @file
/// Framing blocks on byte streams: a block carries no length of its own and
/// no start marker, so a transport that does not keep message boundaries
/// (TCP, a pipe, a file, a serial line) needs each block framed.
///
/// Two framings, both laid out byte by byte in docs/framing.md:
///  - Framing::LengthPrefix: a 2-byte big-endian block length, then the
///    block (for reliable streams: TCP, pipes, files);
///  - Framing::Cobs: the block COBS-encoded (no 0x00 byte left in it), then
///    one 0x00 delimiter (for serial lines: a reader that joins in the middle
///    or meets corrupted bytes gets back on track at the next delimiter).
///
/// frame() writes one framed block into a caller's buffer; FrameReader takes
/// a stream in chunks of any size and hands out the blocks. Neither
/// allocates after the reader's construction, and the reader holds at most
/// one block (kMaxFramedBlock bytes) whatever it is fed.
#ifndef VMSG_VFRAME_H
#define VMSG_VFRAME_H

#include <VWire.h>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace vmsg {

/// How blocks are framed on a byte stream.
enum class Framing {
    LengthPrefix, ///< 2-byte big-endian block length, then the block.
    Cobs          ///< The block COBS-encoded, then a 0x00 delimiter.
};

/// The largest block either framing carries: its length must fit the
/// 2-byte prefix, and a reader holds one block of at most this size.
inline constexpr std::size_t kMaxFramedBlock = 65535;

/// The smallest block either framing carries: a block has at least its
/// message id and flags.
inline constexpr std::size_t kMinFramedBlock = kMessageHeaderSize;

/// The most bytes frame() writes for a block of @p blockLength bytes: the
/// exact size for LengthPrefix (2 + length), the size of a block without
/// any 0x00 byte for Cobs (length + ceil(length / 254) + 1); a block with
/// 0x00 bytes may frame shorter, never longer.
/// @param framing     the framing.
/// @param blockLength the block's length; the bound is given for any
///                    length, also one that frame() refuses.
/// @return the bound in bytes.
VMSG_API std::size_t maxFramedSize(Framing framing, std::size_t blockLength);

/// Writes one framed block to @p out.
/// @param framing  the framing.
/// @param block    the block; never written. Must not overlap @p out.
/// @param length   the block's length: from kMinFramedBlock (2) to
///                 kMaxFramedBlock (65535).
/// @param out      where the framed block goes.
/// @param capacity the bytes of room at @p out. Room of
///                 maxFramedSize(framing, length) always suffices; for Cobs
///                 less may, depending on the block's 0x00 bytes.
/// @return the framed size; 0, with nothing written, when the frame does not
///         fit @p capacity, @p block or @p out is null, or @p length is out
///         of range.
VMSG_API std::size_t frame(Framing framing, const void* block, std::size_t length, void* out, std::size_t capacity);

/// Takes a framed stream in chunks of any size and hands out its blocks in
/// order. Allocates its buffer (kMaxFramedBlock bytes) when constructed,
/// never afterwards.
///
/// A block is handed out once complete, and feed() takes no byte beyond the
/// end of its frame until next() has handed it out. So a caller feeds what
/// it received in a loop that drains the blocks, and no byte is lost:
///
/// @code
/// vmsg::FrameReader reader(vmsg::Framing::LengthPrefix);
/// while (std::size_t received = recv(fd, buf, sizeof buf, 0)) {
///     const unsigned char* data = buf;
///     while (received > 0) {
///         const std::size_t taken = reader.feed(data, received);
///         data += taken;
///         received -= taken;
///         const unsigned char* block;
///         std::size_t length;
///         while (reader.next(block, length))
///             handle(block, length);
///     }
/// }
/// @endcode
///
/// Bytes that cannot make a block are dropped, counted by dropped():
///  - LengthPrefix: a frame that declares 0 or 1 bytes is skipped whole (its
///    2 prefix bytes and the byte it declares); the next frame starts right
///    after it. Any declared length from 2 to 65535 is taken as a frame.
///  - Cobs: a frame that does not decode (a code byte promises more bytes
///    than come before the delimiter), that decodes to 1 byte, or whose
///    block would exceed kMaxFramedBlock is dropped up to and including its
///    delimiter; reading goes on with the next frame. An empty frame (a 0x00
///    right after a delimiter, or as the very first byte) is a mere
///    separator, neither a block nor dropped: a sender may write 0x00 at any
///    time between frames to end whatever partial frame a reader holds.
///
/// Every byte fed is thus part of a block handed out, counted by dropped(),
/// part of a frame still in progress, or (Cobs only) an empty frame.
///
/// A block is checked for its size only: its tags are the business of
/// vmsg::Reader or VMsg::parseMsg. A COBS reader that joins a line in the
/// middle of a frame may hand out that frame's tail as a block when it
/// happens to decode; the block parser then judges it.
class VMSG_API FrameReader {
public:
    /// A reader at the start of a stream, holding nothing.
    /// @param framing the framing of the stream.
    /// @throws std::bad_alloc when its buffer cannot be allocated.
    explicit FrameReader(Framing framing);
    /// Frees the buffer; a block handed out is then no longer readable.
    ~FrameReader();
    /// Not copyable: one buffer, one owner.
    FrameReader(const FrameReader&) = delete;
    /// Not copyable: one buffer, one owner.
    FrameReader& operator=(const FrameReader&) = delete;

    /// Takes bytes of the stream: all of them, or those up to the end of the
    /// first frame that completes a block, which next() then hands out.
    /// While a complete block waits for next(), takes nothing (returns 0).
    /// @param data   the bytes; read during the call only. Null is read as
    ///               no bytes.
    /// @param length the number of bytes at @p data.
    /// @return the number of bytes taken, from the front of @p data; the
    ///         caller feeds the rest after calling next().
    std::size_t feed(const void* data, std::size_t length);

    /// Hands out the complete block, if there is one.
    /// @param block  receives the block's first byte; the bytes belong to
    ///               the reader and stay valid until the next call of
    ///               feed(), next() or reset().
    /// @param length receives the block's length (2 to 65535).
    /// @return true with a block; false (block and length unchanged) when
    ///         none is complete.
    bool next(const unsigned char*& block, std::size_t& length);

    /// Feeds all of @p data, handing each block it completes to @p onBlock
    /// in order: the feed() and next() loop that every stream reader needs.
    /// @param data    the bytes; read during the call only. Null is read
    ///                as no bytes.
    /// @param length  the number of bytes at @p data.
    /// @param onBlock called as onBlock(const unsigned char* block,
    ///                std::size_t length) for each block; the bytes are
    ///                valid during the call only.
    template <class OnBlock>
    void feedAll(const void* data, std::size_t length, OnBlock&& onBlock)
    {
        const unsigned char* at = static_cast<const unsigned char*>(data);
        if (!at)
            return;
        const unsigned char* block;
        std::size_t size;
        while (length > 0) {
            // feed() stops after a frame that completes a block; next()
            // hands it out, and the rest is fed again.
            const std::size_t taken = feed(at, length);
            at += taken;
            length -= taken;
            while (next(block, size))
                onBlock(block, size);
        }
    }

    /// The bytes thrown away while resynchronising (see the class notes),
    /// since construction or reset().
    /// @return the count.
    std::uint64_t dropped() const;

    /// The block bytes the reader holds now: those of the frame in
    /// progress (decoded, for Cobs), or of the complete block waiting for
    /// next(). Never more than capacity().
    /// @return the count; 0 at a frame boundary.
    std::size_t buffered() const;

    /// The most block bytes the reader ever holds.
    /// @return kMaxFramedBlock.
    static constexpr std::size_t capacity() { return kMaxFramedBlock; }

    /// The framing given to the constructor.
    /// @return the framing.
    Framing framing() const;

    /// Back to the start of a stream (a new connection, say): forgets the
    /// frame in progress and any block not handed out, and sets dropped()
    /// to 0. Keeps the buffer.
    void reset();

private:
    struct State;
    std::unique_ptr<State> mState;
};

} // namespace vmsg

#endif
