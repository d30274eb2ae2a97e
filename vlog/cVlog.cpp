#include "cVlog.h"

#include <log4cpp/Category.hh>
#include <log4cpp/Priority.hh>

#include <atomic>
#include <cstdarg>
#include <cstddef>
#include <cstring>

namespace {

// Set once the process has begun to tear log4cpp down. Atomic and trivially
// destructible, so that it can still be read by objects destroyed after
// log4cpp itself.
std::atomic<bool> gLoggingClosed{false};

// Static objects are destroyed in the reverse order of their construction.
// log4cpp creates its hierarchy of categories on first use and destroys it,
// categories included, when the process exits (or log4cpp is unloaded).
// Creating the hierarchy here, while libvlog is loaded and before this
// object is complete, puts this object's destruction before log4cpp's: from
// then on no line is written, so an object destroyed later (one with static
// storage duration, say, that still holds queued messages) never reaches a
// freed category. Objects destroyed before it still log as usual.
class LogTeardownWatch {
public:
    LogTeardownWatch() noexcept
    {
        try {
            log4cpp::Category::getRoot();
        } catch (...) {
            // Out of memory at load time: log4cpp then creates its hierarchy
            // on first use, and exit is as unsafe as it was without this.
        }
    }
    ~LogTeardownWatch() { gLoggingClosed.store(true, std::memory_order_release); }
    LogTeardownWatch(const LogTeardownWatch&) = delete;
    LogTeardownWatch& operator=(const LogTeardownWatch&) = delete;
};

const LogTeardownWatch gLogTeardownWatch;

// The categories this thread looked up last, each under a copy of its name.
// Objects are made by the thousand (a message per received block) and each
// looks its category up on its first line; log4cpp's getInstance takes a
// lock and searches a map of strings for that, which costs more than all
// the rest of a disabled debug line. A few entries per thread hold the
// library's categories with no lock and no sharing. The key is the name's
// content, never its address: the same address may hold another name later
// (a reused buffer, or a library unloaded and another loaded in its place).
// Longer names are looked up in log4cpp every time. The pointers stay valid
// as long as log4cpp keeps its categories, which is until it shuts down.
constexpr std::size_t kCachedCategories = 8;
constexpr std::size_t kMaxCachedName = 24; // including the NUL

struct CachedCategory {
    char name[kMaxCachedName];
    log4cpp::Category* category; // null: the entry is unused
};

struct CategoryCache {
    CachedCategory entries[kCachedCategories];
    unsigned next; // the entry replaced next
};

thread_local CategoryCache tCache; // zero-initialised: every entry unused

// Names are a few characters long: an inline loop beats a call to strcmp.
// Reads @p name no further than its NUL.
bool sameName(const char* cached, const char* name)
{
    for (std::size_t i = 0; i < kMaxCachedName; ++i) {
        if (cached[i] != name[i])
            return false;
        if (cached[i] == '\0')
            return true;
    }
    return false;
}

log4cpp::Category* findCached(const CategoryCache& cache, const char* name)
{
    for (const CachedCategory& entry : cache.entries) {
        if (entry.category && sameName(entry.name, name))
            return entry.category;
    }
    return nullptr;
}

void keepCached(CategoryCache& cache, const char* name, log4cpp::Category* category)
{
    const std::size_t length = std::strlen(name);
    if (length >= kMaxCachedName)
        return;
    CachedCategory& entry = cache.entries[cache.next];
    cache.next = (cache.next + 1) % kCachedCategories;
    std::memcpy(entry.name, name, length + 1);
    entry.category = category;
}

// The category called @p name, or null when log4cpp cannot create it.
log4cpp::Category* categoryOrNull(const char* name) noexcept
{
    try {
        return &cVlog::getLog(name);
    } catch (...) {
        return nullptr;
    }
}

} // namespace

void cVlog::debug(const char* format, ...)
{
    // Each object looks its category up by name on its first line and keeps
    // it: log4cpp keeps every category it created until it shuts down. The
    // first line of a category makes log4cpp create it, which allocates; a
    // line that cannot be logged is dropped, never failing its caller.
    // (log4cpp's own logging functions throw nothing.)
    if (gLoggingClosed.load(std::memory_order_relaxed))
        return;
    log4cpp::Category* cat = mLogCategory;
    if (!cat) {
        cat = categoryOrNull(mLogName);
        if (!cat)
            return;
        mLogCategory = cat;
    }
    // What isDebugEnabled does, without its extra virtual call.
    if (cat->getChainedPriority() < log4cpp::Priority::DEBUG)
        return;
    va_list args;
    va_start(args, format);
    cat->logva(log4cpp::Priority::DEBUG, format, args);
    va_end(args);
}

bool cVlog::loggingAvailable() noexcept
{
    return !gLoggingClosed.load(std::memory_order_acquire);
}

log4cpp::Category& cVlog::getLog(const char* name)
{
    if (!name)
        name = "";
    CategoryCache& cache = tCache;
    if (log4cpp::Category* hit = findCached(cache, name))
        return *hit;
    log4cpp::Category& category = log4cpp::Category::getInstance(name);
    keepCached(cache, name, &category);
    return category;
}
