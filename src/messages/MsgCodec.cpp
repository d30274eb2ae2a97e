// The message wire layout: id, flags, then the tags back to back. Blocks
// are read with vmsg::Reader and tags written with its writer's encoder.
#include <VMsg.h>
#include <VWire.h>

#include "tags/TagAccess.h"
#include "tags/TagWire.h"

#include <memory>

unsigned short VMsg::getMsg(void* out, unsigned short length)
{
    if (!out || mLength + vmsg::kMessageHeaderSize > length || mLength > vmsg::kMaxMessagePayload)
        return 0;
    auto* bytes = static_cast<unsigned char*>(out);
    bytes[0] = mId;
    bytes[1] = mFlags;
    unsigned written = vmsg::kMessageHeaderSize;
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
    if (!in || length < vmsg::kMessageHeaderSize)
        return nullptr;
    vmsg::Reader reader(in, length);
    std::unique_ptr<VMsg> msg(new VMsg(reader.id()));
    // The reader steps over each tag by its size on the wire, not by the
    // size of the tag built from it: an oversized raw-bytes tag keeps 1018
    // bytes, and the rest of its payload must not be read as further tags.
    vmsg::TagView view;
    while (reader.next(view))
        msg->addTag(vmsg::makeTag(view));
    msg->mFlags = reader.flags();
    return msg.release();
}
