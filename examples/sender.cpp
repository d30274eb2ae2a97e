// Sends telemetry messages of the demo protocol (demo/DemoProtocol.h) as
// UDP datagrams to 127.0.0.1:PORT, one message per datagram, with the
// modern layer (vmsg.hpp) and the code generated from the demo's
// dictionary: messages built with the generated typed builder, sent through
// vmsg::Endpoint, errors as vmsg::Errors. examples/classic/sender.cpp sends
// the same bytes with the classic API.
//
//   vmsg_sender PORT [COUNT]
//
// COUNT telemetry messages (default 3) go out, from devices 1 to COUNT.
// First a message with an id the dictionary does not define is offered, to
// show how the endpoint refuses it; that one is never sent. Exits 0 when
// every datagram went out.
#include "DemoProtocol.h"
#include "Udp.h"

#include <vmsg.hpp>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void print(const char* what, const vmsg::Errors& errors)
{
    for (const VError& error : errors)
        std::printf("%s: %s\n", what, vmsg::errorName(error.mCode));
}

// The generated builder takes the required tags (device, name) as its
// arguments; the calls add the rest, here two Sensor objects.
std::unique_ptr<VMsg> telemetry(unsigned int device)
{
    return demo::messages::telemetry::Builder(device, "pump-" + std::to_string(device))
        .sensor(0)
        .reading(20.0f + static_cast<float>(device) / 2)
        .unit("C")
        .sensor(1)
        .reading(1013.25f)
        .unit("hPa")
        .build();
}

} // namespace

int main(int argc, char** argv)
{
    const int port = argc > 1 ? std::atoi(argv[1]) : 0;
    const int count = argc > 2 ? std::atoi(argv[2]) : 3;
    if (argc < 2 || argc > 3 || port <= 0 || port > 65535 || count < 0) {
        std::fprintf(stderr, "usage: %s PORT [COUNT]\n", argv[0]);
        return 2;
    }
    demo::UdpSocket socket;
    if (!socket.ok()) {
        std::perror("socket");
        return 1;
    }
    vmsg::Endpoint endpoint(demo::dictionary);

    // A refused message stays in its handle and is freed with it.
    std::unique_ptr<VMsg> undefined = vmsg::MessageBuilder(demo::kMsgUndefined).build();
    print("refused", endpoint.send(undefined));

    int sent = 0;
    for (int device = 1; device <= count; ++device) {
        std::unique_ptr<VMsg> msg = telemetry(static_cast<unsigned int>(device));
        if (vmsg::Errors errors = endpoint.send(msg)) {
            print("send", errors);
            return 1;
        }
        unsigned char block[vmsg::kMaxBlock];
        std::size_t length = 0;
        if (vmsg::Errors errors = endpoint.bytesOut(block, sizeof block, length)) {
            print("bytesOut", errors);
            return 1;
        }
        if (!socket.sendTo(static_cast<unsigned short>(port), block, length))
            return 1;
        std::printf("sent %zu bytes\n", length);
        ++sent;
    }
    std::printf("sent %d of %d messages to 127.0.0.1:%d\n", sent, count, port);
    return 0;
}
