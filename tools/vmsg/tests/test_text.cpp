// Numbers, quoting, exact floats and the hex block reader.
#include "Blocks.h"
#include "Errors.h"
#include "Library.h"
#include <format/Text.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace vmsgtool {
namespace {

TEST(Text, ParseUnsignedAcceptsDecimalAndHexWithinTheLimit)
{
    const struct {
        const char* text;
        unsigned long max;
        std::optional<unsigned long> value;
    } rows[] = {
        {"0", 255, 0ul},          {"255", 255, 255ul},    {"256", 255, std::nullopt}, {"0xff", 255, 255ul},
        {"0X1F", 255, 31ul},      {"0x100", 255, std::nullopt}, {"0x", 255, std::nullopt}, {"", 255, std::nullopt},
        {"+1", 255, std::nullopt}, {"-1", 255, std::nullopt}, {" 1", 255, std::nullopt}, {"1e3", 255, std::nullopt},
        {"0xg", 255, std::nullopt}, {"007", 255, 7ul},
        {"18446744073709551615", std::numeric_limits<unsigned long>::max(), std::numeric_limits<unsigned long>::max()},
        {"18446744073709551616", std::numeric_limits<unsigned long>::max(), std::nullopt},
        {"5", 3, std::nullopt},
    };
    for (const auto& row : rows)
        EXPECT_EQ(parseUnsigned(row.text, row.max), row.value) << row.text;
}

TEST(Text, QuoteTextEscapesEverythingThatIsNotPrintableAscii)
{
    EXPECT_EQ(quoteText("pump-7"), "\"pump-7\"");
    EXPECT_EQ(quoteText(""), "\"\"");
    EXPECT_EQ(quoteText("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(quoteText("\n\r\t"), "\"\\n\\r\\t\"");
    EXPECT_EQ(quoteText("\x01\x7f\xff"), "\"\\x01\\x7f\\xff\"");
}

TEST(Text, FloatTextIsShortestAndReadsBackExactly)
{
    EXPECT_EQ(floatText(21.5f), "21.5");
    EXPECT_EQ(floatText(1013.25f), "1013.25");
    EXPECT_EQ(floatText(0.1f), "0.1");
    EXPECT_EQ(floatText(1.0f / 3.0f), "0.33333334");
    EXPECT_EQ(floatText(-0.0f), "-0");
    EXPECT_EQ(floatText(std::numeric_limits<float>::infinity()), "inf");
    EXPECT_EQ(floatText(-std::numeric_limits<float>::infinity()), "-inf");
    EXPECT_EQ(floatText(std::numeric_limits<float>::quiet_NaN()), "nan");
    // Every finite bit pattern, sampled across the whole range, subnormals
    // included, must come back bit for bit.
    for (unsigned long bits = 0; bits < 0x7f800000ul; bits += 0x7f801ul) {
        for (unsigned sign : {0u, 0x80000000u}) {
            const unsigned int pattern = static_cast<unsigned int>(bits) | sign;
            float value;
            std::memcpy(&value, &pattern, sizeof value);
            const float back = std::strtof(floatText(value).c_str(), nullptr);
            ASSERT_EQ(floatBits(back), pattern) << floatText(value);
        }
    }
}

TEST(Text, HexHelpers)
{
    const unsigned char data[] = {0x00, 0x0a, 0xff};
    EXPECT_EQ(hexBytes(data, 3), "00 0a ff");
    EXPECT_EQ(hexBytes(data, 3, ""), "000aff");
    EXPECT_EQ(hexBytes(data, 0), "");
    EXPECT_EQ(hexNumber(42, 8), "0x0000002a");
    EXPECT_EQ(hexNumber(0x1234, 2), "0x1234");
}

TEST(HexBlocks, OneBlockPerLineInAnyCommonSpelling)
{
    const std::vector<Block> blocks = parseHexBlocks("21 00 05 04\n"
                                                     "\n"
                                                     "# a capture\n"
                                                     "0x21,0x00, 0X05\r\n"
                                                     "210005  # the same, packed\n"
                                                     "0x2100\n",
                                                     "cap.hex");
    ASSERT_EQ(blocks.size(), 4u);
    EXPECT_EQ(blocks[0].bytes, (std::vector<unsigned char>{0x21, 0x00, 0x05, 0x04}));
    EXPECT_EQ(blocks[0].where, "cap.hex:1");
    EXPECT_EQ(blocks[1].bytes, (std::vector<unsigned char>{0x21, 0x00, 0x05}));
    EXPECT_EQ(blocks[1].where, "cap.hex:4");
    EXPECT_EQ(blocks[2].bytes, blocks[1].bytes);
    EXPECT_EQ(blocks[3].bytes, (std::vector<unsigned char>{0x21, 0x00}));
    EXPECT_EQ(blocks[3].where, "cap.hex:6");
}

TEST(HexBlocks, ErrorsNameFileLineColumnAndWhatWasExpected)
{
    const struct {
        const char* text;
        const char* error;
    } rows[] = {
        {"21 00\n21 0g", "f:2:5: expected a hex digit, found 'g'"},
        {"21 0", "f:1:4: odd number of hex digits in '0' (expected two digits per byte)"},
        {"21 0x123", "f:1:4: odd number of hex digits in '0x123' (expected two digits per byte)"},
        {"0x 21", "f:1:3: expected hex digits after 0x"},
        {"21\x01", "f:1:3: expected a hex digit, found byte 0x01"},
    };
    for (const auto& row : rows) {
        try {
            parseHexBlocks(row.text, "f");
            ADD_FAILURE() << "accepted " << row.text;
        } catch (const UsageError& error) {
            EXPECT_STREQ(error.what(), row.error);
        }
    }
}

TEST(HexBlocks, BlockSizeIsLimitedToWhatTheParserTakes)
{
    const std::string largest(2 * kMaxBlockSize, 'a');
    EXPECT_EQ(parseHexBlocks(largest, "f").front().bytes.size(), kMaxBlockSize);
    EXPECT_THROW(parseHexBlocks(largest + "aa", "f"), UsageError);
}

TEST(HexBlocks, HexLineReadsBack)
{
    std::vector<unsigned char> all;
    for (int i = 0; i < 256; ++i)
        all.push_back(static_cast<unsigned char>(i));
    EXPECT_EQ(parseHexBlocks(hexLine(all), "f").front().bytes, all);
    EXPECT_EQ(parseHexBytes(""), std::vector<unsigned char>{});
    EXPECT_THROW(parseHexBytes("00 # no comments in a value"), UsageError);
}

} // namespace
} // namespace vmsgtool
