#include "Logging.h"

#include <log4cpp/Category.hh>
#include <log4cpp/OstreamAppender.hh>
#include <log4cpp/PatternLayout.hh>
#include <log4cpp/Priority.hh>

#include <iostream>

namespace vmsgtool {

LogSetup::LogSetup(bool verbose) : mVerbose(verbose)
{
    if (!verbose)
        return;
    auto* layout = new log4cpp::PatternLayout();
    layout->setConversionPattern("%p %c: %m%n");
    auto* appender = new log4cpp::OstreamAppender("stderr", &std::cerr);
    appender->setLayout(layout); // the appender owns the layout
    log4cpp::Category& root = log4cpp::Category::getRoot();
    root.addAppender(appender); // and the category the appender
    root.setPriority(log4cpp::Priority::DEBUG);
}

LogSetup::~LogSetup()
{
    if (mVerbose)
        log4cpp::Category::getRoot().removeAllAppenders();
}

} // namespace vmsgtool
