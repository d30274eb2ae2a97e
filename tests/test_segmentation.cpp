// Splitting a message into frame-sized segments and joining them again.
#include <VMsg.h>
#include <vmsg.hpp>

#include "LogCapture.h"
#include "TestHelpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace {


// A raw-bytes tag: @p size payload bytes, size + 4 on the wire.
VTag* bytesTag(unsigned char id, unsigned short size)
{
    Bytes data(size, id);
    return new VTagBytes(id, data.data(), size);
}

// A message with raw-bytes tags of the given payload sizes, with ids
// counting up from @p firstId.
std::unique_ptr<VMsg> messageOf(const std::vector<unsigned short>& sizes, unsigned char flags = 0,
                                unsigned char firstId = 1, unsigned char msgId = 0x42)
{
    auto msg = std::make_unique<VMsg>(msgId);
    msg->mFlags = flags;
    for (unsigned short size : sizes)
        msg->addTag(bytesTag(firstId++, size));
    return msg;
}

std::vector<VMsg*> segmentsOf(const VMsg& parent)
{
    std::vector<VMsg*> segments;
    for (VMsg* s = parent.mFirstSegment; s; s = s->mNextSegment)
        segments.push_back(s);
    return segments;
}

std::vector<int> idsOf(const VMsg& msg)
{
    std::vector<int> ids;
    for (const VTag* t = msg.mFirstTag; t; t = t->mNext)
        ids.push_back(t->mId);
    return ids;
}

// getMsg into a heap block of exactly 2 + mLength bytes (ASan watches its end).
Bytes writeExact(VMsg& msg)
{
    const std::size_t size = 2u + msg.mLength;
    std::unique_ptr<unsigned char[]> block(new unsigned char[size]);
    EXPECT_EQ(msg.getMsg(block.get(), static_cast<unsigned short>(size)), size);
    return Bytes(block.get(), block.get() + size);
}

std::unique_ptr<VMsg> parseExact(const Bytes& bytes)
{
    std::unique_ptr<unsigned char[]> block(new unsigned char[bytes.size()]);
    std::memcpy(block.get(), bytes.data(), bytes.size());
    const auto size = static_cast<unsigned short>(bytes.size());
    return std::unique_ptr<VMsg>(VMsg::parseMsg(block.get(), size));
}

TEST(SegmentMessage, ThreeTagsInto32ByteFramesLogEachDecision)
{
    auto parent = messageOf({10, 10, 10});
    LogCapture log("VMsg");
    VMsg* first = parent->segmentMessage(32);
    const std::vector<VMsg*> segments = segmentsOf(*parent);
    ASSERT_EQ(segments.size(), 2u);
    EXPECT_EQ(first, segments[0]);

    // Each new segment's constructor line follows the decision that made it.
    const std::vector<std::string> expected = {
        "VMsg() - " + pointerText(segments[0]),
        "Segmenting 3 tags for 32 bytes",
        "Is 14+2 < 32",
        "Adding Tag to segment",
        "Is 14+16 < 32",
        "Adding Tag to segment",
        "Is 14+30 < 32",
        "Create new segment",
        "VMsg() - " + pointerText(segments[1]),
        "We're fresh out of tags",
    };
    EXPECT_EQ(log.lines(), expected);
    for (log4cpp::Priority::Value priority : log.priorities())
        EXPECT_EQ(priority, log4cpp::Priority::DEBUG);
    EXPECT_EQ(writeExact(*segments[0]).size(), 30u);
    EXPECT_EQ(writeExact(*segments[1]).size(), 16u);

    // The walk starts on the first segment and stays at null once past the end.
    EXPECT_EQ(parent->getNextSegment(), segments[0]);
    EXPECT_EQ(parent->getNextSegment(), segments[1]);
    EXPECT_EQ(parent->getNextSegment(), nullptr);
    EXPECT_EQ(parent->getNextSegment(), nullptr);
    EXPECT_EQ(parent->resetSegment(), segments[0]);
    EXPECT_EQ(parent->getNextSegment(), segments[0]);

    // The parent logs its own end before its segments end.
    const std::vector<std::string> ends = {"~VMsg() - " + pointerText(parent.get()),
                                           "~VMsg() - " + pointerText(segments[0]),
                                           "~VMsg() - " + pointerText(segments[1])};
    log.clear();
    parent.reset();
    EXPECT_EQ(log.lines(), ends);
}

TEST(SegmentMessage, MessageWithoutTagsGivesOneEmptyLastSegment)
{
    VMsg parent(9);
    parent.mFlags = 0x85;
    EXPECT_EQ(parent.resetSegment(), nullptr);
    EXPECT_EQ(parent.getNextSegment(), nullptr);
    LogCapture log("VMsg");
    VMsg* first = parent.segmentMessage(32);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"VMsg() - " + pointerText(first),
                                                     "Segmenting 0 tags for 32 bytes"}));
    EXPECT_EQ(first->mFirstTag, nullptr);
    EXPECT_EQ(first->mNextSegment, nullptr);
    EXPECT_EQ(first->mId, 9);
    EXPECT_EQ(first->mFlags, 0x05);
}

struct FrameCase {
    const char* name;
    int frame;
    std::vector<unsigned short> payloads;
    std::vector<std::size_t> tagsPerSegment;
};

// Without it GoogleTest prints a parameter as its raw bytes, padding
// included, which the copies in the parameter list leave uninitialised.
void PrintTo(const FrameCase& c, std::ostream* os)
{
    *os << c.name;
}

const FrameCase kFrameCases[] = {
    {"FrameZero", 0, {1, 2}, {0, 1, 1}},
    {"FrameNegative", -3, {1}, {0, 1}},
    {"FrameSixHoldsNoTagBesideHeader", 6, {0, 0}, {0, 1, 1}},
    {"FrameSevenHoldsOneEmptyTag", 7, {0, 0, 0}, {1, 1, 1}},
    {"FirstTagReachingFrameLeavesFirstSegmentEmpty", 20, {14, 1}, {0, 1, 1}},
    {"ThreeTagsInto32ByteFrames", 32, {10, 10, 10}, {2, 1}},
    {"WholeMessageExactlyFrameSizeSplits", 44, {10, 10, 10}, {2, 1}},
    {"WholeMessageBelowFrameStaysWhole", 45, {10, 10, 10}, {3}},
    {"SegmentOpenedByTagCountsItsHeader", 30, {10, 10, 10}, {1, 1, 1}},
    {"LargeTagBetweenSmallOnesGoesAlone", 40, {5, 100, 5, 5}, {1, 1, 2}},
    {"Frame1025TakesLargestTags", 1025, {1018, 1018, 5, 1000}, {1, 1, 2}},
    // A 1500-byte frame would allow a segment getMsg cannot write.
    {"FramesAbove1025AreTreatedAs1025", 1500, {600, 600}, {1, 1}},
};

class SegmentFrameSize : public ::testing::TestWithParam<FrameCase> {};

// Bits 0-6 of the parent's flags (here 0x05) go to every segment; bit 7 marks
// all but the last. Tags keep their order, and a segment holding more than
// one tag stays strictly below the frame size.
TEST_P(SegmentFrameSize, SplitsTagsInOrderBelowFrame)
{
    const FrameCase& c = GetParam();
    auto parent = messageOf(c.payloads, 0x85);
    const unsigned short count = parent->mTagCount;
    const unsigned short length = parent->mLength;
    EXPECT_EQ(parent->segmentMessage(c.frame), parent->mFirstSegment);

    const std::vector<VMsg*> segments = segmentsOf(*parent);
    std::vector<std::size_t> perSegment;
    std::vector<int> ids;
    for (std::size_t i = 0; i < segments.size(); ++i) {
        SCOPED_TRACE(i);
        VMsg& s = *segments[i];
        const std::vector<int> own = idsOf(s);
        perSegment.push_back(own.size());
        ids.insert(ids.end(), own.begin(), own.end());
        EXPECT_EQ(s.mId, parent->mId);
        EXPECT_EQ(s.mFlags, i + 1 < segments.size() ? 0x85 : 0x05);
        VTag* cursor = s.mCurrentTag;
        EXPECT_EQ(cursor, s.gotoLast());
        const Bytes block = writeExact(s);
        if (own.size() > 1) {
            EXPECT_LT(block.size(), static_cast<std::size_t>(c.frame));
        }
    }
    EXPECT_EQ(perSegment, c.tagsPerSegment);
    std::vector<int> expectedIds(c.payloads.size());
    for (std::size_t i = 0; i < expectedIds.size(); ++i)
        expectedIds[i] = static_cast<int>(i + 1);
    EXPECT_EQ(ids, expectedIds);

    EXPECT_EQ(parent->mFirstTag, nullptr);
    EXPECT_EQ(parent->mTagCount, count);
    EXPECT_EQ(parent->mLength, length);
    EXPECT_EQ(parent->mFlags, 0x85);
    if (length <= vmsg::kMaxMessagePayload) { // the emptied parent writes its header only
        Bytes block(2u + length);
        EXPECT_EQ(parent->getMsg(block.data(), static_cast<unsigned short>(block.size())), 2);
    }
}

INSTANTIATE_TEST_SUITE_P(SegmentFrames, SegmentFrameSize, ::testing::ValuesIn(kFrameCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The cursor stood on a tag that now belongs to a segment: a later addTag on
// the parent must not link into the segment's chain.
TEST(SegmentMessage, ParentCursorIsClearedSoNewTagsStayInParent)
{
    auto parent = messageOf({10, 10, 10});
    ASSERT_NE(parent->mCurrentTag, nullptr);
    parent->segmentMessage(32);
    EXPECT_EQ(parent->mCurrentTag, nullptr);

    VTag* extra = new VTagUInt8(9, (unsigned char)9);
    EXPECT_EQ(parent->addTag(extra), 4);
    EXPECT_EQ(parent->mFirstTag, extra);
    const std::vector<VMsg*> segments = segmentsOf(*parent);
    ASSERT_EQ(segments.size(), 2u);
    EXPECT_EQ(idsOf(*segments[0]), (std::vector<int>{1, 2}));
    EXPECT_EQ(idsOf(*segments[1]), (std::vector<int>{3}));
}

TEST(SegmentMessage, SecondCallKeepsExistingSegmentsAndRewindsCursor)
{
    auto parent = messageOf({10, 10, 10});
    VMsg* first = parent->segmentMessage(32);
    const std::vector<VMsg*> before = segmentsOf(*parent);
    while (parent->getNextSegment()) {
    }
    EXPECT_EQ(parent->segmentMessage(1000), first);
    EXPECT_EQ(parent->mCurrentSegment, first);
    EXPECT_EQ(segmentsOf(*parent), before);
    EXPECT_EQ(idsOf(*before[0]), (std::vector<int>{1, 2}));
    EXPECT_EQ(idsOf(*before[1]), (std::vector<int>{3}));
}

TEST(SegmentFlags, LastSegmentMarkTouchesOnlyBitSeven)
{
    EXPECT_TRUE(VMsg(1).isLastSegment());
    auto msg = parseExact({0x11, 0x05});
    ASSERT_TRUE(msg);
    EXPECT_TRUE(msg->isLastSegment());
    msg->setLastSegment(false);
    EXPECT_EQ(msg->mFlags, 0x85);
    EXPECT_FALSE(msg->isLastSegment());
    msg->setLastSegment(true);
    EXPECT_EQ(msg->mFlags, 0x05);
    EXPECT_TRUE(msg->isLastSegment());
}

// Ids and flags are the caller's business: a donor with another id joins all
// the same, and neither header changes.
TEST(SegmentJoin, MovesDonorTagsInOrderAndLeavesHeadersAlone)
{
    auto receiver = parseExact(writeExact(*messageOf({3, 0}, 0x80, 1, 0x42)));
    auto donor = parseExact(writeExact(*messageOf({1, 5, 2}, 0x05, 3, 0x43)));
    ASSERT_TRUE(receiver && donor);
    const unsigned short donorLength = donor->mLength;
    const unsigned joinedLength = receiver->mLength + donorLength;

    receiver->addSegment(donor.get());
    EXPECT_EQ(idsOf(*receiver), (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_EQ(receiver->mTagCount, 5);
    EXPECT_EQ(receiver->mLength, joinedLength);
    EXPECT_EQ(receiver->mId, 0x42);
    EXPECT_EQ(receiver->mFlags, 0x80);
    VTag* cursor = receiver->mCurrentTag;
    EXPECT_EQ(cursor, receiver->gotoLast());

    EXPECT_EQ(donor->mFirstTag, nullptr);
    EXPECT_EQ(donor->mCurrentTag, nullptr);
    EXPECT_EQ(donor->mId, 0x43);
    EXPECT_EQ(donor->mFlags, 0x05);
    EXPECT_EQ(donor->mTagCount, 3);
    EXPECT_EQ(donor->mLength, donorLength);

    donor.reset();
    int walked = 0;
    for (receiver->gotoFirst(); receiver->getTag();)
        ++walked;
    EXPECT_EQ(walked, 5);
}

// A join adds the donor's tags to the counters as addTag does: up to 65535,
// where they stay, while the chain takes every tag.
TEST(SegmentJoin, CountersStopAt65535WhenAJoinCrossesIt)
{
    struct Case {
        unsigned receiver, donor;
    } cases[] = {{65534, 1}, {65534, 2}, {65535, 1}, {40000, 40000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.receiver << " + " << c.donor << " tags");
        VMsg receiver(1);
        VMsg donor(1);
        for (unsigned i = 0; i < c.receiver; ++i)
            receiver.addTag(new VTagNull(1));
        for (unsigned i = 0; i < c.donor; ++i)
            donor.addTag(new VTagNull(2));
        const unsigned short donorCount = donor.mTagCount;
        receiver.addSegment(&donor);
        EXPECT_EQ(receiver.mTagCount, 65535u);
        EXPECT_EQ(receiver.mLength, 65535u);
        EXPECT_EQ(donor.mTagCount, donorCount);
        unsigned chained = 0;
        for (const VTag* tag = receiver.mFirstTag; tag; tag = tag->mNext)
            ++chained;
        EXPECT_EQ(chained, c.receiver + c.donor);
    }
}

TEST(SegmentJoin, IgnoresNullItselfAndEmptyDonor)
{
    auto msg = messageOf({1, 2});
    VTag* cursor = msg->mCurrentTag;
    VMsg empty(3);
    msg->addSegment(nullptr);
    msg->addSegment(msg.get());
    msg->addSegment(&empty);
    EXPECT_EQ(idsOf(*msg), (std::vector<int>{1, 2}));
    EXPECT_EQ(msg->mTagCount, 2);
    EXPECT_EQ(msg->mLength, 11);
    EXPECT_EQ(msg->mCurrentTag, cursor);
}

// Adds random raw-bytes tags to @p msg until a random stop or the largest
// payload: mostly small ones, and with @p sometimesFull now and then one
// as large as the room left.
void addRandomTags(VMsg& msg, std::mt19937& rng, bool sometimesFull)
{
    while (rng() % 12 != 0 && msg.mLength + 4u <= vmsg::kMaxMessagePayload) {
        const unsigned room = vmsg::kMaxMessagePayload - 4u - msg.mLength;
        const unsigned cap = sometimesFull && rng() % 5 == 0 ? room : std::min(room, 60u);
        msg.addTag(bytesTag(static_cast<unsigned char>(rng()), static_cast<unsigned short>(rng() % (cap + 1))));
    }
}

// Send side: segment and write each segment. Receive side: parse each block,
// keep the first and join the rest in arrival order. The joined message,
// marked last, writes the bytes of the original.
TEST(SegmentJoin, ReassembledSegmentsWriteTheOriginalBytes)
{
    std::mt19937 rng(4242);
    for (int frame : {0, 7, 32, 100, 1025}) {
        for (int round = 0; round < 20; ++round) {
            SCOPED_TRACE(testing::Message() << "frame " << frame << " round " << round);
            VMsg original(static_cast<unsigned char>(rng()));
            original.mFlags = static_cast<unsigned char>(rng() & 0x7F);
            addRandomTags(original, rng, true);
            const Bytes whole = writeExact(original);
            original.segmentMessage(frame);

            std::unique_ptr<VMsg> joined;
            while (VMsg* segment = original.getNextSegment()) {
                auto received = parseExact(writeExact(*segment));
                ASSERT_TRUE(received);
                EXPECT_EQ(received->isLastSegment(), segment->mNextSegment == nullptr);
                if (!joined)
                    joined = std::move(received);
                else
                    joined->addSegment(received.get());
            }
            ASSERT_TRUE(joined);
            joined->setLastSegment(true);
            EXPECT_EQ(joined->mTagCount, original.mTagCount);
            EXPECT_EQ(joined->mLength, original.mLength);
            EXPECT_EQ(writeExact(*joined), whole);
        }
    }
}

// The Joiner against the classic reassembly on random segmentations: the
// same tags, counts and bytes, whatever the caller does with the joined
// message's cursor between segments.
TEST(Joiner, JoinsAsAddSegmentDoesWhateverTheCursor)
{
    std::mt19937 rng(777);
    for (int frame : {0, 7, 32, 100, 1025}) {
        for (int round = 0; round < 20; ++round) {
            SCOPED_TRACE(testing::Message() << "frame " << frame << " round " << round);
            VMsg original(static_cast<unsigned char>(rng()));
            original.mFlags = static_cast<unsigned char>(rng() & 0x7F);
            addRandomTags(original, rng, false);
            const Bytes whole = writeExact(original);
            original.segmentMessage(frame);

            std::unique_ptr<VMsg> classic;
            vmsg::Joiner joiner;
            while (VMsg* segment = original.getNextSegment()) {
                const Bytes block = writeExact(*segment);
                auto forClassic = parseExact(block);
                auto forJoiner = parseExact(block);
                ASSERT_TRUE(forClassic && forJoiner);
                if (!classic)
                    classic = std::move(forClassic);
                else
                    classic->addSegment(forClassic.get());
                EXPECT_FALSE(joiner.add(forJoiner));
                EXPECT_EQ(forJoiner, nullptr);
                EXPECT_EQ(joiner.complete(), segment->mNextSegment == nullptr);
                // Look at the joined message as a receiver might.
                VMsg& joined = *joiner.message();
                switch (rng() % 3) {
                case 0: joined.gotoFirst(); break;
                case 1: joined.gotoFirst(); while (joined.getTag()) {} break;
                default: break;
                }
            }
            ASSERT_TRUE(classic && joiner.message());
            EXPECT_EQ(idsOf(*joiner.message()), idsOf(*classic));
            EXPECT_EQ(joiner.message()->mTagCount, classic->mTagCount);
            EXPECT_EQ(joiner.message()->mLength, classic->mLength);
            EXPECT_EQ(joiner.size(), classic->mLength);
            EXPECT_EQ(joiner.steps(), classic->mTagCount);
            std::unique_ptr<VMsg> joined = joiner.release();
            EXPECT_EQ(joiner.message(), nullptr);
            EXPECT_EQ(joined->mFlags, original.mFlags); // the last segment cleared bit 7
            EXPECT_EQ(writeExact(*joined), whole);
        }
    }
}

// 65535 one-byte tags in 64-byte frames, with the joined message rewound
// and read between segments (and walked whole now and then, as the
// endpoint's checks do): the joiner steps over each tag once, where
// addSegment would walk the joined chain again after every rewind.
TEST(Joiner, StepsOncePerTagWithTheCursorMovedBetweenSegments)
{
    VMsg original(0x31);
    for (unsigned i = 0; i < vmsg::kMaxJoinedTags; ++i)
        original.addTag(new VTagUInt8(static_cast<unsigned char>(i), static_cast<unsigned char>(i >> 8)));
    original.segmentMessage(64);
    vmsg::Joiner joiner;
    unsigned segments = 0;
    while (VMsg* segment = original.getNextSegment()) {
        unsigned char block[64];
        const unsigned short n = segment->getMsg(block, sizeof block);
        ASSERT_GT(n, 0u);
        std::unique_ptr<VMsg> received(VMsg::parseMsg(block, n));
        ASSERT_FALSE(joiner.add(received));
        VMsg& joined = *joiner.message();
        joined.gotoFirst();
        joined.getTag();
        if (++segments % 1024 == 0) {
            while (joined.getTag()) {}
        }
    }
    EXPECT_GT(segments, 5000u);
    EXPECT_TRUE(joiner.complete());
    EXPECT_EQ(joiner.count(), vmsg::kMaxJoinedTags);
    EXPECT_EQ(joiner.steps(), vmsg::kMaxJoinedTags);
    std::unique_ptr<VMsg> joined = joiner.release();
    EXPECT_EQ(joined->mTagCount, vmsg::kMaxJoinedTags);
    unsigned i = 0;
    for (const VTag& tag : vmsg::tags(*joined)) {
        ASSERT_EQ(tag.mId, static_cast<unsigned char>(i));
        ASSERT_EQ(vmsg::value<std::uint8_t>(tag), static_cast<unsigned char>(i >> 8));
        ++i;
    }
    EXPECT_EQ(i, vmsg::kMaxJoinedTags);
}

TEST(Joiner, RefusesWhatWouldPassItsBoundAndKeepsTheSegment)
{
    // Three segments of 2 tags of 10 bytes: 28 bytes of tags each.
    auto segment = [](unsigned char firstId, bool last) {
        auto msg = messageOf({10, 10}, last ? 0 : 0x80, firstId);
        return msg;
    };
    vmsg::Joiner joiner(56);
    EXPECT_EQ(joiner.maxJoined(), 56u);
    auto first = segment(1, false);
    auto second = segment(3, false);
    auto third = segment(5, true);
    EXPECT_FALSE(joiner.add(first));
    EXPECT_FALSE(joiner.add(second)); // exactly at the bound
    vmsg::Errors refused = joiner.add(third);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused.size(), 1u);
    EXPECT_EQ(refused.front().mCode, ErrJoinTooLarge);
    EXPECT_STREQ(vmsg::errorName(ErrJoinTooLarge), "ErrJoinTooLarge");
    ASSERT_TRUE(third);
    EXPECT_EQ(idsOf(*third), (std::vector<int>{5, 6}));
    EXPECT_EQ(idsOf(*joiner.message()), (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(joiner.size(), 56u);
    EXPECT_EQ(joiner.message()->mLength, 56u);
    EXPECT_FALSE(joiner.complete());

    std::unique_ptr<VMsg> none;
    vmsg::Errors null = joiner.add(none);
    EXPECT_TRUE(null.contains(ErrNullArgument));

    // A first segment above the bound is refused as well.
    vmsg::Joiner small(27);
    EXPECT_TRUE(small.add(third).contains(ErrJoinTooLarge));
    EXPECT_EQ(small.message(), nullptr);
    ASSERT_TRUE(third);

    // No more tags than the 16-bit count holds, whatever the byte bound.
    vmsg::Joiner many(std::size_t{1} << 30);
    auto big = std::make_unique<VMsg>(1);
    for (unsigned i = 0; i < vmsg::kMaxJoinedTags; ++i)
        big->addTag(new VTagNull(1));
    auto one = std::make_unique<VMsg>(1);
    one->addTag(new VTagNull(2));
    EXPECT_FALSE(many.add(big));
    EXPECT_TRUE(many.add(one).contains(ErrJoinTooLarge));
    EXPECT_EQ(many.message()->mTagCount, 65535u);
}

// Tags the caller appends between segments stay where they were put, and
// the next segment goes behind them; the empty joiner starts afresh after
// release, and moving a joiner moves what it joined.
TEST(Joiner, KeepsTagsTheCallerAppendedAndStartsAgainAfterRelease)
{
    vmsg::Joiner joiner;
    auto empty = std::make_unique<VMsg>(0x44);
    empty->mFlags = 0x85;
    EXPECT_FALSE(joiner.add(empty));
    EXPECT_EQ(joiner.message()->mId, 0x44);
    joiner.message()->addTag(bytesTag(9, 1));
    joiner.message()->gotoFirst();
    auto next = messageOf({2, 3}, 0x01, 1);
    EXPECT_FALSE(joiner.add(next));
    EXPECT_EQ(idsOf(*joiner.message()), (std::vector<int>{9, 1, 2}));
    EXPECT_EQ(joiner.message()->mFlags, 0x05); // bits 0-6 of the first, bit 7 of the last
    EXPECT_EQ(joiner.message()->mCurrentTag->mId, 2);
    EXPECT_EQ(joiner.message()->mTagCount, 3);
    EXPECT_TRUE(joiner.complete());

    vmsg::Joiner moved(std::move(joiner));
    EXPECT_EQ(joiner.message(), nullptr);
    auto more = messageOf({4}, 0, 7);
    EXPECT_FALSE(moved.add(more));
    EXPECT_EQ(idsOf(*moved.message()), (std::vector<int>{9, 1, 2, 7}));
    std::unique_ptr<VMsg> whole = moved.release();
    EXPECT_EQ(moved.size(), 0u);
    EXPECT_EQ(moved.steps(), 0u);
    EXPECT_FALSE(moved.complete());

    auto again = messageOf({1}, 0, 5, 0x45);
    EXPECT_FALSE(moved.add(again));
    EXPECT_EQ(moved.message()->mId, 0x45);
    EXPECT_EQ(idsOf(*moved.message()), (std::vector<int>{5}));
    EXPECT_EQ(idsOf(*whole), (std::vector<int>{9, 1, 2, 7}));
}

// Segments are messages and can be segmented again; the parent's end must
// reach every level. Every message begun is ended exactly once.
TEST(SegmentLifetime, ParentReleasesNestedSegmentsOnce)
{
    LogCapture log("VMsg");
    {
        auto parent = messageOf({10, 10, 10, 10, 10});
        parent->segmentMessage(40);
        const std::vector<VMsg*> segments = segmentsOf(*parent);
        ASSERT_EQ(segments.size(), 3u);
        segments[1]->segmentMessage(6);
        EXPECT_EQ(segmentsOf(*segments[1]).size(), 3u);
        EXPECT_EQ(segments[1]->mFirstTag, nullptr);
    }
    std::vector<std::string> begun, ended;
    for (const std::string& line : log.lines()) {
        if (line.rfind("VMsg() - ", 0) == 0)
            begun.push_back(line.substr(9));
        else if (line.rfind("~VMsg() - ", 0) == 0)
            ended.push_back(line.substr(10));
    }
    std::sort(begun.begin(), begun.end());
    std::sort(ended.begin(), ended.end());
    EXPECT_EQ(begun.size(), 7u);
    EXPECT_EQ(ended, begun);
}

} // namespace
