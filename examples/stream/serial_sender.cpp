// Sends telemetry messages of the demo protocol down a serial line, each
// block COBS-encoded and ended by a 0x00 byte (vmsg::Framing::Cobs), as
// `vmsg listen --framing cobs file:DEVICE` reads them. The test runs it on
// one end of a pseudo-terminal pair.
//
//   vmsg_serial_sender DEVICE [COUNT]
//
// Sends COUNT messages (default 3), from devices 1 to COUNT. Exits 0 when
// every frame was written.
#include "Telemetry.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace {

// Writes all of @p bytes; false (with perror) when the line fails.
bool writeAll(int fd, const unsigned char* bytes, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = write(fd, bytes, size);
        if (written <= 0) {
            std::perror("write");
            return false;
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    const int count = argc > 2 ? std::atoi(argv[2]) : 3;
    if (argc < 2 || argc > 3 || count < 0) {
        std::fprintf(stderr, "usage: %s DEVICE [COUNT]\n", argv[0]);
        return 2;
    }
    const int fd = streamdemo::openLine(argv[1], O_WRONLY);
    if (fd < 0)
        return 1;
    // A leading delimiter ends whatever partial frame the reader holds from
    // before; the reader takes it as a mere separator.
    const unsigned char delimiter = 0;
    bool ok = writeAll(fd, &delimiter, 1);
    unsigned char framed[vmsg::kMaxBlock + vmsg::kMaxBlock / 254 + 2];
    for (int device = 1; ok && device <= count; ++device) {
        const std::vector<unsigned char> block = streamdemo::telemetryBlock(static_cast<unsigned int>(device));
        const std::size_t size = vmsg::frame(vmsg::Framing::Cobs, block.data(), block.size(), framed, sizeof framed);
        ok = size > 0 && writeAll(fd, framed, size);
        if (ok)
            std::printf("sent telemetry of pump-%d: %zu bytes framed as %zu\n", device, block.size(), size);
    }
    tcdrain(fd);
    close(fd);
    return ok ? 0 : 1;
}
