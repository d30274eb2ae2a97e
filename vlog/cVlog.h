/// @file
/// cVlog: a named logger that library objects derive from.
///
/// Construction only keeps the name pointer; the log4cpp category is looked
/// up the first time an object writes a line and then cached in the object,
/// so a disabled debug line costs a pointer load and a level check.
///
/// Nothing here configures log4cpp: the application does, for instance with
/// log4cpp::PropertyConfigurator::configure(file).
#ifndef CVLOG_H
#define CVLOG_H

/// Marks a class as exported from libvlog.so.0; the library is built with
/// hidden visibility, so only classes carrying it are visible to callers.
#if defined(__GNUC__)
#define VLOG_API __attribute__((visibility("default")))
#else
#define VLOG_API
#endif

namespace log4cpp {
class Category;
}

/// Base class that gives an object a log4cpp category, chosen by name.
///
/// libvmsg's classes use the categories "VTag", "VMsg", "Vlist", "Carrow",
/// "CarrowMessage" and "CarrowObject".
class VLOG_API cVlog {
public:
    /// Keeps @p name (not copied: pass a string that outlives the object,
    /// normally a literal). Does not touch log4cpp.
    /// @param name the category name; null stands for the root category "".
    explicit cVlog(const char* name) : mLogName(name), mLogCategory(nullptr) {}

    /// Writes one printf-style line at debug level to the object's category.
    /// Does nothing (and formats nothing) unless the category has debug on.
    /// @param format a printf format, followed by its arguments.
    void debug(const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;

    /// The log4cpp category called @p name, created by log4cpp if needed.
    /// @param name the category name; null stands for the root category "".
    /// @return the category, which log4cpp keeps until it shuts down.
    static log4cpp::Category& getLog(const char* name);

private:
    const char* mLogName;
    log4cpp::Category* mLogCategory;
};

#endif
