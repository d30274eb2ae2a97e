// Receives telemetry messages of the demo protocol over TCP on
// 127.0.0.1:PORT, each block framed with a 2-byte big-endian length
// (vmsg::Framing::LengthPrefix), as `vmsg send tcp://...` writes them, and
// prints each message the endpoint accepts.
//
//   vmsg_tcp_receiver PORT COUNT [TIMEOUT_MS]
//
// PORT 0 takes any free port; the first line printed is
// "listening on 127.0.0.1:<port>". Takes one connection after another
// until COUNT messages came or TIMEOUT_MS (default 5000) passed; exits 0
// when COUNT messages were accepted and no byte was dropped.
#include "Telemetry.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

using Clock = std::chrono::steady_clock;

// Waits until @p fd is readable or the deadline passes.
bool readable(int fd, Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd wait{fd, POLLIN, 0};
    return left > 0 && poll(&wait, 1, static_cast<int>(left)) == 1;
}

} // namespace

int main(int argc, char** argv)
{
    const int port = argc > 2 ? std::atoi(argv[1]) : -1;
    const int count = argc > 2 ? std::atoi(argv[2]) : -1;
    const int timeoutMs = argc > 3 ? std::atoi(argv[3]) : 5000;
    if (argc < 3 || argc > 4 || port < 0 || port > 65535 || count < 0 || timeoutMs < 0) {
        std::fprintf(stderr, "usage: %s PORT COUNT [TIMEOUT_MS]\n", argv[0]);
        return 2;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<unsigned short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (listener < 0 || bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 4) != 0 || getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        std::perror("listen");
        return 1;
    }
    std::printf("listening on 127.0.0.1:%u\n", ntohs(address.sin_port));
    std::fflush(stdout);

    streamdemo::Receiver receiver(vmsg::Framing::LengthPrefix);
    while (receiver.accepted() + receiver.refused() < count && readable(listener, deadline)) {
        const int connection = accept(listener, nullptr, nullptr);
        if (connection < 0)
            continue;
        // A new connection starts a new stream: a frame cut short by the
        // last one must not run into this one.
        receiver.restart();
        unsigned char buffer[4096];
        ssize_t got = 0;
        while (receiver.accepted() + receiver.refused() < count && readable(connection, deadline) &&
               (got = recv(connection, buffer, sizeof buffer, 0)) > 0)
            receiver.take(buffer, static_cast<std::size_t>(got));
        close(connection);
    }
    close(listener);
    std::printf("received %d of %d messages, %d refused, %llu bytes dropped\n", receiver.accepted(), count,
                receiver.refused(), static_cast<unsigned long long>(receiver.dropped()));
    return receiver.accepted() == count && receiver.dropped() == 0 ? 0 : 1;
}
