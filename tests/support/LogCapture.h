// Captures the lines written to one log4cpp category during a test.
#ifndef VMSG_TESTS_LOGCAPTURE_H
#define VMSG_TESTS_LOGCAPTURE_H

#include <log4cpp/Priority.hh>

#include <string>
#include <vector>

namespace log4cpp {
class Category;
class StringQueueAppender;
}

/// While alive, raises @p category to DEBUG and records every line written
/// to it or to the categories below it (by default the message text only,
/// no decoration). Restores the category's priority and detaches the
/// recorder on destruction.
class LogCapture {
public:
    /// @param pattern a log4cpp PatternLayout pattern for the recorded text,
    ///        e.g. "%c: %m" to record the category of each line too.
    explicit LogCapture(const char* category, const char* pattern = "%m");
    ~LogCapture();

    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    /// The messages recorded so far, oldest first (does not consume them).
    std::vector<std::string> lines() const;
    /// The priorities of the recorded lines, in the same order.
    std::vector<log4cpp::Priority::Value> priorities() const;
    /// Forgets what was recorded so far.
    void clear();

private:
    log4cpp::Category& mCategory;
    log4cpp::Priority::Value mSavedPriority;
    bool mSavedAdditivity;
    log4cpp::StringQueueAppender* mAppender; // owned by the category while attached
    class PriorityRecorder* mRecorder;       // likewise
};

#endif
