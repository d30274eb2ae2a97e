// Fuzz target: the in-place reader and writer against the classic API.
//
// The input is read twice. As a block, vmsg::Reader must take exactly the
// tags that VMsg::parseMsg builds (id, type, value, count) and stop where
// parseMsg stops. As a program, it drives a vmsg::Writer and, beside it, a
// VMsg of the same tags built with the typed constructors: the writer's
// block must be byte for byte what getMsg writes into the same capacity,
// refused in the same cases, and the reader must read back what the writer
// wrote.
#include "FuzzSupport.h"

#include <VMsg.h>
#include <VWire.h>

#include <algorithm>
#include <memory>
#include <string_view>

using vmsgfuzz::chainOf;
using vmsgfuzz::typeCode;

namespace {

std::string_view payloadOf(const VTag& tag)
{
    return {reinterpret_cast<const char*>(tag.mData), tag.mData ? tag.mLength : 0u};
}

// The view holds what the library's tag holds.
void checkSame(const vmsg::TagView& view, const VTag& tag)
{
    FUZZ_CHECK(view.id == tag.mId);
    FUZZ_CHECK(view.type == typeCode(tag));
    switch (view.type) {
    case VTag::TagNull:
        FUZZ_CHECK(tag.mLength == 0);
        break;
    case VTag::TagString: {
        // The tag holds the characters and their NUL.
        const std::string_view held = payloadOf(tag);
        FUZZ_CHECK(!held.empty() && held.back() == '\0');
        FUZZ_CHECK(view.text() == held.substr(0, held.size() - 1));
        break;
    }
    case VTag::TagUInt32:
        FUZZ_CHECK(view.u32() == static_cast<const VTagUInt32&>(tag).getValue());
        break;
    case VTag::TagFloat:
        FUZZ_CHECK(vmsg::bitsOfFloat(view.f32()) ==
                   vmsg::bitsOfFloat(static_cast<const VTagUInt32&>(tag).getFloatValue()));
        break;
    case VTag::TagUInt16:
        FUZZ_CHECK(view.u16() == static_cast<const VTagUInt16&>(tag).getValue());
        break;
    case VTag::TagUInt8:
        FUZZ_CHECK(view.u8() == static_cast<const VTagUInt8&>(tag).getValue());
        break;
    case VTag::TagBytes:
        FUZZ_CHECK(view.bytes() == payloadOf(tag));
        break;
    default:
        FUZZ_CHECK(!"the reader took a tag of an unknown type code");
    }
}

// Reader and parseMsg over the same block.
void checkReader(const std::vector<unsigned char>& block)
{
    vmsg::Reader reader(block.data(), block.size());
    std::unique_ptr<VMsg> msg(VMsg::parseMsg(block.data(), static_cast<unsigned short>(block.size())));
    if (block.size() < 2) {
        FUZZ_CHECK(!msg && reader.stop() == vmsg::Stop::ShortBlock && reader.offset() == 0);
        vmsg::TagView view;
        FUZZ_CHECK(!reader.next(view));
        return;
    }
    FUZZ_CHECK(msg && reader.id() == msg->mId && reader.flags() == msg->mFlags);
    const std::vector<VTag*> tags = chainOf(*msg);
    vmsg::TagView view;
    std::size_t count = 0;
    std::size_t end = 2;
    while (reader.next(view)) {
        FUZZ_CHECK(count < tags.size());
        FUZZ_CHECK(view.offset == end);
        checkSame(view, *tags[count]);
        end += view.size();
        ++count;
    }
    FUZZ_CHECK(count == tags.size());
    FUZZ_CHECK(!reader.next(view));
    FUZZ_CHECK(reader.offset() == end);
    FUZZ_CHECK((reader.stop() == vmsg::Stop::End) == (end == block.size()));
    // The refused tag is refused by parseTag too, and the view names it.
    if (end < block.size()) {
        FUZZ_CHECK(view.offset == end);
        auto* at = const_cast<unsigned char*>(block.data() + end);
        FUZZ_CHECK(VTag::parseTag(at, static_cast<unsigned short>(block.size() - end), nullptr) == nullptr);
    }
}

// One tag built both ways from the input: returns false when the input
// has run out.
bool addTag(vmsgfuzz::Input& in, vmsg::Writer& writer, VMsg& msg, std::vector<unsigned char>& texts)
{
    if (in.empty())
        return false;
    const unsigned op = in.byte();
    const unsigned char id = in.byte();
    switch (op % 7) {
    case VTag::TagNull:
        writer.null(id);
        msg.addTag(new VTagNull(id));
        break;
    case VTag::TagString: {
        // Up to 1100 characters, NULs possible: cut at 1017 or the first NUL.
        const std::size_t count = in.u16() % 1101;
        texts = in.bytes(count);
        const std::string_view text(reinterpret_cast<const char*>(texts.data()), texts.size());
        writer.text(id, text);
        msg.addTag(new VTagString(id, text.data(), static_cast<unsigned short>(text.size())));
        break;
    }
    case VTag::TagUInt32: {
        const std::uint32_t value = (std::uint32_t{in.u16()} << 16) | in.u16();
        writer.u32(id, value);
        msg.addTag(new VTagUInt32(id, static_cast<unsigned int>(value)));
        break;
    }
    case VTag::TagUInt16: {
        const std::uint16_t value = in.u16();
        writer.u16(id, value);
        msg.addTag(new VTagUInt16(id, value));
        break;
    }
    case VTag::TagUInt8: {
        const std::uint8_t value = in.byte();
        writer.u8(id, value);
        msg.addTag(new VTagUInt8(id, value));
        break;
    }
    case VTag::TagBytes: {
        const std::size_t count = in.u16() % 1101;
        std::vector<unsigned char> bytes = in.bytes(count);
        writer.bytes(id, bytes.data(), bytes.size());
        msg.addTag(new VTagBytes(id, bytes.data(), static_cast<unsigned short>(bytes.size())));
        break;
    }
    default: {
        const float value = vmsg::floatFromBits((std::uint32_t{in.u16()} << 16) | in.u16());
        writer.f32(id, value);
        msg.addTag(new VTagFloat(id, value));
        break;
    }
    }
    return true;
}

void checkWriter(const std::uint8_t* data, std::size_t size)
{
    vmsgfuzz::Input in(data, size);
    const std::size_t capacity = in.u16() % 1100;
    const unsigned char id = in.byte();
    const unsigned char flags = in.byte();
    std::vector<unsigned char> out(capacity + 1, 0xA5);
    vmsg::Writer writer(out.data(), capacity, id, flags);
    VMsg msg(id);
    msg.mFlags = flags;
    std::vector<unsigned char> texts;
    // The size after the last tag the writer took, and the tags it took.
    std::size_t taken = 0;
    std::size_t takenSize = writer.size();
    while (msg.mTagCount < 200 && addTag(in, writer, msg, texts)) {
        if (writer.ok()) {
            taken = msg.mTagCount;
            takenSize = writer.size();
        }
    }
    FUZZ_CHECK(writer.size() == takenSize);
    FUZZ_CHECK(out[capacity] == 0xA5); // nothing beyond the capacity
    FUZZ_CHECK(std::all_of(out.begin() + static_cast<std::ptrdiff_t>(writer.size()), out.end(),
                           [](unsigned char b) { return b == 0xA5; }));

    // getMsg into the same capacity: written exactly when the writer wrote
    // every tag, and then the same bytes.
    std::vector<unsigned char> classic(std::max<std::size_t>(capacity, 1));
    const unsigned short written =
        msg.getMsg(capacity ? classic.data() : nullptr, static_cast<unsigned short>(capacity));
    FUZZ_CHECK((written != 0) == writer.ok());
    if (writer.ok()) {
        FUZZ_CHECK(written == writer.size());
        FUZZ_CHECK(std::equal(out.begin(), out.begin() + written, classic.begin()));
    }
    if (writer.size() == 0) {
        FUZZ_CHECK(capacity < 2 && !writer.ok());
        return;
    }

    // The writer's block is the classic encoding of the tags it took, and
    // reads back as those tags.
    const std::vector<VTag*> tags = chainOf(msg);
    std::vector<unsigned char> prefix{id, flags};
    for (std::size_t i = 0; i < taken; ++i) {
        const std::vector<unsigned char> wire = vmsgfuzz::encodeTag(*tags[i]);
        prefix.insert(prefix.end(), wire.begin(), wire.end());
    }
    FUZZ_CHECK(prefix.size() == writer.size());
    FUZZ_CHECK(std::equal(prefix.begin(), prefix.end(), out.begin()));
    vmsg::Reader reader(writer.data(), writer.size());
    vmsg::TagView view;
    std::size_t read = 0;
    while (reader.next(view)) {
        FUZZ_CHECK(read < taken);
        checkSame(view, *tags[read++]);
    }
    FUZZ_CHECK(read == taken && reader.stop() == vmsg::Stop::End);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::vector<unsigned char> block(data, data + std::min<std::size_t>(size, 0xFFFF));
    checkReader(block);
    checkWriter(data, size);
    return 0;
}
