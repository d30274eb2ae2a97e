// Sends telemetry messages of the demo protocol (demo/DemoProtocol.h) as
// UDP datagrams to 127.0.0.1:PORT, one message per datagram, with the
// classic API (Carrow, VMsg, VList of VError): the datagrams are the bytes
// examples/sender.cpp sends with the modern layer.
//
//   vmsg_classic_sender PORT [COUNT]
//
// COUNT telemetry messages (default 3) go out, from devices 1 to COUNT.
// First a message with an id the dictionary does not define is offered, to
// show how the endpoint refuses it; that one is never sent. Exits 0 when
// every datagram went out.
#include "DemoProtocol.h"
#include "Print.h"
#include "Udp.h"

#include <Carrow.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// A telemetry message: device, name, and two sensor objects, each a meta
// tag (the sensor index) followed by a reading and a unit.
VMsg* telemetry(unsigned int device)
{
    std::string name = "pump-" + std::to_string(device);
    char celsius[] = "C";
    char hectopascal[] = "hPa";
    VMsg* msg = new VMsg(demo::messages::telemetry::id);
    msg->addTag(new VTagUInt32(demo::tags::device, device));
    msg->addTag(new VTagString(demo::tags::name, name.c_str(), static_cast<unsigned short>(name.size())));
    msg->addTag(new VTagUInt8(demo::tags::sensor, static_cast<unsigned char>(0)));
    msg->addTag(new VTagFloat(demo::tags::reading, 20.0f + static_cast<float>(device) / 2));
    msg->addTag(new VTagString(demo::tags::unit, celsius));
    msg->addTag(new VTagUInt8(demo::tags::sensor, static_cast<unsigned char>(1)));
    msg->addTag(new VTagFloat(demo::tags::reading, 1013.25f));
    msg->addTag(new VTagString(demo::tags::unit, hectopascal));
    return msg;
}

// Writes every queued message and sends it; the number sent, or -1.
int flush(Carrow& endpoint, demo::UdpSocket& socket, unsigned short port)
{
    int sent = 0;
    unsigned char block[VMSG_MAX_BLOCK];
    while (endpoint.bytesOutReady()) {
        unsigned short length = sizeof block;
        if (VList* errors = endpoint.bytesOut(block, &length)) {
            std::printf("bytesOut failed:\n");
            demo::printAndFreeErrors(stdout, errors);
            return -1;
        }
        if (!socket.sendTo(port, block, length))
            return -1;
        std::printf("sent %u bytes\n", length);
        ++sent;
    }
    return sent;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: %s PORT [COUNT]\n", argv[0]);
        return 2;
    }
    const int port = std::atoi(argv[1]);
    const int count = argc > 2 ? std::atoi(argv[2]) : 3;
    if (port <= 0 || port > 65535 || count < 0) {
        std::fprintf(stderr, "%s: bad PORT or COUNT\n", argv[0]);
        return 2;
    }

    demo::UdpSocket socket;
    if (!socket.ok()) {
        std::perror("socket");
        return 1;
    }

    Carrow endpoint(&demo::dictionary);

    // The endpoint accepts only ids its dictionary defines; a refused
    // message stays ours.
    VMsg* undefined = new VMsg(demo::kMsgUndefined);
    if (VList* errors = endpoint.sendMessage(undefined)) {
        std::printf("message 0x%02x refused:\n", demo::kMsgUndefined);
        demo::printAndFreeErrors(stdout, errors);
        delete undefined;
    }

    for (int device = 1; device <= count; ++device) {
        VMsg* msg = telemetry(static_cast<unsigned int>(device));
        if (VList* errors = endpoint.sendMessage(msg)) {
            demo::printAndFreeErrors(stdout, errors);
            delete msg;
            return 1;
        }
    }
    const int sent = flush(endpoint, socket, static_cast<unsigned short>(port));
    std::printf("sent %d of %d messages to 127.0.0.1:%d\n", sent, count, port);
    return sent == count ? 0 : 1;
}
