// What the stream examples send and how their receivers take blocks in:
// the demo protocol's telemetry message, and one framed stream fed through
// a vmsg::FrameReader into a vmsg::Endpoint.
#ifndef VMSG_EXAMPLES_STREAM_TELEMETRY_H
#define VMSG_EXAMPLES_STREAM_TELEMETRY_H

#include "DemoProtocol.h"

#include <VFrame.h>
#include <vmsg.hpp>

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace streamdemo {

/// The telemetry message of device @p device as one block.
std::vector<unsigned char> telemetryBlock(unsigned int device);

/// Opens the serial line (or pseudo-terminal) @p path with @p flags
/// (O_RDONLY or O_WRONLY; O_NOCTTY is added) and puts it in raw mode, so
/// that it carries the bytes unchanged: no newline mapping, no echo, no
/// line editing. The descriptor, or -1 (with perror) when it cannot be
/// opened.
int openLine(const char* path, int flags);

/// Feeds a framed byte stream to the demo endpoint and prints every
/// message it accepts ("message 0x10 from pump-1: 9 tags, required tags:
/// all present") and every block it refuses.
class Receiver {
public:
    explicit Receiver(vmsg::Framing framing) : mReader(framing), mEndpoint(demo::dictionary) {}

    /// Takes @p length received bytes; prints the messages they complete.
    void take(const unsigned char* data, std::size_t length);

    /// A new stream begins (a new connection): the bytes of a frame the
    /// last one cut short count as dropped, and are forgotten.
    void restart()
    {
        mLost += mReader.dropped() + mReader.buffered();
        mReader.reset();
    }

    int accepted() const { return mAccepted; }
    int refused() const { return mRefused; }
    /// Bytes dropped while resynchronising, and those of frames cut short.
    std::uint64_t dropped() const { return mLost + mReader.dropped(); }

private:
    vmsg::FrameReader mReader;
    vmsg::Endpoint mEndpoint;
    std::uint64_t mLost = 0;
    int mAccepted = 0;
    int mRefused = 0;
};

} // namespace streamdemo

#endif
