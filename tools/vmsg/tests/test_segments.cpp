// Segmenting and joining blocks with the library's segmentation.
#include "Errors.h"
#include "Library.h"
#include <format/Segments.h>
#include "TagText.h"
#include "TestBytes.h"
#include <format/Walk.h>

#include <gtest/gtest.h>

#include <functional>

namespace vmsgtool {
namespace {

using test::block;
using test::bytes;

std::vector<Block> asBlocks(const std::vector<std::vector<unsigned char>>& pieces)
{
    std::vector<Block> blocks;
    for (const auto& piece : pieces)
        blocks.push_back(Block{piece, "seg:" + std::to_string(blocks.size() + 1)});
    return blocks;
}

std::string errorOf(const std::function<void()>& run)
{
    try {
        run();
    } catch (const BlockError& error) {
        return error.what();
    }
    return "no error";
}

TEST(Segments, EveryFrameSizeRoundTripsThroughJoin)
{
    const Block original{encodeMessage(0x11, 0x05, {"u32:1=42", "bytes:49=" + std::string(64, 'a'), "str:2=hello",
                                                    "null:3", "u8:48=3"}),
                         "m"};
    for (int frame = 1; frame <= 100; ++frame) {
        SCOPED_TRACE(frame);
        const auto segments = segmentBlock(original, frame);
        for (std::size_t i = 0; i < segments.size(); ++i) {
            const bool last = i + 1 == segments.size();
            EXPECT_EQ(segments[i][0], 0x11);
            EXPECT_EQ(segments[i][1], last ? 0x05 : 0x85);
            // Below the frame, unless a single tag needs more on its own.
            if (static_cast<int>(segments[i].size()) >= frame) {
                EXPECT_LE(walkBlock(segments[i].data(), segments[i].size()).tags.size(), 1u);
            }
        }
        const auto joined = joinBlocks(asBlocks(segments));
        ASSERT_EQ(joined.size(), 1u);
        EXPECT_EQ(joined[0], original.bytes);
    }
}

TEST(Segments, TinyFrameLeavesTheFirstSegmentEmpty)
{
    const auto segments = segmentBlock(block("21 00 05 04 00 01 07 06 04 00 01 08"), 6);
    EXPECT_EQ(segments, (std::vector<std::vector<unsigned char>>{
                            bytes("21 80"), bytes("21 80 05 04 00 01 07"), bytes("21 00 06 04 00 01 08")}));
}

TEST(Segments, LargeBlocksSplitIntoWritableSegments)
{
    // 10 tags of 100 bytes: a 1042-byte block, more than getMsg writes.
    std::vector<std::string> tags(10, "bytes:49=" + std::string(200, 'c'));
    std::vector<unsigned char> large = bytes("11 00");
    for (const std::string& tag : tags) {
        const auto one = encodeMessage(0x11, 0, {tag});
        large.insert(large.end(), one.begin() + 2, one.end());
    }
    const auto segments = segmentBlock(Block{large, "big"}, 256);
    EXPECT_EQ(segments.size(), 5u);
    EXPECT_EQ(errorOf([&] { joinBlocks(asBlocks(segments)); }),
              "seg:1: joined message 0x11 has 1040 payload bytes; getMsg writes at most 1022");
    // A frame above 1025 bytes still gives segments that can be written.
    const auto wide = segmentBlock(Block{large, "big"}, 2000);
    ASSERT_EQ(wide.size(), 2u);
    EXPECT_EQ(wide[0].size(), 2u + 9 * 104); // nine 100-byte tags, the tenth in segment 2
}

TEST(Segments, JoinSplitsTheStreamAtLastSegments)
{
    const auto joined = joinBlocks({block("21 80 05 04 00 01 07"), block("21 00 06 04 00 01 08"),
                                    block("22 00"), block("23 80"), block("23 00 07 00 00 00")});
    EXPECT_EQ(joined, (std::vector<std::vector<unsigned char>>{bytes("21 00 05 04 00 01 07 06 04 00 01 08"),
                                                               bytes("22 00"), bytes("23 00 07 00 00 00")}));
}

TEST(Segments, BrokenInputIsRefusedWithItsPlace)
{
    EXPECT_EQ(errorOf([] { joinBlocks({block("21 80"), Block{bytes("22 00"), "test:2"}}); }),
              "test:2: segment of message 0x22 while message 0x21 from test:1 still expects its last segment");
    EXPECT_EQ(errorOf([] { joinBlocks({block("21 80 05 04 00 01 07")}); }),
              "test:1: input ends before the last segment of message 0x21 (a segment with flag 0x80 clear)");
    EXPECT_EQ(errorOf([] { joinBlocks({block("21")}); }),
              "test:1: a block needs at least 2 bytes (message id and flags), found 1");
    EXPECT_EQ(errorOf([] { segmentBlock(block("21 00 05 04 00 01 07 aa"), 100); }),
              "test:1: parse stops at byte 7: short tag header (a tag header needs 4 bytes); 1 byte would be lost");
}

} // namespace
} // namespace vmsgtool
