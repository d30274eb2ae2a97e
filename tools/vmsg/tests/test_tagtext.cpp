// Tag arguments of `vmsg encode` and the blocks built from them.
#include "Errors.h"
#include "TagText.h"
#include "TestBytes.h"

#include <gtest/gtest.h>

namespace vmsgtool {
namespace {

using test::bytes;

std::vector<unsigned char> wire(const VTag& tag)
{
    std::vector<unsigned char> out(vmsg::kMaxPayload + vmsg::kTagHeaderSize);
    out.resize(tag.getTag(out.data(), static_cast<unsigned short>(out.size())));
    return out;
}

std::string errorOf(const std::string& argument)
{
    try {
        parseTagArgument(argument);
    } catch (const UsageError& error) {
        return error.what();
    }
    return "accepted";
}

TEST(TagArguments, EveryTypeIsWrittenAsTheLibraryWritesIt)
{
    const struct {
        const char* argument;
        const char* wire;
    } rows[] = {
        {"u8:5=7", "05 04 00 01 07"},
        {"u8:0x10=0xff", "10 04 00 01 ff"},
        {"u16:2=258", "02 03 00 02 01 02"},
        {"u32:1=0x01020304", "01 02 00 04 01 02 03 04"},
        {"u32:1=4294967295", "01 02 00 04 ff ff ff ff"},
        {"f32:3=1.5", "03 06 00 04 3f c0 00 00"},
        {"f32:3=-0", "03 06 00 04 80 00 00 00"},
        {"f32:3=0.1", "03 06 00 04 3d cc cc cd"},
        {"f32:3=1e-45", "03 06 00 04 00 00 00 01"},
        {"f32:3=-inf", "03 06 00 04 ff 80 00 00"},
        {"str:9=hello", "09 01 00 06 68 65 6c 6c 6f 00"},
        {"str:9=a=b:c", "09 01 00 06 61 3d 62 3a 63 00"},
        {"str:9=", "09 01 00 01 00"},
        {"bytes:4=0a0bff", "04 05 00 03 0a 0b ff"},
        {"bytes:4=0x0a 0b,ff", "04 05 00 03 0a 0b ff"},
        {"bytes:4=", "04 05 00 00"},
        {"null:7", "07 00 00 00"},
        {"null:255", "ff 00 00 00"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(wire(*parseTagArgument(row.argument)), bytes(row.wire)) << row.argument;
}

TEST(TagArguments, BadArgumentsAreNamedWithWhatWasExpected)
{
    const struct {
        const char* argument;
        const char* error;
    } rows[] = {
        {"u8", "tag argument 'u8': expected TYPE:ID=VALUE or null:ID"},
        {"u64:1=2", "tag argument 'u64:1=2': unknown type 'u64'; expected one of null, str, u32, u16, u8, bytes, f32"},
        {"u8:256=1", "tag argument 'u8:256=1': expected a tag id from 0 to 255 (decimal or 0x hex), found '256'"},
        {"u8:=1", "tag argument 'u8:=1': expected a tag id from 0 to 255 (decimal or 0x hex), found ''"},
        {"u8:5", "tag argument 'u8:5': expected '=' and a value after the tag id"},
        {"u8:5=256", "tag argument 'u8:5=256': expected a u8 value from 0 to 255 (decimal or 0x hex), found '256'"},
        {"u16:5=65536", "tag argument 'u16:5=65536': expected a u16 value from 0 to 65535 (decimal or 0x hex), "
                        "found '65536'"},
        {"u32:5=-1", "tag argument 'u32:5=-1': expected a u32 value from 0 to 4294967295 (decimal or 0x hex), "
                     "found '-1'"},
        {"null:5=0", "tag argument 'null:5=0': a null tag takes no value; write null:ID"},
        {"f32:1=1.5x", "tag argument 'f32:1=1.5x': expected a float such as 1.5, -2e-3, inf or nan, found '1.5x'"},
        {"f32:1= 1", "tag argument 'f32:1= 1': expected a float such as 1.5, -2e-3, inf or nan, found ' 1'"},
        {"f32:1=", "tag argument 'f32:1=': expected a float such as 1.5, -2e-3, inf or nan, found ''"},
        {"f32:1=1e39", "tag argument 'f32:1=1e39': '1e39' is beyond the range of f32"},
        {"bytes:1=abc", "tag argument 'bytes:1=abc': bytes value, column 1: odd number of hex digits in 'abc' "
                        "(expected two digits per byte)"},
        {"bytes:1=zz", "tag argument 'bytes:1=zz': bytes value, column 1: expected a hex digit, found 'z'"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(errorOf(row.argument), row.error);
}

TEST(TagArguments, LongValuesAreRefusedRatherThanCut)
{
    EXPECT_EQ(parseTagArgument("str:1=" + std::string(1017, 'a'))->mLength, 1018);
    EXPECT_EQ(errorOf("str:1=" + std::string(1018, 'a')),
              "tag argument 'str:1=aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa...': text of 1018 characters; a str tag holds "
              "at most 1017");
    EXPECT_EQ(parseTagArgument("bytes:1=" + std::string(2036, 'f'))->mLength, 1018);
    EXPECT_NE(errorOf("bytes:1=" + std::string(2038, 'f')).find("1019 bytes; a bytes tag holds at most 1018"),
              std::string::npos);
}

TEST(Encode, BuildsTheBlockInArgumentOrder)
{
    EXPECT_EQ(encodeMessage(0x21, 0, {"u8:5=7"}), bytes("21 00 05 04 00 01 07"));
    EXPECT_EQ(encodeMessage(0x10, 0x85, {}), bytes("10 85"));
    EXPECT_EQ(encodeMessage(1, 0x80, {"null:7", "u16:2=258"}), bytes("01 80 07 00 00 00 02 03 00 02 01 02"));
}

TEST(Encode, PayloadIsLimitedTo1022Bytes)
{
    // One 1018-byte tag is the largest payload: 1022 bytes, a 1024-byte block.
    const std::string largest = "bytes:1=" + std::string(2036, '0');
    EXPECT_EQ(encodeMessage(1, 0, {largest}).size(), 1024u);
    try {
        encodeMessage(1, 0, {largest, "null:2"});
        ADD_FAILURE() << "a 1026-byte payload was accepted";
    } catch (const UsageError& error) {
        EXPECT_STREQ(error.what(), "the tags need 1026 payload bytes; a block carries at most 1022");
    }
    // 65 such tags need 66430 bytes: a 16-bit sum would wrap below 1022.
    EXPECT_THROW(encodeMessage(1, 0, std::vector<std::string>(65, largest)), UsageError);
}

} // namespace
} // namespace vmsgtool
