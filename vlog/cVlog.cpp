#include "cVlog.h"

#include <log4cpp/Category.hh>
#include <log4cpp/Priority.hh>

#include <atomic>
#include <cstdarg>
#include <cstring>
#include <mutex>

namespace {

// Categories already resolved, keyed by the address of the name. Objects
// name their category with a string literal, so a handful of entries covers
// every logger of a process, and a hit needs no lock and no map lookup. A
// hit is confirmed against the category's own name, because a caller may
// pass a buffer whose address is later reused for another name. log4cpp
// keeps its categories alive until it is shut down, so the cached pointers
// stay valid.
constexpr unsigned kSlots = 32;

struct Slot {
    std::atomic<const char*> name{nullptr};
    std::atomic<log4cpp::Category*> category{nullptr};
};

Slot gSlots[kSlots];
std::atomic<unsigned> gUsed{0};
std::mutex gInsertMutex;

log4cpp::Category* findCached(const char* name, unsigned used)
{
    for (unsigned i = 0; i < used; ++i) {
        if (gSlots[i].name.load(std::memory_order_relaxed) != name)
            continue;
        log4cpp::Category* category = gSlots[i].category.load(std::memory_order_relaxed);
        if (std::strcmp(category->getName().c_str(), name) == 0)
            return category;
    }
    return nullptr;
}

log4cpp::Category* resolve(const char* name)
{
    if (log4cpp::Category* hit = findCached(name, gUsed.load(std::memory_order_acquire)))
        return hit;
    std::lock_guard<std::mutex> lock(gInsertMutex);
    unsigned used = gUsed.load(std::memory_order_relaxed);
    if (log4cpp::Category* hit = findCached(name, used))
        return hit;
    log4cpp::Category* category = &log4cpp::Category::getInstance(name);
    if (used < kSlots) {
        gSlots[used].name.store(name, std::memory_order_relaxed);
        gSlots[used].category.store(category, std::memory_order_relaxed);
        gUsed.store(used + 1, std::memory_order_release);
    }
    return category;
}

} // namespace

log4cpp::Category* cVlog::category()
{
    if (!mLogCategory)
        mLogCategory = resolve(mLogName ? mLogName : "");
    return mLogCategory;
}

void cVlog::debug(const char* format, ...)
{
    // A log line never fails its caller: the first line of a category makes
    // log4cpp create it, which allocates, and a line that cannot be logged
    // is dropped. (log4cpp's own logging functions throw nothing.)
    log4cpp::Category* cat;
    try {
        cat = category();
    } catch (...) {
        return;
    }
    if (!cat->isDebugEnabled())
        return;
    va_list args;
    va_start(args, format);
    cat->logva(log4cpp::Priority::DEBUG, format, args);
    va_end(args);
}

log4cpp::Category& cVlog::getLog(const char* name)
{
    return *resolve(name ? name : "");
}
