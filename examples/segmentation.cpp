// Splits a message too large for one block into segments that fit 256-byte
// frames, writes each segment as a frame, parses the frames back and joins
// them into one message again.
//
//   vmsg_segmentation [LOG4CPP_PROPERTIES]
//
// With a log4cpp configuration file (such as examples/log4cpp.properties)
// the library's debug lines are written as configured. Exits 0 when the
// joined message has the same tags as the original.
#include <VMsg.h>

#include "Print.h"

#include <log4cpp/Configurator.hh>
#include <log4cpp/PropertyConfigurator.hh>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr unsigned char kMsgUpload = 0x40;
constexpr unsigned char kTagName = 1;
constexpr unsigned char kTagChunk = 2;
constexpr int kFrameSize = 256;

// A message of a name and ten 100-byte chunks: 1057 payload bytes, more
// than the 1022 that one block carries.
std::unique_ptr<VMsg> upload()
{
    std::unique_ptr<VMsg> msg(new VMsg(kMsgUpload));
    char name[] = "firmware.bin";
    msg->addTag(new VTagString(kTagName, name));
    unsigned char chunk[100];
    for (unsigned i = 0; i < 10; ++i) {
        for (unsigned j = 0; j < sizeof chunk; ++j)
            chunk[j] = static_cast<unsigned char>(i * 16 + j);
        msg->addTag(new VTagBytes(kTagChunk, chunk, sizeof chunk));
    }
    return msg;
}

// Sending side: one frame per segment. The message keeps its segments.
std::vector<std::vector<unsigned char>> toFrames(VMsg& msg)
{
    std::vector<std::vector<unsigned char>> frames;
    msg.segmentMessage(kFrameSize);
    msg.resetSegment();
    while (VMsg* segment = msg.getNextSegment()) {
        std::vector<unsigned char> frame(kFrameSize);
        frame.resize(segment->getMsg(frame.data(), kFrameSize));
        std::printf("  segment: %3zu bytes, %u tags, flags 0x%02x (%s)\n", frame.size(), segment->mTagCount,
                    segment->mFlags, segment->isLastSegment() ? "last" : "more follow");
        frames.push_back(frame);
    }
    return frames;
}

// Receiving side: the first segment becomes the message, the others'
// tags are moved onto its end; the last one clears the "more" flag.
std::unique_ptr<VMsg> join(const std::vector<std::vector<unsigned char>>& frames)
{
    std::unique_ptr<VMsg> joined;
    for (const auto& frame : frames) {
        const auto size = static_cast<unsigned short>(frame.size());
        std::unique_ptr<VMsg> segment(VMsg::parseMsg(frame.data(), size));
        if (!segment)
            return nullptr;
        if (!joined) {
            joined = std::move(segment);
            continue;
        }
        joined->addSegment(segment.get()); // segment keeps no tags; deleted here
        if (segment->isLastSegment())
            joined->setLastSegment(true);
    }
    return joined;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 2) {
        std::fprintf(stderr, "usage: %s [LOG4CPP_PROPERTIES]\n", argv[0]);
        return 2;
    }
    if (argc == 2) {
        try {
            log4cpp::PropertyConfigurator::configure(argv[1]);
        } catch (const log4cpp::ConfigureFailure& failure) {
            std::fprintf(stderr, "%s: %s\n", argv[1], failure.what());
            return 2;
        }
    }

    std::unique_ptr<VMsg> original = upload();
    std::unique_ptr<VMsg> outgoing = upload();
    unsigned char block[VMSG_MAX_BLOCK];
    std::printf("message: %u tags, %u payload bytes; written whole: %u bytes\n", outgoing->mTagCount,
                outgoing->mLength, outgoing->getMsg(block, sizeof block));

    std::printf("split for %d-byte frames:\n", kFrameSize);
    const auto frames = toFrames(*outgoing);
    std::unique_ptr<VMsg> joined = join(frames);
    const bool equal = joined && joined->isLastSegment() && joined->mTagCount == original->mTagCount &&
                       joined->mLength == original->mLength && demo::sameTags(*joined, *original);
    std::printf("joined: %u tags, %u payload bytes: %s\n", joined ? joined->mTagCount : 0u,
                joined ? joined->mLength : 0u,
                equal ? "same tags as the original" : "DIFFERENT from the original");
    return equal ? 0 : 1;
}
