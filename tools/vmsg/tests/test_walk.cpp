// The tag walk: what it adds to the library's reader (the reader's own stop
// rules are tested with the library): tags that cover the block, notes on
// payloads read otherwise than declared, and the stop described in words.
#include "TestBytes.h"
#include "Library.h"
#include <format/Walk.h>

#include <VMsg.h>

#include <gtest/gtest.h>

#include <memory>

namespace vmsgtool {
namespace {

using test::bytes;

BlockWalk walk(const std::vector<unsigned char>& data)
{
    return walkBlock(data.data(), data.size());
}

unsigned libraryTagCount(const std::vector<unsigned char>& data)
{
    std::unique_ptr<VMsg> msg(VMsg::parseMsg(data.data(), static_cast<unsigned short>(data.size())));
    return msg->mTagCount;
}

TEST(Walk, EveryPrefixOfABlockIsCoveredByTagsAndUnreadBytes)
{
    const std::vector<unsigned char> whole = bytes(test::demoTelemetryHex());
    for (std::size_t size = 2; size <= whole.size(); ++size) {
        SCOPED_TRACE(size);
        const std::vector<unsigned char> prefix(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
        const BlockWalk result = walk(prefix);
        EXPECT_EQ(result.tags.size(), libraryTagCount(prefix));
        std::size_t covered = vmsg::kMessageHeaderSize;
        for (const WalkedTag& tag : result.tags) {
            EXPECT_EQ(tag.offset, covered);
            covered += vmsg::kTagHeaderSize + tag.declared;
        }
        if (result.stop) {
            EXPECT_EQ(result.stop->offset, covered);
            covered += result.stop->unread;
        }
        EXPECT_EQ(covered, size);
    }
}

TEST(Walk, OversizedBytesTagIsSteppedOverByItsDeclaredLength)
{
    // A bytes tag declaring 1100 bytes (the library keeps 1018), then a u8.
    std::vector<unsigned char> data = bytes("21 00 04 05 04 4c");
    data.resize(data.size() + 1100, 0xee);
    const std::vector<unsigned char> tail = bytes("05 04 00 01 07");
    data.insert(data.end(), tail.begin(), tail.end());
    const BlockWalk result = walk(data);
    ASSERT_EQ(result.tags.size(), 2u);
    EXPECT_FALSE(result.stop);
    EXPECT_EQ(result.tags[0].declared, 1100u);
    EXPECT_EQ(result.tags[0].tag->mLength, 1018);
    EXPECT_EQ(result.tags[1].offset, 2u + 4u + 1100u);
    EXPECT_EQ(libraryTagCount(data), 2u);
    EXPECT_EQ(tagNotes(result.tags[0]),
              std::vector<std::string>{"declares 1100 bytes; the library keeps the first 1018, dropping 82"});
}

TEST(Walk, NotesExplainPayloadsReadOtherwiseThanDeclared)
{
    const struct {
        const char* tag;
        std::vector<std::string> notes;
    } rows[] = {
        {"01 01 00 03 61 62 63", {"no NUL within the declared 3 bytes; the text runs to the end of the payload"}},
        {"01 01 00 05 61 00 62 63 64", {"the text ends at its NUL after 1 character, ignoring 3 more declared bytes"}},
        {"01 01 00 00", {"empty payload without a NUL; read as the empty text"}},
        {"01 01 00 03 61 62 00", {}},
        {"01 00 00 02 aa bb", {"declares 2 payload bytes, which a null tag ignores"}},
        {"01 02 00 06 00 00 00 01 aa bb", {"declares 6 bytes; the value is read from the first 4, ignoring 2"}},
        {"01 04 00 01 07", {}},
        {"01 05 00 02 aa bb", {}},
    };
    for (const auto& row : rows) {
        const std::vector<unsigned char> data = bytes(std::string("21 00 ") + row.tag);
        const BlockWalk result = walk(data);
        ASSERT_EQ(result.tags.size(), 1u) << row.tag;
        EXPECT_EQ(tagNotes(result.tags[0]), row.notes) << row.tag;
    }
    std::vector<unsigned char> longText = bytes("21 00 01 01 04 00");
    longText.resize(longText.size() + 1024, 'a');
    const BlockWalk result = walk(longText);
    EXPECT_EQ(result.tags[0].tag->mLength, 1018);
    EXPECT_EQ(tagNotes(result.tags[0]).back(), "text of 1024 characters cut to 1017 by the library");
}

TEST(Walk, StopDescriptionsNameTheTagAndTheExpectation)
{
    auto describe = [](const char* hex) { return describeStop(*walk(bytes(hex)).stop); };
    EXPECT_EQ(describe("21 00 aa"), "short tag header (a tag header needs 4 bytes)");
    EXPECT_EQ(describe("21 00 06 05 00 03 aa"), "tag 6 declares 3 payload bytes but only 1 follow its header");
    EXPECT_EQ(describe("21 00 06 07 00 00"), "tag 6 has unknown type code 7 (expected 0 to 6)");
    EXPECT_EQ(describe("21 00 06 03 00 01 aa"), "tag 6 of type u16 declares 1 byte, its value needs 2");
    EXPECT_STREQ(stopReasonName(vmsg::Stop::LengthBeyondBlock), "length-beyond-block");
    EXPECT_STREQ(stopReasonName(vmsg::Stop::ShortTagHeader), "short-header");
}

} // namespace
} // namespace vmsgtool
