// Reading framed streams: FrameReader takes the bytes in chunks of any size
// and assembles one block at a time in a buffer of kMaxFramedBlock bytes,
// allocated once. The byte layouts are in docs/framing.md.
#include <VFrame.h>

#include <cstring>

namespace vmsg {

// The reader's state is its own: none of it is exported.
struct __attribute__((visibility("hidden"))) FrameReader::State {
    explicit State(Framing f) : framing(f), buffer(new unsigned char[kMaxFramedBlock]) {}

    Framing framing;
    std::unique_ptr<unsigned char[]> buffer;
    std::size_t length = 0; // block bytes held: the frame in progress, or the ready block
    bool ready = false;     // a complete block of `length` bytes waits for next()
    std::uint64_t dropped = 0;

    // LengthPrefix: the prefix as far as it came, then the declared length;
    // `skip` counts the bytes of a too-short frame still to throw away.
    unsigned char prefix[2] = {0, 0};
    std::size_t prefixHave = 0;
    std::size_t declared = 0;
    std::size_t skip = 0;

    // Cobs: the encoded bytes of the frame so far; the data bytes left in
    // the current group (0: the next byte is a code byte); whether the
    // group's code stands for a 0x00, to be added when another group
    // follows; and whether the frame is already refused (then the bytes are
    // only counted up to the delimiter).
    std::uint64_t frameBytes = 0;
    std::size_t groupLeft = 0;
    bool zeroPending = false;
    bool refused = false;

    void startFrame()
    {
        length = 0;
        prefixHave = 0;
        declared = 0;
        frameBytes = 0;
        groupLeft = 0;
        zeroPending = false;
        refused = false;
    }

    std::size_t feedLengthPrefix(const unsigned char* data, std::size_t n);
    std::size_t feedCobs(const unsigned char* data, std::size_t n);
    void endCobsFrame();
    std::size_t cobsData(const unsigned char* data, std::size_t n);
};

// Takes bytes until a block is complete (then stops right after it) or the
// bytes run out.
std::size_t FrameReader::State::feedLengthPrefix(const unsigned char* data, std::size_t n)
{
    std::size_t i = 0;
    while (i < n) {
        if (skip > 0) {
            const std::size_t count = n - i < skip ? n - i : skip;
            skip -= count;
            dropped += count;
            i += count;
        } else if (prefixHave < 2) {
            prefix[prefixHave++] = data[i++];
            if (prefixHave < 2)
                continue;
            declared = loadBE16(prefix);
            if (declared < kMinFramedBlock) {
                // A frame too short for a block: skipped whole.
                dropped += 2;
                skip = declared;
                prefixHave = 0;
            }
        } else {
            const std::size_t want = declared - length;
            const std::size_t count = n - i < want ? n - i : want;
            std::memcpy(buffer.get() + length, data + i, count);
            length += count;
            i += count;
            if (length == declared) {
                ready = true;
                prefixHave = 0;
                return i;
            }
        }
    }
    return i;
}

// At a delimiter: the frame becomes the ready block, or is dropped, or (an
// empty frame) is passed over.
void FrameReader::State::endCobsFrame()
{
    if (frameBytes == 0)
        return;
    if (refused || groupLeft > 0 || length < kMinFramedBlock) {
        dropped += frameBytes + 1;
        startFrame();
        return;
    }
    ready = true;
    frameBytes = 0;
    groupLeft = 0;
    zeroPending = false;
}

// Copies the data bytes of the current group that are at @p data, up to a
// 0x00 (which ends the frame early); returns how many it took.
std::size_t FrameReader::State::cobsData(const unsigned char* data, std::size_t n)
{
    std::size_t count = n < groupLeft ? n : groupLeft;
    if (const void* zero = std::memchr(data, 0, count))
        count = static_cast<std::size_t>(static_cast<const unsigned char*>(zero) - data);
    if (count > kMaxFramedBlock - length) {
        refused = true; // the block would not fit: dropped at its delimiter
        return 0;
    }
    std::memcpy(buffer.get() + length, data, count);
    length += count;
    groupLeft -= count;
    frameBytes += count;
    return count;
}

std::size_t FrameReader::State::feedCobs(const unsigned char* data, std::size_t n)
{
    std::size_t i = 0;
    while (i < n) {
        if (refused && data[i] != 0) {
            // Counted, not kept, up to the delimiter.
            const void* zero = std::memchr(data + i, 0, n - i);
            const std::size_t end = zero ? static_cast<std::size_t>(static_cast<const unsigned char*>(zero) - data) : n;
            frameBytes += end - i;
            i = end;
            continue;
        }
        const unsigned char byte = data[i];
        if (byte == 0) {
            ++i;
            endCobsFrame();
            if (ready)
                return i;
        } else if (groupLeft == 0) {
            ++i;
            ++frameBytes;
            if (zeroPending) {
                if (length == kMaxFramedBlock) {
                    refused = true;
                    continue;
                }
                buffer[length++] = 0;
            }
            groupLeft = byte - 1u;
            zeroPending = byte != 0xFF;
        } else {
            i += cobsData(data + i, n - i);
        }
    }
    return i;
}

FrameReader::FrameReader(Framing framing) : mState(new State(framing)) {}

FrameReader::~FrameReader() = default;

std::size_t FrameReader::feed(const void* data, std::size_t length)
{
    State& s = *mState;
    if (!data || length == 0 || s.ready)
        return 0;
    const auto* bytes = static_cast<const unsigned char*>(data);
    return s.framing == Framing::LengthPrefix ? s.feedLengthPrefix(bytes, length) : s.feedCobs(bytes, length);
}

bool FrameReader::next(const unsigned char*& block, std::size_t& length)
{
    State& s = *mState;
    if (!s.ready)
        return false;
    block = s.buffer.get();
    length = s.length;
    // The bytes stay in the buffer until the next frame overwrites them.
    s.ready = false;
    s.length = 0;
    return true;
}

std::uint64_t FrameReader::dropped() const
{
    return mState->dropped;
}

std::size_t FrameReader::buffered() const
{
    return mState->length;
}

Framing FrameReader::framing() const
{
    return mState->framing;
}

void FrameReader::reset()
{
    State& s = *mState;
    s.startFrame();
    s.ready = false;
    s.skip = 0;
    s.dropped = 0;
}

} // namespace vmsg
