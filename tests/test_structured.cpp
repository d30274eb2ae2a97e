// The structured view: tags copied out of a message and grouped into plain
// tags and objects, and the class-wide error list of the last conversion.
#include <CarrowMessage.h>

#include "LogCapture.h"
#include "TestHelpers.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

static_assert(!std::is_copy_constructible_v<CarrowMessage> && !std::is_copy_assignable_v<CarrowMessage> &&
                  !std::is_copy_constructible_v<CarrowObject> && !std::is_copy_assignable_v<CarrowObject>,
              "structured messages own their tags and must not be copied");

namespace {

using Ids = std::vector<unsigned char>;
using Records = std::vector<std::pair<unsigned short, Bytes>>; // code, detail bytes

const CarrowMetaDef kMetaDefs[] = {{40, VTag::TagUInt8, "group", "Group"}, {41, VTag::TagNull, nullptr, nullptr}};
const CarrowDictDef kDict = {{0, 0}, 0, 0, 2, nullptr, nullptr, kMetaDefs};

Ids idsOf(const std::vector<VTag*>& tags)
{
    Ids ids;
    for (const VTag* tag : tags)
        ids.push_back(tag->mId);
    return ids;
}

// A message holding one 8-bit tag per id, valued id + 100.
std::unique_ptr<VMsg> messageWith(unsigned char msgId, const Ids& tagIds)
{
    auto msg = std::make_unique<VMsg>(msgId);
    for (unsigned char id : tagIds)
        msg->addTag(new VTagUInt8(id, static_cast<unsigned char>(id + 100)));
    return msg;
}

// The tag as written on the wire: id, type code, length, payload.
Bytes wireOf(const VTag& tag)
{
    Bytes out(vmsg::kTagHeaderSize + tag.mLength);
    EXPECT_EQ(tag.getTag(out.data(), static_cast<unsigned short>(out.size())), out.size());
    return out;
}

// The records of the class-wide error list, read without releasing them.
Records lastErrors()
{
    Records records;
    if (!CarrowMessage::mLastErrors)
        return records;
    for (VListNode* node = CarrowMessage::mLastErrors->mHead; node; node = node->mNext) {
        const auto* error = static_cast<const VError*>(node->mData);
        EXPECT_EQ(static_cast<unsigned short>(error->mType), error->mCode);
        records.emplace_back(error->mCode, Bytes(error->mData, error->mData + error->mLength));
    }
    EXPECT_EQ(records.size(), CarrowMessage::mLastErrors->mCount);
    return records;
}



// A tag that records its id when it is deleted.
class CountedTag : public VTagNull {
public:
    CountedTag(unsigned char id, Ids& deleted) : VTagNull(id), mDeleted(deleted) {}
    ~CountedTag() override { mDeleted.push_back(mId); }

private:
    Ids& mDeleted;
};

class Structured : public ::testing::Test {
protected:
    // A successful conversion releases whatever a failing test left in the
    // class-wide list, so no test sees another's errors.
    void TearDown() override
    {
        VMsg empty(0);
        delete CarrowMessage::parseVMsg(&kDict, &empty);
        EXPECT_EQ(CarrowMessage::mLastErrors, nullptr);
    }
};

} // namespace

// ---- Grouping -------------------------------------------------------------

TEST_F(Structured, GroupsTagsBehindMetaTags)
{
    struct Object {
        unsigned char meta;
        Ids members;
    };
    struct Case {
        const char* name;
        Ids message, plain;
        std::vector<Object> objects;
    } cases[] = {
        {"empty message", {}, {}, {}},
        {"no meta tag", {1, 2, 3}, {1, 2, 3}, {}},
        {"meta first", {40, 1, 2}, {}, {{40, {1, 2}}}},
        {"two metas in a row", {1, 40, 41, 2}, {1}, {{40, {}}, {41, {2}}}},
        {"repeated meta id", {40, 1, 40, 2}, {}, {{40, {1}}, {40, {2}}}},
        {"tags after last object join it", {3, 40, 1, 41, 2, 3}, {3}, {{40, {1}}, {41, {2, 3}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto msg = messageWith(0x21, c.message);
        std::unique_ptr<CarrowMessage> result(CarrowMessage::parseVMsg(&kDict, msg.get()));
        ASSERT_NE(result, nullptr);
        EXPECT_EQ(CarrowMessage::mLastErrors, nullptr);
        EXPECT_EQ(result->mId, 0x21u);
        EXPECT_EQ(idsOf(result->mTags), c.plain);
        ASSERT_EQ(result->mObjects.size(), c.objects.size());
        for (std::size_t i = 0; i < c.objects.size(); ++i) {
            const CarrowObject* object = result->mObjects[i];
            ASSERT_NE(object->mMetaTag, nullptr);
            EXPECT_EQ(object->mId, c.objects[i].meta);
            EXPECT_EQ(object->mMetaTag->mId, c.objects[i].meta);
            EXPECT_EQ(idsOf(object->mTags), c.objects[i].members);
        }
        // The walk leaves the source cursor past the end; the source keeps its tags.
        EXPECT_EQ(msg->mCurrentTag, nullptr);
        EXPECT_EQ(msg->mTagCount, c.message.size());
    }
}

TEST_F(Structured, CopiesOutliveTheSourceMessage)
{
    auto msg = messageWith(7, {1, 40});
    char text[] = "hello";
    msg->addTag(new VTagString(2, text));
    msg->addTag(new VTagUInt32(3, 0xDEADBEEFu));
    std::vector<Bytes> written;
    for (const VTag* tag = msg->gotoFirst(); tag; tag = tag->mNext)
        written.push_back(wireOf(*tag));

    std::unique_ptr<CarrowMessage> result(CarrowMessage::parseVMsg(&kDict, msg.get()));
    msg.reset();
    ASSERT_NE(result, nullptr);
    ASSERT_EQ(result->mTags.size(), 1u);
    ASSERT_EQ(result->mObjects.size(), 1u);
    const CarrowObject& object = *result->mObjects[0];
    ASSERT_EQ(object.mTags.size(), 2u);
    EXPECT_EQ(wireOf(*result->mTags[0]), written[0]);
    EXPECT_EQ(wireOf(*object.mMetaTag), written[1]);
    EXPECT_EQ(wireOf(*object.mTags[0]), written[2]);
    EXPECT_EQ(wireOf(*object.mTags[1]), written[3]);
}

// ---- Failures -------------------------------------------------------------

TEST_F(Structured, CountMismatchFailsWithDifferenceAsDetail)
{
    // Tag count 3 over a chain of 2, and 1 over a chain of 3.
    auto declaredTooMany = messageWith(0x21, {1, 2});
    declaredTooMany->mTagCount = 3;
    auto declaredTooFew = messageWith(0x21, {1, 40, 2});
    declaredTooFew->mTagCount = 1;
    // Tags moved into segments: an empty chain behind a count of 3.
    auto segmented = messageWith(0x21, {1, 2, 3});
    ASSERT_NE(segmented->segmentMessage(16), nullptr);
    // A tag of an unknown type code cannot be copied.
    auto uncopyable = messageWith(0x21, {1});
    uncopyable->addTag(new VTag(2, static_cast<VTag::VTagType>(7)));

    struct Case {
        const char* name;
        VMsg* msg;
        unsigned declared, copies;
        unsigned short detail; // copies - declared, modulo 65536
    } cases[] = {
        {"count above chain", declaredTooMany.get(), 3, 2, 0xFFFF},
        {"count below chain", declaredTooFew.get(), 1, 3, 2},
        {"tags moved into segments", segmented.get(), 3, 0, 0xFFFD},
        {"uncopyable tag", uncopyable.get(), 2, 1, 0xFFFF},
    };
    LogCapture log("CarrowMessage");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        log.clear();
        const VTag* firstTag = c.msg->mFirstTag;
        EXPECT_EQ(CarrowMessage::parseVMsg(&kDict, c.msg), nullptr);
        EXPECT_EQ(lastErrors(), (Records{{ErrTagCountMismatch, hostBytes(c.detail)}}));
        EXPECT_EQ(c.msg->mFirstTag, firstTag);
        EXPECT_EQ(c.msg->mCurrentTag, nullptr);

        std::vector<std::string> lines{"parseVMsg(): tagcount: " + std::to_string(c.declared) +
                                       " size: " + std::to_string(c.copies)};
        std::vector<log4cpp::Priority::Value> priorities{log4cpp::Priority::WARN};
        lines.insert(lines.end(), c.copies, "removed tag\n");
        priorities.insert(priorities.end(), c.copies, log4cpp::Priority::DEBUG);
        EXPECT_EQ(log.lines(), lines);
        EXPECT_EQ(log.priorities(), priorities);
    }
}

// The tag count stops at 65535: a message of more tags cannot pass for one
// of that many.
TEST_F(Structured, MoreTagsThanTheCountHoldsFailAsMismatch)
{
    for (unsigned tags : {65535u, 65536u, 65537u}) {
        SCOPED_TRACE(tags);
        VMsg msg(0x21);
        for (unsigned i = 0; i < tags; ++i)
            msg.addTag(new VTagNull(1));
        std::unique_ptr<CarrowMessage> result(CarrowMessage::parseVMsg(&kDict, &msg));
        if (tags == 65535u) {
            ASSERT_NE(result, nullptr);
            EXPECT_EQ(result->mTags.size(), tags);
            continue;
        }
        EXPECT_EQ(result, nullptr);
        EXPECT_EQ(lastErrors(), (Records{{ErrTagCountMismatch, hostBytes(static_cast<unsigned short>(tags - 65535u))}}));
        // Segmented, the parent keeps the count and none of the tags.
        msg.segmentMessage(vmsg::kMaxBlock);
        EXPECT_EQ(CarrowMessage::parseVMsg(&kDict, &msg), nullptr);
        EXPECT_EQ(lastErrors(), (Records{{ErrTagCountMismatch, hostBytes(1)}}));
    }
}

TEST_F(Structured, NullArgumentLeavesMessageUntouched)
{
    auto msg = messageWith(0x21, {1, 2});
    VTag* cursor = msg->gotoLast();
    LogCapture log("CarrowMessage");
    EXPECT_EQ(CarrowMessage::parseVMsg(nullptr, msg.get()), nullptr);
    EXPECT_EQ(lastErrors(), (Records{{ErrNullArgument, {}}}));
    EXPECT_EQ(msg->mCurrentTag, cursor);
    EXPECT_EQ(msg->mTagCount, 2u);

    EXPECT_EQ(CarrowMessage::parseVMsg(&kDict, nullptr), nullptr);
    EXPECT_EQ(lastErrors(), (Records{{ErrNullArgument, {}}}));

    const std::string prefix = "parseVMsg(): null pointer - dict: ";
    EXPECT_EQ(log.lines(), (std::vector<std::string>{
                               prefix + pointerText(nullptr) + " vmsg: " + pointerText(msg.get()),
                               prefix + pointerText(&kDict) + " vmsg: " + pointerText(nullptr)}));
    EXPECT_EQ(log.priorities(), std::vector<log4cpp::Priority::Value>(2, log4cpp::Priority::WARN));
}

TEST_F(Structured, EachCallReplacesThePreviousErrors)
{
    auto msg = messageWith(0x21, {1});
    msg->mTagCount = 2;
    // Each failure drops the list of the one before; LeakSanitizer would
    // report a list that was overwritten without being freed.
    EXPECT_EQ(CarrowMessage::parseVMsg(nullptr, nullptr), nullptr);
    ASSERT_NE(CarrowMessage::mLastErrors, nullptr);
    EXPECT_EQ(CarrowMessage::parseVMsg(&kDict, msg.get()), nullptr);
    EXPECT_EQ(lastErrors(), (Records{{ErrTagCountMismatch, hostBytes(0xFFFF)}}));
    EXPECT_EQ(CarrowMessage::parseVMsg(&kDict, nullptr), nullptr);
    EXPECT_EQ(lastErrors(), (Records{{ErrNullArgument, {}}}));

    msg->mTagCount = 1;
    std::unique_ptr<CarrowMessage> result(CarrowMessage::parseVMsg(&kDict, msg.get()));
    EXPECT_NE(result, nullptr);
    EXPECT_EQ(CarrowMessage::mLastErrors, nullptr);
}

// ---- Building blocks ------------------------------------------------------

TEST_F(Structured, ClearVTagVectDeletesLastFirstAndLogsEveryEntry)
{
    LogCapture log("CarrowMessage");
    CarrowMessage::clearVTagVect(nullptr);
    EXPECT_TRUE(log.lines().empty());

    Ids deleted;
    std::vector<VTag*> tags{new CountedTag(1, deleted), nullptr, new CountedTag(2, deleted), nullptr};
    CarrowMessage::clearVTagVect(&tags);
    EXPECT_TRUE(tags.empty());
    EXPECT_EQ(deleted, (Ids{2, 1}));
    EXPECT_EQ(log.lines(), std::vector<std::string>(4, "removed tag\n"));
    EXPECT_EQ(log.priorities(), std::vector<log4cpp::Priority::Value>(4, log4cpp::Priority::DEBUG));
}

TEST_F(Structured, OwnersDeleteEachTagOnce)
{
    Ids deleted;
    {
        CarrowObject bare(nullptr);
        EXPECT_EQ(bare.mId, 0u);
        EXPECT_EQ(bare.mMetaTag, nullptr);
        bare.mTags.push_back(new CountedTag(1, deleted));
    }
    EXPECT_EQ(deleted, (Ids{1}));

    deleted.clear();
    {
        CarrowMessage built(9);
        built.mTags.push_back(new CountedTag(2, deleted));
        built.mTags.push_back(new CountedTag(3, deleted));
        built.mObjects.push_back(new CarrowObject(new CountedTag(40, deleted)));
        EXPECT_EQ(built.mObjects.back()->mId, 40u);
        built.mObjects.back()->mTags.push_back(new CountedTag(4, deleted));
        built.mObjects.push_back(new CarrowObject(new CountedTag(41, deleted)));
    }
    EXPECT_EQ(deleted, (Ids{2, 3, 40, 4, 41}));
}
