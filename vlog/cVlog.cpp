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
// hit is confirmed against a copy of the name kept in the slot, because a
// caller may pass a buffer whose address is later reused for another name;
// longer names are not cached. log4cpp keeps its categories alive until it
// is shut down, so the cached pointers stay valid.
constexpr unsigned kSlots = 32;
constexpr std::size_t kMaxCachedName = 32;

struct Slot {
    std::atomic<const char*> name{nullptr};
    char text[kMaxCachedName] = {};
    log4cpp::Category* category = nullptr;
};

Slot gSlots[kSlots];
std::atomic<unsigned> gUsed{0};
std::mutex gInsertMutex;

log4cpp::Category* findCached(const char* name, unsigned used)
{
    for (unsigned i = 0; i < used; ++i) {
        if (gSlots[i].name.load(std::memory_order_relaxed) == name && std::strcmp(gSlots[i].text, name) == 0)
            return gSlots[i].category;
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
    const std::size_t length = std::strlen(name);
    if (used < kSlots && length < kMaxCachedName) {
        // Filled before gUsed publishes it; readers never see a partial slot.
        Slot& slot = gSlots[used];
        std::memcpy(slot.text, name, length + 1);
        slot.category = category;
        slot.name.store(name, std::memory_order_relaxed);
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
