/// @file
/// cVlog: a named logger that library objects derive from.
///
/// Construction only keeps the name pointer. An object looks its log4cpp
/// category up by name the first time it writes a line, and keeps it: a
/// disabled debug line then costs a pointer test and a level check. Each
/// thread also remembers the few categories it looked up last, under a copy
/// of their names, so that the first line of a new object seldom needs
/// log4cpp's locked lookup.
///
/// Nothing here configures log4cpp: the application does, for instance with
/// log4cpp::PropertyConfigurator::configure(file).
///
/// When the process exits, log4cpp destroys its categories. libvlog makes
/// sure that this happens after the destruction of every object with static
/// storage duration that was constructed once libvlog was loaded, so these
/// objects still log from their destructors. Objects destroyed later still
/// (by a handler registered with atexit before libvlog was loaded, say) find
/// loggingAvailable() false, and their debug lines are dropped.
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
    /// normally a literal). Does not touch log4cpp. The category is the one
    /// that @p name names when the object writes its first line; it does not
    /// change afterwards.
    /// @param name the category name; null stands for the root category "".
    explicit cVlog(const char* name) : mLogName(name), mLogCategory(nullptr) {}

    /// Writes one printf-style line at debug level to the object's category.
    /// Does nothing (and formats nothing) unless the category has debug on,
    /// and nothing once loggingAvailable() is false.
    /// @param format a printf format, followed by its arguments.
    void debug(const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;

    /// False once the process has begun to tear log4cpp down (at exit, or
    /// when libvlog is unloaded); true before. From then on debug writes
    /// nothing, and getLog must not be called: the categories it hands out
    /// may already be freed.
    /// @return whether log4cpp's categories may be used.
    static bool loggingAvailable() noexcept;

    /// The log4cpp category called @p name, created by log4cpp if needed.
    /// Call it only while loggingAvailable() is true.
    /// Found by the name's content, whatever its address.
    /// @param name the category name; null stands for the root category "".
    /// @return the category, which log4cpp keeps until it shuts down.
    /// @throw std::bad_alloc when log4cpp cannot create the category.
    static log4cpp::Category& getLog(const char* name);

private:
    const char* mLogName;
    log4cpp::Category* mLogCategory;
};

#endif
