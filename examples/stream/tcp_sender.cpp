// Sends telemetry messages of the demo protocol over TCP to
// 127.0.0.1:PORT, each block framed with a 2-byte big-endian length
// (vmsg::Framing::LengthPrefix), as `vmsg listen tcp://...` reads them.
//
//   vmsg_tcp_sender PORT [COUNT]
//
// Sends COUNT messages (default 3), from devices 1 to COUNT, on one
// connection. Exits 0 when every frame was written.
#include "Telemetry.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    const int port = argc > 1 ? std::atoi(argv[1]) : 0;
    const int count = argc > 2 ? std::atoi(argv[2]) : 3;
    if (argc < 2 || argc > 3 || port <= 0 || port > 65535 || count < 0) {
        std::fprintf(stderr, "usage: %s PORT [COUNT]\n", argv[0]);
        return 2;
    }
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<unsigned short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        std::perror("connect");
        return 1;
    }
    unsigned char framed[vmsg::kMaxBlock + 2];
    for (int device = 1; device <= count; ++device) {
        const std::vector<unsigned char> block = streamdemo::telemetryBlock(static_cast<unsigned int>(device));
        // frame() writes 2 + length bytes for a length prefix: room enough.
        const std::size_t size =
            vmsg::frame(vmsg::Framing::LengthPrefix, block.data(), block.size(), framed, sizeof framed);
        // TCP may take a frame in pieces: write until all of it has gone.
        for (std::size_t done = 0; done < size;) {
            const ssize_t written = send(fd, framed + done, size - done, MSG_NOSIGNAL);
            if (written <= 0) {
                std::perror("send");
                close(fd);
                return 1;
            }
            done += static_cast<std::size_t>(written);
        }
        std::printf("sent telemetry of pump-%d: %zu bytes framed as %zu\n", device, block.size(), size);
    }
    close(fd);
    return 0;
}
