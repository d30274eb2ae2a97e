// The decode report, in its JSON form and as text.
#include "Library.h"
#include <format/Decode.h>
#include "TestBytes.h"
#include <format/Text.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace vmsgtool {
namespace {

using test::block;
using Json = nlohmann::ordered_json;

// The report's JSON form as a value, and its text.
Json decodeBlock(const Block& input, std::size_t number, const Dictionary* dict)
{
    return Json::parse(reportBlock(input, number, dict).json);
}

std::string textOf(const Block& input, std::size_t number, const Dictionary* dict)
{
    return reportBlock(input, number, dict).text;
}

std::unique_ptr<Dictionary> demoDictionary()
{
    return std::make_unique<Dictionary>(Dictionary::load(VMSG_TOOL_EXAMPLES_DIR "/dictionary.json"));
}

TEST(Decode, DemoTelemetryBlockGivesTheDemosValuesAndView)
{
    const auto dict = demoDictionary();
    const Json report = decodeBlock(block(test::demoTelemetryHex()), 1, dict.get());
    EXPECT_TRUE(report["ok"].get<bool>());
    EXPECT_EQ(report["message"]["name"], "telemetry");
    EXPECT_EQ(report["message"]["tag_count"], 9);
    EXPECT_EQ(report["message"]["payload_length"], 65);
    const Json& tags = report["tags"];
    ASSERT_EQ(tags.size(), 9u);
    EXPECT_EQ(tags[0]["value"], 42);
    EXPECT_EQ(tags[1]["value"], "pump-7");
    EXPECT_EQ(tags[1]["offset"], 10);
    EXPECT_EQ(tags[1]["declared_length"], 7);
    EXPECT_EQ(tags[4]["name"], "reading");
    EXPECT_EQ(tags[4]["value"].get<double>(), 21.5);
    EXPECT_EQ(tags[7]["bits"], "0x447d5000");
    EXPECT_EQ(tags[8]["hex"], "0x0102");
    EXPECT_TRUE(report["endpoint"]["accepted"].get<bool>());
    EXPECT_TRUE(report["required"]["all_present"].get<bool>());
    const Json& view = report["structured"];
    ASSERT_EQ(view["tags"].size(), 3u);
    ASSERT_EQ(view["objects"].size(), 2u);
    EXPECT_EQ(view["objects"][1]["object"], "Sensor");
    EXPECT_EQ(view["objects"][1]["meta"]["value"], 1);
    ASSERT_EQ(view["objects"][1]["tags"].size(), 2u);
    EXPECT_EQ(view["objects"][1]["tags"][1]["name"], "status");
}

TEST(Decode, FloatsAreExactInValueTextAndBits)
{
    const Json tag = decodeBlock(block("01 00 03 06 00 04 3d cc cc cd"), 1, nullptr)["tags"][0];
    EXPECT_EQ(tag["value"].get<double>(), static_cast<double>(0.1f));
    EXPECT_EQ(tag["text"], "0.1");
    EXPECT_EQ(tag["bits"], "0x3dcccccd");
    const Json nan = decodeBlock(block("01 00 03 06 00 04 7f c0 00 01"), 1, nullptr)["tags"][0];
    EXPECT_TRUE(nan["value"].is_null());
    EXPECT_EQ(nan["bits"], "0x7fc00001");
}

TEST(Decode, EarlyStopFailsTheBlockAndIsShownInBothForms)
{
    const Json report = decodeBlock(block("21 00 05 04 00 01 07 06 09 00 02 aa bb"), 3, nullptr);
    EXPECT_FALSE(report["ok"].get<bool>());
    EXPECT_EQ(report["stop"]["offset"], 7);
    EXPECT_EQ(report["stop"]["reason"], "unknown-type-code");
    EXPECT_EQ(report["stop"]["type_code"], 9);
    EXPECT_EQ(report["stop"]["unread"], 6);
    EXPECT_EQ(report["stop"]["unread_bytes"], "06090002aabb");
    EXPECT_NE(textOf(block("21 00 05 04 00 01 07 06 09 00 02 aa bb"), 3, nullptr).find("  parse stopped at byte 7: tag 6 has unknown type code 9 (expected 0 to 6); "
                                      "6 bytes left unread\n"
                                      "    unread: 06 09 00 02 aa bb\n"),
              std::string::npos);
}

TEST(Decode, BlockShorterThanAHeaderIsAnError)
{
    const Json report = decodeBlock(block("21"), 1, nullptr);
    EXPECT_FALSE(report["ok"].get<bool>());
    EXPECT_EQ(textOf(block("21"), 1, nullptr), "block 1 (test:1), 1 byte\n"
                                                  "  error: a block needs at least 2 bytes (message id and flags), found 1\n");
}

TEST(Decode, EndpointAndRequiredTagFailuresFailTheBlock)
{
    const auto dict = demoDictionary();
    const Json unknown = decodeBlock(block("7f 00 05 04 00 01 07"), 1, dict.get());
    EXPECT_FALSE(unknown["ok"].get<bool>());
    EXPECT_FALSE(unknown["endpoint"]["accepted"].get<bool>());
    EXPECT_EQ(unknown["endpoint"]["errors"][0]["name"], "ErrUnknownMessage");
    EXPECT_EQ(unknown["endpoint"]["errors"][0]["text"], "message id 0x7f is not in the dictionary");
    EXPECT_TRUE(unknown["required"].is_null());

    const Json missing = decodeBlock(block("11 00 30 04 00 01 03"), 1, dict.get());
    EXPECT_FALSE(missing["ok"].get<bool>());
    EXPECT_TRUE(missing["endpoint"]["accepted"].get<bool>());
    ASSERT_EQ(missing["required"]["missing"].size(), 1u);
    EXPECT_EQ(missing["required"]["missing"][0]["text"], "required tag 1 (device) is missing");
    EXPECT_NE(textOf(block("11 00 30 04 00 01 03"), 1, dict.get()).find("  required tags: missing\n"
                                       "    ErrMissingTag (detail 01): required tag 1 (device) is missing\n"),
              std::string::npos);
}

TEST(Decode, TypeDifferingFromTheDictionaryIsNoted)
{
    const auto dict = demoDictionary();
    const Json report = decodeBlock(block("10 00 01 04 00 01 2a 02 01 00 01 00"), 1, dict.get());
    EXPECT_EQ(report["tags"][0]["notes"][0], "the dictionary declares device as u32");
}

TEST(Decode, TextShowsEscapesNotesAndWrappedBytes)
{
    std::string hex = "21 80 01 01 00 05 61 0a 22 00 ff 02 05 00 14";
    for (int i = 0; i < 20; ++i)
        hex += " " + hexNumber(static_cast<unsigned long>(i), 2).substr(2);
    const std::string text = textOf(block(hex), 1, nullptr);
    EXPECT_EQ(text, "block 1 (test:1), 35 bytes\n"
                    "message 0x21, flags 0x80 (more-segments), 2 tags, 32 payload bytes\n"
                    "  offset  tag  type   length  value\n"
                    "       2    1  str         5  \"a\\n\\\"\"\n"
                    "                              note: the text ends at its NUL after 3 characters, ignoring 1 "
                    "more declared byte (the library's tag has length 4)\n"
                    "      11    2  bytes      20  00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f\n"
                    "                              10 11 12 13\n");
}

TEST(Decode, JsonOutputSurvivesTextThatIsNotUtf8)
{
    const Json report = decodeBlock(block("21 00 01 01 00 03 ff fe 00"), 1, nullptr);
    EXPECT_NE(report.dump(2).find("\"value\": \"\xEF\xBF\xBD\xEF\xBF\xBD\""), std::string::npos);
}

} // namespace
} // namespace vmsgtool
