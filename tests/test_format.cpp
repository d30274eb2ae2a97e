// Messages, blocks, tags and error records as text (VFormat.h).
#include <VFormat.h>
#include <vmsg.hpp>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

const char* const kDictionary = R"({
  "messages": [
    { "id": 16, "name": "telemetry", "required": ["device", "name"] },
    { "id": 17, "name": "command", "required": ["device"], "optional": ["action"] }
  ],
  "tags": [
    { "id": 1, "name": "device", "type": "u32" },
    { "id": 2, "name": "name", "type": "str" },
    { "id": 32, "name": "sensor", "type": "u8" },
    { "id": 33, "name": "reading", "type": "f32" },
    { "id": 48, "name": "action", "type": "u8" }
  ],
  "meta": [ { "id": 32, "name": "sensor", "type": "u8", "object": "Sensor" } ]
})";

const vmsg::Dictionary& dictionary()
{
    static const vmsg::Dictionary dict = vmsg::Dictionary::parse(kDictionary, "format-test");
    return dict;
}

// A telemetry block: device 7, name "pump", one Sensor 0 with reading 21.5.
const std::vector<unsigned char> kTelemetry = {
    0x10, 0x00, 0x01, 0x02, 0x00, 0x04, 0x00, 0x00, 0x00, 0x07, 0x02, 0x01, 0x00, 0x05, 0x70, 0x75,
    0x6d, 0x70, 0x00, 0x20, 0x04, 0x00, 0x01, 0x00, 0x21, 0x06, 0x00, 0x04, 0x41, 0xac, 0x00, 0x00};

std::string describe(const std::vector<unsigned char>& block, const vmsg::Dictionary* dict = nullptr)
{
    return vmsg::describe(block.data(), block.size(), dict);
}

TEST(Format, DescribeWithoutDictionaryGivesTheTagTable)
{
    EXPECT_EQ(describe(kTelemetry), "message 0x10, flags 0x00, 4 tags, 30 payload bytes\n"
                                    "  offset  tag  type  length  value\n"
                                    "       2    1  u32        4  7 (0x00000007)\n"
                                    "      10    2  str        5  \"pump\"\n"
                                    "      19   32  u8         1  0 (0x00)\n"
                                    "      24   33  f32        4  21.5 (bits 0x41ac0000)\n");
}

TEST(Format, DescribeWithDictionaryNamesTagsChecksAndShowsObjects)
{
    EXPECT_EQ(describe(kTelemetry, &dictionary()), "message 0x10 telemetry, flags 0x00, 4 tags, 30 payload bytes\n"
                                                   "  offset  tag  name     type  length  value\n"
                                                   "       2    1  device   u32        4  7 (0x00000007)\n"
                                                   "      10    2  name     str        5  \"pump\"\n"
                                                   "      19   32  sensor   u8         1  0 (0x00)\n"
                                                   "      24   33  reading  f32        4  21.5 (bits 0x41ac0000)\n"
                                                   "  endpoint: accepted\n"
                                                   "  required tags: all present\n"
                                                   "  structured view: 2 plain tags, 1 object\n"
                                                   "    tag 1 device u32 7 (0x00000007)\n"
                                                   "    tag 2 name str \"pump\"\n"
                                                   "    object Sensor, opened by tag 32 sensor u8 0 (0x00)\n"
                                                   "      tag 33 reading f32 21.5 (bits 0x41ac0000)\n");
}

TEST(Format, DescribeTellsWhereAndWhyABlockStoppedAndWhatIsMissingOrUnexpected)
{
    // command: action 5, then reading (not a tag of the closed message),
    // then 3 bytes too short for a tag header; device is missing.
    const std::vector<unsigned char> block = {0x11, 0x00, 0x30, 0x04, 0x00, 0x01, 0x05, 0x21, 0x06,
                                              0x00, 0x04, 0x41, 0xac, 0x00, 0x00, 0x09, 0x00, 0x00};
    const std::string text = describe(block, &dictionary());
    EXPECT_NE(text.find("  parse stopped at byte 15: short tag header (a tag header needs 4 bytes); "
                        "3 bytes left unread\n    unread: 09 00 00\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("  required tags: missing\n"
                        "    ErrMissingTag (detail 01): required tag 1 (device) is missing\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("  unexpected tags: 1 (the message lists its tags)\n"
                        "    tag 33 (reading) is not a tag of this message\n"),
              std::string::npos)
        << text;
}

TEST(Format, BlocksThatCannotBeMessagesGiveOneLine)
{
    const unsigned char one = 0x21;
    EXPECT_EQ(vmsg::describe(&one, 1), "  error: a block needs at least 2 bytes (message id and flags), found 1\n");
    EXPECT_EQ(vmsg::describe(nullptr, 40), "  error: a block needs at least 2 bytes (message id and flags), found 0\n");
    // The parser's length is 16-bit: a longer block is refused rather than
    // read cut at the wrapped length.
    std::vector<unsigned char> huge(65536 + 6, 0);
    huge[2] = 0x01; // a null tag 1 at the start: a cut read would accept it
    EXPECT_EQ(describe(huge), "  error: a block holds at most 65535 bytes, found 65542\n");
}

TEST(Format, DescribeJsonIsTheSameReport)
{
    const std::string json = vmsg::describeJson(kTelemetry.data(), kTelemetry.size(), &dictionary());
    EXPECT_EQ(json.rfind("{\n  \"size\": 32,\n  \"message\": {\n    \"id\": 16,\n    \"name\": \"telemetry\",", 0), 0u)
        << json;
    EXPECT_EQ(json.find("\"source\""), std::string::npos);
    EXPECT_NE(json.find("\"bits\": \"0x41ac0000\""), std::string::npos);
    EXPECT_NE(json.find("\"object\": \"Sensor\""), std::string::npos);
    EXPECT_NE(json.find("\"ok\": true\n}\n"), std::string::npos);
    // Text that is not UTF-8 still gives a valid document.
    const std::vector<unsigned char> bad = {0x01, 0x00, 0x02, 0x01, 0x00, 0x02, 0xff, 0x00};
    const std::string replaced = vmsg::describeJson(bad.data(), bad.size());
    EXPECT_NE(replaced.find("\"value\": \"\xef\xbf\xbd\""), std::string::npos) << replaced;
}

TEST(Format, FormatOfAMessageIsTheReportOfItsBlockAndLeavesTheCursor)
{
    std::unique_ptr<VMsg> msg(VMsg::parseMsg(kTelemetry.data(), static_cast<unsigned short>(kTelemetry.size())));
    ASSERT_TRUE(msg);
    VTag* second = (msg->gotoFirst(), msg->getTag(), msg->getTag());
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(vmsg::format(*msg, &dictionary()), describe(kTelemetry, &dictionary()));
    // The cursor is where it was: the next tag is the third.
    const VTag* third = msg->getTag();
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(third->mId, 32);
}

TEST(Format, FormatOfAMessageTooLargeForOneBlockSumsItUp)
{
    VMsg msg(0x42);
    for (unsigned char id = 1; id <= 22; ++id) {
        std::vector<unsigned char> payload(60, id);
        msg.addTag(new VTagBytes(id, payload.data(), 60));
    }
    const std::string text = vmsg::format(msg);
    EXPECT_EQ(text.rfind("message 0x42, flags 0x00, 22 tags, 1408 payload bytes: too large for one block\n"
                         "  tag 1 bytes 01 01 01 01 01 01 01 01 01 01 01 01 01 01 01 01 ...\n",
                         0),
              0u)
        << text;
    EXPECT_NE(text.find("  tag 20 bytes 14 14"), std::string::npos);
    EXPECT_EQ(text.find("  tag 21 "), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 22), "  ... and 2 more tags\n");
}

TEST(Format, TagsAndErrorsInWords)
{
    const VTagFloat reading(33, 21.5f);
    EXPECT_EQ(vmsg::format(reading), "tag 33 f32 21.5 (bits 0x41ac0000)\n");
    EXPECT_EQ(vmsg::format(reading, &dictionary(), "  "), "  tag 33 reading f32 21.5 (bits 0x41ac0000)\n");
    // Long raw bytes continue under the value, each line indented.
    std::vector<unsigned char> raw(20, 0xab);
    const VTagBytes bytes(49, raw.data(), static_cast<unsigned short>(raw.size()));
    EXPECT_EQ(vmsg::format(bytes, nullptr, "> "), "> tag 49 bytes ab ab ab ab ab ab ab ab ab ab ab ab ab ab ab ab\n"
                                                  ">              ab ab ab ab\n");

    const unsigned char device = 1, unknown = 0x7f;
    const VError missing(ErrMissingTag, &device, 1);
    EXPECT_EQ(vmsg::errorText(missing), "required tag 1 is missing");
    EXPECT_EQ(vmsg::errorText(missing, &dictionary()), "required tag 1 (device) is missing");
    EXPECT_EQ(vmsg::errorText(VError(ErrUnknownMessage, &unknown, 1)), "message id 0x7f is not in the dictionary");
    EXPECT_EQ(vmsg::errorText(VError(ErrQueueFull, nullptr, 0)), "the endpoint's queue is full");
}

} // namespace
