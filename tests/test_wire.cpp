// The in-place reader and writer: where and why a walk stops, that the
// reader takes what parseMsg takes, that the writer writes what getMsg
// writes, and that each reads what the other wrote.
#include <VMsg.h>
#include <VWire.h>

#include "TestHelpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace {

Bytes hex(const char* text)
{
    Bytes out;
    unsigned value = 0;
    int digits = 0;
    for (const char* p = text; *p; ++p) {
        if (*p == ' ')
            continue;
        value = value * 16 + static_cast<unsigned>(std::stoi(std::string(1, *p), nullptr, 16));
        if (++digits == 2) {
            out.push_back(static_cast<unsigned char>(value));
            value = 0;
            digits = 0;
        }
    }
    return out;
}

// A tag as text, the same for a view and for a tag the library built:
// "id:type=value". Texts and bytes are given by their bytes.
std::string describe(unsigned id, unsigned type, const std::string& value)
{
    return std::to_string(id) + ":" + std::to_string(type) + "=" + value;
}

std::string describe(const vmsg::TagView& view)
{
    switch (view.type) {
    case VTag::TagNull: return describe(view.id, view.type, "");
    case VTag::TagString: return describe(view.id, view.type, std::string(view.text()));
    case VTag::TagUInt32: return describe(view.id, view.type, std::to_string(view.u32()));
    case VTag::TagUInt16: return describe(view.id, view.type, std::to_string(view.u16()));
    case VTag::TagUInt8: return describe(view.id, view.type, std::to_string(view.u8()));
    case VTag::TagBytes: return describe(view.id, view.type, std::string(view.bytes()));
    case VTag::TagFloat: return describe(view.id, view.type, std::to_string(vmsg::bitsOfFloat(view.f32())));
    }
    return describe(view.id, view.type, "?");
}

std::string describe(const VTag& tag)
{
    const unsigned type = static_cast<unsigned>(tag.mType);
    const char* data = reinterpret_cast<const char*>(tag.mData);
    switch (type) {
    case VTag::TagNull: return describe(tag.mId, type, "");
    case VTag::TagString: return describe(tag.mId, type, std::string(data, tag.mLength - 1u));
    case VTag::TagUInt32:
        return describe(tag.mId, type, std::to_string(static_cast<const VTagUInt32&>(tag).getValue()));
    case VTag::TagUInt16:
        return describe(tag.mId, type, std::to_string(static_cast<const VTagUInt16&>(tag).getValue()));
    case VTag::TagUInt8:
        return describe(tag.mId, type, std::to_string(static_cast<const VTagUInt8&>(tag).getValue()));
    case VTag::TagBytes: return describe(tag.mId, type, std::string(data, tag.mLength));
    case VTag::TagFloat:
        return describe(tag.mId, type,
                        std::to_string(vmsg::bitsOfFloat(static_cast<const VTagUInt32&>(tag).getFloatValue())));
    }
    return describe(tag.mId, type, "?");
}

struct Walk {
    std::vector<std::string> tags;
    vmsg::Stop stop;
    std::size_t offset;
    vmsg::TagView last; // the refused tag, when one was refused
};

// Reads an exact-size heap copy, so that a read past the end shows.
Walk readAll(const Bytes& block)
{
    std::unique_ptr<unsigned char[]> copy(new unsigned char[block.size() + !block.size()]);
    std::copy(block.begin(), block.end(), copy.get());
    vmsg::Reader reader(copy.get(), block.size());
    Walk walk{{}, vmsg::Stop::End, 0, {}};
    vmsg::TagView view;
    std::size_t expected = 2;
    while (reader.next(view)) {
        EXPECT_EQ(view.offset, expected);
        expected += view.size();
        walk.tags.push_back(describe(view));
    }
    walk.stop = reader.stop();
    walk.offset = reader.offset();
    walk.last = view;
    walk.last.payload = nullptr; // pointed into the copy
    EXPECT_FALSE(reader.next(view)) << "a finished walk stays finished";
    return walk;
}

std::vector<std::string> parsedTags(const Bytes& block)
{
    std::unique_ptr<VMsg> msg(VMsg::parseMsg(block.data(), static_cast<unsigned short>(block.size())));
    std::vector<std::string> tags;
    for (const VTag* tag = msg ? msg->mFirstTag : nullptr; tag; tag = tag->mNext)
        tags.push_back(describe(*tag));
    return tags;
}

TEST(WireReader, EachStopIsNamedWithTheOffsetOfTheRefusedTag)
{
    const struct {
        const char* name;
        const char* hex;
        std::size_t tags;
        vmsg::Stop stop;
        std::size_t offset;
    } rows[] = {
        {"empty", "", 0, vmsg::Stop::ShortBlock, 0},
        {"one byte", "21", 0, vmsg::Stop::ShortBlock, 0},
        {"header only", "21 00", 0, vmsg::Stop::End, 2},
        {"complete tags", "21 00 05 04 00 01 07 07 00 00 00", 2, vmsg::Stop::End, 11},
        {"one byte after", "21 00 05 04 00 01 07 aa", 1, vmsg::Stop::ShortTagHeader, 7},
        {"three bytes after", "21 00 05 04 00 01 07 aa bb cc", 1, vmsg::Stop::ShortTagHeader, 7},
        {"length beyond", "21 00 05 04 00 01 07 06 05 00 03 aa bb", 1, vmsg::Stop::LengthBeyondBlock, 7},
        {"largest length", "21 00 06 05 ff ff aa", 0, vmsg::Stop::LengthBeyondBlock, 2},
        {"type code 7", "21 00 05 04 00 01 07 06 07 00 02 aa bb", 1, vmsg::Stop::UnknownType, 7},
        {"type code 255", "21 00 06 ff 00 00", 0, vmsg::Stop::UnknownType, 2},
        {"u32 of 2", "21 00 06 02 00 02 aa bb", 0, vmsg::Stop::ShortFixedValue, 2},
        {"f32 of 3", "21 00 06 06 00 03 aa bb cc", 0, vmsg::Stop::ShortFixedValue, 2},
        {"u16 of 1", "21 00 06 03 00 01 aa", 0, vmsg::Stop::ShortFixedValue, 2},
        {"u8 of 0", "21 00 05 04 00 01 07 06 04 00 00", 1, vmsg::Stop::ShortFixedValue, 7},
        {"null declaring 2", "21 00 06 00 00 02 aa bb", 1, vmsg::Stop::End, 8},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const Bytes block = hex(row.hex);
        const Walk walk = readAll(block);
        EXPECT_EQ(walk.tags.size(), row.tags);
        EXPECT_EQ(walk.tags, parsedTags(block));
        EXPECT_EQ(walk.stop, row.stop) << vmsg::stopName(walk.stop);
        EXPECT_EQ(walk.offset, row.offset);
    }
    // A refused tag whose header is there is named by it.
    const Walk refused = readAll(hex("21 00 05 04 00 01 07 06 09 00 02 aa bb"));
    EXPECT_EQ(refused.last.offset, 7u);
    EXPECT_EQ(refused.last.id, 6);
    EXPECT_EQ(refused.last.type, 9);
    EXPECT_EQ(refused.last.declared, 2);
    EXPECT_EQ(vmsg::Reader(nullptr, 10).stop(), vmsg::Stop::ShortBlock);
}

TEST(WireReader, ViewsGiveWhatTheParsedTagHolds)
{
    // Text without NUL, text ending early at a NUL, u32 declaring 6 bytes,
    // raw bytes above 1018, and the header bytes of the block.
    Bytes block = hex("31 85 01 01 00 03 61 62 63 02 01 00 05 61 00 62 63 64 03 02 00 06 00 00 01 02 ee ff");
    const Bytes bigBytes = hex("04 05 04 4c");
    block.insert(block.end(), bigBytes.begin(), bigBytes.end());
    for (int i = 0; i < 1100; ++i)
        block.push_back(static_cast<unsigned char>(i));
    const Walk walk = readAll(block);
    EXPECT_EQ(walk.stop, vmsg::Stop::End);
    EXPECT_EQ(walk.tags, parsedTags(block));
    ASSERT_EQ(walk.tags.size(), 4u);
    EXPECT_EQ(walk.tags[0], "1:1=abc");
    EXPECT_EQ(walk.tags[1], "2:1=a");
    EXPECT_EQ(walk.tags[2], "3:2=258");
    EXPECT_EQ(walk.tags[3].size(), std::string("4:5=").size() + vmsg::kMaxPayload);
    vmsg::Reader reader(block.data(), block.size());
    EXPECT_EQ(reader.id(), 0x31);
    EXPECT_EQ(reader.flags(), 0x85);
}

// A block of one tag of TYPE declaring DECLARED payload bytes, all FILL.
Bytes oneTag(unsigned char type, std::size_t declared, unsigned char fill)
{
    Bytes block = {0x10, 0x00, 0x01, type, static_cast<unsigned char>(declared >> 8),
                   static_cast<unsigned char>(declared & 0xff)};
    block.insert(block.end(), declared, fill);
    return block;
}

TEST(WireReader, ValuesOnBothSidesOfTheirLengthLimits)
{
    // Text without a NUL: all of it up to 1017 characters, 1017 beyond,
    // as parseMsg gives.
    for (std::size_t declared : {1016u, 1017u, 1018u, 1024u}) {
        const Bytes block = oneTag(VTag::TagString, declared, 'x');
        vmsg::Reader reader(block.data(), block.size());
        vmsg::TagView view;
        ASSERT_TRUE(reader.next(view)) << declared;
        EXPECT_EQ(view.text().size(), std::min<std::size_t>(declared, 1017)) << declared;
        EXPECT_EQ(readAll(block).tags, parsedTags(block)) << declared;
    }
    // Numbers read from fewer bytes than they take are 0; from enough,
    // the leading bytes big-endian.
    const struct {
        std::size_t declared;
        std::uint32_t u8, u16, u32;
    } cases[] = {
        {0, 0, 0, 0},
        {1, 0xab, 0, 0},
        {2, 0xab, 0xabab, 0},
        {3, 0xab, 0xabab, 0},
        {4, 0xab, 0xabab, 0xabababab},
        {6, 0xab, 0xabab, 0xabababab},
    };
    for (const auto& c : cases) {
        const Bytes block = oneTag(VTag::TagBytes, c.declared, 0xab);
        vmsg::Reader reader(block.data(), block.size());
        vmsg::TagView view;
        ASSERT_TRUE(reader.next(view)) << c.declared;
        EXPECT_EQ(view.u8(), c.u8) << c.declared;
        EXPECT_EQ(view.u16(), c.u16) << c.declared;
        EXPECT_EQ(view.u32(), c.u32) << c.declared;
        EXPECT_EQ(vmsg::bitsOfFloat(view.f32()), c.u32) << c.declared;
    }
}

TEST(WireReader, EveryTruncatedPrefixStopsWhereParseMsgStops)
{
    unsigned char out[vmsg::kMaxBlock];
    vmsg::Writer writer(out, sizeof out, 0x21, 0x05);
    char text[] = "pump-7";
    ASSERT_TRUE(writer.null(1) && writer.text(2, text) && writer.u32(3, 0xDEADBEEFu) && writer.u16(4, 258) &&
                writer.u8(5, 7) && writer.bytes(6, "\x0a\x0b\xff", 3) && writer.f32(7, 1.5f));
    const Bytes whole(out, out + writer.size());
    for (std::size_t size = 0; size <= whole.size(); ++size) {
        SCOPED_TRACE(size);
        const Bytes prefix(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
        const Walk walk = readAll(prefix);
        EXPECT_EQ(walk.tags, parsedTags(prefix));
        if (size < 2)
            continue;
        // The tags read and the refused rest cover the prefix.
        EXPECT_LE(walk.offset, size);
        EXPECT_EQ(walk.stop == vmsg::Stop::End, walk.offset == size);
    }
}

// A block of random tags, then mutated: bytes flipped, cut short, or a
// type code or length changed, which ends the walk anywhere.
Bytes randomBlock(std::mt19937& rng)
{
    unsigned char out[vmsg::kMaxBlock];
    vmsg::Writer writer(out, sizeof out, static_cast<unsigned char>(rng()), static_cast<unsigned char>(rng()));
    std::string text(rng() % 30, 'x');
    for (char& c : text)
        c = static_cast<char>(rng() % 4 ? 'a' + rng() % 26 : rng() % 256);
    while (rng() % 12) {
        const auto id = static_cast<unsigned char>(rng());
        switch (rng() % 7) {
        case 0: writer.null(id); break;
        case 1: writer.text(id, text); break;
        case 2: writer.u32(id, static_cast<std::uint32_t>(rng())); break;
        case 3: writer.u16(id, static_cast<std::uint16_t>(rng())); break;
        case 4: writer.u8(id, static_cast<std::uint8_t>(rng())); break;
        case 5: writer.bytes(id, text.data(), text.size()); break;
        default: writer.f32(id, vmsg::floatFromBits(static_cast<std::uint32_t>(rng()))); break;
        }
    }
    Bytes block(out, out + writer.size());
    switch (rng() % 4) {
    case 0: break;
    case 1: block.resize(rng() % (block.size() + 1)); break;
    default:
        for (unsigned flips = rng() % 4 + 1; flips && !block.empty(); --flips)
            block[rng() % block.size()] = static_cast<unsigned char>(rng());
    }
    return block;
}

TEST(WireReader, TakesWhatParseMsgTakesFromRandomAndDamagedBlocks)
{
    std::mt19937 rng(20261209);
    for (int round = 0; round < 3000; ++round) {
        const Bytes block = randomBlock(rng);
        const Walk walk = readAll(block);
        ASSERT_EQ(walk.tags, parsedTags(block)) << "round " << round;
        if (block.size() >= 2 && walk.offset < block.size()) {
            // parseTag refuses the tag where the walk stopped.
            Bytes rest(block.begin() + static_cast<std::ptrdiff_t>(walk.offset), block.end());
            EXPECT_EQ(VTag::parseTag(rest.data(), static_cast<unsigned short>(rest.size()), nullptr), nullptr);
        }
    }
}

// One tag added both ways: to the writer, and built with its typed
// constructor into @p msg.
void addBoth(vmsg::Writer& writer, VMsg& msg, unsigned char id, int type, const std::string& data, std::uint32_t n)
{
    switch (type) {
    case 0:
        writer.null(id);
        msg.addTag(new VTagNull(id));
        break;
    case 1:
        writer.text(id, data);
        msg.addTag(new VTagString(id, data.data(), static_cast<unsigned short>(data.size())));
        break;
    case 2:
        writer.u32(id, n);
        msg.addTag(new VTagUInt32(id, static_cast<unsigned int>(n)));
        break;
    case 3:
        writer.u16(id, static_cast<std::uint16_t>(n));
        msg.addTag(new VTagUInt16(id, static_cast<unsigned short>(n)));
        break;
    case 4:
        writer.u8(id, static_cast<std::uint8_t>(n));
        msg.addTag(new VTagUInt8(id, static_cast<unsigned char>(n)));
        break;
    case 5:
        writer.bytes(id, data.data(), data.size());
        msg.addTag(new VTagBytes(id, const_cast<char*>(data.data()), static_cast<unsigned short>(data.size())));
        break;
    default:
        writer.f32(id, vmsg::floatFromBits(n));
        msg.addTag(new VTagFloat(id, vmsg::floatFromBits(n)));
        break;
    }
}

TEST(WireWriter, WritesWhatGetMsgWritesIncludingEveryCut)
{
    // Lengths around the cuts: a text keeps 1017 characters, bytes 1018.
    const std::size_t lengths[] = {0, 1, 15, 16, 17, 1016, 1017, 1018, 1019, 1100};
    std::mt19937 rng(7);
    for (int round = 0; round < 400; ++round) {
        SCOPED_TRACE(round);
        const std::size_t capacity = round % 3 ? vmsg::kMaxBlock + rng() % 200 : rng() % 1100;
        Bytes out(capacity + 1, 0xA5);
        vmsg::Writer writer(out.data(), capacity, 0x42, 0x80);
        VMsg msg(0x42);
        msg.mFlags = 0x80;
        for (unsigned tags = rng() % 6; tags; --tags) {
            std::string data(rng() % 2 ? lengths[rng() % 10] : rng() % 40, 'q');
            if (!data.empty() && rng() % 5 == 0)
                data[rng() % data.size()] = '\0'; // a text ends at its first NUL
            addBoth(writer, msg, static_cast<unsigned char>(rng()), static_cast<int>(rng() % 7), data,
                    static_cast<std::uint32_t>(rng()));
        }
        Bytes classic(std::max<std::size_t>(capacity, 1));
        const unsigned short written = msg.getMsg(classic.data(), static_cast<unsigned short>(capacity));
        ASSERT_EQ(writer.ok(), written != 0) << "capacity " << capacity << ", payload " << msg.mLength;
        EXPECT_EQ(out[capacity], 0xA5);
        if (!written)
            continue;
        ASSERT_EQ(writer.size(), written);
        EXPECT_TRUE(std::equal(classic.begin(), classic.begin() + written, out.begin()));
        // And it reads back as the same tags.
        EXPECT_EQ(readAll(Bytes(out.begin(), out.begin() + written)).tags,
                  parsedTags(Bytes(classic.begin(), classic.begin() + written)));
    }
}

TEST(WireWriter, ARefusedTagWritesNothingAndEndsTheBlock)
{
    unsigned char out[16];
    std::fill(std::begin(out), std::end(out), 0xEE);
    vmsg::Writer writer(out, 12, 0x21);
    EXPECT_TRUE(writer.u8(1, 7));         // 2 + 5 = 7 bytes
    EXPECT_FALSE(writer.u32(2, 5));       // would need 15
    EXPECT_FALSE(writer.u8(3, 9));        // would fit, but the block is over
    EXPECT_FALSE(writer.ok());
    EXPECT_EQ(writer.size(), 7u);
    EXPECT_EQ(Bytes(out, out + 8), hex("21 00 01 04 00 01 07 ee"));

    // A capacity beyond 1024 bytes does not take a block past 1024.
    std::vector<unsigned char> big(4096);
    vmsg::Writer full(big.data(), big.size(), 1);
    const std::string bytes(vmsg::kMaxPayload, 'b');
    EXPECT_TRUE(full.bytes(1, bytes.data(), bytes.size()));
    EXPECT_EQ(full.size(), vmsg::kMaxBlock);
    EXPECT_FALSE(full.null(2));

    // A header that does not fit writes nothing at all.
    unsigned char one = 0xEE;
    vmsg::Writer tiny(&one, 1, 0x21);
    EXPECT_FALSE(tiny.ok());
    EXPECT_EQ(tiny.size(), 0u);
    EXPECT_EQ(one, 0xEE);
    EXPECT_FALSE(tiny.null(1));
    EXPECT_FALSE(vmsg::Writer(nullptr, 100, 0x21).ok());
}

TEST(WireTypes, TheTableAnswersForEveryClassAndCode)
{
    VTagNull null(1);
    char text[] = "t";
    VTagString string(1, text);
    VTagUInt32 u32(1, 1u);
    VTagUInt16 u16(1, static_cast<unsigned short>(1));
    VTagUInt8 u8(1, static_cast<unsigned char>(1));
    VTagBytes bytes(1, nullptr, 0);
    VTagFloat f32(1, 1.0f);
    VTag* tags[] = {&null, &string, &u32, &u16, &u8, &bytes, &f32};
    const unsigned expected[] = {0, 1018, 4, 2, 1, 1018, 4};
    for (unsigned code = 0; code < vmsg::kTypeCount; ++code) {
        const vmsg::TypeInfo* type = vmsg::typeInfo(code);
        ASSERT_NE(type, nullptr);
        EXPECT_EQ(type->code, code);
        EXPECT_EQ(static_cast<unsigned>(tags[code]->mType), code);
        EXPECT_EQ(tags[code]->getMaxLength(), expected[code]);
        EXPECT_EQ(type->maxPayload, expected[code]);
        EXPECT_EQ(vmsg::typeInfo(type->name), type);
    }
    EXPECT_EQ(vmsg::typeInfo(7u), nullptr);
    EXPECT_EQ(vmsg::typeInfo("u64"), nullptr);
    EXPECT_STREQ(vmsg::kTypes[VTag::TagFloat].name, "f32");
}

} // namespace
