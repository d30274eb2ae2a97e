#include "Framed.h"

#include "Errors.h"

namespace vmsgtool {

vmsg::Framing parseFraming(const std::string& name)
{
    if (name == "lp")
        return vmsg::Framing::LengthPrefix;
    if (name == "cobs")
        return vmsg::Framing::Cobs;
    throw UsageError("--framing: expected 'lp' (2-byte length prefix) or 'cobs', found '" + name + "'");
}

const char* framingName(vmsg::Framing framing)
{
    return framing == vmsg::Framing::Cobs ? "cobs" : "lp";
}

std::vector<unsigned char> frameBlock(vmsg::Framing framing, const std::vector<unsigned char>& block,
                                      const std::string& where)
{
    if (block.size() < vmsg::kMinFramedBlock || block.size() > vmsg::kMaxFramedBlock)
        throw BlockError(where + ": a framed block has 2 to 65535 bytes, this one has " +
                         std::to_string(block.size()));
    std::vector<unsigned char> out(vmsg::maxFramedSize(framing, block.size()));
    out.resize(vmsg::frame(framing, block.data(), block.size(), out.data(), out.size()));
    return out;
}

FramedCapture readFramed(std::string_view bytes, vmsg::Framing framing, const std::string& source)
{
    FramedCapture capture;
    vmsg::FrameReader reader(framing);
    std::size_t offset = 0;
    while (offset < bytes.size()) {
        offset += reader.feed(bytes.data() + offset, bytes.size() - offset);
        const unsigned char* block;
        std::size_t length;
        if (reader.next(block, length))
            capture.blocks.push_back({std::vector<unsigned char>(block, block + length),
                                      source + " frame " + std::to_string(capture.blocks.size() + 1)});
    }
    capture.dropped = reader.dropped();
    capture.unfinished = reader.buffered();
    return capture;
}

} // namespace vmsgtool
