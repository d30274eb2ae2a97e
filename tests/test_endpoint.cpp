// The queue list, error records, dictionary lookups and the endpoint.
#include <Carrow.h>

#include "LogCapture.h"
#include "TestHelpers.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

static_assert(std::is_aggregate_v<CarrowDictDef> && std::is_aggregate_v<CarrowMsgDef> &&
                  std::is_aggregate_v<CarrowTagDef> && std::is_aggregate_v<CarrowMetaDef>,
              "applications fill the dictionary records in place");
static_assert(!std::is_copy_constructible_v<VList> && !std::is_copy_assignable_v<VList> &&
                  !std::is_copy_constructible_v<VError> && !std::is_copy_constructible_v<Carrow> &&
                  !std::is_copy_assignable_v<Carrow>,
              "owning classes must not be copied");

namespace {


struct Err {
    unsigned short code;
    Bytes detail;
    bool operator==(const Err& other) const { return code == other.code && detail == other.detail; }
};
using Errs = std::vector<Err>;

std::ostream& operator<<(std::ostream& os, const Err& err)
{
    os << "{code " << err.code << ", detail";
    for (unsigned char b : err.detail)
        os << ' ' << static_cast<int>(b);
    return os << '}';
}

// Reads an error list the library returned, checks the record invariants,
// and frees the list with its records. Null reads as no records.
Errs take(VList* list)
{
    Errs out;
    if (!list)
        return out;
    while (auto* error = static_cast<VError*>(list->pull())) {
        EXPECT_EQ(static_cast<unsigned short>(error->mType), error->mCode);
        if (error->mLength == 0) {
            EXPECT_EQ(error->mData, nullptr);
        }
        out.push_back({error->mCode, Bytes(error->mData, error->mData + error->mLength)});
        delete error;
    }
    delete list;
    EXPECT_FALSE(out.empty()) << "an error list is never empty";
    return out;
}



const unsigned char kPingTags[] = {1, 2};
// 0x21 is listed twice, 0x30 lies beyond the count and must stay unseen.
const CarrowMsgDef kMsgDefs[] = {{0x21, 0, nullptr}, {0x22, 2, kPingTags}, {0x21, 1, kPingTags},
                                 {0, 0, nullptr},    {255, 0, nullptr},    {0x30, 0, nullptr}};
const CarrowTagDef kTagDefs[] = {{5, VTag::TagUInt8, "count"}, {5, VTag::TagString, "again"},
                                 {0, VTag::TagNull, nullptr},  {255, VTag::TagBytes, "blob"}};
const CarrowMetaDef kMetaDefs[] = {{40, VTag::TagUInt8, "group", "Group"}, {255, VTag::TagNull, nullptr, nullptr}};
const CarrowDictDef kDict = {{0, 0}, 5, 4, 2, kMsgDefs, kTagDefs, kMetaDefs};

VMsg* message(unsigned char id, std::initializer_list<VTag*> tags = {})
{
    auto* msg = new VMsg(id);
    for (VTag* tag : tags)
        msg->addTag(tag);
    return msg;
}

} // namespace

// ---- VList ----------------------------------------------------------------

TEST(List, CursorRunsOffEndAndLaterAddDoesNotMoveIt)
{
    int a = 1, b = 2;
    VList list;
    list.add(&a);
    EXPECT_EQ(list.get(), &a);
    EXPECT_EQ(list.getfirst(), &a);
    EXPECT_FALSE(list.step());
    EXPECT_EQ(list.get(), nullptr);
    EXPECT_FALSE(list.step());
    list.add(&b);
    EXPECT_EQ(list.get(), nullptr);
    EXPECT_EQ(list.getfirst(), &a);
    EXPECT_EQ(list.mCount, 2u);
    // Pulling puts the cursor back on the new head.
    EXPECT_EQ(list.pull(), &a);
    EXPECT_EQ(list.get(), &b);
}

TEST(List, PullReturnsItemsInOrderAndResetsCursorToNewHead)
{
    int items[3] = {};
    VList list;
    for (int& item : items)
        list.add(&item);
    EXPECT_TRUE(list.step());
    EXPECT_TRUE(list.step());
    EXPECT_FALSE(list.step());
    EXPECT_EQ(list.pull(), &items[0]);
    EXPECT_EQ(list.get(), &items[1]);
    EXPECT_EQ(list.pull(), &items[1]);
    EXPECT_EQ(list.pull(), &items[2]);
    EXPECT_TRUE(list.empty());
    EXPECT_TRUE(list.mHead == nullptr && list.mCurrent == nullptr && list.mTail == nullptr);
    EXPECT_EQ(list.pull(), nullptr);
    EXPECT_EQ(list.mCount, 0u);
    EXPECT_EQ(list.getfirst(), nullptr);
    EXPECT_FALSE(list.step());

    list.add(&items[2]);
    EXPECT_NE(list.mHead, nullptr);
    EXPECT_TRUE(list.mCurrent == list.mHead && list.mTail == list.mHead);
    // Destroyed with an entry left: the stack item must not be freed.
}

TEST(List, LogsAddAndPullExactly)
{
    LogCapture log("Vlist");
    int item = 0;
    {
        VList list;
        EXPECT_EQ(list.pull(), nullptr);
        EXPECT_TRUE(log.lines().empty());
        list.add(&item);
        const std::string node = pointerText(list.mHead);
        EXPECT_EQ(list.pull(), &item);
        EXPECT_EQ(log.lines(), (std::vector<std::string>{"Added entry.", "Deleting " + node, "Removed entry."}));
        list.add(&item);
        log.clear();
    }
    EXPECT_EQ(log.lines().size(), 2u) << "the destructor pulls the remaining entry";
    for (auto priority : log.priorities())
        EXPECT_EQ(priority, log4cpp::Priority::DEBUG);
}

// ---- VError ---------------------------------------------------------------

TEST(Error, OwnsCopyOfDetailAndNoneWithoutLength)
{
    unsigned char source[2] = {7, 0};
    VError error(ErrBufferTooSmall, source, 2);
    source[0] = 99;
    ASSERT_NE(error.mData, nullptr);
    EXPECT_EQ(Bytes(error.mData, error.mData + 2), (Bytes{7, 0}));
    EXPECT_EQ(error.mCode, ErrBufferTooSmall);
    EXPECT_EQ(error.mLength, 2u);

    VError withPointer(ErrParseFailed, source, 0);
    VError withNull(ErrNullArgument, nullptr, 0);
    EXPECT_EQ(withPointer.mData, nullptr);
    EXPECT_EQ(withNull.mData, nullptr);

    // A length without a detail pointer gives zeroed bytes, not a read of null.
    VError missingDetail(ErrBufferTooSmall, nullptr, 2);
    ASSERT_NE(missingDetail.mData, nullptr);
    EXPECT_EQ(Bytes(missingDetail.mData, missingDetail.mData + 2), (Bytes{0, 0}));
}

// ---- Dictionary -----------------------------------------------------------

TEST(Dict, FirstEntryWinsAndOnlyCountedEntriesAreSearched)
{
    Carrow endpoint(&kDict);
    EXPECT_EQ(endpoint.findMsgDef(0x21), &kMsgDefs[0]);
    EXPECT_EQ(endpoint.findMsgDef(0x22), &kMsgDefs[1]);
    EXPECT_EQ(endpoint.findMsgDef(0), &kMsgDefs[3]);
    EXPECT_EQ(endpoint.findMsgDef(255), &kMsgDefs[4]);
    EXPECT_EQ(endpoint.findMsgDef(0x30), nullptr);
    EXPECT_EQ(endpoint.findMsgDef(0x23), nullptr);
    EXPECT_EQ(endpoint.findTagDef(5), &kTagDefs[0]);
    EXPECT_EQ(endpoint.findTagDef(0), &kTagDefs[2]);
    EXPECT_EQ(endpoint.findTagDef(255), &kTagDefs[3]);
    EXPECT_EQ(endpoint.findTagDef(40), nullptr);
    // A meta id need not be a defined tag.
    EXPECT_TRUE(Carrow::isMeta(&kDict, 40));
    EXPECT_TRUE(Carrow::isMeta(&kDict, 255));
    EXPECT_FALSE(Carrow::isMeta(&kDict, 0));
    EXPECT_FALSE(Carrow::isMeta(&kDict, 5));
}

TEST(Dict, EmptyOrNullDictionaryDefinesNothingAndNeverCrashes)
{
    CarrowDictDef empty{};      // counts 0, arrays null: never read
    empty.mMsgDefs = kMsgDefs;  // a pointer alone does not make entries
    Carrow onEmpty(&empty);
    Carrow onNull(nullptr);
    for (unsigned id = 0; id <= 255; ++id) {
        const auto byte = static_cast<unsigned char>(id);
        EXPECT_EQ(onEmpty.findMsgDef(byte), nullptr);
        EXPECT_EQ(onEmpty.findTagDef(byte), nullptr);
        EXPECT_FALSE(Carrow::isMeta(&empty, byte));
        EXPECT_EQ(onNull.findMsgDef(byte), nullptr);
        EXPECT_EQ(onNull.findTagDef(byte), nullptr);
        EXPECT_FALSE(Carrow::isMeta(nullptr, byte));
    }
    VMsg msg(0);
    EXPECT_EQ(take(onNull.sendMessage(&msg)), (Errs{{ErrUnknownMessage, {0}}}));
    const unsigned char block[] = {0x21, 0};
    EXPECT_EQ(take(onNull.bytesIn(block, sizeof block)), (Errs{{ErrUnknownMessage, {0x21}}}));
    EXPECT_EQ(onNull.getMessage(), nullptr);
}

// ---- Endpoint: sending ----------------------------------------------------

TEST(Endpoint, SendMessageRefusesNullAndUnknownAndCallerKeepsMessage)
{
    Carrow endpoint(&kDict);
    EXPECT_EQ(take(endpoint.sendMessage(nullptr)), (Errs{{ErrNullArgument, {}}}));
    EXPECT_EQ(take(endpoint.checkMessage(nullptr)), (Errs{{ErrNullArgument, {}}}));
    EXPECT_FALSE(endpoint.bytesOutReady());

    VMsg unknown(0x23);
    EXPECT_EQ(take(endpoint.sendMessage(&unknown)), (Errs{{ErrUnknownMessage, {0x23}}}));
    EXPECT_FALSE(endpoint.bytesOutReady());

    ASSERT_EQ(endpoint.sendMessage(message(0x21)), nullptr);
    EXPECT_EQ(take(endpoint.sendMessage(nullptr)), (Errs{{ErrNullArgument, {}}}));
    EXPECT_TRUE(endpoint.bytesOutReady());
}

TEST(Endpoint, BytesOutOnEmptyQueueWritesNothing)
{
    Carrow endpoint(&kDict);
    unsigned char out[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    unsigned short length = sizeof out;
    EXPECT_EQ(endpoint.bytesOut(out, &length), nullptr);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(Bytes(out, out + 4), (Bytes{0xAA, 0xAA, 0xAA, 0xAA}));
}

TEST(Endpoint, BytesOutReportsNeededSizeWhenBufferTooSmallThenSucceeds)
{
    Carrow endpoint(&kDict);
    ASSERT_EQ(endpoint.sendMessage(message(0x21, {new VTagUInt8(5, (unsigned char)7)})), nullptr);
    unsigned char out[16] = {};
    unsigned short length = 6;
    EXPECT_EQ(take(endpoint.bytesOut(out, &length)), (Errs{{ErrBufferTooSmall, hostBytes(7)}}));
    EXPECT_EQ(length, 6u);
    length = 7;
    EXPECT_EQ(take(endpoint.bytesOut(nullptr, &length)), (Errs{{ErrBufferTooSmall, hostBytes(7)}}));
    EXPECT_EQ(take(endpoint.bytesOut(out, nullptr)), (Errs{{ErrNullArgument, {}}}));
    EXPECT_TRUE(endpoint.bytesOutReady());

    EXPECT_EQ(endpoint.bytesOut(out, &length), nullptr);
    EXPECT_EQ(length, 7u);
    EXPECT_EQ(Bytes(out, out + 8), (Bytes{0x21, 0x00, 5, 4, 0, 1, 7, 0}));
    EXPECT_FALSE(endpoint.bytesOutReady());
}

TEST(Endpoint, UnwritableMessageIsDroppedWithLengthMismatch)
{
    Carrow endpoint(&kDict);
    unsigned char blob[600] = {};
    ASSERT_EQ(endpoint.sendMessage(message(0x21, {new VTagBytes(1, blob, 600), new VTagBytes(2, blob, 600)})),
              nullptr);
    // A payload shrunk after the tag was added writes fewer bytes than needed.
    auto* shrunk = new VTagBytes(1, blob, 4);
    ASSERT_EQ(endpoint.sendMessage(message(0x21, {shrunk})), nullptr);
    shrunk->setData(blob, 1);
    ASSERT_EQ(endpoint.sendMessage(message(0x22)), nullptr);
    std::vector<unsigned char> out(1300, 0xAA);
    // 1208 payload bytes fit no block: the message is dropped at once, not
    // kept waiting for a buffer of 1210 bytes that getMsg would refuse too.
    unsigned short length = 1209;
    EXPECT_EQ(take(endpoint.bytesOut(out.data(), &length)), (Errs{{ErrLengthMismatch, {}}}));
    EXPECT_EQ(length, 1209u);
    length = 1210;
    EXPECT_EQ(take(endpoint.bytesOut(out.data(), &length)), (Errs{{ErrLengthMismatch, {}}}));
    EXPECT_EQ(length, 1210u);
    length = 1300;
    EXPECT_EQ(endpoint.bytesOut(out.data(), &length), nullptr);
    EXPECT_EQ(Bytes(out.data(), out.data() + length), (Bytes{0x22, 0}));
}

// A payload of 65534 bytes or more needs more than the 65535 bytes a buffer
// can have: such a message cannot be written, and is reported and dropped
// rather than passed off as sent or kept waiting for a buffer.
TEST(Endpoint, PayloadTooLongForAnyBufferIsNotReportedAsSent)
{
    std::vector<unsigned char> blob(vmsg::kMaxPayload);
    // 64 tags of 1022 wire bytes and one of 126 make a payload of 65534;
    // with a second such tag the length stops at 65535.
    for (int extra : {1, 2}) {
        SCOPED_TRACE(extra);
        Carrow endpoint(&kDict);
        std::unique_ptr<VMsg> msg(new VMsg(0x21));
        for (int i = 0; i < 64; ++i)
            msg->addTag(new VTagBytes(1, blob.data(), vmsg::kMaxPayload));
        for (int i = 0; i < extra; ++i)
            msg->addTag(new VTagBytes(2, blob.data(), 122));
        ASSERT_EQ(msg->mLength, 65533u + extra);
        ASSERT_EQ(endpoint.sendMessage(msg.release()), nullptr);
        unsigned char out[16];
        unsigned short length = sizeof out;
        EXPECT_EQ(take(endpoint.bytesOut(out, &length)), (Errs{{ErrLengthMismatch, {}}}));
        EXPECT_EQ(length, sizeof out);
        EXPECT_FALSE(endpoint.bytesOutReady());
    }
}

// Segmenting a message of more tags than its counters hold leaves a parent
// with an empty chain: it is refused, never sent as its 2 header bytes.
TEST(Endpoint, SegmentedParentBeyondTheCountersIsNotSent)
{
    for (unsigned tags : {65535u, 65536u, 65537u}) {
        SCOPED_TRACE(tags);
        std::unique_ptr<VMsg> parent(new VMsg(0x21));
        for (unsigned i = 0; i < tags; ++i)
            parent->addTag(new VTagNull(1));
        unsigned char out[vmsg::kMaxBlock];
        unsigned segmented = 0;
        for (VMsg* segment = parent->segmentMessage(vmsg::kMaxBlock); segment; segment = segment->mNextSegment) {
            ASSERT_EQ(segment->getMsg(out, sizeof out), 2u + segment->mLength);
            segmented += segment->mTagCount;
        }
        EXPECT_EQ(segmented, tags);
        EXPECT_EQ(parent->getMsg(out, sizeof out), 0);

        Carrow endpoint(&kDict);
        ASSERT_EQ(endpoint.sendMessage(parent.release()), nullptr);
        unsigned short length = sizeof out;
        EXPECT_EQ(take(endpoint.bytesOut(out, &length)), (Errs{{ErrLengthMismatch, {}}}));
        EXPECT_FALSE(endpoint.bytesOutReady());
    }
}

TEST(Endpoint, ReadyStaysTrueWhenEntryCountWraps)
{
    Carrow endpoint(&kDict);
    for (unsigned i = 0; i < 65536u; ++i)
        ASSERT_EQ(endpoint.sendMessage(message(static_cast<unsigned char>(i & 1 ? 0x21 : 0x22))), nullptr);
    EXPECT_EQ(endpoint.mOutgoing.mCount, 0u) << "the 16-bit count has wrapped";
    EXPECT_TRUE(endpoint.bytesOutReady());
    unsigned char out[2];
    unsigned short length = sizeof out;
    EXPECT_EQ(endpoint.bytesOut(out, &length), nullptr);
    EXPECT_EQ(out[0], 0x22);
    EXPECT_TRUE(endpoint.bytesOutReady());
    // The rest are deleted by the endpoint.
}

// ---- Endpoint: receiving and checking -------------------------------------

TEST(Endpoint, BytesInRefusesShortAndUnknownBlocks)
{
    Carrow endpoint(&kDict);
    const unsigned char block[] = {0x21, 0};
    EXPECT_EQ(take(endpoint.bytesIn(nullptr, 2)), (Errs{{ErrParseFailed, {}}}));
    EXPECT_EQ(take(endpoint.bytesIn(block, 0)), (Errs{{ErrParseFailed, {}}}));
    EXPECT_EQ(take(endpoint.bytesIn(block, 1)), (Errs{{ErrParseFailed, {}}}));
    const unsigned char unknown[] = {0x77, 0, 5, 4, 0, 1, 7};
    EXPECT_EQ(take(endpoint.bytesIn(unknown, sizeof unknown)), (Errs{{ErrUnknownMessage, {0x77}}}));
    EXPECT_EQ(endpoint.getMessage(), nullptr);
}

TEST(Endpoint, DamagedBlockKeepsTagsReadBeforeDamage)
{
    Carrow endpoint(&kDict);
    // An 8-bit tag, then a tag of unknown type code 9.
    const unsigned char block[] = {0x22, 0x01, 5, 4, 0, 1, 7, 6, 9, 0, 1, 0};
    ASSERT_EQ(endpoint.bytesIn(block, sizeof block), nullptr);
    std::unique_ptr<VMsg> msg(endpoint.getMessage());
    ASSERT_NE(msg, nullptr);
    EXPECT_EQ(msg->mFlags, 0x01);
    EXPECT_EQ(msg->mTagCount, 1u);
    EXPECT_EQ(msg->gotoFirst()->mId, 5u);
    EXPECT_EQ(endpoint.getMessage(), nullptr);
}

TEST(Endpoint, BothQueuesDeliverInAcceptanceOrder)
{
    Carrow endpoint(&kDict);
    const unsigned char ids[] = {0x22, 0, 0x21};
    for (unsigned char id : ids) {
        VMsg* msg = message(id);
        msg->mFlags = 0x80;
        ASSERT_EQ(endpoint.sendMessage(msg), nullptr);
        const unsigned char block[] = {id, 0};
        ASSERT_EQ(endpoint.bytesIn(block, sizeof block), nullptr);
    }
    for (unsigned char id : ids) {
        // A message without tags is just its header.
        unsigned char out[4] = {};
        unsigned short length = sizeof out;
        EXPECT_EQ(endpoint.bytesOut(out, &length), nullptr);
        EXPECT_EQ(Bytes(out, out + length), (Bytes{id, 0x80}));
        std::unique_ptr<VMsg> received(endpoint.getMessage());
        ASSERT_NE(received, nullptr);
        EXPECT_EQ(received->mId, id);
    }
    EXPECT_FALSE(endpoint.bytesOutReady());
    EXPECT_EQ(endpoint.getMessage(), nullptr);
}

TEST(Endpoint, DestructorDeletesMessagesLeftInBothQueues)
{
    auto endpoint = std::make_unique<Carrow>(&kDict);
    ASSERT_EQ(endpoint->sendMessage(message(0x21)), nullptr);
    ASSERT_EQ(endpoint->sendMessage(message(0x22)), nullptr);
    const unsigned char block[] = {0x21, 0};
    ASSERT_EQ(endpoint->bytesIn(block, sizeof block), nullptr);
    std::set<std::string> expected;
    for (VList* queue : {&endpoint->mOutgoing, &endpoint->mIncoming})
        for (VListNode* node = queue->mHead; node; node = node->mNext)
            expected.insert("~VMsg() - " + pointerText(node->mData));

    LogCapture log("VMsg");
    endpoint.reset();
    const std::vector<std::string> lines = log.lines();
    EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end()), expected);
    EXPECT_EQ(lines.size(), 3u);
}

TEST(Endpoint, CheckWalksLowEightBitsOfTagCount)
{
    Carrow endpoint(&kDict);
    struct Case {
        unsigned tags;
        int cursorAfter; // index of the tag under the cursor; -1 past the end
    } cases[] = {{3, -1}, {256, 255}, {257, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tags);
        VMsg msg(0x21);
        std::vector<VTag*> tags;
        for (unsigned i = 0; i < c.tags; ++i) {
            tags.push_back(new VTagNull(static_cast<unsigned char>(i)));
            msg.addTag(tags.back()); // leaves the cursor on the last tag
        }
        EXPECT_EQ(endpoint.checkMessage(&msg), nullptr);
        VTag* expected = c.cursorAfter < 0 ? nullptr : tags[static_cast<std::size_t>(c.cursorAfter)];
        EXPECT_EQ(msg.mCurrentTag, expected);
        EXPECT_EQ(msg.getTag(), expected);
    }
}

TEST(Endpoint, CheckMessageTagsConsumesMatchedIds)
{
    struct Case {
        const char* name;
        Bytes required, ids, missing, idsAfter;
    } cases[] = {
        {"nothing required", {}, {1, 2}, {}, {1, 2}},
        {"nothing required, no ids", {}, {}, {}, {}},
        {"no ids given", {3, 1, 2}, {}, {3, 1, 2}, {}},
        {"matches marked", {3, 4}, {4, 9, 3}, {}, {255, 9, 255}},
        {"duplicate needs two", {5, 5}, {5}, {5}, {255}},
        {"duplicate present twice", {5, 5}, {6, 5, 5}, {}, {6, 255, 255}},
        {"mark satisfies 255", {7, 255}, {7}, {}, {255}},
        {"missing in definition order", {9, 1, 8}, {1}, {9, 8}, {255}},
    };
    Carrow endpoint(&kDict);
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CarrowMsgDef def = {0x21, static_cast<unsigned char>(c.required.size()), c.required.data()};
        Errs expected;
        for (unsigned char id : c.missing)
            expected.push_back({ErrMissingTag, {id}});
        EXPECT_EQ(take(endpoint.checkMessageTags(&def, c.ids.data(), static_cast<unsigned char>(c.ids.size()))),
                  expected);
        EXPECT_EQ(c.ids, c.idsAfter);
    }
    unsigned char ids[] = {1};
    EXPECT_EQ(take(endpoint.checkMessageTags(nullptr, ids, 1)), (Errs{{ErrNullArgument, {}}}));
    EXPECT_EQ(ids[0], 1u);
}
