// Receives telemetry messages of the demo protocol from a serial line, each
// block COBS-encoded and ended by a 0x00 byte (vmsg::Framing::Cobs), as
// `vmsg send --framing cobs file:DEVICE` writes them, and prints each
// message the endpoint accepts. A reader that joins the line in the middle
// of a frame, or meets corrupted bytes, drops bytes up to the next 0x00
// and goes on.
//
//   vmsg_serial_receiver DEVICE COUNT [TIMEOUT_MS]
//
// The first line printed is "reading DEVICE". Stops after COUNT messages
// or when TIMEOUT_MS (default 5000) passed; exits 0 when COUNT messages
// were accepted.
#include "Telemetry.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    const int count = argc > 2 ? std::atoi(argv[2]) : -1;
    const int timeoutMs = argc > 3 ? std::atoi(argv[3]) : 5000;
    if (argc < 3 || argc > 4 || count < 0 || timeoutMs < 0) {
        std::fprintf(stderr, "usage: %s DEVICE COUNT [TIMEOUT_MS]\n", argv[0]);
        return 2;
    }
    const int fd = streamdemo::openLine(argv[1], O_RDONLY);
    if (fd < 0)
        return 1;
    std::printf("reading %s\n", argv[1]);
    std::fflush(stdout);

    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    streamdemo::Receiver receiver(vmsg::Framing::Cobs);
    unsigned char buffer[256];
    while (receiver.accepted() + receiver.refused() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd wait{fd, POLLIN, 0};
        if (left <= 0 || poll(&wait, 1, static_cast<int>(left)) != 1)
            break;
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got <= 0)
            break; // the other end closed
        receiver.take(buffer, static_cast<std::size_t>(got));
    }
    close(fd);
    std::printf("received %d of %d messages, %d refused, %llu bytes dropped\n", receiver.accepted(), count,
                receiver.refused(), static_cast<unsigned long long>(receiver.dropped()));
    return receiver.accepted() == count ? 0 : 1;
}
