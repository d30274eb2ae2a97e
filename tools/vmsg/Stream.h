// The commands send and listen: blocks to and from live endpoints.
#ifndef VMSG_TOOL_STREAM_H
#define VMSG_TOOL_STREAM_H

#include <VFrame.h>

#include <cstddef>
#include <istream>
#include <optional>
#include <string>

namespace vmsgtool {

struct SendSettings {
    std::string url;
    std::optional<vmsg::Framing> framing;
};

/// Reads hex blocks from @p input, one a line, and sends each to the URL
/// as soon as its line is read.
/// @return the exit status: 0 all sent; 1 a block could not be sent.
/// @throws UsageError for a bad URL or line, an endpoint that cannot be
///         opened or fails.
int sendBlocks(const SendSettings& settings, std::istream& input);

struct ListenSettings {
    std::string url;
    std::optional<vmsg::Framing> framing;
    std::string dictionary;           ///< a dictionary file, or empty
    bool json = false;                ///< one JSON object a line
    std::optional<std::size_t> count; ///< stop after this many blocks
    std::optional<double> timeout;    ///< stop after this many seconds
};

/// Prints every block received at the URL as decode does, until the count
/// is reached, the timeout passes, or a file or standard input ends. Says
/// "vmsg listen: listening on ADDRESS" on standard error once ready.
/// @return 0 ok; 1 a block failed, bytes were lost, or the timeout came
///         before the count.
/// @throws UsageError for a bad URL, a port in use, a dictionary that
///         cannot be read.
int listenBlocks(const ListenSettings& settings);

} // namespace vmsgtool

#endif
