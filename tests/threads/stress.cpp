// Threads using the library at the same time, each with objects of its own:
// 8 threads start together behind a barrier (so that the first line of
// each category, and the first look-up of each category, race) and each
// sends, receives, parses, segments and joins messages through endpoints of
// its own, over one dictionary that all of them read. Every result is
// checked. Built for the ThreadSanitizer tree, where a data race fails the
// run; it also runs in the other trees.
//
//   vmsg_thread_stress unconfigured   log4cpp as shipped: every line is off
//   vmsg_thread_stress debug          every category at DEBUG, written to
//                                     /dev/null through a PatternLayout and
//                                     counted; the count must be 8 times
//                                     that of one thread doing the same
//
// CarrowMessage::parseVMsg keeps its errors in one list for the process, so
// its calls must not overlap: the threads take turns with a mutex for that
// call alone. vmsg::structure has no such state: the threads call it
// without turns, on their own messages and all on one shared message.
// Exits 0 when every check passed.
#include <CarrowMessage.h>
#include <vmsg.hpp>

#include <log4cpp/AppenderSkeleton.hh>
#include <log4cpp/Category.hh>
#include <log4cpp/FileAppender.hh>
#include <log4cpp/PatternLayout.hh>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kThreads = 8;
constexpr int kRounds = 60;

const unsigned char kRequired[] = {1, 2};
const CarrowMsgDef kMsgDefs[] = {{0x21, 2, kRequired}, {0x22, 0, nullptr}};
const CarrowTagDef kTagDefs[] = {{1, VTag::TagUInt32, "device"}, {2, VTag::TagString, "name"}};
const CarrowMetaDef kMetaDefs[] = {{40, VTag::TagUInt8, "sensor", "Sensor"}};
const CarrowDictDef kDict = {{0, 0}, 2, 2, 1, kMsgDefs, kTagDefs, kMetaDefs};

std::atomic<int> gFailures{0};
std::mutex gParseVMsgTurn;

void check(bool ok, const char* what, int thread, int round)
{
    if (ok)
        return;
    if (++gFailures <= 20)
        std::fprintf(stderr, "thread %d, round %d: FAILED: %s\n", thread, round, what);
}

// Lets every thread go at once.
class StartingLine {
public:
    explicit StartingLine(int parties) : mWaiting(parties) {}
    void arriveAndWait()
    {
        std::unique_lock<std::mutex> lock(mMutex);
        if (--mWaiting == 0) {
            mGo.notify_all();
            return;
        }
        mGo.wait(lock, [this] { return mWaiting == 0; });
    }

private:
    std::mutex mMutex;
    std::condition_variable mGo;
    int mWaiting;
};

// Lines that reached the root category, in total.
std::atomic<long> gLines{0};

class LineCounter : public log4cpp::AppenderSkeleton {
public:
    LineCounter() : AppenderSkeleton("stress-line-counter") {}
    void close() override {}
    bool requiresLayout() const override { return false; }
    void setLayout(log4cpp::Layout* layout) override { delete layout; }

protected:
    void _append(const log4cpp::LoggingEvent&) override { ++gLines; }
};

void configureDebug()
{
    auto* file = new log4cpp::FileAppender("stress-null", "/dev/null");
    auto* layout = new log4cpp::PatternLayout();
    layout->setConversionPattern("%d %p %c: %m%n");
    file->setLayout(layout);
    log4cpp::Category& root = log4cpp::Category::getRoot();
    root.addAppender(file);
    root.addAppender(new LineCounter());
    root.setPriority(log4cpp::Priority::DEBUG);
}

void releaseErrors(VList* errors)
{
    if (!errors)
        return;
    while (void* item = errors->pull())
        delete static_cast<VError*>(item);
    delete errors;
}

std::string nameOf(int thread, int round)
{
    return "t" + std::to_string(thread) + "r" + std::to_string(round);
}

// Message 0x21 of thread @p thread, round @p round: device and name, then a
// sensor object of two readings.
VMsg* newTelemetry(int thread, int round)
{
    auto* msg = new VMsg(0x21);
    std::string name = nameOf(thread, round);
    msg->addTag(new VTagUInt32(1, static_cast<unsigned>(thread * 1000 + round)));
    msg->addTag(new VTagString(2, &name[0]));
    msg->addTag(new VTagUInt8(40, static_cast<unsigned char>(thread)));
    msg->addTag(new VTagFloat(41, static_cast<float>(round) + 0.5f));
    msg->addTag(new VTagUInt16(42, static_cast<unsigned short>(round)));
    return msg;
}

// One message that every thread structures at once; built by whichever
// thread comes first (its constructor writes one line of its own).
const VMsg& sharedMessage()
{
    static const std::unique_ptr<VMsg> msg(newTelemetry(99, 99));
    return *msg;
}
constexpr long kSharedMessageLines = 1;

// Sends a telemetry message through one endpoint, receives it on the other
// and checks what arrived, flat and structured.
void sendAndReceive(Carrow& sender, Carrow& receiver, int thread, int round)
{
    VList* refused = sender.sendMessage(newTelemetry(thread, round));
    check(refused == nullptr, "sendMessage refused the message", thread, round);
    releaseErrors(refused);

    unsigned char block[vmsg::kMaxBlock];
    unsigned short length = 4;
    VList* small = sender.bytesOut(block, &length);
    check(small && static_cast<VError*>(small->getfirst())->mCode == ErrBufferTooSmall,
          "bytesOut into 4 bytes did not report ErrBufferTooSmall", thread, round);
    releaseErrors(small);
    length = sizeof block;
    VList* sent = sender.bytesOut(block, &length);
    check(sent == nullptr && !sender.bytesOutReady(), "bytesOut failed", thread, round);
    releaseErrors(sent);

    VList* received = receiver.bytesIn(block, length);
    check(received == nullptr, "bytesIn refused the block", thread, round);
    releaseErrors(received);
    std::unique_ptr<VMsg> msg(receiver.getMessage());
    check(msg && msg->mTagCount == 5, "getMessage gave no message of 5 tags", thread, round);
    if (!msg)
        return;

    std::vector<unsigned char> ids;
    msg->gotoFirst();
    while (VTag* tag = msg->getTag())
        ids.push_back(tag->mId);
    VList* missing = receiver.checkMessageTags(receiver.findMsgDef(0x21), ids.data(),
                                               static_cast<unsigned char>(ids.size()));
    check(missing == nullptr, "checkMessageTags found a required tag missing", thread, round);
    releaseErrors(missing);

    std::unique_ptr<CarrowMessage> view;
    {
        std::lock_guard<std::mutex> turn(gParseVMsgTurn);
        view.reset(CarrowMessage::parseVMsg(&kDict, msg.get()));
    }
    check(view && view->mTags.size() == 2 && view->mObjects.size() == 1 &&
              view->mObjects[0]->mTags.size() == 2,
          "parseVMsg did not give 2 plain tags and one object of 2", thread, round);
    if (!view || view->mTags.size() != 2)
        return;
    const vmsg::Structure modern = vmsg::structure(kDict, *msg);
    check(modern && modern.message->mTags.size() == 2 && modern.message->mObjects.size() == 1 &&
              vmsg::value<std::uint32_t>(*modern.message->mTags[0]) == static_cast<unsigned>(thread * 1000 + round),
          "vmsg::structure did not give what parseVMsg gave", thread, round);
    const vmsg::Structure shared = vmsg::structure(kDict, sharedMessage());
    check(shared && shared.message->mObjects.size() == 1, "vmsg::structure of the shared message failed", thread,
          round);
    const auto* device = static_cast<const VTagUInt32*>(view->mTags[0]);
    check(device->getValue() == static_cast<unsigned>(thread * 1000 + round), "wrong device", thread, round);
    char name[32] = {};
    static_cast<const VTagString*>(view->mTags[1])->getValue(name, sizeof name);
    check(nameOf(thread, round) == name, "wrong name", thread, round);
}

// Writes a message of 40 tags as segments for 64-byte frames, parses each
// segment, joins them, and checks that the join writes the original bytes.
void segmentAndJoin(int thread, int round)
{
    VMsg original(0x22);
    for (int i = 0; i < 40; ++i)
        original.addTag(new VTagUInt32(static_cast<unsigned char>(i), static_cast<unsigned>(thread + i * round)));
    unsigned char whole[vmsg::kMaxBlock];
    const unsigned short wholeLength = original.getMsg(whole, sizeof whole);
    check(wholeLength == 2 + 40 * 8, "getMsg of the whole message failed", thread, round);

    std::unique_ptr<VMsg> joined;
    int segments = 0;
    for (VMsg* segment = original.segmentMessage(64); segment; segment = segment->mNextSegment) {
        unsigned char frame[64];
        const unsigned short n = segment->getMsg(frame, sizeof frame);
        check(n != 0 && n < 64, "a segment does not fit its frame", thread, round);
        std::unique_ptr<VMsg> parsed(VMsg::parseMsg(frame, n));
        if (!joined) {
            joined = std::move(parsed);
        } else {
            joined->addSegment(parsed.get());
            if (parsed->isLastSegment())
                joined->setLastSegment(true);
        }
        ++segments;
    }
    check(segments == 6, "not 6 segments of at most 7 tags", thread, round);
    unsigned char again[vmsg::kMaxBlock];
    const unsigned short againLength = joined ? joined->getMsg(again, sizeof again) : 0;
    check(againLength == wholeLength && std::memcmp(whole, again, wholeLength) == 0,
          "the joined segments do not write the original bytes", thread, round);

    // A structured view's clean-up logs each tag it deletes; it keeps no
    // state of its own, so threads may call it together.
    std::vector<VTag*> tags{new VTagNull(1), new VTagNull(2)};
    CarrowMessage::clearVTagVect(&tags);
    check(tags.empty(), "clearVTagVect left tags", thread, round);
}

void work(int thread, StartingLine* start)
{
    Carrow sender(&kDict);
    Carrow receiver(&kDict);
    if (start)
        start->arriveAndWait();
    for (int round = 0; round < kRounds; ++round) {
        sendAndReceive(sender, receiver, thread, round);
        segmentAndJoin(thread, round);
    }
}

} // namespace

int main(int argc, char** argv)
{
    const bool debug = argc > 1 && std::strcmp(argv[1], "debug") == 0;
    if (debug)
        configureDebug();

    StartingLine start(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back(work, i, &start);
    for (std::thread& thread : threads)
        thread.join();
    const long together = gLines.exchange(0);

    // The same work once more in one thread: the lines it writes, 8 times
    // over, are what the threads together must have written (the shared
    // message exists by now, and is not built again).
    work(0, nullptr);
    const long alone = gLines.load();
    if (debug && (alone == 0 || together != kThreads * alone + kSharedMessageLines)) {
        std::fprintf(stderr, "FAILED: %ld lines from %d threads, %ld from one\n", together, kThreads, alone);
        ++gFailures;
    }
    if (gFailures) {
        std::fprintf(stderr, "FAILED: %d checks\n", gFailures.load());
        return 1;
    }
    std::printf("%d threads, %d rounds each: every check passed; %ld lines logged\n", kThreads, kRounds, together);
    return 0;
}
