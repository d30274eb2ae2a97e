// Allocation failure: every operation that allocates is run again and again
// with its 1st, 2nd, 3rd ... allocation failing, until it completes without
// reaching the failing one. A failure must come out as std::bad_alloc, leak
// nothing, and leave the objects involved as they were and usable: a message
// keeps its tags and counts, a queue its messages, a tag its payload.
//
// Each operation runs twice: with the chosen allocation failing alone, and
// with it and every later one failing (memory stays short, so cleanup code
// that allocates fails too).
//
// The allocator is this executable's replacement of the global operator
// new and delete. It counts allocations and fails on request while armed,
// and hands every call on to the next definition in the process: the C++
// runtime's, or the address sanitizer's, which then goes on checking that
// blocks are released by the matching form of delete. It is armed only
// around the operation under test, since GoogleTest allocates too.
//
// Which allocations fail: with log4cpp as shipped (nothing configured) a
// library object looks up its category on its first log line, and the
// structured view writes warnings. log4cpp declares its logging functions
// throw(), so running out of memory inside one ends the process whoever
// calls it. The operation tests therefore fail only the allocations the
// library makes itself (called from libvmsg or libvlog), after a warm-up
// run. The first-use tests at the end also fail log4cpp's creation of a
// category, in a process where the library has not logged yet (ctest runs
// each test in a process of its own).
#include <CarrowMessage.h>
#include <VFrame.h>
#include <VWire.h>
#include <vmsg.hpp>

#include "TestHelpers.h"

#include <log4cpp/Category.hh>

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

// ---------------------------------------------------------------------------
// The counting, failing allocator.

namespace {

// Which allocations count (and so may fail) while the allocator is armed.
enum class Counted {
    Library,         // those the library makes itself (called from libvmsg or libvlog)
    LibraryAndEntry, // those, and the first one of each call into other code
};

struct AllocatorState {
    std::atomic<bool> armed{false};
    std::atomic<Counted> counted{Counted::Library};
    std::atomic<bool> lastByLibrary{true}; // the previous allocation was the library's
    std::atomic<bool> persistent{false};   // fail every allocation from failAt on
    std::atomic<long> failAt{0};           // 0: never fail
    std::atomic<long> count{0};            // allocations counted since arming
    std::atomic<long> injected{0};         // failures injected since arming
    std::atomic<long> live{0};             // blocks allocated and not yet released
    std::atomic<long> total{0};            // blocks allocated since the process began
};

// Constant-initialised, so ready before any allocation of the process.
AllocatorState gAllocator;

// Set while a replacement runs: the runtime's operator new[] calls operator
// new, and that inner call is neither counted nor failed again.
thread_local int tNested = 0;

struct Nested {
    Nested() { ++tNested; }
    ~Nested() { --tNested; }
    Nested(const Nested&) = delete;
    Nested& operator=(const Nested&) = delete;
};

template <typename Fn>
Fn nextDefinition(const char* symbol)
{
    void* address = dlsym(RTLD_NEXT, symbol);
    if (!address) {
        std::fprintf(stderr, "test allocator: no next definition of %s\n", symbol);
        std::abort();
    }
    Fn fn;
    static_assert(sizeof fn == sizeof address, "function and object pointers differ in size");
    std::memcpy(&fn, &address, sizeof fn);
    return fn;
}

// The next definition of @p symbol, looked up once.
#define NEXT_DEFINITION(type, symbol)                                   \
    [] {                                                                \
        static std::atomic<type> cached{nullptr};                       \
        type fn = cached.load(std::memory_order_acquire);               \
        if (!fn) {                                                      \
            fn = nextDefinition<type>(symbol);                          \
            cached.store(fn, std::memory_order_release);                \
        }                                                               \
        return fn;                                                      \
    }()

using NewFn = void* (*)(std::size_t);
using NewNothrowFn = void* (*)(std::size_t, const std::nothrow_t&);
using DeleteFn = void (*)(void*);
using SizedDeleteFn = void (*)(void*, std::size_t);
using DeleteNothrowFn = void (*)(void*, const std::nothrow_t&);

// The load address of the executable or shared library holding @p code;
// null when unknown. dladdr allocates nothing.
void* objectOf(const void* code)
{
    Dl_info info;
    return dladdr(code, &info) ? info.dli_fbase : nullptr;
}

template <typename Fn>
void* objectOfFunction(Fn fn)
{
    void* address;
    static_assert(sizeof fn == sizeof address, "function and object pointers differ in size");
    std::memcpy(&address, &fn, sizeof address);
    return objectOf(address);
}

// True when the call returning to @p caller was made by libvmsg or libvlog.
bool madeByLibrary(const void* caller)
{
    static void* const vmsg = objectOfFunction(&VMsg::parseMsg);
    static void* const vlog = objectOfFunction(&cVlog::getLog);
    void* object = objectOf(caller);
    return object && (object == vmsg || object == vlog);
}

// True when the allocation requested by the call returning to @p caller is
// to fail.
bool failNow(const void* caller)
{
    if (tNested || !gAllocator.armed.load(std::memory_order_acquire))
        return false;
    const bool byLibrary = madeByLibrary(caller);
    const bool afterLibrary = gAllocator.lastByLibrary.exchange(byLibrary);
    if (!byLibrary && (gAllocator.counted.load() == Counted::Library || !afterLibrary))
        return false;
    const long n = gAllocator.count.fetch_add(1) + 1;
    const long at = gAllocator.failAt.load();
    if (at == 0 || n < at || (n > at && !gAllocator.persistent.load()))
        return false;
    gAllocator.injected.fetch_add(1);
    return true;
}

template <typename Fn, typename... Args>
void* allocate(Fn next, Args&&... args)
{
    if (tNested)
        return next(args...);
    Nested nested;
    void* block = next(args...);
    if (block) {
        gAllocator.live.fetch_add(1);
        gAllocator.total.fetch_add(1);
    }
    return block;
}

template <typename Fn, typename... Args>
void release(void* block, Fn next, Args&&... args)
{
    if (tNested) {
        next(block, args...);
        return;
    }
    Nested nested;
    if (block)
        gAllocator.live.fetch_sub(1);
    next(block, args...);
}

} // namespace

void* operator new(std::size_t size)
{
    if (failNow(__builtin_return_address(0)))
        throw std::bad_alloc();
    return allocate(NEXT_DEFINITION(NewFn, "_Znwm"), size);
}

void* operator new[](std::size_t size)
{
    if (failNow(__builtin_return_address(0)))
        throw std::bad_alloc();
    return allocate(NEXT_DEFINITION(NewFn, "_Znam"), size);
}

void* operator new(std::size_t size, const std::nothrow_t& tag) noexcept
{
    if (failNow(__builtin_return_address(0)))
        return nullptr;
    return allocate(NEXT_DEFINITION(NewNothrowFn, "_ZnwmRKSt9nothrow_t"), size, tag);
}

void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept
{
    if (failNow(__builtin_return_address(0)))
        return nullptr;
    return allocate(NEXT_DEFINITION(NewNothrowFn, "_ZnamRKSt9nothrow_t"), size, tag);
}

void operator delete(void* block) noexcept
{
    release(block, NEXT_DEFINITION(DeleteFn, "_ZdlPv"));
}

void operator delete[](void* block) noexcept
{
    release(block, NEXT_DEFINITION(DeleteFn, "_ZdaPv"));
}

void operator delete(void* block, std::size_t size) noexcept
{
    release(block, NEXT_DEFINITION(SizedDeleteFn, "_ZdlPvm"), size);
}

void operator delete[](void* block, std::size_t size) noexcept
{
    release(block, NEXT_DEFINITION(SizedDeleteFn, "_ZdaPvm"), size);
}

void operator delete(void* block, const std::nothrow_t& tag) noexcept
{
    release(block, NEXT_DEFINITION(DeleteNothrowFn, "_ZdlPvRKSt9nothrow_t"), tag);
}

void operator delete[](void* block, const std::nothrow_t& tag) noexcept
{
    release(block, NEXT_DEFINITION(DeleteNothrowFn, "_ZdaPvRKSt9nothrow_t"), tag);
}

// ---------------------------------------------------------------------------
// Driving the failures.

namespace {


long liveBlocks()
{
    return gAllocator.live.load();
}

// What was being done when an exception left a destructor: such a failure
// ends the process in std::terminate, and this says where.
std::string gContext;

[[noreturn]] void reportTermination()
{
    std::fprintf(stderr, "std::terminate during %s: an exception left a destructor or a noexcept function\n",
                 gContext.c_str());
    std::abort();
}

struct Variant {
    bool persistent; // the failing allocation and every later one fail
    Counted counted; // which allocations count and may fail
    bool warmUp;     // run the operation once before failing anything
};

// Arms the allocator for one run of an operation.
class FailurePoint {
public:
    FailurePoint(long failAt, const Variant& variant) : mFailAt(failAt), mVariant(variant) {}

    /// Runs @p op with the allocator armed; true when it threw
    /// std::bad_alloc. Any other exception goes on to GoogleTest.
    template <typename Op>
    bool run(Op&& op)
    {
        EXPECT_FALSE(mRan) << "one armed operation per failure point";
        mRan = true;
        bool threw = false;
        {
            Armed armed(*this);
            try {
                op();
            } catch (const std::bad_alloc&) {
                threw = true;
            }
        }
        if (threw) {
            EXPECT_GT(mInjected, 0) << "std::bad_alloc although no allocation was made to fail";
        }
        return threw;
    }

    bool ran() const { return mRan; }
    /// An allocation was made to fail during the run.
    bool reached() const { return mInjected > 0; }

private:
    struct Armed {
        explicit Armed(FailurePoint& point) : mPoint(point)
        {
            gAllocator.count = 0;
            gAllocator.injected = 0;
            gAllocator.failAt = point.mFailAt;
            gAllocator.persistent = point.mVariant.persistent;
            gAllocator.counted = point.mVariant.counted;
            gAllocator.lastByLibrary = true;
            gAllocator.armed.store(true, std::memory_order_release);
        }
        ~Armed()
        {
            gAllocator.armed.store(false, std::memory_order_release);
            mPoint.mInjected = gAllocator.injected;
        }
        Armed(const Armed&) = delete;
        Armed& operator=(const Armed&) = delete;
        FailurePoint& mPoint;
    };

    long mFailAt;
    Variant mVariant;
    bool mRan = false;
    long mInjected = 0;
};

constexpr long kMaxFailurePoints = 20000;

// How many of the library's log categories log4cpp holds. log4cpp creates
// one the first time the library logs to it, and keeps it. Asking allocates
// nothing: the names fit std::string's inline buffer.
int libraryCategories()
{
    int count = 0;
    for (const char* name : {"VTag", "VMsg", "Vlist", "Carrow", "CarrowMessage", "CarrowObject"})
        count += log4cpp::Category::exists(name) != nullptr;
    return count;
}

// Runs @p body with allocation 1, 2, ... failing until the operation
// completes without reaching the failing allocation, and returns the number
// of failure points. The body builds its objects, runs the operation
// through the FailurePoint and checks the aftermath. The blocks alive before
// and after each run must be the same, unless log4cpp created one of the
// library's categories during the run.
long failEachAllocation(const std::string& what, const Variant& variant,
                        const std::function<void(FailurePoint&)>& body)
{
    gContext = what;
    const std::terminate_handler previous = std::set_terminate(reportTermination);
    if (variant.warmUp) {
        FailurePoint warmUp(0, variant);
        body(warmUp);
        EXPECT_TRUE(warmUp.ran());
    }
    long n = 1;
    for (; n <= kMaxFailurePoints && !::testing::Test::HasFailure(); ++n) {
        gContext = what + ", allocation " + std::to_string(n) + " failing" +
                   (variant.persistent ? " with all after it" : "");
        const int categories = libraryCategories();
        const long live = liveBlocks();
        FailurePoint point(n, variant);
        body(point);
        if (libraryCategories() == categories) {
            EXPECT_EQ(liveBlocks(), live) << "blocks leaked";
        }
        EXPECT_TRUE(point.ran());
        if (::testing::Test::HasFailure())
            ADD_FAILURE() << "at " << gContext;
        else if (!point.reached())
            break;
    }
    std::set_terminate(previous);
    EXPECT_LE(n, kMaxFailurePoints) << what << " still allocating";
    return n - 1;
}

// ---------------------------------------------------------------------------
// Snapshots of the objects an operation must leave as they were.

Bytes encode(const VTag& tag)
{
    Bytes out(tag.mLength + 4u);
    EXPECT_EQ(tag.getTag(out.data(), static_cast<unsigned short>(out.size())), out.size());
    return out;
}

std::vector<VTag*> chainOf(const VMsg& msg)
{
    std::vector<VTag*> tags;
    for (VTag* tag = msg.mFirstTag; tag && tags.size() <= 0x10000; tag = tag->mNext)
        tags.push_back(tag);
    return tags;
}

// A message's header, counts, tags (by address) and their encodings.
struct MessageState {
    explicit MessageState(const VMsg& msg)
        : id(msg.mId), flags(msg.mFlags), count(msg.mTagCount), length(msg.mLength), tags(chainOf(msg))
    {
        for (const VTag* tag : tags)
            wire.push_back(encode(*tag));
    }
    bool operator==(const MessageState& other) const
    {
        return id == other.id && flags == other.flags && count == other.count && length == other.length &&
               tags == other.tags && wire == other.wire;
    }
    unsigned char id, flags;
    unsigned short count, length;
    std::vector<VTag*> tags;
    std::vector<Bytes> wire;
};

// The items of a queue, head first; checks that its links and count agree.
std::vector<void*> itemsOf(const VList& list)
{
    std::vector<void*> items;
    const VListNode* last = nullptr;
    for (const VListNode* node = list.mHead; node && items.size() <= 0x10000; node = node->mNext) {
        items.push_back(node->mData);
        last = node;
    }
    EXPECT_EQ(items.size(), list.mCount);
    EXPECT_EQ(list.mTail, last);
    return items;
}

void releaseErrors(VList* errors)
{
    if (!errors)
        return;
    while (void* error = errors->pull())
        delete static_cast<VError*>(error);
    delete errors;
}

std::vector<unsigned short> codesOf(const VList* errors)
{
    std::vector<unsigned short> codes;
    for (const VListNode* node = errors ? errors->mHead : nullptr; node; node = node->mNext)
        codes.push_back(static_cast<const VError*>(node->mData)->mCode);
    return codes;
}

// A block with a tag of every type, a text cut at 1017 characters and a
// raw-bytes tag of 1100 bytes (kept as 1018).
Bytes everyTypeBlock(unsigned char id)
{
    Bytes block{id, 0};
    for (const Bytes& tag : {tagWire(1, 0, {}), tagWire(2, 1, {'a', 'b', 'c', 0}), tagWire(3, 2, {0, 0, 1, 0}),
                             tagWire(4, 3, {1, 2}), tagWire(5, 4, {7}), tagWire(6, 5, Bytes(1100, 0x5A)),
                             tagWire(7, 6, {0x40, 0x49, 0x0F, 0xDB}), tagWire(8, 1, Bytes(1100, 'x'))})
        block.insert(block.end(), tag.begin(), tag.end());
    return block;
}

// Tags 3 and 9 open objects; message 0x21 needs tags 1, 2, 4 and 5.
const unsigned char kRequired[] = {1, 2, 4, 5};
const CarrowMsgDef kMsgDefs[] = {{0x21, 4, kRequired}, {0x30, 0, nullptr}};
const CarrowTagDef kTagDefs[] = {{1, VTag::TagString, "name"}};
const CarrowMetaDef kMetaDefs[] = {{3, VTag::TagUInt8, "sensor", "Sensor"}, {9, VTag::TagNull, "group", "Group"}};
const CarrowDictDef kDict = {{0, 0}, 2, 1, 2, kMsgDefs, kTagDefs, kMetaDefs};

std::unique_ptr<VMsg> messageOf(unsigned char id, std::initializer_list<VTag*> tags)
{
    auto msg = std::make_unique<VMsg>(id);
    for (VTag* tag : tags)
        msg->addTag(tag);
    return msg;
}

std::unique_ptr<VMsg> mixedMessage(unsigned char id)
{
    unsigned char blob[300];
    for (unsigned i = 0; i < sizeof blob; ++i)
        blob[i] = static_cast<unsigned char>(i);
    char name[] = "sensor array";
    return messageOf(id, {new VTagString(1, name), new VTagUInt8(3, 1), new VTagUInt32(2, 70000u),
                          new VTagBytes(4, blob, 40), new VTagNull(9), new VTagUInt16(5, 2), new VTagFloat(6, 1.5f),
                          new VTagBytes(7, blob, 300), new VTagUInt8(3, 2), new VTagString(8, "x", 1),
                          new VTagBytes(10, blob, 12), new VTagUInt32(11, 2.5f)});
}

// ---------------------------------------------------------------------------
// The tests.

// The parameter: the failing allocation and every later one fail.
class AllocFailure : public ::testing::TestWithParam<bool> {
protected:
    /// Fails each of the library's allocations in the operation that
    /// @p body runs, after a warm-up run; prints the number of failure points.
    void eachFailure(const std::string& what, const std::function<void(FailurePoint&)>& body)
    {
        const long points = failEachAllocation(what, Variant{GetParam(), Counted::Library, true}, body);
        if (!mQuiet)
            std::printf("[ alloc    ] %s: %ld failure points\n", what.c_str(), points);
        mPoints += points;
    }

    bool mQuiet = false;
    long mPoints = 0;
};

// Every way of making a tag: the constructors, the factory and the clone.
TEST_P(AllocFailure, TagConstructionFactoryAndClone)
{
    unsigned char payload[1100];
    for (unsigned i = 0; i < sizeof payload; ++i)
        payload[i] = static_cast<unsigned char>(i * 7);
    const std::vector<std::pair<const char*, std::function<VTag*()>>> makers = {
        {"VTagNull", [] { return new VTagNull(1); }},
        {"VTagString", [] { char text[] = "abc"; return new VTagString(2, text); }},
        {"VTagString cut", [] {
             char text[1101];
             std::memset(text, 'y', 1100);
             text[1100] = 0;
             return new VTagString(2, text);
         }},
        {"VTagString counted", [] { return new VTagString(2, "abcdef", 4); }},
        {"VTagUInt32", [] { return new VTagUInt32(3, 123456u); }},
        {"VTagUInt32 from float", [] { return new VTagUInt32(3, 0.25f); }},
        {"VTagFloat", [] { return new VTagFloat(4, -2.5f); }},
        {"VTagUInt16", [] { return new VTagUInt16(5, static_cast<unsigned short>(513)); }},
        {"VTagUInt8", [] { return new VTagUInt8(6, static_cast<unsigned char>(9)); }},
        {"VTagBytes", [&] { return new VTagBytes(7, payload, sizeof payload); }},
        {"VTag with payload", [&] {
             std::unique_ptr<VTag> tag(new VTag(8, VTag::TagBytes));
             tag->setData(payload, 20);
             return tag.release();
         }},
        {"createVTag()", [] { return VTagFactory::createVTag(1); }},
        {"createVTag(text)", [] { char text[] = "text"; return VTagFactory::createVTag(2, text); }},
        {"createVTag(unsigned)", [] { return VTagFactory::createVTag(3, 7u); }},
        {"createVTag(float, uint32)", [] { return VTagFactory::createVTag(3, 7.0f, true); }},
        {"createVTag(float)", [] { return VTagFactory::createVTag(4, 7.0f, false); }},
        {"createVTag(unsigned short)", [] { return VTagFactory::createVTag(5, static_cast<unsigned short>(7)); }},
        {"createVTag(unsigned char)", [] { return VTagFactory::createVTag(6, static_cast<unsigned char>(7)); }},
        {"createVTag(bytes)", [&] { return VTagFactory::createVTag(7, payload, 600); }},
    };
    mQuiet = true;
    for (const auto& [name, make] : makers) {
        std::unique_ptr<VTag> reference(make());
        const Bytes expected = encode(*reference);
        eachFailure(name, [&](FailurePoint& point) {
            std::unique_ptr<VTag> tag;
            if (!point.run([&] { tag.reset(make()); })) {
                EXPECT_EQ(encode(*tag), expected);
            }
        });
        std::unique_ptr<VTag> clone;
        eachFailure(std::string("clone of ") + name, [&](FailurePoint& point) {
            if (!point.run([&] { clone.reset(VTagFactory::createVTag(reference.get())); })) {
                EXPECT_EQ(encode(*clone), expected);
            }
            clone.reset();
        });
    }
    std::printf("[ alloc    ] %zu ways of making a tag, each also cloned: %ld failure points\n", makers.size(),
                mPoints);
}

// A failed setData leaves the old payload in place.
TEST_P(AllocFailure, SetDataKeepsThePayloadOnFailure)
{
    unsigned char bigger[500];
    std::memset(bigger, 0x33, sizeof bigger);
    eachFailure("setData", [&](FailurePoint& point) {
        VTagBytes tag(1, const_cast<char*>("old"), 3);
        const Bytes before = encode(tag);
        if (point.run([&] { tag.setData(bigger, sizeof bigger); })) {
            EXPECT_EQ(encode(tag), before);
        } else {
            EXPECT_EQ(tag.mLength, sizeof bigger);
        }
    });
}

TEST_P(AllocFailure, ParseMsg)
{
    const Bytes block = everyTypeBlock(0x21);
    eachFailure("parseMsg", [&](FailurePoint& point) {
        std::unique_ptr<VMsg> msg;
        if (point.run([&] { msg.reset(VMsg::parseMsg(block.data(), static_cast<unsigned short>(block.size()))); })) {
            EXPECT_EQ(msg, nullptr);
            return;
        }
        ASSERT_NE(msg, nullptr);
        EXPECT_EQ(msg->mTagCount, 8);
        EXPECT_EQ(chainOf(*msg).size(), 8u);
    });
}

// A failed segmentation puts every tag back: the message is as before and
// can be segmented again.
TEST_P(AllocFailure, SegmentMessage)
{
    std::vector<std::size_t> expectedSizes;
    {
        auto reference = mixedMessage(0x21);
        for (VMsg* segment = reference->segmentMessage(48); segment; segment = segment->mNextSegment)
            expectedSizes.push_back(chainOf(*segment).size());
        ASSERT_GT(expectedSizes.size(), 3u);
    }
    eachFailure("segmentMessage", [&](FailurePoint& point) {
        auto msg = mixedMessage(0x21);
        msg->gotoFirst();
        msg->getTag();
        const MessageState before(*msg);
        if (point.run([&] { msg->segmentMessage(48); })) {
            EXPECT_TRUE(MessageState(*msg) == before) << "the message lost or reordered tags";
            EXPECT_EQ(msg->mFirstSegment, nullptr);
            EXPECT_EQ(msg->mCurrentSegment, nullptr);
            // Usable: a walk sees every tag.
            std::vector<VTag*> walked;
            for (msg->gotoFirst(); VTag* tag = msg->getTag();)
                walked.push_back(tag);
            EXPECT_EQ(walked, before.tags);
        }
        // Whether it failed or not, the message (now) segments as it should.
        std::vector<std::size_t> sizes;
        for (VMsg* segment = msg->segmentMessage(48); segment; segment = segment->mNextSegment)
            sizes.push_back(chainOf(*segment).size());
        EXPECT_EQ(sizes, expectedSizes);
        EXPECT_EQ(msg->mFirstTag, nullptr);
        EXPECT_EQ(msg->mTagCount, before.count);
    });
}

// Frames received one by one and joined: a failure while receiving leaves
// the joined message with the tags of the frames joined so far.
TEST_P(AllocFailure, ReceiveAndAddSegment)
{
    auto original = mixedMessage(0x21);
    const MessageState whole(*original);
    std::vector<Bytes> frames;
    for (VMsg* segment = original->segmentMessage(64); segment; segment = segment->mNextSegment) {
        Bytes frame(segment->mLength + 2u);
        ASSERT_EQ(segment->getMsg(frame.data(), static_cast<unsigned short>(frame.size())), frame.size());
        frames.push_back(frame);
    }
    eachFailure("parseMsg + addSegment", [&](FailurePoint& point) {
        VMsg joined(0x21);
        std::size_t framesJoined = 0;
        std::size_t tagsJoined = 0;
        const bool failed = point.run([&] {
            for (const Bytes& frame : frames) {
                std::unique_ptr<VMsg> received(VMsg::parseMsg(frame.data(), static_cast<unsigned short>(frame.size())));
                const std::size_t count = received->mTagCount;
                joined.addSegment(received.get());
                ++framesJoined;
                tagsJoined += count;
            }
        });
        EXPECT_EQ(chainOf(joined).size(), tagsJoined);
        EXPECT_EQ(joined.mTagCount, tagsJoined);
        if (!failed) {
            EXPECT_EQ(framesJoined, frames.size());
            EXPECT_EQ(joined.mLength, whole.length);
            ASSERT_EQ(joined.mTagCount, whole.count);
            const std::vector<VTag*> tags = chainOf(joined);
            for (std::size_t i = 0; i < tags.size(); ++i)
                EXPECT_EQ(encode(*tags[i]), whole.wire[i]);
        }
    });
}

// Received blocks: a failure queues nothing and the queue keeps what it had.
TEST_P(AllocFailure, BytesIn)
{
    const Bytes valid = everyTypeBlock(0x30);
    const Bytes unknown = everyTypeBlock(0x44);
    const Bytes tooShort{0x30};
    for (const Bytes* block : {&valid, &unknown, &tooShort}) {
        eachFailure("bytesIn", [&](FailurePoint& point) {
            Carrow endpoint(&kDict);
            ASSERT_EQ(endpoint.bytesIn(valid.data(), static_cast<unsigned short>(valid.size())), nullptr);
            ASSERT_EQ(endpoint.bytesIn(valid.data(), 2), nullptr);
            const std::vector<void*> before = itemsOf(endpoint.mIncoming);
            VList* errors = nullptr;
            if (point.run([&] { errors = endpoint.bytesIn(block->data(), static_cast<unsigned short>(block->size())); })) {
                EXPECT_EQ(itemsOf(endpoint.mIncoming), before);
            } else if (block == &valid) {
                EXPECT_EQ(errors, nullptr);
                EXPECT_EQ(itemsOf(endpoint.mIncoming).size(), before.size() + 1);
            } else {
                EXPECT_EQ(codesOf(errors).size(), 1u);
                EXPECT_EQ(itemsOf(endpoint.mIncoming), before);
            }
            releaseErrors(errors);
            // Usable: the queued messages come out in order.
            std::unique_ptr<VMsg> oldest(endpoint.getMessage());
            EXPECT_EQ(oldest.get(), before.front());
        });
    }
}

// A message that cannot be queued stays the caller's; the queue is unchanged.
TEST_P(AllocFailure, SendMessage)
{
    for (unsigned char id : {0x30, 0x44}) {
        eachFailure("sendMessage", [&](FailurePoint& point) {
            Carrow endpoint(&kDict);
            ASSERT_EQ(endpoint.sendMessage(new VMsg(0x30)), nullptr);
            ASSERT_EQ(endpoint.sendMessage(new VMsg(0x30)), nullptr);
            const std::vector<void*> before = itemsOf(endpoint.mOutgoing);
            auto msg = mixedMessage(id);
            VList* errors = nullptr;
            if (point.run([&] { errors = endpoint.sendMessage(msg.get()); })) {
                const std::vector<void*> after = itemsOf(endpoint.mOutgoing);
                EXPECT_EQ(after, before) << "the queue changed although sendMessage failed";
                // Owned by the queue after all: let the endpoint free it once.
                if (std::find(after.begin(), after.end(), msg.get()) != after.end())
                    msg.release();
            } else if (id == 0x30) {
                EXPECT_EQ(errors, nullptr);
                msg.release();
                EXPECT_EQ(itemsOf(endpoint.mOutgoing).size(), before.size() + 1);
            } else {
                EXPECT_EQ(codesOf(errors), std::vector<unsigned short>{ErrUnknownMessage});
                EXPECT_EQ(itemsOf(endpoint.mOutgoing), before);
            }
            releaseErrors(errors);
        });
    }
}

// bytesOut: written (which needs no memory), buffer too small, or message no
// longer writable. A failure keeps the queue and the caller's length as they
// were.
TEST_P(AllocFailure, BytesOut)
{
    enum Case { Written, TooSmall, Unwritable };
    for (Case c : {Written, TooSmall, Unwritable}) {
        eachFailure("bytesOut", [&](FailurePoint& point) {
            Carrow endpoint(&kDict);
            auto head = mixedMessage(0x30);
            if (c == Unwritable)
                head->mFirstTag->setData(const_cast<char*>("a payload changed after the tag was added"), 40);
            const MessageState headState(*head);
            ASSERT_EQ(endpoint.sendMessage(head.release()), nullptr);
            ASSERT_EQ(endpoint.sendMessage(new VMsg(0x30)), nullptr);
            const std::vector<void*> before = itemsOf(endpoint.mOutgoing);
            Bytes out(1024);
            unsigned short length = c == TooSmall ? 10 : 1024;
            VList* errors = nullptr;
            if (point.run([&] { errors = endpoint.bytesOut(out.data(), &length); })) {
                const std::vector<void*> after = itemsOf(endpoint.mOutgoing);
                EXPECT_EQ(after, before) << "the queue changed although bytesOut failed";
                EXPECT_EQ(length, c == TooSmall ? 10 : 1024);
                if (!after.empty() && after.front() == before.front()) {
                    EXPECT_TRUE(MessageState(*static_cast<VMsg*>(after.front())) == headState);
                }
            } else if (c == Written) {
                EXPECT_EQ(errors, nullptr);
                EXPECT_EQ(length, headState.length + 2u);
                EXPECT_EQ(itemsOf(endpoint.mOutgoing).size(), 1u);
            } else if (c == TooSmall) {
                EXPECT_EQ(codesOf(errors), std::vector<unsigned short>{ErrBufferTooSmall});
                EXPECT_EQ(itemsOf(endpoint.mOutgoing), before);
            } else {
                EXPECT_EQ(codesOf(errors), std::vector<unsigned short>{ErrLengthMismatch});
                EXPECT_EQ(itemsOf(endpoint.mOutgoing).size(), 1u);
            }
            releaseErrors(errors);
        });
    }
}

TEST_P(AllocFailure, CheckMessageTags)
{
    eachFailure("checkMessageTags", [&](FailurePoint& point) {
        Carrow endpoint(&kDict);
        unsigned char ids[] = {7, 2, 9};
        VList* errors = nullptr;
        if (!point.run([&] { errors = endpoint.checkMessageTags(&kMsgDefs[0], ids, sizeof ids); })) {
            EXPECT_EQ(codesOf(errors), (std::vector<unsigned short>{ErrMissingTag, ErrMissingTag, ErrMissingTag}));
        }
        releaseErrors(errors);
    });
}

// The structured view: a failure leaves the source message as it was and
// no error list half built.
TEST_P(AllocFailure, ParseVMsg)
{
    enum Case { Grouped, CountMismatch, NullArgument };
    for (Case c : {Grouped, CountMismatch, NullArgument}) {
        eachFailure("parseVMsg", [&](FailurePoint& point) {
            auto msg = mixedMessage(0x21);
            if (c == CountMismatch)
                msg->addTag(new VTag(12, static_cast<VTag::VTagType>(7)));
            const MessageState before(*msg);
            CarrowMessage* result = nullptr;
            const bool failed = point.run([&] {
                result = CarrowMessage::parseVMsg(&kDict, c == NullArgument ? nullptr : msg.get());
            });
            std::unique_ptr<CarrowMessage> structured(result);
            EXPECT_TRUE(MessageState(*msg) == before) << "parseVMsg changed its source message";
            if (failed) {
                EXPECT_EQ(structured, nullptr);
            } else if (c == Grouped) {
                ASSERT_NE(structured, nullptr);
                EXPECT_EQ(structured->mTags.size(), 1u);
                ASSERT_EQ(structured->mObjects.size(), 3u);
                EXPECT_EQ(structured->mObjects[0]->mTags.size(), 2u);
                EXPECT_EQ(CarrowMessage::mLastErrors, nullptr);
            } else {
                EXPECT_EQ(structured, nullptr);
                EXPECT_EQ(codesOf(CarrowMessage::mLastErrors),
                          std::vector<unsigned short>{c == NullArgument ? ErrNullArgument : ErrTagCountMismatch});
            }
            // Release the class's error list, so the blocks balance.
            VMsg empty(0x30);
            delete CarrowMessage::parseVMsg(&kDict, &empty);
        });
    }
}

// Destroying an endpoint deletes what it still queues.
TEST_P(AllocFailure, EndpointDestruction)
{
    eachFailure("~Carrow", [&](FailurePoint& point) {
        auto endpoint = std::make_unique<Carrow>(&kDict);
        ASSERT_EQ(endpoint->sendMessage(mixedMessage(0x30).release()), nullptr);
        const Bytes block = everyTypeBlock(0x30);
        ASSERT_EQ(endpoint->bytesIn(block.data(), static_cast<unsigned short>(block.size())), nullptr);
        EXPECT_FALSE(point.run([&] { endpoint.reset(); })) << "destroying an endpoint threw";
    });
}

// The modern layer: a failure inside the builder, the structured view or an
// endpoint call frees what was made, and a message handed in is either
// queued or still the caller's, never lost and never owned twice.
TEST_P(AllocFailure, ModernLayer)
{
    eachFailure("MessageBuilder", [&](FailurePoint& point) {
        std::unique_ptr<VMsg> msg;
        if (!point.run([&] {
                msg = vmsg::MessageBuilder(0x21).u8(1, 1).text(2, "abc").bytes(3, "xyz", 3).f32(4, 1.0f).build();
            })) {
            ASSERT_NE(msg, nullptr);
            EXPECT_EQ(msg->mTagCount, 4);
        }
    });
    eachFailure("structure", [&](FailurePoint& point) {
        auto msg = mixedMessage(0x21);
        const MessageState before(*msg);
        vmsg::Structure view;
        if (!point.run([&] { view = vmsg::structure(kDict, *msg); })) {
            ASSERT_TRUE(view);
            EXPECT_EQ(view.message->mObjects.size(), 3u);
        }
        EXPECT_TRUE(MessageState(*msg) == before);
    });
    const Bytes block = everyTypeBlock(0x21);
    eachFailure("Endpoint", [&](FailurePoint& point) {
        // The block is longer than the default limit of a block.
        vmsg::EndpointOptions options;
        options.maxBlock = block.size();
        vmsg::Endpoint endpoint(kDict, options);
        std::unique_ptr<VMsg> msg = mixedMessage(0x21);
        VMsg* const sent = msg.get();
        std::unique_ptr<VMsg> received;
        vmsg::Errors errors;
        point.run([&] {
            errors = endpoint.send(msg);
            errors = endpoint.bytesIn(block.data(), block.size());
            received = endpoint.receive();
        });
        // Queued (and so the endpoint's) exactly when the handle let go.
        EXPECT_TRUE(msg == nullptr ? endpoint.ready() : msg.get() == sent && !endpoint.ready());
        EXPECT_TRUE(errors.empty());
    });
}

// A frame reader allocates its buffer when it is made, and nothing after:
// framing, feeding and handing out blocks run with every allocation of the
// library failing.
TEST_P(AllocFailure, FrameReaderAllocatesOnlyWhenMade)
{
    for (vmsg::Framing framing : {vmsg::Framing::LengthPrefix, vmsg::Framing::Cobs}) {
        eachFailure("FrameReader", [&](FailurePoint& point) {
            std::unique_ptr<vmsg::FrameReader> reader;
            if (!point.run([&] { reader = std::make_unique<vmsg::FrameReader>(framing); })) {
                EXPECT_EQ(reader->buffered(), 0u);
            }
        });
        const Bytes block = everyTypeBlock(0x30);
        Bytes stream(3 * vmsg::maxFramedSize(framing, block.size()) + 3, 0x00);
        std::size_t size = 0;
        vmsg::FrameReader reader(framing);
        std::size_t blocks = 0;
        FailurePoint point(1, Variant{true, Counted::Library, false});
        EXPECT_FALSE(point.run([&] {
            for (int i = 0; i < 3; ++i)
                size += vmsg::frame(framing, block.data(), block.size(), stream.data() + size, stream.size() - size);
            for (std::size_t at = 0; at < size;) {
                at += reader.feed(stream.data() + at, size - at);
                const unsigned char* out;
                std::size_t length;
                while (reader.next(out, length))
                    ++blocks;
            }
        }));
        EXPECT_EQ(blocks, 3u);
        EXPECT_FALSE(point.reached());
    }
}

INSTANTIATE_TEST_SUITE_P(Memory, AllocFailure, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "StaysShort" : "FailsOnce");
                         });

// ---------------------------------------------------------------------------
// First use. The first time the library logs to a category, log4cpp creates
// it, and that allocates: a std::bad_alloc can then come out of the library's
// log calls. Each test needs a process in which the library has not used its
// category yet, and is skipped otherwise. Without a warm-up run, the
// library's allocations fail in turn, and so does the first allocation of
// each call the library makes into log4cpp (or the C++ runtime): log4cpp
// leaks a category whose creation fails halfway, so failing its later
// allocations would only show that.

// Runs @p body under failEachAllocation with every allocation failing in
// turn, without a warm-up run.
void failEachAllocationOnFirstUse(const char* what, bool persistent, const std::function<void(FailurePoint&)>& body)
{
    // The root category comes with the first category log4cpp creates; it
    // is not the library's, so it is made here.
    log4cpp::Category::getRoot();
    failEachAllocation(what, Variant{persistent, Counted::LibraryAndEntry, false}, body);
}

#define SKIP_UNLESS_FIRST_USE(name)                                                                 \
    if (log4cpp::Category::exists(name))                                                            \
    GTEST_SKIP() << "the library has logged to " name " in this process already; run the test alone"

// checkMessageTags builds its error list with VList::add, which logs each
// entry: a failure there must not leave the record in the list and free it.
void errorListOnFirstUse(bool persistent)
{
    Carrow endpoint(&kDict);
    failEachAllocationOnFirstUse("checkMessageTags", persistent, [&](FailurePoint& point) {
        unsigned char ids[] = {7, 2, 9};
        VList* errors = nullptr;
        if (!point.run([&] { errors = endpoint.checkMessageTags(&kMsgDefs[0], ids, sizeof ids); })) {
            EXPECT_EQ(codesOf(errors).size(), 3u);
        }
        releaseErrors(errors);
    });
}

TEST(AllocFailureFirstUse, ErrorListFailsOnce)
{
    SKIP_UNLESS_FIRST_USE("Vlist");
    errorListOnFirstUse(false);
}

TEST(AllocFailureFirstUse, ErrorListStaysShort)
{
    SKIP_UNLESS_FIRST_USE("Vlist");
    errorListOnFirstUse(true);
}

// sendMessage queues with VList::add: a message it refuses stays the
// caller's and out of the queue.
TEST(AllocFailureFirstUse, SendMessage)
{
    SKIP_UNLESS_FIRST_USE("Vlist");
    failEachAllocationOnFirstUse("sendMessage", false, [&](FailurePoint& point) {
        Carrow endpoint(&kDict);
        auto msg = std::make_unique<VMsg>(0x30);
        VList* errors = nullptr;
        if (point.run([&] { errors = endpoint.sendMessage(msg.get()); })) {
            const std::vector<void*> queued = itemsOf(endpoint.mOutgoing);
            EXPECT_TRUE(queued.empty()) << "sendMessage failed but queued the message";
            if (std::find(queued.begin(), queued.end(), msg.get()) != queued.end())
                msg.release(); // the endpoint frees it: avoid a second delete
        } else {
            EXPECT_EQ(errors, nullptr);
            msg.release();
        }
        releaseErrors(errors);
    });
}

// parseMsg: the new message logs in its constructor.
TEST(AllocFailureFirstUse, ParseMsg)
{
    SKIP_UNLESS_FIRST_USE("VMsg");
    const Bytes block = everyTypeBlock(0x21);
    failEachAllocationOnFirstUse("parseMsg", true, [&](FailurePoint& point) {
        std::unique_ptr<VMsg> msg;
        if (!point.run([&] { msg.reset(VMsg::parseMsg(block.data(), static_cast<unsigned short>(block.size()))); })) {
            EXPECT_EQ(msg->mTagCount, 8);
        }
    });
}

// parseVMsg deletes the copies made so far when one fails, and logs each
// deletion: with memory still short that cleanup must not throw.
TEST(AllocFailureFirstUse, ParseVMsgStaysShort)
{
    SKIP_UNLESS_FIRST_USE("CarrowMessage");
    failEachAllocationOnFirstUse("parseVMsg", true, [&](FailurePoint& point) {
        auto msg = mixedMessage(0x21);
        std::unique_ptr<CarrowMessage> structured;
        if (!point.run([&] { structured.reset(CarrowMessage::parseVMsg(&kDict, msg.get())); })) {
            ASSERT_NE(structured, nullptr);
            EXPECT_EQ(structured->mObjects.size(), 3u);
        }
    });
}

// The in-place reader and writer allocate nothing, whatever the block.
TEST(AllocationFree, ReaderAndWriterMakeNoAllocation)
{
    const Bytes block = everyTypeBlock(0x21);
    unsigned char out[vmsg::kMaxBlock];
    const std::string text(1100, 't');
    const long before = gAllocator.total.load();
    for (int round = 0; round < 100; ++round) {
        for (std::size_t size = 0; size <= block.size(); ++size) {
            vmsg::Reader reader(block.data(), size);
            vmsg::TagView tag;
            std::size_t characters = 0;
            while (reader.next(tag))
                characters += tag.text().size() + tag.bytes().size() + tag.u32();
            EXPECT_GE(characters, 0u);
        }
        vmsg::Writer writer(out, sizeof out, 0x21);
        writer.null(1);
        writer.u8(2, 7);
        writer.u16(3, 258);
        writer.u32(4, 1);
        writer.f32(5, 1.5f);
        writer.text(6, text);
        writer.bytes(7, text.data(), text.size());
        EXPECT_FALSE(writer.ok()); // the long bytes no longer fit
    }
    EXPECT_EQ(gAllocator.total.load() - before, 0);
}

} // namespace
