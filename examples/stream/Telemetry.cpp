#include "Telemetry.h"

#include <fcntl.h>
#include <termios.h>

namespace streamdemo {

std::vector<unsigned char> telemetryBlock(unsigned int device)
{
    std::unique_ptr<VMsg> msg = demo::messages::telemetry::Builder(device, "pump-" + std::to_string(device))
                                    .sensor(0)
                                    .reading(20.0f + static_cast<float>(device) / 2)
                                    .unit("C")
                                    .build();
    // The endpoint checks the message against the dictionary and writes it.
    vmsg::Endpoint endpoint(demo::dictionary);
    std::vector<unsigned char> block(vmsg::kMaxBlock);
    std::size_t length = 0;
    if (endpoint.send(msg) || endpoint.bytesOut(block.data(), block.size(), length))
        return {};
    block.resize(length);
    return block;
}

int openLine(const char* path, int flags)
{
    const int fd = open(path, flags | O_NOCTTY);
    if (fd < 0) {
        std::perror(path);
        return -1;
    }
    termios settings{};
    if (tcgetattr(fd, &settings) == 0) {
        cfmakeraw(&settings);
        tcsetattr(fd, TCSANOW, &settings);
    }
    return fd;
}

void Receiver::take(const unsigned char* data, std::size_t length)
{
    mReader.feedAll(data, length, [this](const unsigned char* block, std::size_t size) {
        if (vmsg::Errors errors = mEndpoint.bytesIn(block, size)) {
            std::printf("refused a block of %zu bytes:", size);
            for (const VError& error : errors)
                std::printf(" %s", vmsg::errorName(error.mCode));
            std::printf("\n");
            ++mRefused;
            return;
        }
        while (std::unique_ptr<VMsg> msg = mEndpoint.receive()) {
            std::string name = "?";
            for (const VTag& tag : vmsg::tags(*msg))
                if (tag.mId == demo::tags::name)
                    name = vmsg::text(tag).value_or("?");
            const CarrowMsgDef* def = mEndpoint.definition(msg->mId);
            const bool complete = def && vmsg::missingTags(*def, *msg).empty();
            std::printf("message 0x%02x from %s: %u tags, required tags: %s\n", msg->mId, name.c_str(),
                        msg->mTagCount, complete ? "all present" : "missing");
            ++mAccepted;
        }
    });
    std::fflush(stdout);
}

} // namespace streamdemo
