// Where `vmsg send` writes blocks and `vmsg listen` reads them: UDP
// datagrams, a TCP stream, a file or standard input/output, or an MQTT
// topic, named by a URL.
#ifndef VMSG_TOOL_TRANSPORT_H
#define VMSG_TOOL_TRANSPORT_H

#include "Blocks.h"

#include <VFrame.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace vmsgtool {

/// A parsed URL: udp://HOST:PORT, tcp://HOST:PORT, mqtt://HOST:PORT/TOPIC,
/// file:PATH or "-" (standard input or output).
struct Endpoint {
    enum class Kind { Udp, Tcp, Mqtt, File, Stdio };
    Kind kind = Kind::Stdio;
    std::string host;  ///< Udp, Tcp, Mqtt; an IPv6 address without brackets
    std::uint16_t port = 0;
    std::string topic; ///< Mqtt
    std::string path;  ///< File
    std::string text;  ///< the URL as given, for messages

    /// True for the kinds that carry a byte stream and so need framing.
    bool isStream() const { return kind == Kind::Tcp || kind == Kind::File || kind == Kind::Stdio; }
};

/// Parses @p url.
/// @param listening whether the endpoint is listened on (port 0 is then
///        allowed: the system picks a free port).
/// @throws UsageError naming what is wrong and the forms accepted.
Endpoint parseUrl(const std::string& url, bool listening);

/// The framing of @p endpoint: @p given, or lp for a stream.
/// @throws UsageError when a framing is given for UDP or MQTT, which carry
///         one block per datagram or message.
std::optional<vmsg::Framing> framingFor(const Endpoint& endpoint, std::optional<vmsg::Framing> given);

using Clock = std::chrono::steady_clock;

/// Writes blocks to an endpoint.
class Sender {
public:
    virtual ~Sender() = default;
    /// Sends one block.
    /// @throws BlockError when this block cannot go (too short or too long
    ///         for the transport); UsageError when the endpoint fails.
    virtual void send(const Block& block) = 0;
    /// Makes sure everything sent has left (MQTT: acknowledged).
    virtual void finish() {}
};

/// What a receiver's next() found.
enum class Receipt { Block, TimedOut, Ended };

/// Reads blocks from an endpoint.
class Receiver {
public:
    virtual ~Receiver() = default;
    /// Waits until @p deadline for the next block.
    /// @param block receives the bytes and, in where, the sender ("udp
    ///        127.0.0.1:40000", "tcp 127.0.0.1:40000", "mqtt TOPIC") or
    ///        the file's name.
    /// @return Block; TimedOut at the deadline; Ended at the end of a file
    ///         or standard input.
    virtual Receipt next(Block& block, Clock::time_point deadline) = 0;
    /// The endpoint as bound: with the port the system chose for port 0.
    virtual std::string address() const = 0;
    /// The times bytes were lost: dropped by the frame reader while
    /// resynchronising, or a frame cut short by the end of a connection or
    /// file. Each is told on standard error as it happens.
    std::size_t faults() const { return mFaults; }

protected:
    std::size_t mFaults = 0;
};

/// Opens @p endpoint for sending (connects for TCP and MQTT).
/// @throws UsageError for a name that does not resolve, a refused
///         connection, a file that cannot be opened.
std::unique_ptr<Sender> openSender(const Endpoint& endpoint, std::optional<vmsg::Framing> framing);

/// Opens @p endpoint for listening (binds for UDP and TCP, subscribes for
/// MQTT: blocks published after it returns are received).
/// @throws UsageError for a name that does not resolve, a port in use, a
///         file that cannot be opened, a broker that refuses.
std::unique_ptr<Receiver> openReceiver(const Endpoint& endpoint, std::optional<vmsg::Framing> framing);

/// MQTT, through libmosquitto (Mqtt.cpp).
std::unique_ptr<Sender> openMqttSender(const Endpoint& endpoint);
std::unique_ptr<Receiver> openMqttReceiver(const Endpoint& endpoint);

} // namespace vmsgtool

#endif
