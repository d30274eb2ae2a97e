// The named logger: each object finds its category by the name's content,
// for any number of names, names in reused buffers, and names in libraries
// that are loaded and unloaded.
#include <VMsg.h>

#include "LogCapture.h"
#include "TestHelpers.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstring>
#include <string>
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
