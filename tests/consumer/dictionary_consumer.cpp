// A program built on the C++ that vmsg_add_dictionary generates from the
// example dictionary, against an installed (or unpacked) libvmsg and tool:
// builds a telemetry message with its typed builder, sends it through one
// endpoint and receives it on another, both on the generated dictionary,
// and reads it back with the typed reader. Exits 0 on success.
#include "dictionary.h"

#include <cstdio>
#include <string>

int main()
{
    namespace telemetry = demo::messages::telemetry;
    std::unique_ptr<VMsg> msg = telemetry::Builder(42, "pump-7").uptime(3600).build();
    vmsg::Endpoint sender(demo::dictionary);
    if (!sender.send(msg).empty())
        return std::fprintf(stderr, "dictionary consumer: FAILED: send refused the message\n"), 1;
    unsigned char block[vmsg::kMaxBlock];
    std::size_t length = 0;
    if (!sender.bytesOut(block, sizeof block, length).empty())
        return std::fprintf(stderr, "dictionary consumer: FAILED: bytesOut\n"), 1;

    vmsg::Endpoint receiver(demo::dictionary);
    if (!receiver.bytesIn(block, length).empty())
        return std::fprintf(stderr, "dictionary consumer: FAILED: bytesIn refused the block\n"), 1;
    std::unique_ptr<VMsg> received = receiver.receive();
    const telemetry::Reader reader(*received);
    if (!reader.isMessage() || reader.device() != 42u || reader.name() != "pump-7" || reader.uptime() != 3600u ||
        !reader.missingTags().empty())
        return std::fprintf(stderr, "dictionary consumer: FAILED: the message reads back otherwise\n"), 1;
    std::printf("dictionary consumer: OK (telemetry, %zu bytes, device %u, name %s)\n", length, *reader.device(),
                std::string(*reader.name()).c_str());
    return 0;
}
