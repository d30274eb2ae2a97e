// End-to-end tour of the library: tags on the wire, a message round trip,
// segmentation and joining, and two endpoints talking over UDP on
// 127.0.0.1, the receiver printing each message and its structured view.
#include "DemoProtocol.h"
#include "Print.h"

#include <CarrowMessage.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

void showTags()
{
    std::printf("== Tags: one of every type, written and parsed back\n");
    char text[] = "hello";
    unsigned char raw[] = {0xde, 0xad, 0xbe, 0xef};
    std::unique_ptr<VTag> tags[] = {
        std::unique_ptr<VTag>(new VTagNull(7)),
        std::unique_ptr<VTag>(new VTagString(demo::tags::name, text)),
        std::unique_ptr<VTag>(new VTagUInt32(demo::tags::device, 258u)),
        std::unique_ptr<VTag>(new VTagUInt16(demo::tags::status, static_cast<unsigned short>(258))),
        std::unique_ptr<VTag>(new VTagUInt8(demo::tags::sensor, static_cast<unsigned char>(7))),
        std::unique_ptr<VTag>(new VTagBytes(demo::tags::payload, raw, sizeof raw)),
        std::unique_ptr<VTag>(new VTagFloat(demo::tags::reading, 1.0f)),
    };
    for (const auto& tag : tags) {
        unsigned char wire[VTAG_MAX_PAYLOAD + VTAG_HEADER_SIZE];
        unsigned short n = tag->getTag(wire, sizeof wire);
        std::unique_ptr<VTag> back(VTag::parseTag(wire, n, nullptr));
        std::printf("  %-5s %-28s -> %-12s %s\n", demo::typeName(*tag), demo::hex(wire, n).c_str(),
                    demo::typeName(*back), demo::value(*back).c_str());
    }
}

VMsg* telemetry(unsigned int device, const char* name, float temperature)
{
    VMsg* msg = new VMsg(demo::messages::telemetry::id);
    std::vector<char> text(name, name + std::strlen(name) + 1);
    msg->addTag(new VTagUInt32(demo::tags::device, device));
    msg->addTag(new VTagString(demo::tags::name, text.data()));
    msg->addTag(new VTagUInt32(demo::tags::uptime, 3600u));
    msg->addTag(new VTagUInt8(demo::tags::sensor, static_cast<unsigned char>(0)));
    msg->addTag(new VTagFloat(demo::tags::reading, temperature));
    msg->addTag(new VTagString(demo::tags::unit, const_cast<char*>(std::string("C").c_str())));
    msg->addTag(new VTagUInt8(demo::tags::sensor, static_cast<unsigned char>(1)));
    msg->addTag(new VTagFloat(demo::tags::reading, 1013.25f));
    msg->addTag(new VTagUInt16(demo::tags::status, static_cast<unsigned short>(0x0102)));
    return msg;
}

void showMessage()
{
    std::printf("\n== Message: built, written, parsed back\n");
    std::unique_ptr<VMsg> msg(telemetry(42, "pump-7", 21.5f));
    unsigned char block[VMSG_MAX_BLOCK];
    unsigned short n = msg->getMsg(block, sizeof block);
    std::printf("  %u bytes: %s\n", n, demo::hex(block, n).c_str());
    std::unique_ptr<VMsg> back(VMsg::parseMsg(block, n));
    demo::printMessage(stdout, *back);
}

bool showSegmentation()
{
    std::printf("\n== Segmentation: a large message split for 256-byte frames and joined again\n");
    auto build = [] {
        std::unique_ptr<VMsg> msg(new VMsg(demo::messages::command::id));
        std::vector<unsigned char> data(100);
        for (std::size_t i = 0; i < 10; ++i) {
            for (std::size_t j = 0; j < data.size(); ++j)
                data[j] = static_cast<unsigned char>(i * 16 + j);
            msg->addTag(new VTagBytes(demo::tags::payload, data.data(), static_cast<unsigned short>(data.size())));
        }
        return msg;
    };
    std::unique_ptr<VMsg> original = build();
    std::unique_ptr<VMsg> parent = build();
    std::printf("  original: %u tags, %u payload bytes\n", parent->mTagCount, parent->mLength);
    parent->segmentMessage(256);
    std::unique_ptr<VMsg> joined;
    parent->resetSegment();
    while (VMsg* segment = parent->getNextSegment()) {
        unsigned char frame[VMSG_MAX_BLOCK];
        unsigned short n = segment->getMsg(frame, sizeof frame);
        std::unique_ptr<VMsg> received(VMsg::parseMsg(frame, n));
        std::printf("  segment: %3u bytes, %u tags, %s\n", n, received->mTagCount,
                    received->isLastSegment() ? "last" : "more follow");
        if (!joined) {
            joined = std::move(received);
        } else {
            bool last = received->isLastSegment();
            joined->addSegment(received.get());
            if (last)
                joined->setLastSegment(true);
        }
    }
    bool equal = joined && joined->mTagCount == original->mTagCount && joined->mLength == original->mLength &&
                 joined->isLastSegment() && demo::sameTags(*joined, *original);
    std::printf("  joined: %u tags, %u payload bytes, %s the original\n", joined ? joined->mTagCount : 0u,
                joined ? joined->mLength : 0u,
                equal ? "equal to" : "DIFFERENT FROM");
    return equal;
}

struct Socket {
    int fd = -1;
    ~Socket()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

bool openUdp(Socket& sock, unsigned short port, sockaddr_in& address)
{
    sock.fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (sock.fd < 0)
        return false;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (::bind(sock.fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        // The fixed port may be taken; any free port will do for the demo.
        address.sin_port = 0;
        if (::bind(sock.fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            return false;
    }
    socklen_t size = sizeof address;
    ::getsockname(sock.fd, reinterpret_cast<sockaddr*>(&address), &size);
    timeval timeout{2, 0};
    ::setsockopt(sock.fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    return true;
}

// Sends every queued message of @p sender as one datagram each. The first
// attempt uses a deliberately small buffer to show the size report.
int flush(Carrow& sender, int fd, const sockaddr_in& to, bool startSmall)
{
    int sent = 0;
    unsigned short capacity = startSmall ? 8 : VMSG_MAX_BLOCK;
    std::vector<unsigned char> buffer(VMSG_MAX_BLOCK);
    while (sender.bytesOutReady()) {
        unsigned short length = capacity;
        VList* errors = sender.bytesOut(buffer.data(), &length);
        if (errors) {
            auto* error = static_cast<VError*>(errors->getfirst());
            unsigned short needed = 0;
            if (error->mCode == ErrBufferTooSmall)
                std::memcpy(&needed, error->mData, sizeof needed);
            std::printf("  sender: bytesOut with %u bytes of room:\n", capacity);
            demo::printAndFreeErrors(stdout, errors, 4);
            if (!needed)
                return -1;
            std::printf("  sender: retrying with the reported %u bytes\n", needed);
            capacity = needed;
            continue;
        }
        ::sendto(fd, buffer.data(), length, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        std::printf("  sender: sent %u bytes\n", length);
        capacity = VMSG_MAX_BLOCK;
        ++sent;
    }
    return sent;
}

void receiveOne(Carrow& receiver, int fd)
{
    unsigned char datagram[65536];
    ssize_t n = ::recv(fd, datagram, sizeof datagram, 0);
    if (n < 0) {
        std::printf("  receiver: nothing arrived\n");
        return;
    }
    std::printf("  receiver: %zd bytes: %s\n", n, demo::hex(datagram, static_cast<std::size_t>(n)).c_str());
    if (VList* errors = receiver.bytesIn(datagram, static_cast<unsigned short>(n))) {
        std::printf("  receiver: block refused:\n");
        demo::printAndFreeErrors(stdout, errors, 4);
        return;
    }
    while (VMsg* raw = receiver.getMessage()) {
        std::unique_ptr<VMsg> msg(raw);
        demo::printMessage(stdout, *msg, 4);
        std::vector<unsigned char> ids;
        msg->gotoFirst();
        while (VTag* tag = msg->getTag())
            ids.push_back(tag->mId);
        if (const CarrowMsgDef* def = receiver.findMsgDef(msg->mId)) {
            VList* missing = receiver.checkMessageTags(def, ids.data(), static_cast<unsigned char>(ids.size()));
            std::printf("    required tags: %s\n", missing ? "missing" : "all present");
            demo::printAndFreeErrors(stdout, missing, 6);
        }
        std::unique_ptr<CarrowMessage> view(CarrowMessage::parseVMsg(&demo::dictionary, msg.get()));
        if (view)
            demo::printStructured(stdout, *view, 4);
    }
}

bool showEndpoints()
{
    std::printf("\n== Endpoints: two endpoints on one dictionary, over UDP on 127.0.0.1\n");
    Socket rx, tx;
    sockaddr_in rxAddress{}, txAddress{};
    if (!openUdp(rx, demo::kPort, rxAddress) || !openUdp(tx, 0, txAddress)) {
        std::perror("socket");
        return false;
    }
    std::printf("  receiver listens on 127.0.0.1:%u\n", ntohs(rxAddress.sin_port));
    Carrow sender(&demo::dictionary);
    Carrow receiver(&demo::dictionary);

    std::unique_ptr<VMsg> undefined(new VMsg(demo::kMsgUndefined));
    std::printf("  sender: sendMessage of undefined id 0x%02x:\n", demo::kMsgUndefined);
    demo::printAndFreeErrors(stdout, sender.sendMessage(undefined.get()), 4);

    demo::printAndFreeErrors(stdout, sender.sendMessage(telemetry(42, "pump-7", 21.5f)));
    std::unique_ptr<VMsg> command(new VMsg(demo::messages::command::id));
    command->addTag(new VTagUInt8(demo::tags::action, static_cast<unsigned char>(3))); // no device: incomplete
    demo::printAndFreeErrors(stdout, sender.sendMessage(command.release()));

    int sent = flush(sender, tx.fd, rxAddress, true);
    // A peer may also send a block the dictionary does not know.
    const unsigned char stray[] = {demo::kMsgUndefined, 0x00, 0x05, 0x04, 0x00, 0x01, 0x07};
    ::sendto(tx.fd, stray, sizeof stray, 0, reinterpret_cast<const sockaddr*>(&rxAddress), sizeof rxAddress);
    for (int i = 0; i < sent + 1; ++i)
        receiveOne(receiver, rx.fd);
    return sent == 2;
}

} // namespace

int main()
{
    showTags();
    showMessage();
    bool ok = showSegmentation();
    ok = showEndpoints() && ok;
    std::printf("\n%s\n", ok ? "demo finished" : "demo FAILED");
    return ok ? EXIT_SUCCESS : EXIT_FAILURE;
}
