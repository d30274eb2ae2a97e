#include "Transport.h"

#include "Errors.h"
#include "Framed.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <iostream>
#include <vector>

namespace vmsgtool {

namespace {

const char kUrlForms[] = "udp://HOST:PORT, tcp://HOST:PORT, mqtt://HOST:PORT/TOPIC, file:PATH or -";

[[noreturn]] void badUrl(const std::string& url, const std::string& why)
{
    throw UsageError("'" + url + "': " + why + " (expected " + kUrlForms + ")");
}

std::string systemError(int error)
{
    return std::strerror(error);
}

// A file descriptor, closed with its owner.
class Fd {
public:
    explicit Fd(int fd = -1) : mFd(fd) {}
    ~Fd()
    {
        if (mFd >= 0)
            ::close(mFd);
    }
    Fd(Fd&& other) noexcept : mFd(other.mFd) { other.mFd = -1; }
    Fd& operator=(Fd&& other) noexcept
    {
        std::swap(mFd, other.mFd);
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return mFd; }

private:
    int mFd;
};

struct AddrInfoFree {
    void operator()(addrinfo* info) const { freeaddrinfo(info); }
};
using AddrInfo = std::unique_ptr<addrinfo, AddrInfoFree>;

AddrInfo resolve(const Endpoint& endpoint, int socketType, bool passive)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = socketType;
    hints.ai_flags = AI_NUMERICSERV | (passive ? AI_PASSIVE : 0);
    addrinfo* list = nullptr;
    const std::string port = std::to_string(endpoint.port);
    const int status = getaddrinfo(endpoint.host.c_str(), port.c_str(), &hints, &list);
    if (status != 0)
        throw UsageError(endpoint.text + ": cannot resolve '" + endpoint.host + "': " + gai_strerror(status));
    return AddrInfo(list);
}

// "127.0.0.1:40000" or "[::1]:40000".
std::string addressText(const sockaddr* address)
{
    char host[INET6_ADDRSTRLEN] = "?";
    unsigned port = 0;
    if (address->sa_family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(address);
        inet_ntop(AF_INET, &in->sin_addr, host, sizeof host);
        port = ntohs(in->sin_port);
        return std::string(host) + ":" + std::to_string(port);
    }
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(address);
    inet_ntop(AF_INET6, &in6->sin6_addr, host, sizeof host);
    port = ntohs(in6->sin6_port);
    return "[" + std::string(host) + "]:" + std::to_string(port);
}

std::string boundAddress(int fd)
{
    sockaddr_storage address{};
    socklen_t size = sizeof address;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0)
        return "?";
    return addressText(reinterpret_cast<const sockaddr*>(&address));
}

// Waits until one of @p fds is readable or the deadline passes; false at
// the deadline.
bool waitReadable(std::vector<pollfd>& fds, Clock::time_point deadline)
{
    for (;;) {
        int timeout = -1;
        if (deadline != Clock::time_point::max()) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            timeout = left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 1 << 30));
        }
        for (pollfd& fd : fds)
            fd.revents = 0;
        const int ready = ::poll(fds.data(), fds.size(), timeout);
        if (ready > 0)
            return true;
        if (ready == 0)
            return false;
        if (errno != EINTR)
            throw UsageError("cannot wait for input: " + systemError(errno));
    }
}

// A serial line (or a pseudo-terminal) carries bytes unchanged only in raw
// mode: no echo, no line editing, no newline translation.
void makeRaw(int fd)
{
    termios settings{};
    if (!isatty(fd) || tcgetattr(fd, &settings) != 0)
        return;
    cfmakeraw(&settings);
    tcsetattr(fd, TCSANOW, &settings);
}

// Writes all of @p bytes; false with errno set when the other side is gone.
bool writeAll(int fd, const unsigned char* bytes, std::size_t size, bool socket)
{
    while (size > 0) {
        const ssize_t written = socket ? ::send(fd, bytes, size, MSG_NOSIGNAL) : ::write(fd, bytes, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// ---- sending

class UdpSender : public Sender {
public:
    explicit UdpSender(const Endpoint& endpoint) : mText(endpoint.text)
    {
        AddrInfo list = resolve(endpoint, SOCK_DGRAM, false);
        std::memcpy(&mAddress, list->ai_addr, list->ai_addrlen);
        mAddressSize = list->ai_addrlen;
        mSocket = Fd(::socket(list->ai_family, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        if (mSocket.get() < 0)
            throw UsageError(mText + ": cannot open a socket: " + systemError(errno));
    }

    void send(const Block& block) override
    {
        if (block.bytes.size() < vmsg::kMinFramedBlock)
            throw BlockError(block.where + ": a block has at least 2 bytes, this one has " +
                             std::to_string(block.bytes.size()));
        const ssize_t sent = ::sendto(mSocket.get(), block.bytes.data(), block.bytes.size(), 0,
                                      reinterpret_cast<const sockaddr*>(&mAddress), mAddressSize);
        if (sent < 0 && errno == EMSGSIZE)
            throw BlockError(block.where + ": " + std::to_string(block.bytes.size()) +
                             " bytes do not fit one datagram");
        if (sent < 0)
            throw UsageError(mText + ": cannot send: " + systemError(errno));
    }

private:
    std::string mText;
    Fd mSocket;
    sockaddr_storage mAddress{};
    socklen_t mAddressSize = 0;
};

// TCP, a file, a serial line or standard output: framed blocks one after
// another.
class StreamSender : public Sender {
public:
    StreamSender(Fd fd, vmsg::Framing framing, bool socket, std::string text)
        : mFd(std::move(fd)), mFraming(framing), mSocket(socket), mText(std::move(text))
    {
        // On a serial line a COBS stream starts with a delimiter, which ends
        // whatever partial frame a reader holds from before.
        if (framing == vmsg::Framing::Cobs && isatty(fd0()))
            put(std::vector<unsigned char>{0});
    }

    void send(const Block& block) override { put(frameBlock(mFraming, block.bytes, block.where)); }

private:
    int fd0() const { return mFd.get(); }
    void put(const std::vector<unsigned char>& bytes)
    {
        if (!writeAll(mFd.get(), bytes.data(), bytes.size(), mSocket))
            throw UsageError(mText + ": cannot write: " + systemError(errno));
    }

    Fd mFd;
    vmsg::Framing mFraming;
    bool mSocket;
    std::string mText;
};

Fd connectTcp(const Endpoint& endpoint)
{
    AddrInfo list = resolve(endpoint, SOCK_STREAM, false);
    int error = 0;
    for (const addrinfo* info = list.get(); info; info = info->ai_next) {
        Fd fd(::socket(info->ai_family, info->ai_socktype | SOCK_CLOEXEC, info->ai_protocol));
        if (fd.get() < 0) {
            error = errno;
            continue;
        }
        if (::connect(fd.get(), info->ai_addr, info->ai_addrlen) == 0)
            return fd;
        error = errno;
    }
    throw UsageError(endpoint.text + ": cannot connect: " + systemError(error));
}

// ---- receiving

// One byte stream and its frame reader: hands out the blocks of what is
// read, tells dropped bytes and a frame cut short on standard error.
class StreamReader {
public:
    StreamReader(Fd fd, vmsg::Framing framing, std::string name)
        : mFd(std::move(fd)), mReader(framing), mName(std::move(name))
    {
    }
    int fd() const { return mFd.get(); }

    // Reads what is there; false at the end of the stream.
    bool readInto(std::deque<Block>& blocks, std::size_t& faults)
    {
        unsigned char buffer[4096];
        ssize_t got;
        do
            got = ::read(mFd.get(), buffer, sizeof buffer);
        while (got < 0 && errno == EINTR);
        if (got < 0 && errno != EIO && errno != ECONNRESET)
            throw UsageError(mName + ": cannot read: " + systemError(errno));
        if (got <= 0) {
            // EIO: the other side of a pseudo-terminal closed.
            if (mReader.buffered()) {
                std::cerr << "vmsg listen: " << mName << ": the stream ended inside a frame (" << mReader.buffered()
                          << " block bytes lost)\n";
                ++faults;
            }
            return false;
        }
        mReader.feedAll(buffer, static_cast<std::size_t>(got), [&](const unsigned char* block, std::size_t length) {
            blocks.push_back({std::vector<unsigned char>(block, block + length), mName});
        });
        if (mReader.dropped() != mDropped) {
            std::cerr << "vmsg listen: " << mName << ": " << mReader.dropped() - mDropped
                      << " bytes dropped: they frame no block\n";
            mDropped = mReader.dropped();
            ++faults;
        }
        return true;
    }

private:
    Fd mFd;
    vmsg::FrameReader mReader;
    std::string mName;
    std::uint64_t mDropped = 0;
};

class UdpReceiver : public Receiver {
public:
    explicit UdpReceiver(const Endpoint& endpoint)
    {
        AddrInfo list = resolve(endpoint, SOCK_DGRAM, true);
        mSocket = Fd(::socket(list->ai_family, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        if (mSocket.get() < 0)
            throw UsageError(endpoint.text + ": cannot open a socket: " + systemError(errno));
        if (::bind(mSocket.get(), list->ai_addr, list->ai_addrlen) != 0)
            throw UsageError(endpoint.text + ": cannot bind: " + systemError(errno));
        mAddress = "udp://" + boundAddress(mSocket.get());
    }

    Receipt next(Block& block, Clock::time_point deadline) override
    {
        std::vector<pollfd> fds{{mSocket.get(), POLLIN, 0}};
        if (!waitReadable(fds, deadline))
            return Receipt::TimedOut;
        std::vector<unsigned char> buffer(65536);
        sockaddr_storage from{};
        socklen_t size = sizeof from;
        ssize_t got;
        do
            got = ::recvfrom(mSocket.get(), buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from),
                             &size);
        while (got < 0 && errno == EINTR);
        if (got < 0)
            throw UsageError(mAddress + ": cannot receive: " + systemError(errno));
        buffer.resize(static_cast<std::size_t>(got));
        block = {std::move(buffer), "udp " + addressText(reinterpret_cast<const sockaddr*>(&from))};
        return Receipt::Block;
    }

    std::string address() const override { return mAddress; }

private:
    Fd mSocket;
    std::string mAddress;
};

// Accepts any number of connections and reads them side by side; each
// block is handed out whole, in the order its last byte arrived.
class TcpReceiver : public Receiver {
public:
    TcpReceiver(const Endpoint& endpoint, vmsg::Framing framing) : mFraming(framing)
    {
        AddrInfo list = resolve(endpoint, SOCK_STREAM, true);
        mListener = Fd(::socket(list->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (mListener.get() < 0)
            throw UsageError(endpoint.text + ": cannot open a socket: " + systemError(errno));
        // A listener restarted at once takes its port back from connections
        // still in TIME_WAIT; a port that another listener holds stays in use.
        const int on = 1;
        setsockopt(mListener.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (::bind(mListener.get(), list->ai_addr, list->ai_addrlen) != 0)
            throw UsageError(endpoint.text + ": cannot bind: " + systemError(errno));
        if (::listen(mListener.get(), 16) != 0)
            throw UsageError(endpoint.text + ": cannot listen: " + systemError(errno));
        mAddress = "tcp://" + boundAddress(mListener.get());
    }

    Receipt next(Block& block, Clock::time_point deadline) override
    {
        while (mReady.empty()) {
            std::vector<pollfd> fds{{mListener.get(), POLLIN, 0}};
            for (const auto& connection : mConnections)
                fds.push_back({connection->fd(), POLLIN, 0});
            if (!waitReadable(fds, deadline))
                return Receipt::TimedOut;
            // Connections first: fds[i + 1] is mConnections[i] until one is removed.
            for (std::size_t i = fds.size() - 1; i >= 1; --i) {
                if (fds[i].revents && !mConnections[i - 1]->readInto(mReady, mFaults))
                    mConnections.erase(mConnections.begin() + static_cast<std::ptrdiff_t>(i - 1));
            }
            if (fds[0].revents & POLLIN)
                accept();
        }
        block = std::move(mReady.front());
        mReady.pop_front();
        return Receipt::Block;
    }

    std::string address() const override { return mAddress; }

private:
    void accept()
    {
        sockaddr_storage from{};
        socklen_t size = sizeof from;
        Fd fd(::accept4(mListener.get(), reinterpret_cast<sockaddr*>(&from), &size, SOCK_CLOEXEC));
        if (fd.get() < 0)
            return; // the peer gave up before we took it, or out of descriptors for now
        mConnections.push_back(std::make_unique<StreamReader>(
            std::move(fd), mFraming, "tcp " + addressText(reinterpret_cast<const sockaddr*>(&from))));
    }

    vmsg::Framing mFraming;
    Fd mListener;
    std::string mAddress;
    std::vector<std::unique_ptr<StreamReader>> mConnections;
    std::deque<Block> mReady;
};

// A file, a serial line or standard input, read to its end.
class FileReceiver : public Receiver {
public:
    FileReceiver(Fd fd, vmsg::Framing framing, std::string name, std::string address)
        : mStream(std::move(fd), framing, std::move(name)), mAddress(std::move(address))
    {
    }

    Receipt next(Block& block, Clock::time_point deadline) override
    {
        while (mReady.empty()) {
            if (mEnded)
                return Receipt::Ended;
            std::vector<pollfd> fds{{mStream.fd(), POLLIN, 0}};
            if (!waitReadable(fds, deadline))
                return Receipt::TimedOut;
            mEnded = !mStream.readInto(mReady, mFaults);
        }
        block = std::move(mReady.front());
        mReady.pop_front();
        return Receipt::Block;
    }

    std::string address() const override { return mAddress; }

private:
    StreamReader mStream;
    std::string mAddress;
    std::deque<Block> mReady;
    bool mEnded = false;
};

Fd openFile(const Endpoint& endpoint, int flags)
{
    Fd fd(::open(endpoint.path.c_str(), flags | O_CLOEXEC | O_NOCTTY, 0666));
    if (fd.get() < 0)
        throw UsageError(endpoint.path + ": cannot open: " + systemError(errno));
    makeRaw(fd.get());
    return fd;
}

std::uint16_t parsePort(const std::string& url, const std::string& text, bool listening)
{
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos)
        badUrl(url, "expected a port number, found '" + text + "'");
    const unsigned long port = std::stoul(text);
    if (port > 65535 || (port == 0 && !listening))
        badUrl(url, std::string("the port must be from ") + (listening ? "0" : "1") + " to 65535, found '" + text +
                        "'");
    return static_cast<std::uint16_t>(port);
}

} // namespace

Endpoint parseUrl(const std::string& url, bool listening)
{
    Endpoint endpoint;
    endpoint.text = url;
    if (url == "-") {
        endpoint.kind = Endpoint::Kind::Stdio;
        return endpoint;
    }
    if (url.rfind("file:", 0) == 0) {
        endpoint.kind = Endpoint::Kind::File;
        endpoint.path = url.substr(5);
        if (endpoint.path.rfind("//", 0) == 0)
            endpoint.path.erase(0, 2); // file://PATH as well as file:PATH
        if (endpoint.path.empty())
            badUrl(url, "no path after 'file:'");
        return endpoint;
    }
    const std::size_t scheme = url.find("://");
    if (scheme == std::string::npos)
        badUrl(url, "no scheme");
    const std::string name = url.substr(0, scheme);
    if (name == "udp")
        endpoint.kind = Endpoint::Kind::Udp;
    else if (name == "tcp")
        endpoint.kind = Endpoint::Kind::Tcp;
    else if (name == "mqtt")
        endpoint.kind = Endpoint::Kind::Mqtt;
    else
        badUrl(url, "unknown scheme '" + name + "'");
    std::string rest = url.substr(scheme + 3);
    std::string authority = rest;
    if (endpoint.kind == Endpoint::Kind::Mqtt) {
        const std::size_t slash = rest.find('/');
        if (slash == std::string::npos || slash + 1 == rest.size())
            badUrl(url, "no topic after HOST:PORT/");
        authority = rest.substr(0, slash);
        endpoint.topic = rest.substr(slash + 1);
    } else if (rest.find('/') != std::string::npos) {
        badUrl(url, "a path after HOST:PORT");
    }
    std::size_t colon;
    if (!authority.empty() && authority[0] == '[') {
        const std::size_t close = authority.find(']');
        if (close == std::string::npos || close + 1 >= authority.size() || authority[close + 1] != ':')
            badUrl(url, "expected [ADDRESS]:PORT");
        endpoint.host = authority.substr(1, close - 1);
        colon = close + 1;
    } else {
        colon = authority.rfind(':');
        if (colon == std::string::npos)
            badUrl(url, "no port (HOST:PORT)");
        endpoint.host = authority.substr(0, colon);
    }
    if (endpoint.host.empty())
        badUrl(url, "no host (HOST:PORT)");
    endpoint.port = parsePort(url, authority.substr(colon + 1), listening && endpoint.kind != Endpoint::Kind::Mqtt);
    return endpoint;
}

std::optional<vmsg::Framing> framingFor(const Endpoint& endpoint, std::optional<vmsg::Framing> given)
{
    if (endpoint.isStream())
        return given.value_or(vmsg::Framing::LengthPrefix);
    if (given)
        throw UsageError("--framing is for streams (tcp, file, -); " + endpoint.text +
                         " carries one block per " + (endpoint.kind == Endpoint::Kind::Udp ? "datagram" : "message"));
    return std::nullopt;
}

std::unique_ptr<Sender> openSender(const Endpoint& endpoint, std::optional<vmsg::Framing> framing)
{
    switch (endpoint.kind) {
    case Endpoint::Kind::Udp:
        return std::make_unique<UdpSender>(endpoint);
    case Endpoint::Kind::Mqtt:
        return openMqttSender(endpoint);
    case Endpoint::Kind::Tcp:
        return std::make_unique<StreamSender>(connectTcp(endpoint), *framing, true, endpoint.text);
    case Endpoint::Kind::File:
        return std::make_unique<StreamSender>(openFile(endpoint, O_WRONLY | O_CREAT | O_TRUNC), *framing, false,
                                              endpoint.path);
    case Endpoint::Kind::Stdio:
        break;
    }
    return std::make_unique<StreamSender>(Fd(::dup(STDOUT_FILENO)), *framing, false, "stdout");
}

std::unique_ptr<Receiver> openReceiver(const Endpoint& endpoint, std::optional<vmsg::Framing> framing)
{
    switch (endpoint.kind) {
    case Endpoint::Kind::Udp:
        return std::make_unique<UdpReceiver>(endpoint);
    case Endpoint::Kind::Mqtt:
        return openMqttReceiver(endpoint);
    case Endpoint::Kind::Tcp:
        return std::make_unique<TcpReceiver>(endpoint, *framing);
    case Endpoint::Kind::File:
        return std::make_unique<FileReceiver>(openFile(endpoint, O_RDONLY), *framing, endpoint.path,
                                              "file:" + endpoint.path);
    case Endpoint::Kind::Stdio:
        break;
    }
    return std::make_unique<FileReceiver>(Fd(::dup(STDIN_FILENO)), *framing, "stdin", "-");
}

} // namespace vmsgtool
