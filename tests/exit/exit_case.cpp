// Library objects that are destroyed while the process exits. Built once per
// case, each an executable of its own (the case is a compile definition):
//
//   VMSG_EXIT_ENDPOINT    a static endpoint with messages queued both ways
//   VMSG_EXIT_LIST        a static VList with entries
//   VMSG_EXIT_MESSAGE     a global message with tags and segments
//   VMSG_EXIT_STRUCTURED  a static structured message with tags and objects
//   VMSG_EXIT_LATE        all of these, destroyed by a handler that runs after
//                         log4cpp's own teardown
//
// The objects of the first four cases are constructed during static
// initialisation, before main has touched log4cpp. Run with "configured",
// the program turns on debug lines for every category (BasicConfigurator,
// root at DEBUG) and checks that the destructors that log (all but the
// structured message's) still do at exit; without it log4cpp stays
// unconfigured. In every case the process must exit with status 0, with no
// crash and no sanitizer report.
#include <CarrowMessage.h>

#include <log4cpp/AppenderSkeleton.hh>
#include <log4cpp/BasicConfigurator.hh>
#include <log4cpp/Category.hh>

#include <climits>
#include <cxxabi.h>
#include <stdlib.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <memory>
#include <vector>

namespace {

const unsigned char kRequired[] = {1};
const CarrowMsgDef kMsgDefs[] = {{0x21, 1, kRequired}};
const CarrowMetaDef kMetaDefs[] = {{40, VTag::TagUInt8, "group", "Group"}};
const CarrowDictDef kDict = {{0, 0}, 1, 0, 1, kMsgDefs, nullptr, kMetaDefs};

// Lines the appender below received, and how many there were when main
// returned.
std::atomic<int> gLines{0};
int gLinesAtReturn = 0;
bool gConfigured = false;

// Counts the lines that reach the root category.
class LineCounter : public log4cpp::AppenderSkeleton {
public:
    LineCounter() : AppenderSkeleton("exit-line-counter") {}
    void close() override {}
    bool requiresLayout() const override { return false; }
    void setLayout(log4cpp::Layout* layout) override { delete layout; }

protected:
    void _append(const log4cpp::LoggingEvent&) override { ++gLines; }
};

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "exit case: FAILED: %s\n", what);
    std::fflush(stderr);
    std::_Exit(3);
}

// A message of three tags, the second of which opens an object.
VMsg* newMessage()
{
    auto* msg = new VMsg(0x21);
    msg->addTag(new VTagUInt32(1, 42u));
    msg->addTag(new VTagUInt8(40, static_cast<unsigned char>(1)));
    msg->addTag(new VTagUInt16(2, static_cast<unsigned short>(7)));
    return msg;
}

[[maybe_unused]] void fillEndpoint(Carrow& endpoint)
{
    for (int i = 0; i < 3; ++i) {
        if (endpoint.sendMessage(newMessage()))
            fail("sendMessage refused a message");
    }
    const unsigned char block[] = {0x21, 0x00, 0x01, 0x04, 0x00, 0x01, 0x07};
    for (int i = 0; i < 2; ++i) {
        if (endpoint.bytesIn(block, sizeof block))
            fail("bytesIn refused a block");
    }
}

// Items of the list: static, so that nothing leaks when it drops them.
int gItems[4];

[[maybe_unused]] void fillList(VList& list)
{
    for (int& item : gItems)
        list.add(&item);
}

[[maybe_unused]] void fillMessage(VMsg& msg)
{
    for (unsigned char id = 1; id <= 8; ++id)
        msg.addTag(new VTagUInt32(id, 1000u + id));
    msg.segmentMessage(24);
}

[[maybe_unused]] void fillStructured(CarrowMessage& view)
{
    std::unique_ptr<VMsg> msg(newMessage());
    std::unique_ptr<CarrowMessage> parsed(CarrowMessage::parseVMsg(&kDict, msg.get()));
    if (!parsed)
        fail("parseVMsg refused the message");
    view.mTags.swap(parsed->mTags);
    view.mObjects.swap(parsed->mObjects);
}

#if !defined(VMSG_EXIT_LATE)
// A structured message and its tags and objects write no lines.
#if defined(VMSG_EXIT_STRUCTURED)
constexpr bool kLogsAtExit = false;
#else
constexpr bool kLogsAtExit = true;
#endif

// Defined before the case's object, so constructed before it and destroyed
// after it: checks, once the object's destructor has run, that it logged.
struct LinesChecked {
    LinesChecked() = default;
    LinesChecked(const LinesChecked&) = delete;
    LinesChecked& operator=(const LinesChecked&) = delete;
    ~LinesChecked()
    {
        if (gConfigured && kLogsAtExit && gLines.load() <= gLinesAtReturn)
            fail("the object's destructor logged nothing");
        std::printf("exit case: destroyed at exit, %d lines before and %d during the teardown\n",
                    gLinesAtReturn, gLines.load() - gLinesAtReturn);
        std::fflush(stdout);
    }
};

LinesChecked gChecked;
#endif

#if defined(VMSG_EXIT_ENDPOINT)
Carrow gEndpoint(&kDict);
void fill() { fillEndpoint(gEndpoint); }
#elif defined(VMSG_EXIT_LIST)
VList gList;
void fill() { fillList(gList); }
#elif defined(VMSG_EXIT_MESSAGE)
VMsg gMessage(0x22);
void fill() { fillMessage(gMessage); }
#elif defined(VMSG_EXIT_STRUCTURED)
CarrowMessage gStructured(0x21);
void fill() { fillStructured(gStructured); }
#elif defined(VMSG_EXIT_LATE)
// Objects made in main and destroyed by lateTeardown. That runs after
// log4cpp has destroyed its categories: it is registered before any
// library's initialisation, and not on behalf of a library (which would
// have it run when that library's own teardown comes), so it runs after
// every handler registered later, the libraries' teardown included.
Carrow* gEndpoint = nullptr;
VList* gList = nullptr;
VMsg* gMessage = nullptr;
CarrowMessage* gStructured = nullptr;

void lateTeardown()
{
    if (cVlog::loggingAvailable())
        fail("log4cpp's teardown has not been noticed");
    delete gEndpoint;
    delete gList;
    delete gMessage;
    delete gStructured;
    // The structured view's own lines go through getLog.
    std::vector<VTag*> tags{new VTagNull(1), new VTagNull(2)};
    CarrowMessage::clearVTagVect(&tags);
    VMsg unsegmented(0x21);
    unsegmented.addTag(new VTagNull(1));
    unsegmented.mTagCount = 2;
    if (CarrowMessage::parseVMsg(&kDict, &unsegmented) || CarrowMessage::parseVMsg(nullptr, nullptr))
        fail("parseVMsg accepted a bad message");
    std::printf("exit case: destroyed after log4cpp's teardown\n");
    std::fflush(stdout);
}

void lateTeardownHandler(void*)
{
    lateTeardown();
}

void registerLateTeardown()
{
    abi::__cxa_atexit(lateTeardownHandler, nullptr, nullptr);
}

// Runs before the initialisation of every shared library, the C++ runtime
// and libvlog included.
__attribute__((section(".preinit_array"), used)) void (*const kRegisterLateTeardown)() = registerLateTeardown;

void fill()
{
    gEndpoint = new Carrow(&kDict);
    fillEndpoint(*gEndpoint);
    gList = new VList();
    fillList(*gList);
    gMessage = new VMsg(0x22);
    fillMessage(*gMessage);
    gStructured = new CarrowMessage(0x21);
    fillStructured(*gStructured);
}
#else
#error "define one of the VMSG_EXIT_* cases"
#endif

} // namespace

// The libvmsg.so.0 this process mapped must be the one of the tree that
// built it (VMSG_EXIT_LIBDIR), not one installed on the machine.
static void checkLibraryDir()
{
    char want[PATH_MAX];
    if (!realpath(VMSG_EXIT_LIBDIR, want))
        return fail("the library directory " VMSG_EXIT_LIBDIR " does not exist");
    std::FILE* maps = std::fopen("/proc/self/maps", "r");
    if (!maps)
        return; // not Linux: nothing to check
    char line[PATH_MAX + 128];
    std::string found;
    while (found.empty() && std::fgets(line, sizeof line, maps)) {
        const char* path = std::strchr(line, '/');
        if (path && std::strstr(path, "/libvmsg.so"))
            found.assign(path, std::strcspn(path, "\n"));
    }
    std::fclose(maps);
    const std::size_t slash = found.rfind('/');
    if (found.empty() || found.substr(0, slash) != want)
        fail(("libvmsg is mapped from '" + found + "', not from " + want).c_str());
}

int main(int argc, char** argv)
{
    checkLibraryDir();
    gConfigured = argc > 1 && std::strcmp(argv[1], "configured") == 0;
    if (gConfigured) {
        log4cpp::BasicConfigurator::configure();
        log4cpp::Category& root = log4cpp::Category::getRoot();
        root.setPriority(log4cpp::Priority::DEBUG);
        root.addAppender(new LineCounter());
    }
    fill();
    gLinesAtReturn = gLines.load();
    if (gConfigured && gLinesAtReturn == 0)
        fail("nothing was logged while filling");
    return 0;
}
