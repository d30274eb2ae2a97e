// The named logger: each object finds its category by the name's content,
// for any number of names, names in reused buffers, and names in libraries
// that are loaded and unloaded.
#include <VMsg.h>
#include <cVlog.h>
#include <log4cpp/Category.hh>

#include "LogCapture.h"
#include "TestHelpers.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

// One loaded copy of tests/logging/plugin.cpp.
class Plugin {
public:
    explicit Plugin(const char* path) : mHandle(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {}
    ~Plugin()
    {
        if (mHandle)
            dlclose(mHandle);
    }
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    bool loaded() const { return mHandle != nullptr; }
    const char* category() const { return symbol<const char* (*)()>("pluginCategory")(); }
    void log(const char* text) const { symbol<void (*)(const char*)>("pluginLog")(text); }

private:
    template <typename Fn>
    Fn symbol(const char* name) const
    {
        void* address = dlsym(mHandle, name);
        Fn fn = nullptr;
        if (address)
            std::memcpy(&fn, &address, sizeof fn);
        return fn;
    }
    void* mHandle;
};

} // namespace

TEST(NamedLogger, LibraryLoadedAfterAnotherWasUnloadedLogsUnderItsOwnName)
{
    LogCapture log("Plugin", "%c: %m");
    const void* firstAddress = nullptr;
    {
        Plugin first(VMSG_TEST_PLUGIN_A);
        ASSERT_TRUE(first.loaded()) << dlerror();
        firstAddress = first.category();
        first.log("from the first library");
    }
    Plugin second(VMSG_TEST_PLUGIN_B);
    ASSERT_TRUE(second.loaded()) << dlerror();
    if (second.category() != firstAddress)
        std::printf("note: the two libraries' category names lie at different addresses\n");
    second.log("from the second library");
    EXPECT_EQ(log.lines(), (Lines{"Plugin.A: from the first library", "Plugin.B: from the second library"}));
}

TEST(NamedLogger, FindsEachCategoryByTheNameItHoldsAtTheFirstLine)
{
    LogCapture log("named", "%c: %m");
    // Far more names than a cache of categories holds, one too long to be
    // cached at all, and then the library's own category.
    std::vector<std::string> names;
    for (int i = 0; i < 100; ++i)
        names.push_back("named.n" + std::to_string(i));
    names.push_back("named.a-name-longer-than-any-cache-entry");
    Lines expected;
    for (int round = 0; round < 2; ++round) {
        for (const std::string& name : names) {
            cVlog logger(name.c_str());
            logger.debug("line %d", round);
            expected.push_back(name + ": line " + std::to_string(round));
        }
    }
    EXPECT_EQ(log.lines(), expected);
    log.clear();

    // One buffer, two names: each object takes the name the buffer holds
    // at its first line, and keeps that category.
    char buffer[32] = "named.first";
    cVlog first(buffer);
    first.debug("one");
    std::strcpy(buffer, "named.second");
    cVlog second(buffer);
    second.debug("two");
    first.debug("three");
    EXPECT_EQ(log.lines(), (Lines{"named.first: one", "named.second: two", "named.first: three"}));

    LogCapture messages("VMsg");
    VMsg msg(1);
    EXPECT_EQ(messages.lines(), (Lines{"VMsg() - " + pointerText(&msg)}));
}

// cVlog::getLog keeps the last few categories of each thread. Every look-up
// must give the category of exactly that name: not one whose name is a
// prefix of it or starts with it, not the former name of an entry that a
// shorter name took over, and still after more names than it keeps. Each
// case runs in a thread of its own, whose cache starts empty.
TEST(NamedLogger, GetLogGivesTheCategoryOfExactlyThatName)
{
    const auto nameOf = [](const char* name) { return cVlog::getLog(name).getName(); };
    std::vector<std::string> failures;
    std::thread([&] {
        // A name and its prefix, both kept.
        for (const char* name : {"x.n1", "x.n10", "x.n1", "x.n10", "x.n"})
            if (nameOf(name) != name)
                failures.push_back(std::string(name) + " gave " + nameOf(name));
    }).join();
    std::thread([&] {
        // y.abc0 first; seven more names; then y.ab takes y.abc0's entry.
        std::vector<std::string> names = {"y.abc0"};
        for (int i = 1; i < 8; ++i)
            names.push_back("y.other" + std::to_string(i));
        names.push_back("y.ab");
        names.push_back("y.abc0");
        names.push_back("y.ab");
        for (const std::string& name : names)
            if (nameOf(name.c_str()) != name)
                failures.push_back(name + " gave " + nameOf(name.c_str()));
    }).join();
    std::thread([&] {
        // From 1 to 12 names in turn, each three times over: more names
        // than entries, and one of exactly 23 characters (the longest kept).
        for (int count = 1; count <= 12; ++count) {
            for (int round = 0; round < 3; ++round) {
                for (int i = 0; i < count; ++i) {
                    const std::string name = i == 11 ? "z.twenty-three-chars..." : "z.k" + std::to_string(i);
                    if (nameOf(name.c_str()) != name)
                        failures.push_back(name + " of " + std::to_string(count) + " gave " + nameOf(name.c_str()));
                }
            }
        }
    }).join();
    EXPECT_TRUE(failures.empty()) << ::testing::PrintToString(failures);
}
