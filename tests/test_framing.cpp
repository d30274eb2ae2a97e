// Framing blocks on byte streams: the hex vectors of docs/framing.md both
// ways, every split of a framed stream, recovery after damage, the
// length-prefix skipping rules, the reader's memory bound, and frame()'s
// size bound and refusals.
#include <VFrame.h>

#include "TestHelpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <random>
#include <string>
#include <vector>

namespace {

using vmsg::Framing;

// Hex bytes; "{01..FE}" stands for the run of byte values 01 to FE, as the
// vectors in docs/framing.md write it.
Bytes hex(const std::string& text)
{
    Bytes out;
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] == ' ') {
            ++i;
        } else if (text[i] == '{') {
            const unsigned from = std::stoul(text.substr(i + 1, 2), nullptr, 16);
            const unsigned to = std::stoul(text.substr(i + 5, 2), nullptr, 16);
            for (unsigned v = from; v <= to; ++v)
                out.push_back(static_cast<unsigned char>(v));
            i += 8;
        } else {
            out.push_back(static_cast<unsigned char>(std::stoul(text.substr(i, 2), nullptr, 16)));
            i += 2;
        }
    }
    return out;
}

Bytes framed(Framing framing, const Bytes& block)
{
    Bytes out(vmsg::maxFramedSize(framing, block.size()));
    out.resize(vmsg::frame(framing, block.data(), block.size(), out.data(), out.size()));
    return out;
}

struct ReadResult {
    std::vector<Bytes> blocks;
    std::uint64_t dropped = 0;
    std::size_t mostBuffered = 0;
};

// Feeds @p stream in chunks of the sizes @p chunk gives (called once per
// chunk), draining the blocks after every feed as a caller must.
template <typename ChunkSize>
ReadResult readStream(Framing framing, const Bytes& stream, ChunkSize chunk)
{
    vmsg::FrameReader reader(framing);
    ReadResult result;
    std::size_t at = 0;
    while (at < stream.size()) {
        std::size_t left = std::min(chunk(), stream.size() - at);
        while (left > 0) {
            const std::size_t taken = reader.feed(stream.data() + at, left);
            at += taken;
            left -= taken;
            result.mostBuffered = std::max(result.mostBuffered, reader.buffered());
            const unsigned char* block;
            std::size_t length;
            while (reader.next(block, length))
                result.blocks.emplace_back(block, block + length);
        }
    }
    result.dropped = reader.dropped();
    return result;
}

ReadResult readWhole(Framing framing, const Bytes& stream)
{
    return readStream(framing, stream, [&] { return stream.size(); });
}

// ---------------------------------------------------------------------------
// The vectors of docs/framing.md, written by frame() and read back.

struct Vector {
    const char* name;
    Framing framing;
    const char* block;
    const char* framed;
};

const Vector kVectors[] = {
    {"lp_smallest_block", Framing::LengthPrefix, "21 00", "00 02 21 00"},
    {"lp_one_u8_tag", Framing::LengthPrefix, "21 00 05 04 00 01 07", "00 07 21 00 05 04 00 01 07"},
    {"lp_300_bytes", Framing::LengthPrefix, "{01..FF} {00..2C}", "01 2C {01..FF} {00..2C}"},
    {"cobs_smallest_block", Framing::Cobs, "21 00", "02 21 01 00"},
    {"cobs_one_u8_tag", Framing::Cobs, "21 00 05 04 00 01 07", "02 21 03 05 04 03 01 07 00"},
    {"cobs_no_zero", Framing::Cobs, "11 22", "03 11 22 00"},
    {"cobs_only_zeros", Framing::Cobs, "00 00", "01 01 01 00"},
    {"cobs_254_non_zero", Framing::Cobs, "{01..FE}", "FF {01..FE} 00"},
    {"cobs_255_non_zero", Framing::Cobs, "{01..FF}", "FF {01..FE} 02 FF 00"},
    {"cobs_254_non_zero_then_zero", Framing::Cobs, "{01..FE} 00", "FF {01..FE} 01 01 00"},
};

class FramingVector : public ::testing::TestWithParam<Vector> {};

TEST_P(FramingVector, FrameWritesTheVectorAndTheReaderGivesTheBlockBack)
{
    const Vector& v = GetParam();
    const Bytes block = hex(v.block);
    const Bytes expected = hex(v.framed);
    EXPECT_EQ(framed(v.framing, block), expected);
    EXPECT_LE(expected.size(), vmsg::maxFramedSize(v.framing, block.size()));

    const ReadResult read = readWhole(v.framing, expected);
    ASSERT_EQ(read.blocks.size(), 1u);
    EXPECT_EQ(read.blocks[0], block);
    EXPECT_EQ(read.dropped, 0u);
}

TEST_P(FramingVector, EveryPrefixOfTheFrameHoldsNoBlockYet)
{
    const Vector& v = GetParam();
    const Bytes frame = hex(v.framed);
    for (std::size_t cut = 0; cut < frame.size(); ++cut) {
        vmsg::FrameReader reader(v.framing);
        EXPECT_EQ(reader.feed(frame.data(), cut), cut);
        const unsigned char* block = nullptr;
        std::size_t length = 0;
        EXPECT_FALSE(reader.next(block, length)) << "cut at " << cut;
        EXPECT_EQ(reader.dropped(), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Docs, FramingVector, ::testing::ValuesIn(kVectors),
                         [](const ::testing::TestParamInfo<Vector>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Streams split into chunks

Bytes randomBlock(std::mt19937& rng, std::size_t length, int zeroPercent)
{
    Bytes block(length);
    for (unsigned char& b : block)
        b = static_cast<int>(rng() % 100) < zeroPercent ? 0 : static_cast<unsigned char>(1 + rng() % 255);
    return block;
}

std::vector<Bytes> someBlocks(std::mt19937& rng, std::size_t count, std::size_t maxLength)
{
    std::vector<Bytes> blocks;
    for (std::size_t i = 0; i < count; ++i)
        blocks.push_back(randomBlock(rng, 2 + rng() % (maxLength - 1), static_cast<int>(rng() % 40)));
    return blocks;
}

Bytes streamOf(Framing framing, const std::vector<Bytes>& blocks)
{
    Bytes stream;
    for (const Bytes& block : blocks) {
        const Bytes f = framed(framing, block);
        stream.insert(stream.end(), f.begin(), f.end());
    }
    return stream;
}

class FramingSplit : public ::testing::TestWithParam<Framing> {};

TEST_P(FramingSplit, EverySplitOfASmallStreamGivesTheSameBlocks)
{
    std::mt19937 rng(7);
    const std::vector<Bytes> blocks = someBlocks(rng, 4, 9);
    const Bytes stream = streamOf(GetParam(), blocks);
    // Every split into two chunks and every fixed chunk size.
    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
        bool first = true;
        const ReadResult read = readStream(GetParam(), stream, [&] {
            const std::size_t n = first ? cut : stream.size();
            first = false;
            return n;
        });
        EXPECT_EQ(read.blocks, blocks) << "cut at " << cut;
        EXPECT_EQ(read.dropped, 0u);
    }
    for (std::size_t size = 1; size <= stream.size(); ++size)
        EXPECT_EQ(readStream(GetParam(), stream, [&] { return size; }).blocks, blocks) << "chunks of " << size;
}

TEST_P(FramingSplit, RandomSplitsOfALargeStreamGiveTheSameBlocks)
{
    std::mt19937 rng(11);
    std::vector<Bytes> blocks = someBlocks(rng, 200, 1200);
    blocks.push_back(randomBlock(rng, vmsg::kMaxFramedBlock, 5));
    blocks.push_back(randomBlock(rng, vmsg::kMaxFramedBlock, 0));
    const Bytes stream = streamOf(GetParam(), blocks);
    for (int run = 0; run < 10; ++run) {
        const std::size_t most = 1 + rng() % 3000;
        const ReadResult read = readStream(GetParam(), stream, [&] { return 1 + rng() % most; });
        EXPECT_EQ(read.blocks, blocks);
        EXPECT_EQ(read.dropped, 0u);
        EXPECT_LE(read.mostBuffered, vmsg::FrameReader::capacity());
    }
}

TEST_P(FramingSplit, FeedAllHandsOutEveryBlockOfEachChunkInOrder)
{
    std::mt19937 rng(13);
    std::vector<Bytes> blocks = someBlocks(rng, 100, 300);
    const Bytes stream = streamOf(GetParam(), blocks);
    for (std::size_t chunk : {std::size_t{1}, std::size_t{7}, std::size_t{500}, stream.size()}) {
        vmsg::FrameReader reader(GetParam());
        std::vector<Bytes> got;
        for (std::size_t at = 0; at < stream.size(); at += chunk)
            reader.feedAll(stream.data() + at, std::min(chunk, stream.size() - at),
                           [&](const unsigned char* block, std::size_t length) { got.emplace_back(block, block + length); });
        // Null and empty input give nothing and do not loop.
        reader.feedAll(nullptr, 10, [&](const unsigned char*, std::size_t) { ADD_FAILURE(); });
        reader.feedAll(stream.data(), 0, [&](const unsigned char*, std::size_t) { ADD_FAILURE(); });
        EXPECT_EQ(got, blocks) << "chunks of " << chunk;
        EXPECT_EQ(reader.buffered(), 0u);
    }
}

TEST_P(FramingSplit, FeedStopsAfterACompleteBlockUntilNextHandsItOut)
{
    const Bytes first = hex("21 00 05 04 00 01 07");
    const Bytes second = hex("22 00");
    const Bytes stream = streamOf(GetParam(), {first, second});
    const std::size_t firstFrame = framed(GetParam(), first).size();

    vmsg::FrameReader reader(GetParam());
    ASSERT_EQ(reader.feed(stream.data(), stream.size()), firstFrame);
    EXPECT_EQ(reader.buffered(), first.size());
    EXPECT_EQ(reader.feed(stream.data() + firstFrame, stream.size() - firstFrame), 0u);
    const unsigned char* block;
    std::size_t length;
    ASSERT_TRUE(reader.next(block, length));
    EXPECT_EQ(Bytes(block, block + length), first);
    EXPECT_FALSE(reader.next(block, length));
    EXPECT_EQ(reader.buffered(), 0u);
    EXPECT_EQ(reader.feed(stream.data() + firstFrame, stream.size() - firstFrame), stream.size() - firstFrame);
    ASSERT_TRUE(reader.next(block, length));
    EXPECT_EQ(Bytes(block, block + length), second);
    EXPECT_EQ(reader.feed(nullptr, 5), 0u);
}

TEST_P(FramingSplit, ResetForgetsTheFrameInProgress)
{
    const Bytes frame = framed(GetParam(), hex("21 00 05 04 00 01 07"));
    vmsg::FrameReader reader(GetParam());
    reader.feed(frame.data(), frame.size() - 1);
    reader.reset();
    EXPECT_EQ(reader.buffered(), 0u);
    EXPECT_EQ(reader.framing(), GetParam());
    reader.feed(frame.data(), frame.size());
    const unsigned char* block;
    std::size_t length;
    EXPECT_TRUE(reader.next(block, length));
    EXPECT_EQ(reader.dropped(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Both, FramingSplit, ::testing::Values(Framing::LengthPrefix, Framing::Cobs),
                         [](const ::testing::TestParamInfo<Framing>& info) {
                             return std::string(info.param == Framing::Cobs ? "Cobs" : "LengthPrefix");
                         });

// ---------------------------------------------------------------------------
// Damage and resynchronisation

// True when @p wanted appear in @p got in their order, other blocks allowed
// between them.
bool inOrder(const std::vector<Bytes>& wanted, const std::vector<Bytes>& got)
{
    auto at = got.begin();
    for (const Bytes& block : wanted) {
        at = std::find(at, got.end(), block);
        if (at == got.end())
            return false;
        ++at;
    }
    return true;
}

TEST(FramingCobs, GarbageCostsOnlyTheFramesItDamages)
{
    std::mt19937 rng(3);
    for (int run = 0; run < 200; ++run) {
        const std::vector<Bytes> blocks = someBlocks(rng, 12, 60);
        // Garbage (any bytes, 0x00 included) goes into or just before a few
        // frames, which it damages; the other frames must all come through.
        std::vector<bool> damaged(blocks.size());
        Bytes stream;
        std::size_t zerosInGarbage = 0;
        for (std::size_t i = 0; i < blocks.size(); ++i) {
            Bytes frame = framed(Framing::Cobs, blocks[i]);
            if (rng() % 3 == 0) {
                const Bytes garbage = randomBlock(rng, 1 + rng() % 20, 15);
                zerosInGarbage += static_cast<std::size_t>(std::count(garbage.begin(), garbage.end(), 0));
                // Anywhere before the frame's delimiter.
                frame.insert(frame.begin() + static_cast<long>(rng() % frame.size()), garbage.begin(), garbage.end());
                damaged[i] = true;
            }
            stream.insert(stream.end(), frame.begin(), frame.end());
        }
        std::vector<Bytes> undamaged;
        for (std::size_t i = 0; i < blocks.size(); ++i) {
            if (!damaged[i])
                undamaged.push_back(blocks[i]);
        }
        const ReadResult read = readStream(Framing::Cobs, stream, [&] { return 1 + rng() % 40; });
        EXPECT_TRUE(inOrder(undamaged, read.blocks)) << "run " << run;
        // A damaged frame becomes at most one block per piece the garbage's
        // 0x00 bytes cut it into.
        EXPECT_LE(read.blocks.size(), blocks.size() + zerosInGarbage);
        EXPECT_LE(read.mostBuffered, vmsg::FrameReader::capacity());
    }
}

TEST(FramingCobs, FramesThatDoNotMakeABlockAreDroppedWithTheirDelimiter)
{
    const Bytes good = hex("02 21 01 00");
    struct Case {
        const char* what;
        const char* bytes;
        std::uint64_t dropped;
    };
    const Case cases[] = {
        {"a code promising more bytes than come", "05 11 22 00", 4},
        {"a one-byte block", "02 11 00", 3},
        {"a block of one 0x00", "01 01 00", 3},
        {"empty frames, which are separators", "00 00 00", 0},
        {"a reader joining in a group", "11 22 33 00", 4},
    };
    for (const Case& c : cases) {
        Bytes stream = hex(c.bytes);
        stream.insert(stream.end(), good.begin(), good.end());
        const ReadResult read = readWhole(Framing::Cobs, stream);
        EXPECT_EQ(read.dropped, c.dropped) << c.what;
        EXPECT_EQ(read.blocks, std::vector<Bytes>{hex("21 00")}) << c.what;
    }
}

TEST(FramingCobs, AFrameLongerThanTheBoundIsDroppedAndHeldToTheBound)
{
    // 70000 non-zero bytes in groups of 254, then a frame that is a byte too
    // long by its final implied 0x00, then a good frame.
    Bytes stream;
    for (int group = 0; group < 276; ++group) {
        stream.push_back(0xFF);
        stream.insert(stream.end(), 254, 0x5A);
    }
    stream.push_back(0);
    const std::size_t tooLong = stream.size();
    Bytes exact = framed(Framing::Cobs, Bytes(vmsg::kMaxFramedBlock, 0x5A));
    exact.pop_back();
    exact.insert(exact.end(), {0x01, 0x01, 0x00}); // 0x00, then an empty last group: 65536 bytes
    stream.insert(stream.end(), exact.begin(), exact.end());
    const Bytes good = framed(Framing::Cobs, hex("21 00"));
    stream.insert(stream.end(), good.begin(), good.end());

    for (std::size_t chunk : {std::size_t{1}, std::size_t{977}, stream.size()}) {
        const ReadResult read = readStream(Framing::Cobs, stream, [&] { return chunk; });
        EXPECT_EQ(read.blocks, std::vector<Bytes>{hex("21 00")});
        EXPECT_EQ(read.dropped, tooLong + exact.size());
        EXPECT_LE(read.mostBuffered, vmsg::FrameReader::capacity());
    }
}

TEST(FramingLengthPrefix, AFrameTooShortForABlockIsSkippedWhole)
{
    // 00 00 and 00 01 xx declare no block; the frames after them are read
    // as before. A declared length is taken as it is otherwise.
    const Bytes stream = hex("00 00  00 02 21 00  00 01 99  00 00  00 03 22 00 7F");
    for (std::size_t size = 1; size <= stream.size(); ++size) {
        const ReadResult read = readStream(Framing::LengthPrefix, stream, [&] { return size; });
        EXPECT_EQ(read.blocks, (std::vector<Bytes>{hex("21 00"), hex("22 00 7F")})) << "chunks of " << size;
        EXPECT_EQ(read.dropped, 7u);
    }
}

TEST(FramingLengthPrefix, TheLargestDeclaredLengthIsHeldWithinTheBound)
{
    Bytes stream = hex("FF FF");
    stream.insert(stream.end(), 70000, 0x00);
    vmsg::FrameReader reader(Framing::LengthPrefix);
    EXPECT_EQ(reader.feed(stream.data(), stream.size()), 2 + vmsg::kMaxFramedBlock);
    EXPECT_EQ(reader.buffered(), vmsg::FrameReader::capacity());
}

// ---------------------------------------------------------------------------
// frame(): the size bound and the refusals

TEST(FramingFrame, TheBoundIsReachedByABlockWithoutZeroAndNeverExceeded)
{
    std::mt19937 rng(5);
    for (Framing framing : {Framing::LengthPrefix, Framing::Cobs}) {
        for (std::size_t length : {2, 3, 253, 254, 255, 507, 508, 509, 1024, 65534, 65535}) {
            EXPECT_EQ(framed(framing, Bytes(length, 0x33)).size(), vmsg::maxFramedSize(framing, length)) << length;
            for (int zeros : {1, 30, 100})
                EXPECT_LE(framed(framing, randomBlock(rng, length, zeros)).size(),
                          vmsg::maxFramedSize(framing, length));
        }
    }
    EXPECT_EQ(vmsg::maxFramedSize(Framing::Cobs, 254), 256u);
    EXPECT_EQ(vmsg::maxFramedSize(Framing::Cobs, 255), 258u);
}

TEST(FramingFrame, WritesNothingWhenTheFrameDoesNotFit)
{
    std::mt19937 rng(9);
    const Bytes blocks[] = {hex("21 00 05 04 00 01 07"), Bytes(300, 0x44), randomBlock(rng, 600, 20)};
    for (Framing framing : {Framing::LengthPrefix, Framing::Cobs}) {
        for (const Bytes& block : blocks) {
            const std::size_t size = framed(framing, block).size();
            Bytes out(size + 8, 0xAA);
            for (std::size_t capacity = 0; capacity < size; ++capacity)
                ASSERT_EQ(vmsg::frame(framing, block.data(), block.size(), out.data(), capacity), 0u) << capacity;
            EXPECT_EQ(out, Bytes(size + 8, 0xAA));
            EXPECT_EQ(vmsg::frame(framing, block.data(), block.size(), out.data(), size), size);
            EXPECT_EQ(Bytes(out.begin() + static_cast<long>(size), out.end()), Bytes(8, 0xAA));
        }
    }
}

TEST(FramingFrame, RefusesBlocksNeitherFramingCarries)
{
    const Bytes big(vmsg::kMaxFramedBlock + 1, 0x11);
    Bytes out(70000, 0xAA);
    for (Framing framing : {Framing::LengthPrefix, Framing::Cobs}) {
        EXPECT_EQ(vmsg::frame(framing, big.data(), 0, out.data(), out.size()), 0u);
        EXPECT_EQ(vmsg::frame(framing, big.data(), 1, out.data(), out.size()), 0u);
        EXPECT_EQ(vmsg::frame(framing, big.data(), big.size(), out.data(), out.size()), 0u);
        EXPECT_EQ(vmsg::frame(framing, nullptr, 2, out.data(), out.size()), 0u);
        EXPECT_EQ(vmsg::frame(framing, big.data(), 2, nullptr, out.size()), 0u);
    }
    EXPECT_EQ(out, Bytes(70000, 0xAA));
}

} // namespace
