// The two kinds of failure the tool reports, each with its exit status.
#ifndef VMSG_TOOL_ERRORS_H
#define VMSG_TOOL_ERRORS_H

#include "Library.h"

#include <stdexcept>
#include <string>

namespace vmsgtool {

/// Exit status: everything parsed and validated.
constexpr int kExitOk = 0;
/// Exit status: a block failed to parse, validate or be written.
constexpr int kExitBlockFailed = 1;
/// Exit status: bad command line, unreadable or malformed input file.
constexpr int kExitUsage = 2;

/// A bad argument or an input file that cannot be read or understood. The
/// message names the argument or the file, and where it went wrong.
class UsageError : public std::runtime_error {
public:
    explicit UsageError(const std::string& what) : std::runtime_error(what) {}
};

// BlockError, a block that does not parse whole or that the library
// refuses to write, is the library's (Library.h).

} // namespace vmsgtool

#endif
