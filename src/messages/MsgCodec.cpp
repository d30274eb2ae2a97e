// The message wire layout: id, flags, then the tags back to back.
#include <VMsg.h>

#include "tags/TagWire.h"

#include <memory>

namespace {

constexpr unsigned kMsgHeaderSize = 2;

} // namespace

unsigned short VMsg::getMsg(void* out, unsigned short length)
{
    if (!out || mLength + kMsgHeaderSize > length || mLength > VMSG_MAX_PAYLOAD)
        return 0;
    auto* bytes = static_cast<unsigned char*>(out);
    bytes[0] = mId;
    bytes[1] = mFlags;
    unsigned written = kMsgHeaderSize;
    // A complete walk over the tags, which leaves the cursor null.
    mCurrentTag = nullptr;
    for (const VTag* tag = mFirstTag; tag; tag = tag->mNext) {
        // Every tag fits when the chain matches mLength. A payload changed
        // after the tag was added can break that; the tag is then refused
        // rather than written past the buffer, and so is the message.
        const unsigned short n = vmsg::writeTag(*tag, bytes + written, length - written);
        if (n == 0)
            return 0;
        written += n;
    }
    return static_cast<unsigned short>(written);
}

VMsg* VMsg::parseMsg(const void* in, unsigned short length)
{
    if (!in || length < kMsgHeaderSize)
        return nullptr;
    const auto* bytes = static_cast<const unsigned char*>(in);
    std::unique_ptr<VMsg> msg(new VMsg(bytes[0]));
    // Step over each tag by its size on the wire (the next position the tag
    // parser reports), not by the size of the tag it built: an oversized
    // raw-bytes tag keeps 1018 bytes, and the rest of its payload must not
    // be read as further tags. The parser never reports a position beyond
    // the input, so the loop ends at the end of the block at the latest.
    unsigned pos = kMsgHeaderSize;
    while (pos < length) {
        void* next = nullptr;
        VTag* tag = VTag::parseTag(const_cast<unsigned char*>(bytes + pos),
                                   static_cast<unsigned short>(length - pos), &next);
        if (!tag)
            break;
        msg->addTag(tag);
        pos = static_cast<unsigned>(static_cast<const unsigned char*>(next) - bytes);
    }
    msg->mFlags = bytes[1];
    return msg.release();
}
