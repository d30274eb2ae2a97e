// Tests of the tag family: typed classes, the wire layout, parsing, the
// factory and cloning. Every parse reads from an exactly sized heap copy, so
// that the sanitizer build reports any read past the end of the input.
#include <VTag.h>

#include "LogCapture.h"
#include "TestHelpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <vector>

static_assert(!std::is_copy_constructible<VTag>::value && !std::is_copy_assignable<VTag>::value &&
                  !std::is_copy_constructible<VTagString>::value,
              "tags are duplicated only by cloning");

namespace {

using TagPtr = std::unique_ptr<VTag>;

// A plain tag may carry any code; it is only ever stored, never read back as the enum.
VTag::VTagType code(int value)
{
    return static_cast<VTag::VTagType>(value);
}

Bytes pattern(std::size_t size)
{
    Bytes out(size);
    for (std::size_t i = 0; i < size; ++i)
        out[i] = static_cast<unsigned char>(i * 7 + 3);
    return out;
}

Bytes encode(const VTag& tag)
{
    Bytes out(tag.mLength + 4u, 0xAA);
    EXPECT_EQ(tag.getTag(out.data(), static_cast<unsigned short>(out.size())), out.size());
    return out;
}

// Parses all of @p bytes and checks that the input is left as it was.
// @p advanced receives how far the next position moved, or -1 if untouched.
TagPtr parse(const Bytes& bytes, long* advanced = nullptr)
{
    Bytes in(bytes);
    int sentinel = 0;
    void* next = &sentinel;
    TagPtr tag(VTag::parseTag(in.data(), static_cast<unsigned short>(in.size()), &next));
    EXPECT_EQ(in, bytes) << "the parser wrote its input";
    if (advanced)
        *advanced = next == &sentinel ? -1 : static_cast<unsigned char*>(next) - in.data();
    return tag;
}

// Write, parse, write, parse, write: every encoding equals @p want and every
// parse rebuilds the class of @p tag and moves the next position past it.
void expectStableRoundTrip(const VTag& tag, const Bytes& want)
{
    const Bytes first = encode(tag);
    ASSERT_EQ(first, want);
    long advanced = 0;
    TagPtr parsed = parse(first, &advanced);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(typeid(*parsed), typeid(tag));
    EXPECT_EQ(advanced, static_cast<long>(want.size()));
    const Bytes second = encode(*parsed);
    TagPtr reparsed = parse(second);
    ASSERT_TRUE(reparsed);
    EXPECT_EQ(second, first);
    EXPECT_EQ(encode(*reparsed), second);
}

Bytes withNul(Bytes text)
{
    text.push_back(0);
    return text;
}

float floatFromBits(std::uint32_t bits)
{
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// The characters of a text payload, without its final byte.
std::string payloadText(const VTag& tag)
{
    return std::string(reinterpret_cast<const char*>(tag.mData), tag.mLength ? tag.mLength - 1u : 0u);
}

struct WireRow {
    const char* name;
    Bytes bytes;
    VTag* (*make)();
    const std::type_info* cls;
    unsigned maxLength;
};

void PrintTo(const WireRow& row, std::ostream* os)
{
    *os << row.name;
}

std::vector<WireRow> wireRows()
{
    static unsigned char raw[] = {0xDE, 0xAD, 0x00};
    return {
        {"Null", {0x07, 0x00, 0x00, 0x00}, []() -> VTag* { return VTagFactory::createVTag(7); }, &typeid(VTagNull), 0},
        {"Text", {0x01, 0x01, 0x00, 0x04, 'a', 'b', 'c', 0x00},
         []() -> VTag* { char text[] = "abc"; return new VTagString(1, text); }, &typeid(VTagString), 1018},
        {"EmptyText", {0x02, 0x01, 0x00, 0x01, 0x00},
         []() -> VTag* { char text[] = ""; return VTagFactory::createVTag(2, text); }, &typeid(VTagString), 1018},
        {"UInt32", {0x03, 0x02, 0x00, 0x04, 0x00, 0x00, 0x01, 0x02},
         []() -> VTag* { return VTagFactory::createVTag(3, 258u); }, &typeid(VTagUInt32), 4},
        {"UInt32Max", {0x03, 0x02, 0x00, 0x04, 0xFF, 0xFF, 0xFF, 0xFF},
         []() -> VTag* { return new VTagUInt32(3, 0xFFFFFFFFu); }, &typeid(VTagUInt32), 4},
        {"UInt32FromFloat", {0x04, 0x02, 0x00, 0x04, 0x3F, 0x80, 0x00, 0x00},
         []() -> VTag* { return VTagFactory::createVTag(4, 1.0f, true); }, &typeid(VTagUInt32), 4},
        {"UInt16", {0x05, 0x03, 0x00, 0x02, 0x01, 0x02},
         []() -> VTag* { return VTagFactory::createVTag(5, static_cast<unsigned short>(258)); }, &typeid(VTagUInt16), 2},
        {"UInt8", {0x06, 0x04, 0x00, 0x01, 0xFE},
         []() -> VTag* { return VTagFactory::createVTag(6, static_cast<unsigned char>(0xFE)); }, &typeid(VTagUInt8), 1},
        {"Bytes", {0x08, 0x05, 0x00, 0x03, 0xDE, 0xAD, 0x00},
         []() -> VTag* { return VTagFactory::createVTag(8, raw, static_cast<unsigned short>(3)); }, &typeid(VTagBytes), 1018},
        {"EmptyBytes", {0x09, 0x05, 0x00, 0x00}, []() -> VTag* { return new VTagBytes(9, raw, 0); }, &typeid(VTagBytes), 1018},
        {"Float", {0x0A, 0x06, 0x00, 0x04, 0x3F, 0x80, 0x00, 0x00},
         []() -> VTag* { return VTagFactory::createVTag(10, 1.0f, false); }, &typeid(VTagFloat), 4},
        {"SignallingNaN", {0x0B, 0x06, 0x00, 0x04, 0x7F, 0x80, 0x00, 0x01},
         []() -> VTag* { return new VTagFloat(11, floatFromBits(0x7F800001u)); }, &typeid(VTagFloat), 4},
        {"NegativeZero", {0x0C, 0x06, 0x00, 0x04, 0x80, 0x00, 0x00, 0x00},
         []() -> VTag* { return new VTagFloat(12, -0.0f); }, &typeid(VTagFloat), 4},
        {"NegativeFloat", {0xFF, 0x06, 0x00, 0x04, 0xC0, 0x20, 0x00, 0x00},
         []() -> VTag* { return new VTagFloat(0xFF, -2.5f); }, &typeid(VTagFloat), 4},
    };
}

class TagWire : public testing::TestWithParam<WireRow> {};

} // namespace

TEST_P(TagWire, WritesExactBytesOnlyWhenTheWholeTagFits)
{
    TagPtr tag(GetParam().make());
    const Bytes& want = GetParam().bytes;
    EXPECT_EQ(typeid(*tag), *GetParam().cls);
    EXPECT_EQ(tag->getMaxLength(), GetParam().maxLength);
    EXPECT_EQ(encode(*tag), want);
    Bytes tooSmall(want.size() - 1, 0xAA);
    EXPECT_EQ(tag->getTag(tooSmall.data(), static_cast<unsigned short>(tooSmall.size())), 0);
    EXPECT_EQ(tooSmall, Bytes(want.size() - 1, 0xAA));
    EXPECT_EQ(tag->getTag(nullptr, 2000), 0);
}

TEST_P(TagWire, ParseRebuildsTheTagAndStaysStableOverTwoRoundTrips)
{
    const Bytes& want = GetParam().bytes;
    long advanced = 0;
    TagPtr parsed = parse(want, &advanced);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(typeid(*parsed), *GetParam().cls);
    EXPECT_EQ(parsed->mNext, nullptr);
    expectStableRoundTrip(*parsed, want);
    Bytes in(want);
    EXPECT_TRUE(TagPtr(VTag::parseTag(in.data(), static_cast<unsigned short>(in.size()), nullptr)));

    // Bytes after the tag belong to the next one: the position stops before them.
    Bytes followed(want);
    followed.insert(followed.end(), {0x61, 0x62, 0x63});
    TagPtr first = parse(followed, &advanced);
    ASSERT_TRUE(first);
    EXPECT_EQ(advanced, static_cast<long>(want.size()));
    EXPECT_EQ(encode(*first), want);
}

TEST_P(TagWire, EveryTruncatedPrefixIsRefusedWithoutMovingNext)
{
    const Bytes& whole = GetParam().bytes;
    for (std::size_t n = 0; n < whole.size(); ++n) {
        SCOPED_TRACE(n);
        long advanced = 0;
        TagPtr tag = parse(Bytes(whole.begin(), whole.begin() + static_cast<long>(n)), &advanced);
        EXPECT_FALSE(tag);
        EXPECT_EQ(advanced, -1);
    }
}

TEST_P(TagWire, CloneKeepsClassIdAndPayloadButNotTheChainLink)
{
    TagPtr source(GetParam().make());
    source->mNext = source.get();
    TagPtr clone(VTagFactory::createVTag(source.get()));
    ASSERT_TRUE(clone);
    EXPECT_EQ(typeid(*clone), typeid(*source));
    EXPECT_EQ(encode(*clone), GetParam().bytes);
    EXPECT_EQ(clone->mNext, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Tag, TagWire, testing::ValuesIn(wireRows()),
                         [](const testing::TestParamInfo<WireRow>& info) { return std::string(info.param.name); });

TEST(TagLengths, BytesAndTextOfEveryLengthClassWriteBigEndianLengthsAndRoundTrip)
{
    for (unsigned n : {0u, 1u, 255u, 256u, 1018u}) {
        SCOPED_TRACE(n);
        Bytes payload = pattern(n);
        VTagBytes bytes(0x11, payload.data(), static_cast<unsigned short>(n));
        expectStableRoundTrip(bytes, tagWire(0x11, 5, payload));
        if (n == 0)
            continue;
        // A text of n - 1 characters fills a payload of n bytes with its NUL.
        std::string chars(n - 1, 'q');
        VTagString text(0x12, &chars[0]);
        expectStableRoundTrip(text, tagWire(0x12, 1, withNul(Bytes(chars.begin(), chars.end()))));
    }
    EXPECT_EQ(encode(VTagBytes(1, pattern(1018).data(), 1018))[2], 0x03);
}

TEST(TagString, LongTextIsCutTo1017CharactersInTheTagAndInTheCallersBuffer)
{
    for (std::size_t n : {1017u, 1018u, 1019u, 1500u}) {
        SCOPED_TRACE(n);
        std::vector<char> text(n + 1, 0);
        for (std::size_t i = 0; i < n; ++i)
            text[i] = static_cast<char>('a' + i % 26);
        std::vector<char> expected(text);
        VTagString tag(1, text.data());
        const std::size_t kept = n < 1018 ? n : 1017;
        ASSERT_EQ(tag.mLength, kept + 1);
        EXPECT_EQ(payloadText(tag), std::string(expected.data(), kept));
        EXPECT_EQ(tag.mData[kept], 0);
        // Only index 1017 of the caller's text changes, and only when it was cut.
        if (n >= 1018)
            expected[1017] = 0;
        EXPECT_EQ(text, expected);
    }
}

TEST(TagString, NullOrCountedTextGetsItsNulWithoutReadingFurther)
{
    EXPECT_EQ(encode(VTagString(4, nullptr)), (Bytes{0x04, 0x01, 0x00, 0x01, 0x00}));
    std::vector<char> unterminated{'a', 'b', 'c'};
    EXPECT_EQ(encode(VTagString(1, unterminated.data(), 3)), (Bytes{0x01, 0x01, 0x00, 0x04, 'a', 'b', 'c', 0x00}));
    // A counted text ends at an inner NUL, as a receiver reads it.
    const char inner[] = {'a', 'b', '\0', 'c', 'd'};
    EXPECT_EQ(encode(VTagString(1, inner, 5)), (Bytes{0x01, 0x01, 0x00, 0x03, 'a', 'b', 0x00}));
}

TEST(TagString, GetValueNeedsRoomForTextAndNul)
{
    char text[] = "hello";
    VTagString tag(1, text);
    char out[8] = "ZZZZZZZ";
    EXPECT_EQ(tag.getValue(out, 5), 0);
    EXPECT_EQ(tag.getValue(nullptr, 100), 0);
    EXPECT_STREQ(out, "ZZZZZZZ");
    EXPECT_EQ(tag.getValue(out, 6), 6);
    EXPECT_STREQ(out, "hello");
}

TEST(TagTyped, IntegerAndFloatAccessorsReinterpretTheSameBits)
{
    // 258 read as a float is a tiny subnormal with the same bits, not 258.0.
    VTagUInt32 integer(1, 258u);
    EXPECT_EQ(integer.getValue(), 258u);
    const float tiny = integer.getFloatValue(), expected = floatFromBits(258u);
    EXPECT_EQ(std::memcmp(&tiny, &expected, sizeof tiny), 0);
    VTagFloat real(1, 1.0f);
    EXPECT_EQ(real.getValue(), 0x3F800000u);
    EXPECT_EQ(real.getFloatValue(), 1.0f);
    EXPECT_EQ(VTagUInt32(1, 1.0f).getFloatValue(), 1.0f);
    EXPECT_EQ(VTagUInt16(1, 0xBEEF).getValue(), 0xBEEF);
    EXPECT_EQ(VTagUInt8(1, 0x80).getValue(), 0x80);
}

TEST(TagTyped, TagsWithoutPayloadAndBytesAccessor)
{
    VTag plain(3, VTag::TagBytes);
    VTagNull null(3);
    EXPECT_TRUE(!plain.mData && !null.mData && !plain.mNext && !null.mNext);
    EXPECT_EQ(plain.getMaxLength(), 0u);
    EXPECT_EQ(encode(plain), (Bytes{0x03, 0x05, 0x00, 0x00}));
    unsigned char data[] = {1, 2, 3};
    VTagBytes empty(1, data, 0);
    EXPECT_NE(empty.mData, nullptr);
    unsigned char out[4] = {9, 9, 9, 9};
    EXPECT_EQ(empty.getValue(out, sizeof out), 0);
    VTagBytes three(1, data, 3);
    EXPECT_EQ(three.getValue(out, 2), 0);
    EXPECT_EQ(three.getValue(nullptr, 100), 0);
    EXPECT_EQ(Bytes(out, out + 4), (Bytes{9, 9, 9, 9}));
    EXPECT_EQ(three.getValue(out, 3), 3);
    EXPECT_EQ(Bytes(out, out + 3), (Bytes{1, 2, 3}));
}

TEST(TagSetData, PayloadsAreCutTo1018Bytes)
{
    Bytes big = pattern(2000);
    VTagBytes fromConstructor(1, big.data(), 1019);
    VTag plain(1, VTag::TagBytes);
    plain.setData(big.data(), 2000);
    for (const VTag* tag : {static_cast<const VTag*>(&fromConstructor), static_cast<const VTag*>(&plain)})
        EXPECT_EQ(encode(*tag), tagWire(1, 5, Bytes(big.begin(), big.begin() + 1018)));
}

// Each call replaces the payload; the sanitizer build reports a lost earlier one.
TEST(TagSetData, ReplacesThePayloadAndNullDataOrZeroSizeLeavesAnEmptyOne)
{
    VTag tag(1, VTag::TagBytes);
    Bytes first = pattern(300), second{0x42, 0x43};
    tag.setData(first.data(), 300);
    tag.setData(second.data(), 2);
    EXPECT_EQ(encode(tag), tagWire(1, 5, second));
    tag.setData(nullptr, 5);
    EXPECT_EQ(tag.mLength, 0);
    EXPECT_NE(tag.mData, nullptr);
    tag.setData(first.data(), 0);
    EXPECT_EQ(tag.mLength, 0);
    EXPECT_NE(tag.mData, nullptr);
    EXPECT_EQ(VTagBytes(1, nullptr, 10).mLength, 0);
}

// A plain tag is written as stored, whatever its code says about the size;
// codes without a class go out as code 0.
TEST(TagWrite, PlainTagsAreWrittenAsStoredWithCodesAboveSixAsNull)
{
    Bytes seven{0, 0, 1, 2, 0xAA, 0xBB, 0xCC};
    for (int type : {2, 7, 9, 255}) {
        VTag tag(0x21, code(type));
        tag.setData(seven.data(), 7);
        EXPECT_EQ(encode(tag), tagWire(0x21, type == 2 ? 2 : 0, seven)) << type;
    }
}

TEST(TagParse, JudgesDeclaredLengthsNear65535WithoutWrap)
{
    Bytes input = pattern(65535);
    input[0] = 0x30;
    input[1] = VTag::TagBytes;
    for (unsigned declared : {0xFFFFu, 0xFFFEu, 0xFFFCu}) {
        input[2] = static_cast<unsigned char>(declared >> 8);
        input[3] = static_cast<unsigned char>(declared);
        long advanced = 0;
        EXPECT_FALSE(parse(input, &advanced)) << declared;
        EXPECT_EQ(advanced, -1);
    }
    input[3] = 0xFB; // 65531 + 4 covers the input exactly
    long advanced = 0;
    TagPtr tag = parse(input, &advanced);
    ASSERT_TRUE(tag);
    EXPECT_EQ(advanced, 65535);
    EXPECT_EQ(encode(*tag), tagWire(0x30, 5, Bytes(input.begin() + 4, input.begin() + 4 + 1018)));
}

// Refused, but the next position still moves past the declared payload, so
// that a caller can skip such a tag.
TEST(TagParse, RefusesUnknownCodesAndFixedSizeTypesDeclaredTooShortButAdvancesNext)
{
    const std::pair<unsigned char, unsigned> cases[] = {{7, 2},  {100, 2}, {255, 2}, {2, 0},
                                                         {2, 3}, {3, 1},   {4, 0},   {6, 3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "code " << int(c.first) << " length " << c.second);
        long advanced = 0;
        EXPECT_FALSE(parse(tagWire(1, c.first, Bytes(c.second, 0x7F)), &advanced));
        EXPECT_EQ(advanced, static_cast<long>(4 + c.second));
    }
}

TEST(TagParse, FixedSizeValueComesFromTheFrontOfALongerPayload)
{
    const struct {
        unsigned char type;
        Bytes payload;
        Bytes kept;
    } cases[] = {
        {0, {1, 2, 3}, {}},
        {2, {0, 0, 1, 2, 0xAA, 0xBB}, {0, 0, 1, 2}},
        {3, {1, 2, 3}, {1, 2}},
        {4, {9, 8}, {9}},
        {6, {0x3F, 0x80, 0, 0, 0xEE}, {0x3F, 0x80, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.type));
        long advanced = 0;
        TagPtr tag = parse(tagWire(1, c.type, c.payload), &advanced);
        ASSERT_TRUE(tag);
        EXPECT_EQ(encode(*tag), tagWire(1, c.type, c.kept));
        EXPECT_EQ(advanced, static_cast<long>(4 + c.payload.size()));
    }
}

TEST(TagParse, TextEndsAtItsNulOrAtTheEndOfTheDeclaredPayload)
{
    const struct {
        const char* name;
        Bytes payload;
        Bytes after;
        std::string text;
    } cases[] = {
        {"unterminated", {'a', 'b', 'c'}, {}, "abc"},
        {"unterminated before more text", {'a', 'b', 'c'}, {'d', 0}, "abc"},
        {"nul inside", {'a', 'b', 0, 'c', 'd'}, {}, "ab"},
        {"empty payload", {}, {}, ""},
        {"1018 without nul", Bytes(1018, 'x'), {}, std::string(1017, 'x')},
        {"1100 without nul", Bytes(1100, 'x'), {}, std::string(1017, 'x')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes input = tagWire(1, 1, c.payload);
        input.insert(input.end(), c.after.begin(), c.after.end());
        long advanced = 0;
        TagPtr tag = parse(input, &advanced);
        ASSERT_TRUE(tag);
        EXPECT_EQ(typeid(*tag), typeid(VTagString));
        ASSERT_EQ(tag->mLength, c.text.size() + 1);
        EXPECT_EQ(payloadText(*tag), c.text);
        EXPECT_EQ(tag->mData[c.text.size()], 0);
        EXPECT_EQ(advanced, static_cast<long>(4 + c.payload.size()));
    }
}

TEST(TagClone, PlainTagsAreClonedByTheirTypeCode)
{
    const struct {
        int type;
        Bytes payload;
        const std::type_info& cls;
        Bytes kept;
    } cases[] = {
        {0, {1, 2}, typeid(VTagNull), {}},
        {1, {'a', 'b', 0, 'c'}, typeid(VTagString), {'a', 'b', 0}},
        // Text without a NUL ends with the payload and is cut to 1017 characters.
        {1, {'y', 'y', 'y'}, typeid(VTagString), {'y', 'y', 'y', 0}},
        {1, Bytes(1018, 'y'), typeid(VTagString), withNul(Bytes(1017, 'y'))},
        {2, {0, 0, 1, 2, 3, 4, 5}, typeid(VTagUInt32), {0, 0, 1, 2}},
        {3, {1, 2}, typeid(VTagUInt16), {1, 2}},
        {4, {7}, typeid(VTagUInt8), {7}},
        {5, {1, 2, 3}, typeid(VTagBytes), {1, 2, 3}},
        {6, {0x3F, 0x80, 0, 0}, typeid(VTagFloat), {0x3F, 0x80, 0, 0}},
        // A payload too short for its type gives the value 0.
        {2, {1, 2}, typeid(VTagUInt32), {0, 0, 0, 0}},
        {4, {}, typeid(VTagUInt8), {0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "code " << c.type << " size " << c.payload.size());
        VTag source(0x44, code(c.type));
        Bytes payload(c.payload);
        source.setData(payload.data(), static_cast<unsigned short>(payload.size()));
        TagPtr clone(VTagFactory::createVTag(&source));
        ASSERT_TRUE(clone);
        EXPECT_EQ(typeid(*clone), c.cls);
        EXPECT_EQ(encode(*clone), tagWire(0x44, static_cast<unsigned char>(c.type), c.kept));
    }
    // Without any payload: a null stays without one, a text becomes the empty text.
    VTag noNull(0x44, VTag::TagNull), noText(0x44, VTag::TagString);
    TagPtr null(VTagFactory::createVTag(&noNull)), text(VTagFactory::createVTag(&noText));
    ASSERT_TRUE(null && text);
    EXPECT_EQ(null->mData, nullptr);
    EXPECT_EQ(encode(*text), (Bytes{0x44, 0x01, 0x00, 0x01, 0x00}));
}

TEST(TagClone, NullSourceAndCodesAboveSixGiveNull)
{
    EXPECT_EQ(VTagFactory::createVTag(static_cast<VTag*>(nullptr)), nullptr);
    for (int type : {7, 9, 255}) {
        VTag source(1, code(type));
        EXPECT_EQ(VTagFactory::createVTag(&source), nullptr) << type;
    }
}

TEST(TagLogging, TagsWriteNothingAndAllUseTheVTagCategory)
{
    LogCapture log("VTag");
    std::vector<TagPtr> tags;
    for (const WireRow& row : wireRows())
        tags.emplace_back(row.make());
    tags.emplace_back(new VTag(1, code(9)));
    tags.emplace_back(parse(wireRows()[1].bytes));
    tags.emplace_back(VTagFactory::createVTag(tags.front().get()));
    tags.back()->setData(nullptr, 0);
    EXPECT_TRUE(log.lines().empty());

    // A line written through any tag's own logger lands in "VTag".
    for (const TagPtr& tag : tags)
        tag->debug("probe %s", typeid(*tag).name());
    const std::size_t probes = tags.size();
    tags.clear();
    EXPECT_EQ(log.lines().size(), probes);
}
