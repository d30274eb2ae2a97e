#include "LogCapture.h"

#include <log4cpp/AppenderSkeleton.hh>
#include <log4cpp/Category.hh>
#include <log4cpp/PatternLayout.hh>
#include <log4cpp/StringQueueAppender.hh>

// Records the priority of each event beside the StringQueueAppender's text.
class PriorityRecorder : public log4cpp::AppenderSkeleton {
public:
    PriorityRecorder() : AppenderSkeleton("priority-recorder") {}
    std::vector<log4cpp::Priority::Value> values;
    void close() override {}
    bool requiresLayout() const override { return false; }
    void setLayout(log4cpp::Layout* layout) override { delete layout; }

protected:
    void _append(const log4cpp::LoggingEvent& event) override { values.push_back(event.priority); }
};

LogCapture::LogCapture(const char* category, const char* pattern)
    : mCategory(log4cpp::Category::getInstance(category)),
      mSavedPriority(mCategory.getPriority()),
      mSavedAdditivity(mCategory.getAdditivity()),
      mAppender(new log4cpp::StringQueueAppender("capture")),
      mRecorder(new PriorityRecorder())
{
    auto* layout = new log4cpp::PatternLayout();
    layout->setConversionPattern(pattern);
    mAppender->setLayout(layout);
    mCategory.addAppender(mAppender);
    mCategory.addAppender(mRecorder);
    mCategory.setAdditivity(false);
    mCategory.setPriority(log4cpp::Priority::DEBUG);
}

LogCapture::~LogCapture()
{
    mCategory.setPriority(mSavedPriority);
    mCategory.setAdditivity(mSavedAdditivity);
    mCategory.removeAppender(mAppender); // deletes it: the category owns it
    mCategory.removeAppender(mRecorder);
}

std::vector<std::string> LogCapture::lines() const
{
    std::queue<std::string> queue = mAppender->getQueue();
    std::vector<std::string> lines;
    for (; !queue.empty(); queue.pop())
        lines.push_back(queue.front());
    return lines;
}

std::vector<log4cpp::Priority::Value> LogCapture::priorities() const
{
    return mRecorder->values;
}

void LogCapture::clear()
{
    while (!mAppender->getQueue().empty())
        mAppender->popMessage();
    mRecorder->values.clear();
}
