// The few socket calls the examples need: UDP on 127.0.0.1.
#ifndef VMSG_EXAMPLES_UDP_H
#define VMSG_EXAMPLES_UDP_H

#include <chrono>
#include <cstddef>
#include <functional>

namespace demo {

/// A UDP socket, closed with it.
class UdpSocket {
public:
    /// Opens the socket; ok() tells whether it worked.
    UdpSocket();
    ~UdpSocket();
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    bool ok() const { return mFd >= 0; }
    /// Binds to 127.0.0.1:@p port (0: any free port); the bound port, or 0.
    unsigned short bindLoopback(unsigned short port);
    /// Binds as bindLoopback does and prints "listening on 127.0.0.1:<port>"
    /// on standard output, flushed (a script waits for that line); the bound
    /// port, or 0 (with perror) when the socket could not be opened or bound.
    unsigned short listenOnLoopback(unsigned short port);
    /// Sends one datagram to 127.0.0.1:@p port; false (with perror) if it failed.
    bool sendTo(unsigned short port, const void* data, std::size_t size);
    /// Waits until a datagram is there or @p deadline passes; its size, or -1.
    long receiveBefore(std::chrono::steady_clock::time_point deadline, void* buffer, std::size_t size);

private:
    int mFd;
};

/// What receiveDatagrams counted.
struct Received {
    int datagrams = 0; ///< Datagrams received.
    int accepted = 0;  ///< Messages the handler accepted from them.
};

/// Receives up to @p count datagrams on @p socket before @p deadline,
/// prints "datagram N: S bytes" for each and hands it to @p handle, which
/// returns how many messages it accepted from it; then prints the summary
/// line "received R of C datagrams, A messages accepted[ (timed out)]".
Received receiveDatagrams(UdpSocket& socket, std::chrono::steady_clock::time_point deadline, int count,
                          const std::function<int(const unsigned char* data, std::size_t size)>& handle);

} // namespace demo

#endif
