// Receives messages of the demo protocol (demo/DemoProtocol.h) as UDP
// datagrams on 127.0.0.1:PORT and prints each one, then its structured view,
// with the classic API (Carrow, checkMessageTags, CarrowMessage::parseVMsg):
// the twin of examples/receiver.cpp, which uses the modern layer.
//
//   vmsg_classic_receiver PORT COUNT [TIMEOUT_MS]
//
// PORT 0 takes any free port. The first line printed is
// "listening on 127.0.0.1:<port>". The receiver stops after COUNT datagrams,
// or when TIMEOUT_MS (default 5000) have passed since it started; it exits
// 0 when COUNT datagrams arrived and every one gave an accepted message.
#include "DemoProtocol.h"
#include "Print.h"
#include "Udp.h"

#include <CarrowMessage.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Prints the message, whether its required tags are there, and its
// structured view.
void show(Carrow& endpoint, VMsg& msg)
{
    demo::printMessage(stdout, msg); // walks the cursor from the first tag
    std::vector<unsigned char> ids;
    msg.gotoFirst();
    while (VTag* tag = msg.getTag())
        ids.push_back(tag->mId);
    const CarrowMsgDef* def = endpoint.findMsgDef(msg.mId);
    VList* missing = endpoint.checkMessageTags(def, ids.data(), static_cast<unsigned char>(ids.size()));
    std::printf("  required tags: %s\n", missing ? "missing" : "all present");
    demo::printAndFreeErrors(stdout, missing, 4);

    CarrowMessage* view = CarrowMessage::parseVMsg(&demo::dictionary, &msg);
    if (view) {
        demo::printStructured(stdout, *view);
        delete view;
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: %s PORT COUNT [TIMEOUT_MS]\n", argv[0]);
        return 2;
    }
    const int port = std::atoi(argv[1]);
    const int count = std::atoi(argv[2]);
    const int timeoutMs = argc > 3 ? std::atoi(argv[3]) : 5000;
    if (port < 0 || port > 65535 || count < 0 || timeoutMs < 0) {
        std::fprintf(stderr, "%s: bad PORT, COUNT or TIMEOUT_MS\n", argv[0]);
        return 2;
    }
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);

    demo::UdpSocket socket;
    if (socket.listenOnLoopback(static_cast<unsigned short>(port)) == 0)
        return 1;

    Carrow endpoint(&demo::dictionary);
    const demo::Received got = demo::receiveDatagrams(socket, deadline, count, [&](const unsigned char* data,
                                                                                   std::size_t size) {
        // A UDP datagram holds at most 65507 bytes, so its size fits.
        if (VList* errors = endpoint.bytesIn(data, static_cast<unsigned short>(size))) {
            std::printf("  refused:\n");
            demo::printAndFreeErrors(stdout, errors, 4);
            return 0;
        }
        int accepted = 0;
        while (VMsg* msg = endpoint.getMessage()) {
            show(endpoint, *msg);
            delete msg;
            ++accepted;
        }
        return accepted;
    });
    return got.datagrams == count && got.accepted == count ? 0 : 1;
}
