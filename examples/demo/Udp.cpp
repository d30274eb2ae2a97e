#include "Udp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

namespace demo {

namespace {

sockaddr_in loopback(unsigned short port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

} // namespace

UdpSocket::UdpSocket() : mFd(::socket(AF_INET, SOCK_DGRAM, 0)) {}

UdpSocket::~UdpSocket()
{
    if (mFd >= 0)
        ::close(mFd);
}

unsigned short UdpSocket::bindLoopback(unsigned short port)
{
    sockaddr_in address = loopback(port);
    if (::bind(mFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return 0;
    socklen_t size = sizeof address;
    if (::getsockname(mFd, reinterpret_cast<sockaddr*>(&address), &size) != 0)
        return 0;
    return ntohs(address.sin_port);
}

unsigned short UdpSocket::listenOnLoopback(unsigned short port)
{
    const unsigned short bound = ok() ? bindLoopback(port) : 0;
    if (bound == 0) {
        std::perror("receiver: socket");
        return 0;
    }
    std::printf("listening on 127.0.0.1:%u\n", bound);
    std::fflush(stdout);
    return bound;
}

bool UdpSocket::sendTo(unsigned short port, const void* data, std::size_t size)
{
    const sockaddr_in to = loopback(port);
    if (::sendto(mFd, data, size, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) !=
        static_cast<ssize_t>(size)) {
        std::perror("sendto");
        return false;
    }
    return true;
}

long UdpSocket::receiveBefore(std::chrono::steady_clock::time_point deadline, void* buffer, std::size_t size)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0)
        return -1;
    pollfd waiting{mFd, POLLIN, 0};
    if (::poll(&waiting, 1, static_cast<int>(left.count())) != 1)
        return -1;
    return static_cast<long>(::recv(mFd, buffer, size, 0));
}

Received receiveDatagrams(UdpSocket& socket, std::chrono::steady_clock::time_point deadline, int count,
                          const std::function<int(const unsigned char* data, std::size_t size)>& handle)
{
    Received got;
    std::vector<unsigned char> datagram(65536);
    while (got.datagrams < count) {
        const long n = socket.receiveBefore(deadline, datagram.data(), datagram.size());
        if (n < 0)
            break;
        ++got.datagrams;
        std::printf("datagram %d: %ld bytes\n", got.datagrams, n);
        got.accepted += handle(datagram.data(), static_cast<std::size_t>(n));
        std::fflush(stdout);
    }
    std::printf("received %d of %d datagrams, %d messages accepted%s\n", got.datagrams, count, got.accepted,
                got.datagrams < count ? " (timed out)" : "");
    return got;
}

} // namespace demo
