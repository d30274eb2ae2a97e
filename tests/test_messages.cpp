// The message container: its tag chain and cursor, and the block format that
// getMsg writes and parseMsg reads.
#include <VMsg.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <ostream>
#include <random>
#include <typeinfo>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// One tag as the wire sees it: id, type code and payload bytes.
struct TagView {
    unsigned char id;
    int type;
    Bytes data;
    bool operator==(const TagView& o) const
    {
        return id == o.id && type == o.type && data == o.data;
    }
};

std::ostream& operator<<(std::ostream& os, const TagView& t)
{
    return os << "{id " << int(t.id) << ", type " << t.type << ", " << t.data.size() << " bytes}";
}

// The class each type code is built as, indexed by the code.
const std::type_info* const kClassOfType[] = {
    &typeid(VTagNull),  &typeid(VTagString), &typeid(VTagUInt32), &typeid(VTagUInt16),
    &typeid(VTagUInt8), &typeid(VTagBytes),  &typeid(VTagFloat)};

// The chain, followed through the links so that the cursor stays where it is.
std::vector<TagView> tagsOf(const VMsg& msg)
{
    std::vector<TagView> tags;
    for (const VTag* t = msg.mFirstTag; t; t = t->mNext) {
        EXPECT_TRUE(t->mType <= VTag::TagFloat && typeid(*t) == *kClassOfType[t->mType]) << t->mId;
        const Bytes data = t->mData ? Bytes(t->mData, t->mData + t->mLength) : Bytes();
        tags.push_back({t->mId, t->mType, data});
    }
    return tags;
}

std::vector<int> idsOf(const VMsg& msg)
{
    std::vector<int> ids;
    for (const VTag* t = msg.mFirstTag; t; t = t->mNext)
        ids.push_back(t->mId);
    return ids;
}

// getMsg into a heap block of exactly @p size bytes, so that ASan reports a
// write past its end. @p out receives the whole block.
unsigned short writeExact(VMsg& msg, std::size_t size, Bytes* out = nullptr)
{
    std::unique_ptr<unsigned char[]> block(new unsigned char[size]);
    std::memset(block.get(), 0xEE, size);
    const unsigned short written = msg.getMsg(block.get(), static_cast<unsigned short>(size));
    if (out)
        out->assign(block.get(), block.get() + size);
    return written;
}

Bytes serialize(VMsg& msg)
{
    Bytes out;
    EXPECT_EQ(writeExact(msg, 2u + msg.mLength, &out), 2u + msg.mLength);
    return out;
}

// parseMsg over the first @p size bytes, copied to a block of exactly that
// size so that ASan reports a read past its end.
std::unique_ptr<VMsg> parseExact(const Bytes& bytes, std::size_t size)
{
    std::unique_ptr<unsigned char[]> block(new unsigned char[size]);
    if (size)
        std::memcpy(block.get(), bytes.data(), size);
    return std::unique_ptr<VMsg>(VMsg::parseMsg(block.get(), static_cast<unsigned short>(size)));
}

VTag* bytesTag(unsigned char id, unsigned short size)
{
    Bytes data(size, id);
    return new VTagBytes(id, data.data(), size);
}

Bytes u8Wire(unsigned char id, unsigned char value) { return {id, 4, 0, 1, value}; }
TagView u8View(unsigned char id, unsigned char value) { return {id, VTag::TagUInt8, {value}}; }

TEST(MsgContainer, AddTagCountsPayloadPlusHeaderAndIgnoresNull)
{
    VMsg msg(1);
    EXPECT_EQ(msg.addTag(bytesTag(1, 0)), 1);
    EXPECT_EQ(msg.addTag(bytesTag(2, 1)), 2);
    VTag* last = bytesTag(3, 10);
    EXPECT_EQ(msg.addTag(last), 3);
    EXPECT_EQ(msg.mLength, 23);
    EXPECT_EQ(msg.addTag(nullptr), 3);
    EXPECT_EQ(msg.mLength, 23);
    EXPECT_EQ(msg.mCurrentTag, last);
    EXPECT_EQ(idsOf(msg), (std::vector<int>{1, 2, 3}));
}

// The 16-bit counters stop at 65535 rather than wrap: a wrapped counter
// described a small (or empty) message that getMsg would write short.
TEST(MsgContainer, CountersStopAt65535InsteadOfWrapping)
{
    for (unsigned tags : {65535u, 65536u, 65537u}) {
        SCOPED_TRACE(tags);
        VMsg msg(1);
        unsigned short count = 0;
        for (unsigned i = 0; i < tags; ++i)
            count = msg.addTag(new VTagNull(static_cast<unsigned char>(i)));
        EXPECT_EQ(count, 65535u);
        EXPECT_EQ(msg.mTagCount, 65535u);
        EXPECT_EQ(msg.mLength, 65535u); // 4 bytes a tag
        EXPECT_EQ(msg.addTag(nullptr), 65535u);
        unsigned chained = 0;
        for (const VTag* tag = msg.mFirstTag; tag; tag = tag->mNext)
            ++chained;
        EXPECT_EQ(chained, tags);
        EXPECT_EQ(writeExact(msg, 65535), 0);
    }
    // The length alone: 65 tags of 1022 bytes on the wire.
    VMsg msg(2);
    for (int i = 0; i < 65; ++i)
        msg.addTag(bytesTag(static_cast<unsigned char>(i), vmsg::kMaxPayload));
    EXPECT_EQ(msg.mTagCount, 65u);
    EXPECT_EQ(msg.mLength, 65535u);
    EXPECT_EQ(writeExact(msg, 65535), 0);
}

TEST(MsgCursor, StandsWhereEachOperationLeavesIt)
{
    // Each line: an operation and its result, then where the cursor stands.
    VMsg msg(1);
    EXPECT_EQ(msg.mCurrentTag, nullptr);
    EXPECT_EQ(msg.gotoFirst(), nullptr);                  EXPECT_EQ(msg.getTag(), nullptr);
    EXPECT_EQ(msg.gotoLast(), nullptr);                   EXPECT_EQ(msg.mCurrentTag, nullptr);

    VTag* a = new VTagUInt8(1, (unsigned char)1);
    VTag* b = new VTagUInt8(2, (unsigned char)2);
    msg.addTag(a);                                        EXPECT_EQ(msg.mCurrentTag, a);
    msg.addTag(b);                                        EXPECT_EQ(msg.mCurrentTag, b);
    EXPECT_EQ(msg.gotoFirst(), a);                        EXPECT_EQ(msg.mCurrentTag, a);
    EXPECT_EQ(msg.getTag(), a);                           EXPECT_EQ(msg.mCurrentTag, b);
    EXPECT_EQ(msg.getTag(), b);                           EXPECT_EQ(msg.mCurrentTag, nullptr);
    EXPECT_EQ(msg.getTag(), nullptr);                     EXPECT_EQ(msg.mCurrentTag, nullptr);
    EXPECT_EQ(msg.gotoLast(), b);                         EXPECT_EQ(msg.mCurrentTag, b);

    // A refused write leaves the cursor alone; a complete one leaves it null.
    msg.gotoFirst();
    EXPECT_EQ(writeExact(msg, 2u + msg.mLength - 1), 0);  EXPECT_EQ(msg.mCurrentTag, a);
    const Bytes block = serialize(msg);                   EXPECT_EQ(msg.mCurrentTag, nullptr);

    auto parsed = parseExact(block, block.size());
    ASSERT_TRUE(parsed);
    ASSERT_NE(parsed->mFirstTag, nullptr);
    EXPECT_EQ(parsed->mCurrentTag, parsed->mFirstTag->mNext);
}

// Appending must reach the end of the chain from any cursor position: on the
// first tag, in the middle, on the last, or null after a complete walk.
TEST(MsgCursor, AddTagAppendsAtEndWhereverTheCursorStands)
{
    for (int steps = 0; steps <= 3; ++steps) {
        SCOPED_TRACE(steps);
        VMsg msg(1);
        for (unsigned char id = 1; id <= 3; ++id)
            msg.addTag(new VTagUInt8(id, id));
        msg.gotoFirst();
        for (int i = 0; i < steps; ++i)
            msg.getTag();

        VTagNull stray(99);
        VTag* added = new VTagUInt8(4, (unsigned char)4);
        added->mNext = &stray; // a stale link must not carry into the chain
        EXPECT_EQ(msg.addTag(added), 4);
        EXPECT_EQ(msg.mCurrentTag, added);
        EXPECT_EQ(msg.addTag(new VTagUInt8(5, (unsigned char)5)), 5);
        EXPECT_EQ(idsOf(msg), (std::vector<int>{1, 2, 3, 4, 5}));
        EXPECT_EQ(msg.mLength, 25);
    }
}

struct WireVector {
    const char* name;
    unsigned char id;
    unsigned char flags;
    void (*fill)(VMsg&);
    Bytes bytes;
};

// Without it GoogleTest prints a parameter as its raw bytes, padding
// included, which the copies in the parameter list leave uninitialised.
void PrintTo(const WireVector& v, std::ostream* os)
{
    *os << v.name;
}

const WireVector kWireVectors[] = {
    {"OneUInt8", 0x21, 0x00, [](VMsg& m) { m.addTag(new VTagUInt8(5, (unsigned char)7)); },
     {0x21, 0x00, 0x05, 0x04, 0x00, 0x01, 0x07}},
    {"HeaderOnly", 0x40, 0x85, [](VMsg&) {}, {0x40, 0x85}},
    {"EveryType", 0x7F, 0x05,
     [](VMsg& m) {
         char ab[] = "ab";
         unsigned char raw[] = {0xDE, 0xAD};
         m.addTag(new VTagNull(1));
         m.addTag(new VTagString(2, ab));
         m.addTag(new VTagUInt32(3, 0x01020304u));
         m.addTag(new VTagUInt16(4, (unsigned short)258));
         m.addTag(new VTagUInt8(5, (unsigned char)255));
         m.addTag(new VTagBytes(6, raw, 2));
         m.addTag(new VTagFloat(7, 1.0f));
         m.addTag(new VTagUInt32(8, 1.0f));
         m.addTag(new VTagBytes(9, raw, 0));
     },
     {0x7F, 0x05, 0x01, 0x00, 0x00, 0x00, 0x02, 0x01, 0x00, 0x03, 'a', 'b', 0x00, 0x03, 0x02,
      0x00, 0x04, 0x01, 0x02, 0x03, 0x04, 0x04, 0x03, 0x00, 0x02, 0x01, 0x02, 0x05, 0x04, 0x00,
      0x01, 0xFF, 0x06, 0x05, 0x00, 0x02, 0xDE, 0xAD, 0x07, 0x06, 0x00, 0x04, 0x3F, 0x80, 0x00,
      0x00, 0x08, 0x02, 0x00, 0x04, 0x3F, 0x80, 0x00, 0x00, 0x09, 0x05, 0x00, 0x00}},
};

class MsgWireVector : public ::testing::TestWithParam<WireVector> {
protected:
    std::unique_ptr<VMsg> build() const
    {
        auto msg = std::make_unique<VMsg>(GetParam().id);
        msg->mFlags = GetParam().flags;
        GetParam().fill(*msg);
        return msg;
    }
};

TEST_P(MsgWireVector, WritesAndReadsTheSameBytes)
{
    const WireVector& v = GetParam();
    auto built = build();
    EXPECT_EQ(serialize(*built), v.bytes);
    auto parsed = parseExact(v.bytes, v.bytes.size());
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->mId, v.id);
    EXPECT_EQ(parsed->mFlags, v.flags);
    EXPECT_EQ(parsed->mTagCount, built->mTagCount);
    EXPECT_EQ(parsed->mLength, built->mLength);
    EXPECT_EQ(tagsOf(*parsed), tagsOf(*built));
}

// Without a tag count on the wire a cut block is a shorter message: it keeps
// the tags that are whole in the prefix and never reads past its end.
TEST_P(MsgWireVector, TruncatedPrefixParsesShort)
{
    const WireVector& v = GetParam();
    const std::vector<TagView> whole = tagsOf(*build());
    for (std::size_t size = 0; size < v.bytes.size(); ++size) {
        SCOPED_TRACE(size);
        auto msg = parseExact(v.bytes, size);
        if (size < 2) {
            EXPECT_FALSE(msg);
            continue;
        }
        ASSERT_TRUE(msg);
        std::size_t complete = 0;
        for (std::size_t end = 2; complete < whole.size(); ++complete) {
            end += 4 + whole[complete].data.size();
            if (end > size)
                break;
        }
        EXPECT_EQ(tagsOf(*msg), std::vector<TagView>(whole.begin(), whole.begin() + complete));
        EXPECT_EQ(msg->mFlags, v.flags);
    }
}

INSTANTIATE_TEST_SUITE_P(MsgVectors, MsgWireVector, ::testing::ValuesIn(kWireVectors),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MsgWrite, AcceptsBufferOfExactlyTwoPlusLengthUpTo1024)
{
    struct Row {
        const char* name;
        std::vector<unsigned short> payloads;
        std::size_t buffer;
        unsigned short written;
    } rows[] = {
        {"EmptyIntoTwo", {}, 2, 2},
        {"EmptyIntoOne", {}, 1, 0},
        {"EmptyIntoZero", {}, 0, 0},
        {"ExactBuffer", {10}, 16, 16},
        {"OneByteShort", {10}, 15, 0},
        {"Payload1022Into1024", {1018}, 1024, 1024},
        {"Payload1022Into1023", {1018}, 1023, 0},
        {"Payload1023Into1025", {1015, 0}, 1025, 0},
        {"Payload1023IntoLargestBuffer", {1015, 0}, 65535, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        VMsg msg(0x33);
        unsigned char id = 1;
        for (unsigned short size : row.payloads)
            msg.addTag(bytesTag(id++, size));
        msg.gotoFirst();
        Bytes out;
        EXPECT_EQ(writeExact(msg, row.buffer, &out), row.written);
        if (row.written == 0) {
            EXPECT_EQ(out, Bytes(row.buffer, 0xEE)); // nothing written
            EXPECT_EQ(msg.mCurrentTag, msg.mFirstTag);
        } else {
            auto back = parseExact(out, row.written);
            ASSERT_TRUE(back);
            EXPECT_EQ(tagsOf(*back), tagsOf(msg));
        }
    }
    VMsg msg(1);
    EXPECT_EQ(msg.getMsg(nullptr, 100), 0);
}

// A payload changed after its tag was added no longer matches mLength. A
// grown one makes getMsg fail rather than overrun the buffer; after a shrink
// every tag fits and getMsg reports the bytes actually written.
TEST(MsgWrite, StaysInsideBufferWhenChainDisagreesWithLength)
{
    for (unsigned short size : {20, 3}) {
        SCOPED_TRACE(size);
        VMsg msg(1);
        VTag* tag = bytesTag(1, 10);
        msg.addTag(tag);
        msg.addTag(new VTagUInt8(2, (unsigned char)9));
        Bytes payload(size, 7);
        tag->setData(payload.data(), size);
        Bytes out;
        const unsigned short written = writeExact(msg, 2u + msg.mLength, &out);
        if (size > 10) {
            EXPECT_EQ(written, 0);
            continue;
        }
        ASSERT_EQ(written, 2 + 7 + 5);
        auto back = parseExact(out, written);
        ASSERT_TRUE(back);
        EXPECT_EQ(tagsOf(*back), tagsOf(msg));
    }
}

TEST(MsgParse, RefusesNullAndInputShorterThanHeader)
{
    const unsigned char header[] = {0x33, 0x85};
    EXPECT_EQ(VMsg::parseMsg(nullptr, 5), nullptr);
    EXPECT_FALSE(parseExact(Bytes(header, header + 2), 0));
    EXPECT_FALSE(parseExact(Bytes(header, header + 2), 1));
    auto msg = parseExact(Bytes(header, header + 2), 2);
    ASSERT_TRUE(msg);
    EXPECT_EQ(msg->mId, 0x33);
    EXPECT_EQ(msg->mFlags, 0x85);
    EXPECT_EQ(msg->mFirstTag, nullptr);
    EXPECT_EQ(msg->mCurrentTag, nullptr);
}

// Each tag is stepped over by its length on the wire, whatever the tag built
// from it holds, and the parse stops at the first tag the tag parser refuses.
TEST(MsgParse, StepsByWireLengthAndStopsAtRefusedTag)
{
    const Bytes header = {0x5A, 0x85};
    // A raw-bytes tag declaring 1100 bytes: it keeps the first 1018, and the
    // skipped 82 are laid out as tags so that reading them would show.
    Bytes kept(vmsg::kMaxPayload);
    for (std::size_t i = 0; i < kept.size(); ++i)
        kept[i] = static_cast<unsigned char>(i);
    Bytes decoys = {0, 0};
    for (unsigned char i = 0; i < 16; ++i)
        decoys = u8Wire(0x0B, i) + decoys;
    const Bytes oversized = Bytes{0x0A, 5, 0x04, 0x4C} + kept + decoys;
    const TagView keptView{0x0A, VTag::TagBytes, kept};

    struct Row {
        const char* name;
        Bytes body;
        std::vector<TagView> tags;
    } rows[] = {
        {"TrailingOneByte", u8Wire(1, 1) + Bytes{2}, {u8View(1, 1)}},
        {"TrailingTwoBytes", u8Wire(1, 1) + Bytes{2, 4}, {u8View(1, 1)}},
        {"TrailingThreeBytes", u8Wire(1, 1) + Bytes{2, 4, 0}, {u8View(1, 1)}},
        {"UnknownTypeCodeInThirdTag",
         u8Wire(1, 1) + u8Wire(2, 2) + Bytes{3, 7, 0, 1, 3} + u8Wire(4, 4),
         {u8View(1, 1), u8View(2, 2)}},
        {"FixedSizeTagDeclaredTooShort",
         u8Wire(1, 1) + Bytes{2, 2, 0, 2, 0xAA, 0xBB} + u8Wire(3, 3),
         {u8View(1, 1)}},
        {"DeclaredLengthBeyondInput",
         u8Wire(1, 1) + Bytes{2, 5, 0, 10, 1, 2, 3, 4, 5},
         {u8View(1, 1)}},
        {"NullTagWithPayload", Bytes{1, 0, 0, 3, 9, 9, 9} + u8Wire(2, 2),
         {{1, VTag::TagNull, {}}, u8View(2, 2)}},
        {"FixedSizeTagDeclaredLonger", Bytes{1, 3, 0, 4, 1, 2, 3, 4} + u8Wire(2, 2),
         {{1, VTag::TagUInt16, {1, 2}}, u8View(2, 2)}},
        {"TextEndingBeforeDeclaredEnd", Bytes{1, 1, 0, 5, 'a', 'b', 0, 'x', 'y'} + u8Wire(2, 2),
         {{1, VTag::TagString, {'a', 'b', 0}}, u8View(2, 2)}},
        {"TextWithoutTerminator", Bytes{1, 1, 0, 3, 'a', 'b', 'c'} + u8Wire(2, 2),
         {{1, VTag::TagString, {'a', 'b', 'c', 0}}, u8View(2, 2)}},
        {"OversizedBytesFollowedByTag", oversized + u8Wire(0x0C, 42), {keptView, u8View(0x0C, 42)}},
        {"OversizedBytesAtEnd", oversized, {keptView}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Bytes input = header + row.body;
        auto msg = parseExact(input, input.size());
        ASSERT_TRUE(msg);
        EXPECT_EQ(msg->mFlags, 0x85);
        EXPECT_EQ(msg->mTagCount, row.tags.size());
        EXPECT_EQ(tagsOf(*msg), row.tags);
    }
}

float floatFromBits(std::uint32_t bits)
{
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// A tag of a random class and value, with at most @p room payload bytes
// (room >= 4, so that every fixed-size class fits).
VTag* randomTag(std::mt19937& rng, unsigned room)
{
    const auto id = static_cast<unsigned char>(rng());
    const unsigned size = rng() % (room + 1);
    Bytes data(size);
    for (auto& byte : data)
        byte = static_cast<unsigned char>(rng() % 255 + 1); // no NUL, so usable as text
    switch (rng() % 8) {
    case 0: return new VTagNull(id);
    case 1: return new VTagString(id, reinterpret_cast<const char*>(data.data()),
                                  static_cast<unsigned short>(size ? size - 1 : 0));
    case 2: return new VTagUInt32(id, static_cast<unsigned int>(rng()));
    case 3: return new VTagUInt16(id, static_cast<unsigned short>(rng()));
    case 4: return new VTagUInt8(id, static_cast<unsigned char>(rng()));
    case 5: return new VTagBytes(id, data.data(), static_cast<unsigned short>(size));
    case 6: return new VTagFloat(id, floatFromBits(static_cast<std::uint32_t>(rng())));
    default: return new VTagUInt32(id, floatFromBits(static_cast<std::uint32_t>(rng())));
    }
}

TEST(MsgRoundTrip, RandomMessagesSurviveTwoRoundTrips)
{
    std::mt19937 rng(20240611);
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE(round);
        VMsg original(static_cast<unsigned char>(rng()));
        original.mFlags = static_cast<unsigned char>(rng());
        while (rng() % 16 != 0 && original.mLength + 8u <= vmsg::kMaxMessagePayload) {
            const unsigned room = vmsg::kMaxMessagePayload - 4u - original.mLength;
            original.addTag(randomTag(rng, rng() % 4 ? std::min(room, 40u) : room));
        }
        const Bytes first = serialize(original);
        auto once = parseExact(first, first.size());
        ASSERT_TRUE(once);
        EXPECT_EQ(tagsOf(*once), tagsOf(original));
        EXPECT_EQ(once->mTagCount, original.mTagCount);
        EXPECT_EQ(once->mLength, original.mLength);
        const Bytes second = serialize(*once);
        auto twice = parseExact(second, second.size());
        ASSERT_TRUE(twice);
        EXPECT_EQ(second, first);
        EXPECT_EQ(serialize(*twice), second);
    }
}

} // namespace
