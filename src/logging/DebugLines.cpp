// The debug-line gate of the messages' category.
#include "logging/DebugLines.h"

#include "logging/Categories.h"

#include <cVlog.h>

#include <log4cpp/Category.hh>
#include <log4cpp/Priority.hh>

#include <atomic>

namespace vmsg::log {

namespace {

// The category, looked up once for the process: log4cpp keeps a category
// from its creation until it shuts down, and loggingAvailable() turns
// false before that. Null until a lookup succeeded.
std::atomic<log4cpp::Category*> gVMsgCategory{nullptr};

} // namespace

bool vmsgDebugOn() noexcept
{
    if (!cVlog::loggingAvailable())
        return false;
    log4cpp::Category* category = gVMsgCategory.load(std::memory_order_acquire);
    if (!category) {
        try {
            category = &cVlog::getLog(kVMsg);
        } catch (...) {
            // log4cpp could not create the category: no line can be
            // written, as cVlog::debug would drop it.
            return false;
        }
        gVMsgCategory.store(category, std::memory_order_release);
    }
    return category->getChainedPriority() >= log4cpp::Priority::DEBUG;
}

} // namespace vmsg::log
