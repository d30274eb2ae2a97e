// Fuzz target: an endpoint driven by a sequence of operations.
//
// One fixed dictionary. Each operation is chosen by one input byte and takes
// its arguments from the bytes after it: received blocks (slices of the
// input, or a short pattern repeated into a block of up to 65535 bytes),
// getMessage, checkMessageTags with fuzzed id arrays, parseVMsg, sending
// received messages, bytesOut with fuzzed capacities, joining, segmenting
// and editing held messages, and replacing the endpoint while messages are
// queued. A model of both queue lengths is kept and checked after every
// operation; every error list returned must be non-empty and well formed,
// and is released. Leaks and memory errors are left to the sanitizers.
#include "FuzzSupport.h"

#include <CarrowMessage.h>

#include <algorithm>
#include <memory>

using vmsgfuzz::chainOf;
using vmsgfuzz::checkCounts;
using vmsgfuzz::chainSize;
using vmsgfuzz::Input;
using vmsgfuzz::sameTag;
using vmsgfuzz::typeCode;

namespace {

// Message 0x21 needs tag 5; 0x22 needs tag 1 once and tag 2 twice; 0x23
// needs tag 255 twice (satisfied by consumed elements, which read 255); 0x30 and 0x00 need nothing. The second 0x21 entry
// is never found: the first match wins.
const unsigned char kNeedsKind[] = {5};
const unsigned char kNeedsValues[] = {1, 2, 2};
const unsigned char kNeedsHighIds[] = {255, 255};
const CarrowMsgDef kMsgDefs[] = {
    {0x21, 1, kNeedsKind}, {0x22, 3, kNeedsValues}, {0x23, 2, kNeedsHighIds},
    {0x30, 0, nullptr},    {0x00, 0, nullptr},      {0x21, 2, kNeedsHighIds},
};
const CarrowTagDef kTagDefs[] = {
    {1, VTag::TagString, "name"}, {2, VTag::TagUInt32, "value"}, {5, VTag::TagUInt8, "kind"},
};
// Tags 3 and 9 open objects.
const CarrowMetaDef kMetaDefs[] = {
    {3, VTag::TagUInt8, "sensor", "Sensor"},
    {9, VTag::TagNull, "group", "Group"},
};
const CarrowDictDef kDict = {
    {0, 0}, sizeof kMsgDefs / sizeof kMsgDefs[0], sizeof kTagDefs / sizeof kTagDefs[0],
    sizeof kMetaDefs / sizeof kMetaDefs[0], kMsgDefs, kTagDefs, kMetaDefs,
};
constexpr unsigned kDefCount = sizeof kMsgDefs / sizeof kMsgDefs[0];

bool defined(unsigned char id)
{
    return id == 0x21 || id == 0x22 || id == 0x23 || id == 0x30 || id == 0x00;
}

bool isMeta(unsigned char id)
{
    return id == 3 || id == 9;
}

// At most this many operations and large blocks per input, to keep each
// run short.
constexpr unsigned kMaxOperations = 512;
constexpr unsigned kMaxLargeBlocks = 2;
// Messages the harness holds at most; older ones are deleted.
constexpr std::size_t kMaxHeld = 8;

// The records of a returned list; checks the list's shape and releases it.
std::vector<std::pair<unsigned short, std::vector<unsigned char>>> takeErrors(VList* errors)
{
    FUZZ_CHECK(errors != nullptr);
    FUZZ_CHECK(errors->mCount >= 1 && errors->mHead != nullptr && !errors->empty());
    // The read cursor starts on the head and walks every entry.
    unsigned walked = errors->get() ? 1 : 0;
    while (errors->step())
        ++walked;
    FUZZ_CHECK(walked == errors->mCount);
    std::vector<std::pair<unsigned short, std::vector<unsigned char>>> records;
    while (!errors->empty()) {
        FUZZ_CHECK(errors->getfirst() != nullptr);
        auto* error = static_cast<VError*>(errors->pull());
        FUZZ_CHECK(error != nullptr);
        FUZZ_CHECK(error->mType == static_cast<VErrorCode>(error->mCode));
        FUZZ_CHECK((error->mLength == 0) == (error->mData == nullptr));
        records.emplace_back(error->mCode, std::vector<unsigned char>(error->mData, error->mData + error->mLength));
        delete error;
    }
    FUZZ_CHECK(errors->mCount == 0 && errors->mTail == nullptr && errors->pull() == nullptr);
    delete errors;
    return records;
}

// Exactly one record with @p code.
std::vector<unsigned char> takeSingleError(VList* errors, VErrorCode code)
{
    auto records = takeErrors(errors);
    FUZZ_CHECK(records.size() == 1);
    FUZZ_CHECK(records[0].first == code);
    return records[0].second;
}

unsigned short hostU16(const std::vector<unsigned char>& detail)
{
    FUZZ_CHECK(detail.size() == 2);
    unsigned short value;
    std::memcpy(&value, detail.data(), sizeof value);
    return value;
}

// The operations, by the number step() takes.
const char* const kOperationNames[] = {
    "bytesIn",      "bytesIn (pattern)", "getMessage",         "checkMessageTags", "parseVMsg",
    "sendMessage",  "bytesOut",          "new endpoint",       "join",             "segment",
    "edit payload", "add unclonable tag", "build message",
};
constexpr unsigned kOperations = sizeof kOperationNames / sizeof kOperationNames[0];

// @p copy is a copy of @p original as the factory clones it (a payload set
// after the tag was built is normalised: fixed sizes, text up to its NUL).
bool isCloneOf(const VTag* copy, VTag* original)
{
    std::unique_ptr<VTag> clone(VTagFactory::createVTag(original));
    return copy && clone && copy != original && sameTag(*copy, *clone) && vmsgfuzz::sameClass(*copy, *clone);
}

class Scenario {
public:
    explicit Scenario(Input& input) : mIn(input), mEndpoint(new Carrow(&kDict)) {}

    ~Scenario()
    {
        for (VMsg* msg : mHeld)
            delete msg;
    }

    void run()
    {
        for (unsigned n = 0; n < kMaxOperations && !mIn.empty(); ++n) {
            const unsigned op = mIn.byte() % kOperations;
            vmsgfuzz::trace("op %u: %s (held %zu, incoming %u, outgoing %u)", n, kOperationNames[op],
                            mHeld.size(), mIncoming, mOutgoing);
            step(op);
            FUZZ_CHECK(mEndpoint->mIncoming.mCount == mIncoming);
            FUZZ_CHECK(mEndpoint->mOutgoing.mCount == mOutgoing);
            FUZZ_CHECK(mEndpoint->bytesOutReady() == (mOutgoing != 0));
        }
        // The endpoint goes with whatever is still queued.
    }

private:
    void step(unsigned op)
    {
        switch (op) {
        case 0:
            receive(mIn.bytes(mIn.byte()));
            break;
        case 1:
            receiveLarge();
            break;
        case 2:
            take();
            break;
        case 3:
            checkTags();
            break;
        case 4:
            structure();
            break;
        case 5:
            send();
            break;
        case 6:
            output();
            break;
        case 7:
            // A new endpoint; the old one deletes what it still holds.
            mEndpoint.reset(new Carrow(&kDict));
            mIncoming = mOutgoing = 0;
            break;
        case 8:
            join();
            break;
        case 9:
            segment();
            break;
        case 10:
            editPayload();
            break;
        case 11:
            addUnclonableTag();
            break;
        default:
            // A message the application built, with any id.
            hold(buildMessage());
            break;
        }
    }

    void receive(const std::vector<unsigned char>& block)
    {
        const auto length = static_cast<unsigned short>(block.size());
        VList* errors = mEndpoint->bytesIn(block.empty() ? nullptr : block.data(), length);
        if (length < 2) {
            takeSingleError(errors, ErrParseFailed);
        } else if (!defined(block[0])) {
            const std::vector<unsigned char> detail = takeSingleError(errors, ErrUnknownMessage);
            FUZZ_CHECK(detail.size() == 1 && detail[0] == block[0]);
        } else {
            FUZZ_CHECK(errors == nullptr);
            ++mIncoming;
        }
    }

    // A header and a short pattern repeated to a block of up to 65535
    // bytes: thousands of tags from a few input bytes.
    void receiveLarge()
    {
        const unsigned char id = mIn.byte();
        const unsigned char flags = mIn.byte();
        const unsigned total = mIn.u16();
        std::vector<unsigned char> pattern = mIn.bytes(1 + mIn.byte() % 16);
        if (mLargeBlocks == kMaxLargeBlocks || pattern.empty())
            return;
        ++mLargeBlocks;
        std::vector<unsigned char> block{id, flags};
        while (block.size() < total)
            block.push_back(pattern[(block.size() - 2) % pattern.size()]);
        block.resize(std::max<std::size_t>(total, 2));
        receive(block);
    }

    void take()
    {
        VMsg* msg = mEndpoint->getMessage();
        if (mIncoming == 0) {
            FUZZ_CHECK(msg == nullptr);
            return;
        }
        FUZZ_CHECK(msg != nullptr);
        --mIncoming;
        FUZZ_CHECK(defined(msg->mId));
        checkCounts(*msg);
        hold(msg);
    }

    void checkTags()
    {
        const unsigned choice = mIn.byte() % (kDefCount + 1);
        const CarrowMsgDef* def = choice < kDefCount ? &kMsgDefs[choice] : nullptr;
        const unsigned char count = mIn.byte() % 12;
        std::vector<unsigned char> ids = mIn.bytes(count);
        const bool nullIds = mIn.byte() % 8 == 0;
        const std::vector<unsigned char> before = ids;
        vmsgfuzz::trace("  definition %u of %u, %zu ids%s", choice, kDefCount, ids.size(), nullIds ? " (null)" : "");
        VList* errors = mEndpoint->checkMessageTags(def, nullIds ? nullptr : ids.data(),
                                                    static_cast<unsigned char>(ids.size()));
        if (!def) {
            takeSingleError(errors, ErrNullArgument);
            return;
        }
        // In the definition's order, each required id takes the first
        // element equal to it, which then reads 255: an id required twice
        // must be present twice, and a consumed element satisfies a
        // requirement for id 255. The missing ids are reported in order.
        std::vector<unsigned char> model = nullIds ? std::vector<unsigned char>() : before;
        std::vector<unsigned char> missing;
        for (unsigned r = 0; r < def->mRequiredCount; ++r) {
            const unsigned char required = def->mRequiredTags[r];
            const auto match = std::find(model.begin(), model.end(), required);
            if (match != model.end())
                *match = 255;
            else
                missing.push_back(required);
        }
        if (missing.empty()) {
            FUZZ_CHECK(errors == nullptr);
        } else {
            const auto records = takeErrors(errors);
            FUZZ_CHECK(records.size() == missing.size());
            for (std::size_t i = 0; i < missing.size(); ++i) {
                FUZZ_CHECK(records[i].first == ErrMissingTag);
                FUZZ_CHECK(records[i].second.size() == 1 && records[i].second[0] == missing[i]);
            }
        }
        FUZZ_CHECK(ids == (nullIds ? before : model));
    }

    void structure()
    {
        const unsigned choice = mIn.byte();
        const CarrowDictDef* dict = choice % 8 == 0 ? nullptr : &kDict;
        VMsg* msg = pick(choice >> 3);
        CarrowMessage* result = CarrowMessage::parseVMsg(dict, msg);
        if (!dict || !msg) {
            FUZZ_CHECK(result == nullptr);
            takeLastErrors(ErrNullArgument);
            return;
        }
        FUZZ_CHECK(msg->mCurrentTag == nullptr);
        const std::vector<VTag*> tags = chainOf(*msg);
        std::size_t copies = 0;
        for (VTag* tag : tags)
            copies += typeCode(*tag) >= VTag::TagNull && typeCode(*tag) <= VTag::TagFloat;
        if (copies != msg->mTagCount) {
            FUZZ_CHECK(result == nullptr);
            const std::vector<unsigned char> detail = takeLastErrors(ErrTagCountMismatch);
            FUZZ_CHECK(hostU16(detail) == static_cast<unsigned short>(copies - msg->mTagCount));
            return;
        }
        FUZZ_CHECK(result != nullptr);
        FUZZ_CHECK(CarrowMessage::mLastErrors == nullptr);
        std::unique_ptr<CarrowMessage> structured(result);
        FUZZ_CHECK(structured->mId == msg->mId);
        // Plain tags up to the first meta tag, then one object per meta tag
        // holding the tags up to the next; copies, equal to the originals.
        std::size_t next = 0;
        for (VTag* copy : structured->mTags) {
            FUZZ_CHECK(next < tags.size() && !isMeta(tags[next]->mId));
            FUZZ_CHECK(isCloneOf(copy, tags[next]));
            ++next;
        }
        for (CarrowObject* object : structured->mObjects) {
            FUZZ_CHECK(object != nullptr && object->mMetaTag != nullptr);
            FUZZ_CHECK(next < tags.size() && isMeta(tags[next]->mId));
            FUZZ_CHECK(object->mId == tags[next]->mId);
            FUZZ_CHECK(isCloneOf(object->mMetaTag, tags[next]));
            ++next;
            for (VTag* copy : object->mTags) {
                FUZZ_CHECK(next < tags.size() && !isMeta(tags[next]->mId));
                FUZZ_CHECK(isCloneOf(copy, tags[next]));
                ++next;
            }
        }
        FUZZ_CHECK(next == tags.size());
    }

    std::vector<unsigned char> takeLastErrors(VErrorCode code)
    {
        VList* errors = CarrowMessage::mLastErrors;
        FUZZ_CHECK(errors != nullptr);
        // The class owns the list; look without releasing.
        FUZZ_CHECK(errors->mCount == 1);
        auto* error = static_cast<VError*>(errors->getfirst());
        FUZZ_CHECK(error != nullptr && error->mCode == code);
        return std::vector<unsigned char>(error->mData, error->mData + error->mLength);
    }

    void send()
    {
        const std::size_t index = mIn.byte();
        VMsg* msg = pick(index);
        VList* errors = mEndpoint->sendMessage(msg);
        if (!msg) {
            takeSingleError(errors, ErrNullArgument);
        } else if (!defined(msg->mId)) {
            const std::vector<unsigned char> detail = takeSingleError(errors, ErrUnknownMessage);
            FUZZ_CHECK(detail.size() == 1 && detail[0] == msg->mId);
        } else {
            FUZZ_CHECK(errors == nullptr);
            // The endpoint owns it now.
            mHeld.erase(std::find(mHeld.begin(), mHeld.end(), msg));
            ++mOutgoing;
        }
    }

    void output()
    {
        const unsigned char mode = mIn.byte();
        unsigned short capacity = mIn.u16() % 1100;
        if (mode % 4 == 1)
            capacity = mIn.u16();
        std::vector<unsigned char> buffer(capacity);
        unsigned char* out = mode % 8 == 3 ? nullptr : buffer.data();
        if (mode % 16 == 7) {
            takeSingleError(mEndpoint->bytesOut(out, nullptr), ErrNullArgument);
            return;
        }

        // What the head message is expected to write, if it can be written.
        auto* head = static_cast<VMsg*>(mEndpoint->mOutgoing.getfirst());
        std::vector<unsigned char> expected;
        std::size_t needed = 0;
        if (head) {
            needed = head->mLength + 2u;
            if (chainSize(*head) == head->mLength && head->mLength <= vmsg::kMaxMessagePayload)
                expected = vmsgfuzz::encodeMsg(*head);
        }

        unsigned short length = capacity;
        vmsgfuzz::trace("  capacity %u%s, head %p, needed %zu", capacity, out ? "" : " (null buffer)",
                        static_cast<void*>(head), needed);
        VList* errors = mEndpoint->bytesOut(out, &length);
        if (!head) {
            FUZZ_CHECK(errors == nullptr && length == 0);
            return;
        }
        if (!errors) {
            // Written whole: exactly the message's encoding.
            FUZZ_CHECK(!expected.empty());
            FUZZ_CHECK(length == expected.size());
            FUZZ_CHECK(out && std::equal(expected.begin(), expected.end(), out));
            --mOutgoing;
            return;
        }
        const auto records = takeErrors(errors);
        FUZZ_CHECK(records.size() == 1);
        FUZZ_CHECK(length == capacity);
        if (records[0].first == ErrBufferTooSmall) {
            // Stays queued; the detail is the size needed, and a buffer of
            // that size would take it: no block is larger than 1024 bytes.
            FUZZ_CHECK(!out || capacity < needed);
            FUZZ_CHECK(needed <= VMSG_MAX_BLOCK);
            FUZZ_CHECK(hostU16(records[0].second) == needed);
            FUZZ_CHECK(mEndpoint->mOutgoing.getfirst() == head);
        } else {
            // Could not be written whole: deleted.
            FUZZ_CHECK(records[0].first == ErrLengthMismatch);
            FUZZ_CHECK(records[0].second.empty());
            FUZZ_CHECK(expected.empty());
            --mOutgoing;
        }
    }

    // Moves the tags of one held message to the end of another.
    void join()
    {
        VMsg* target = pick(mIn.byte());
        VMsg* source = pick(mIn.byte());
        if (!target)
            return;
        const unsigned short count = target->mTagCount;
        std::vector<VTag*> expected = chainOf(*target);
        if (source && source != target) {
            const std::vector<VTag*> moved = chainOf(*source);
            expected.insert(expected.end(), moved.begin(), moved.end());
            target->addSegment(source);
            FUZZ_CHECK(source->mFirstTag == nullptr && source->mCurrentTag == nullptr);
            FUZZ_CHECK(target->mTagCount == vmsgfuzz::saturated(count + moved.size()));
        } else {
            target->addSegment(source);
        }
        FUZZ_CHECK(chainOf(*target) == expected);
    }

    void segment()
    {
        VMsg* msg = pick(mIn.byte());
        const int frameSize = static_cast<int>(mIn.u16() % 1200) - 8;
        if (!msg)
            return;
        const unsigned short count = msg->mTagCount;
        // A second call changes nothing, not even for tags added since.
        const bool again = msg->mFirstSegment != nullptr;
        VTag* const tags = msg->mFirstTag;
        FUZZ_CHECK(msg->segmentMessage(frameSize) == msg->mFirstSegment);
        FUZZ_CHECK(msg->mFirstSegment != nullptr && msg->mTagCount == count);
        FUZZ_CHECK(msg->mFirstTag == (again ? tags : nullptr));
    }

    // Replaces a tag's payload after it was added: the message's mLength
    // no longer describes its chain.
    void editPayload()
    {
        VMsg* msg = pick(mIn.byte());
        const std::size_t index = mIn.byte();
        std::vector<unsigned char> payload = mIn.bytes(mIn.byte());
        if (!msg || !msg->mFirstTag)
            return;
        const std::vector<VTag*> tags = chainOf(*msg);
        tags[index % tags.size()]->setData(payload.data(), static_cast<unsigned short>(payload.size()));
    }

    // A plain tag with type code 7, which has no class and is not cloned.
    void addUnclonableTag()
    {
        VMsg* msg = pick(mIn.byte());
        const unsigned char id = mIn.byte();
        if (msg)
            msg->addTag(new VTag(id, static_cast<VTag::VTagType>(7)));
    }

    VMsg* buildMessage()
    {
        const unsigned char id = mIn.byte();
        std::vector<unsigned char> block = mIn.bytes(mIn.byte());
        block.insert(block.begin(), {id, 0});
        VMsg* msg = VMsg::parseMsg(block.data(), static_cast<unsigned short>(block.size()));
        FUZZ_CHECK(msg != nullptr);
        return msg;
    }

    void hold(VMsg* msg)
    {
        if (mHeld.size() == kMaxHeld) {
            delete mHeld.front();
            mHeld.erase(mHeld.begin());
        }
        mHeld.push_back(msg);
    }

    // A held message chosen by @p index, or null (one choice in n + 1).
    VMsg* pick(std::size_t index)
    {
        index %= mHeld.size() + 1;
        return index < mHeld.size() ? mHeld[index] : nullptr;
    }

    Input& mIn;
    std::unique_ptr<Carrow> mEndpoint;
    std::vector<VMsg*> mHeld;
    unsigned mIncoming = 0;
    unsigned mOutgoing = 0;
    unsigned mLargeBlocks = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Input input(data, size);
    {
        Scenario scenario(input);
        scenario.run();
    }
    // Leave no error list of parseVMsg behind: each run starts clean.
    VMsg empty(0x30);
    delete CarrowMessage::parseVMsg(&kDict, &empty);
    FUZZ_CHECK(CarrowMessage::mLastErrors == nullptr);
    return 0;
}
