// Fuzz target: a message read from arbitrary bytes, written, read again.
//
// parseMsg keeps exactly the tags that the reader takes walking the block,
// with counts that describe its chain. Written with getMsg and read again,
// the message is equal tag by tag, and its encoding is byte-equal to the
// first. The cursor operations and addTag keep chain and counts consistent:
// addTag always appends at the end, wherever the cursor stands.
#include "FuzzSupport.h"

#include <VMsg.h>
#include <VWire.h>

#include <algorithm>
#include <memory>

using vmsgfuzz::chainOf;
using vmsgfuzz::checkCounts;
using vmsgfuzz::encodeMsg;
using vmsgfuzz::encodeTag;
using vmsgfuzz::sameTag;

namespace {

// The tags that parseTag accepts at each tag the reader takes from the
// block; the reader must step forward, stay in the block and end at the
// first tag it refuses (or at the end).
std::vector<std::unique_ptr<VTag>> walkTags(std::vector<unsigned char>& block)
{
    std::vector<std::unique_ptr<VTag>> tags;
    vmsg::Reader reader(block.data(), block.size());
    vmsg::TagView view;
    std::size_t pos = 2;
    while (reader.next(view)) {
        FUZZ_CHECK(view.offset == pos && view.offset + view.size() <= block.size());
        std::unique_ptr<VTag> tag(
            VTag::parseTag(block.data() + pos, static_cast<unsigned short>(block.size() - pos), nullptr));
        FUZZ_CHECK(tag != nullptr);
        pos += view.size();
        tags.push_back(std::move(tag));
    }
    FUZZ_CHECK(reader.offset() == pos);
    FUZZ_CHECK((reader.stop() == vmsg::Stop::End) == (pos == block.size()));
    if (pos < block.size())
        FUZZ_CHECK(VTag::parseTag(block.data() + pos, static_cast<unsigned short>(block.size() - pos), nullptr) ==
                   nullptr);
    return tags;
}

void checkSameTags(const VMsg& a, const VMsg& b)
{
    const std::vector<VTag*> x = chainOf(a);
    const std::vector<VTag*> y = chainOf(b);
    FUZZ_CHECK(x.size() == y.size());
    for (std::size_t i = 0; i < x.size(); ++i)
        FUZZ_CHECK(sameTag(*x[i], *y[i]));
}

// getMsg refuses null and short buffers without writing anything.
void checkRefusals(VMsg& msg)
{
    const unsigned whole = msg.mLength + 2u;
    FUZZ_CHECK(msg.getMsg(nullptr, static_cast<unsigned short>(std::min(whole, 0xFFFFu))) == 0);
    if (whole > 0xFFFF)
        return;
    std::vector<unsigned char> shortBuffer(whole - 1, 0xA5);
    FUZZ_CHECK(msg.getMsg(shortBuffer.data(), static_cast<unsigned short>(whole - 1)) == 0);
    FUZZ_CHECK(std::all_of(shortBuffer.begin(), shortBuffer.end(), [](unsigned char b) { return b == 0xA5; }));
}

// The cursor walks the chain in order; gotoLast lands on the last tag.
void checkCursor(VMsg& msg)
{
    const std::vector<VTag*> tags = chainOf(msg);
    FUZZ_CHECK(msg.gotoFirst() == msg.mFirstTag);
    for (VTag* tag : tags)
        FUZZ_CHECK(msg.getTag() == tag);
    FUZZ_CHECK(msg.getTag() == nullptr);
    FUZZ_CHECK(msg.mCurrentTag == nullptr);

    VTag* last = msg.gotoLast();
    if (tags.empty()) {
        FUZZ_CHECK(last == nullptr);
        return;
    }
    FUZZ_CHECK(last == tags.back());
    FUZZ_CHECK(msg.mCurrentTag == last);
    FUZZ_CHECK(msg.getTag() == last);
    FUZZ_CHECK(msg.getTag() == nullptr);
}

// Appends a tag with the cursor at @p steps tags from the start (or past the
// end); the tag must land at the end of the chain.
void appendWithCursorAt(VMsg& msg, std::size_t steps, VTag* tag)
{
    const std::vector<VTag*> before = chainOf(msg);
    const unsigned short count = msg.mTagCount;
    const unsigned short length = msg.mLength;
    msg.gotoFirst();
    for (std::size_t i = 0; i < steps; ++i)
        msg.getTag();
    FUZZ_CHECK(msg.addTag(tag) == vmsgfuzz::saturated(count + 1u));
    std::vector<VTag*> after = chainOf(msg);
    FUZZ_CHECK(after.size() == before.size() + 1);
    FUZZ_CHECK(std::equal(before.begin(), before.end(), after.begin()));
    FUZZ_CHECK(after.back() == tag);
    FUZZ_CHECK(msg.mCurrentTag == tag);
    FUZZ_CHECK(msg.mLength == vmsgfuzz::saturated(length + tag->mLength + 4u));
    FUZZ_CHECK(msg.gotoLast() == tag);
    checkCounts(msg);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::size_t length = std::min<std::size_t>(size, 0xFFFF);
    std::vector<unsigned char> in(data, data + length);
    std::unique_ptr<VMsg> first(VMsg::parseMsg(in.data(), static_cast<unsigned short>(length)));
    FUZZ_CHECK(std::equal(in.begin(), in.end(), data));
    if (length < 2) {
        FUZZ_CHECK(first == nullptr);
        return 0;
    }
    FUZZ_CHECK(first != nullptr);
    FUZZ_CHECK(first->mId == in[0]);
    FUZZ_CHECK(first->mFlags == in[1]);
    FUZZ_CHECK(first->mFirstSegment == nullptr && first->mNextSegment == nullptr);
    checkCounts(*first);

    // The same tags as a walk with parseTag finds.
    {
        const std::vector<std::unique_ptr<VTag>> walked = walkTags(in);
        const std::vector<VTag*> chain = chainOf(*first);
        FUZZ_CHECK(walked.size() == chain.size());
        for (std::size_t i = 0; i < chain.size(); ++i)
            FUZZ_CHECK(sameTag(*walked[i], *chain[i]));
    }

    checkRefusals(*first);
    checkCursor(*first);

    const std::vector<unsigned char> second = encodeMsg(*first);
    FUZZ_CHECK(first->mCurrentTag == nullptr);
    if (vmsgfuzz::chainSize(*first) > vmsg::kMaxMessagePayload) {
        // Too large to write: refused whatever the buffer, also when the
        // 16-bit mLength has wrapped to a small value.
        FUZZ_CHECK(second.empty());
        std::vector<unsigned char> big(0xFFFF);
        FUZZ_CHECK(first->getMsg(big.data(), 0xFFFF) == 0);
        return 0;
    }
    FUZZ_CHECK(second.size() == first->mLength + 2u);

    std::unique_ptr<VMsg> reread(VMsg::parseMsg(second.data(), static_cast<unsigned short>(second.size())));
    FUZZ_CHECK(reread != nullptr);
    FUZZ_CHECK(reread->mId == first->mId && reread->mFlags == first->mFlags);
    FUZZ_CHECK(reread->mTagCount == first->mTagCount && reread->mLength == first->mLength);
    checkSameTags(*first, *reread);
    const std::vector<unsigned char> third = encodeMsg(*reread);
    FUZZ_CHECK(third == second);

    // Appending behind a cursor left anywhere: at the start, in the middle,
    // on the last tag and past the end.
    const std::size_t count = reread->mTagCount;
    const std::size_t positions[] = {0, count / 2, count ? count - 1 : 0, count + 1};
    std::vector<std::vector<unsigned char>> added;
    for (std::size_t steps : positions) {
        VTag* source = reread->mFirstTag;
        VTag* tag = source ? VTagFactory::createVTag(source) : VTagFactory::createVTag(in[0], in[1]);
        FUZZ_CHECK(tag != nullptr);
        added.push_back(encodeTag(*tag));
        appendWithCursorAt(*reread, steps, tag);
    }
    FUZZ_CHECK(reread->addTag(nullptr) == reread->mTagCount);
    checkCursor(*reread);

    // Written again: the old encoding, the appended tags, a new total.
    const std::vector<unsigned char> grown = encodeMsg(*reread);
    if (vmsgfuzz::chainSize(*reread) <= vmsg::kMaxMessagePayload) {
        std::vector<unsigned char> expected = second;
        for (const auto& wire : added)
            expected.insert(expected.end(), wire.begin(), wire.end());
        FUZZ_CHECK(grown == expected);
    } else {
        FUZZ_CHECK(grown.empty());
    }

    // Joining moves every tag, in order; the source keeps no chain.
    const std::vector<VTag*> firstTags = chainOf(*first);
    const std::vector<VTag*> movedTags = chainOf(*reread);
    first->gotoFirst();
    first->addSegment(reread.get());
    FUZZ_CHECK(reread->mFirstTag == nullptr && reread->mCurrentTag == nullptr);
    std::vector<VTag*> joined = firstTags;
    joined.insert(joined.end(), movedTags.begin(), movedTags.end());
    FUZZ_CHECK(chainOf(*first) == joined);
    checkCounts(*first);
    first->addSegment(first.get());
    first->addSegment(nullptr);
    FUZZ_CHECK(chainOf(*first) == joined);
    return 0;
}
