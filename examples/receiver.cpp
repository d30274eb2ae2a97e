// Receives messages of the demo protocol (demo/DemoProtocol.h) as UDP
// datagrams on 127.0.0.1:PORT and prints each one, then its structured view,
// with the modern layer (vmsg.hpp): blocks through vmsg::Endpoint, messages
// as std::unique_ptr<VMsg>, tags walked and read without casts, required
// tags with vmsg::missingTags and the structured view with vmsg::structure.
// examples/classic/receiver.cpp prints the same with the classic API.
//
//   vmsg_receiver PORT COUNT [TIMEOUT_MS]
//
// PORT 0 takes any free port. The first line printed is
// "listening on 127.0.0.1:<port>". The receiver stops after COUNT datagrams,
// or when TIMEOUT_MS (default 5000) have passed since it started; it exits
// 0 when COUNT datagrams arrived and every one gave an accepted message.
#include "DemoProtocol.h"
#include "Print.h"
#include "Udp.h"

#include <vmsg.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

void printErrors(const vmsg::Errors& errors)
{
    for (const VError& error : errors) {
        const std::optional<int> detail = vmsg::errorDetail(error);
        std::printf("    %s (code %u)", vmsg::errorName(error.mCode), error.mCode);
        if (detail)
            std::printf(", detail %d", *detail);
        std::printf("\n");
    }
}

void show(const vmsg::Endpoint& endpoint, const VMsg& msg)
{
    std::printf("message 0x%02x: %u tags\n", msg.mId, msg.mTagCount);
    for (const VTag& tag : vmsg::tags(msg))
        std::printf("  tag %u %s: %s\n", tag.mId, demo::typeName(tag), demo::value(tag).c_str());
    if (const CarrowMsgDef* def = endpoint.definition(msg.mId)) {
        const std::vector<unsigned char> missing = vmsg::missingTags(*def, msg);
        std::printf("  required tags: %s\n", missing.empty() ? "all present" : "missing");
        for (unsigned char id : missing)
            std::printf("    tag %u\n", id);
    }
    if (vmsg::Structure view = vmsg::structure(endpoint.dictionary(), msg))
        demo::printStructured(stdout, *view.message);
    else
        printErrors(view.errors);
}

} // namespace

int main(int argc, char** argv)
{
    const int port = argc > 1 ? std::atoi(argv[1]) : -1;
    const int count = argc > 2 ? std::atoi(argv[2]) : -1;
    const int timeoutMs = argc > 3 ? std::atoi(argv[3]) : 5000;
    if (argc < 3 || argc > 4 || port < 0 || port > 65535 || count < 0 || timeoutMs < 0) {
        std::fprintf(stderr, "usage: %s PORT COUNT [TIMEOUT_MS]\n", argv[0]);
        return 2;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    demo::UdpSocket socket;
    if (socket.listenOnLoopback(static_cast<unsigned short>(port)) == 0)
        return 1;

    vmsg::Endpoint endpoint(demo::dictionary);
    const demo::Received got = demo::receiveDatagrams(socket, deadline, count, [&](const unsigned char* data,
                                                                                   std::size_t size) {
        if (vmsg::Errors errors = endpoint.bytesIn(data, size)) {
            std::printf("  refused:\n");
            printErrors(errors);
            return 0;
        }
        int accepted = 0;
        while (std::unique_ptr<VMsg> msg = endpoint.receive()) {
            show(endpoint, *msg);
            ++accepted;
        }
        return accepted;
    });
    return got.datagrams == count && got.accepted == count ? 0 : 1;
}
