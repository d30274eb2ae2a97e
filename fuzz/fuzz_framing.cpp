// Fuzz target: framing blocks on byte streams (VFrame.h).
//
// The input is used twice. As a framed stream (its first byte picks the
// framing), it is read whole, a byte at a time and in chunks of sizes drawn
// from the input: every way gives the same blocks and the same dropped
// count, the reader never holds more than its bound, and every block it
// gives is from 2 to 65535 bytes and comes back unchanged through frame()
// and a new reader. As blocks (lengths and bytes taken from it), it is
// framed with frame() in both framings: each frame is within
// maxFramedSize (exactly it, for a COBS block without 0x00), a capacity a
// byte short writes nothing, and the stream of frames, read in chunks,
// gives the blocks back with nothing dropped.
#include "FuzzSupport.h"

#include <VFrame.h>

#include <algorithm>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;
using vmsg::Framing;

struct Read {
    std::vector<Bytes> blocks;
    std::uint64_t dropped = 0;
};

// Chunk sizes from 1 to `most`, from a small generator seeded by the input.
class Chunks {
public:
    Chunks(std::uint32_t seed, std::size_t most) : mState(seed | 1), mMost(most) {}
    std::size_t operator()()
    {
        mState ^= mState << 13;
        mState ^= mState >> 17;
        mState ^= mState << 5;
        return 1 + mState % mMost;
    }

private:
    std::uint32_t mState;
    std::size_t mMost;
};

template <typename ChunkSize>
Read readStream(Framing framing, const unsigned char* data, std::size_t size, ChunkSize chunk)
{
    vmsg::FrameReader reader(framing);
    Read read;
    std::size_t at = 0;
    while (at < size) {
        std::size_t left = std::min(chunk(), size - at);
        while (left > 0) {
            const std::size_t taken = reader.feed(data + at, left);
            FUZZ_CHECK(taken <= left);
            at += taken;
            left -= taken;
            FUZZ_CHECK(reader.buffered() <= vmsg::FrameReader::capacity());
            const unsigned char* block;
            std::size_t length;
            bool any = false;
            while (reader.next(block, length)) {
                FUZZ_CHECK(length >= vmsg::kMinFramedBlock && length <= vmsg::kMaxFramedBlock);
                read.blocks.emplace_back(block, block + length);
                any = true;
            }
            // No progress without a block to hand out: the caller would spin.
            FUZZ_CHECK(taken > 0 || any);
        }
    }
    read.dropped = reader.dropped();
    return read;
}

Bytes framed(Framing framing, const Bytes& block)
{
    const std::size_t bound = vmsg::maxFramedSize(framing, block.size());
    Bytes out(bound + 1, 0xA5);
    const std::size_t size = vmsg::frame(framing, block.data(), block.size(), out.data(), bound);
    FUZZ_CHECK(size > 0 && size <= bound);
    if (framing == Framing::Cobs && std::find(block.begin(), block.end(), 0) == block.end())
        FUZZ_CHECK(size == bound);
    FUZZ_CHECK(out[bound] == 0xA5);
    // A byte less room: refused, nothing written.
    Bytes shorter(size, 0x5A);
    FUZZ_CHECK(vmsg::frame(framing, block.data(), block.size(), shorter.data(), size - 1) == 0);
    FUZZ_CHECK(std::all_of(shorter.begin(), shorter.end(), [](unsigned char b) { return b == 0x5A; }));
    out.resize(size);
    return out;
}

std::uint32_t hashOf(const std::uint8_t* data, std::size_t size)
{
    std::uint32_t h = 2166136261u;
    for (std::size_t i = 0; i < size; ++i)
        h = (h ^ data[i]) * 16777619u;
    return h;
}

void checkStream(Framing framing, const std::uint8_t* data, std::size_t size, std::uint32_t seed)
{
    const Read whole = readStream(framing, data, size, [size] { return size; });
    const Read bytewise = readStream(framing, data, size, [] { return std::size_t{1}; });
    const Read chunked = readStream(framing, data, size, Chunks(seed, 1 + seed % 97));
    FUZZ_CHECK(bytewise.blocks == whole.blocks && bytewise.dropped == whole.dropped);
    FUZZ_CHECK(chunked.blocks == whole.blocks && chunked.dropped == whole.dropped);
    FUZZ_CHECK(whole.dropped <= size);
    for (const Bytes& block : whole.blocks) {
        const Bytes frame = framed(framing, block);
        const Read again = readStream(framing, frame.data(), frame.size(), [] { return std::size_t{3}; });
        FUZZ_CHECK(again.blocks.size() == 1 && again.blocks[0] == block && again.dropped == 0);
    }
}

void checkRoundTrip(vmsgfuzz::Input& in, std::uint32_t seed)
{
    std::vector<Bytes> blocks;
    while (in.remaining() >= 2) {
        const std::uint8_t pick = in.byte();
        const std::size_t length = 2 + (pick & 0x80 ? in.u16() % 2048 : pick % 64);
        Bytes block = in.bytes(length);
        if (block.size() < 2)
            break;
        blocks.push_back(std::move(block));
    }
    for (Framing framing : {Framing::LengthPrefix, Framing::Cobs}) {
        Bytes stream;
        for (const Bytes& block : blocks) {
            const Bytes frame = framed(framing, block);
            stream.insert(stream.end(), frame.begin(), frame.end());
        }
        const Read read = readStream(framing, stream.data(), stream.size(), Chunks(seed, 1 + seed % 300));
        FUZZ_CHECK(read.blocks == blocks);
        FUZZ_CHECK(read.dropped == 0);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const Framing framing = data[0] & 1 ? Framing::Cobs : Framing::LengthPrefix;
    const std::uint32_t seed = hashOf(data, size);
    vmsgfuzz::trace("stream of %zu bytes, %s", size - 1, framing == Framing::Cobs ? "cobs" : "lp");
    checkStream(framing, data + 1, size - 1, seed);
    vmsgfuzz::Input in(data + 1, size - 1);
    checkRoundTrip(in, seed);
    return 0;
}
