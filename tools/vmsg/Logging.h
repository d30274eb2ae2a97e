// The tool's log4cpp set-up.
#ifndef VMSG_TOOL_LOGGING_H
#define VMSG_TOOL_LOGGING_H

namespace vmsgtool {

/// Keeps log4cpp's state for the life of the object. With @p verbose, every
/// category's lines, the library's debug lines included, go to standard
/// error as "PRIORITY CATEGORY: message". Without it nothing is configured,
/// so log4cpp prints nothing.
class LogSetup {
public:
    explicit LogSetup(bool verbose);
    /// Releases what log4cpp built, appenders included.
    ~LogSetup();
    LogSetup(const LogSetup&) = delete;
    LogSetup& operator=(const LogSetup&) = delete;

private:
    bool mVerbose;
};

} // namespace vmsgtool

#endif
