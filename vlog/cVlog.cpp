#include "cVlog.h"

#include <log4cpp/Category.hh>
#include <log4cpp/Priority.hh>

#include <link.h>

#include <atomic>
#include <cstdint>
#include <cstdarg>
#include <cstring>
#include <mutex>

namespace {

// Categories already resolved, in a small open-addressed table keyed by the
// address of the name. Objects name their category with a string literal,
// so a handful of entries covers every logger of a process, and a hit costs
// one probe: no lock, no map lookup. A name in writable memory may be a
// buffer whose address is later reused for another name, so a hit on such
// a name is confirmed against a copy kept in the entry; a literal, in
// read-only memory, cannot change. Longer names, and names beyond the
// table's size, are not cached. Entries are only ever added, under a
// mutex, and published by their name pointer. log4cpp keeps its categories
// alive until it is shut down, so the cached pointers stay valid.
constexpr unsigned kSlots = 64;
constexpr std::size_t kMaxCachedName = 32;

struct Slot {
    std::atomic<const char*> name{nullptr};
    char text[kMaxCachedName] = {};
    bool immutable = false;
    log4cpp::Category* category = nullptr;
};

Slot gSlots[kSlots];
unsigned gFilled = 0; // guarded by gInsertMutex
// The entry of the last lookup: objects of one class are often made in a
// row (messages while parsing), and this answers them without a probe.
std::atomic<const Slot*> gLastHit{nullptr};
std::mutex gInsertMutex;

unsigned slotOf(const char* name)
{
    return static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(name) >> 3) % kSlots;
}

// Names are a few characters long: an inline loop beats a call to strcmp.
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

log4cpp::Category* findCached(const char* name)
{
    for (unsigned probe = 0, i = slotOf(name); probe < kSlots; ++probe, i = (i + 1) % kSlots) {
        const char* key = gSlots[i].name.load(std::memory_order_acquire);
        if (!key)
            return nullptr;
        if (key == name && (gSlots[i].immutable || sameName(gSlots[i].text, name))) {
            gLastHit.store(&gSlots[i], std::memory_order_release);
            return gSlots[i].category;
        }
    }
    return nullptr;
}

// True when @p address lies in a read-only segment of a loaded program or
// library, where string literals live.
bool inReadOnlyImage(const void* address)
{
    struct Query {
        std::uintptr_t address;
        bool found;
    } query{reinterpret_cast<std::uintptr_t>(address), false};
    dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void* data) {
            auto* q = static_cast<Query*>(data);
            for (int i = 0; i < info->dlpi_phnum; ++i) {
                const ElfW(Phdr)& header = info->dlpi_phdr[i];
                if (header.p_type != PT_LOAD || (header.p_flags & PF_W))
                    continue;
                const std::uintptr_t start = info->dlpi_addr + header.p_vaddr;
                if (q->address >= start && q->address < start + header.p_memsz) {
                    q->found = true;
                    return 1;
                }
            }
            return 0;
        },
        &query);
    return query.found;
}

void insertCached(const char* name, log4cpp::Category* category)
{
    const std::size_t length = std::strlen(name);
    if (length >= kMaxCachedName || gFilled + 1 >= kSlots) // keep a free slot to end probes
        return;
    unsigned i = slotOf(name);
    while (gSlots[i].name.load(std::memory_order_relaxed))
        i = (i + 1) % kSlots;
    std::memcpy(gSlots[i].text, name, length + 1);
    gSlots[i].immutable = inReadOnlyImage(name);
    gSlots[i].category = category;
    gSlots[i].name.store(name, std::memory_order_release);
    ++gFilled;
}

log4cpp::Category* resolveSlowly(const char* name)
{
    std::lock_guard<std::mutex> lock(gInsertMutex);
    if (log4cpp::Category* hit = findCached(name))
        return hit;
    log4cpp::Category* category = &log4cpp::Category::getInstance(name);
    insertCached(name, category);
    return category;
}

// The category of the last lookup when @p name is its (read-only) name,
// else null. Entries never change once published, so any entry seen here
// is whole.
inline log4cpp::Category* lastHit(const char* name)
{
    const Slot* last = gLastHit.load(std::memory_order_acquire);
    return last && last->name.load(std::memory_order_relaxed) == name && last->immutable ? last->category
                                                                                          : nullptr;
}

__attribute__((noinline)) log4cpp::Category* resolve(const char* name)
{
    if (log4cpp::Category* hit = findCached(name))
        return hit;
    return resolveSlowly(name);
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
    // A log line never fails its caller: the first line of a category makes
    // log4cpp create it, which allocates, and a line that cannot be logged
    // is dropped. (log4cpp's own logging functions throw nothing.)
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

log4cpp::Category& cVlog::getLog(const char* name)
{
    if (log4cpp::Category* cat = lastHit(name))
        return *cat;
    return *resolve(name ? name : "");
}
