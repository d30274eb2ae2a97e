// The message wire layout: id, flags, then the tags back to back. Blocks
// are read with vmsg::Reader and tags written with its writer's encoder.
#include <VMsg.h>
#include <VWire.h>

#include "tags/TagAccess.h"
#include "tags/TagWire.h"

#include <cstddef>
#include <cstdint>
#include <memory>

unsigned short VMsg::getMsg(void* out, unsigned short length)
{
    if (!out || mLength + vmsg::kMessageHeaderSize > length || mLength > vmsg::kMaxMessagePayload)
        return 0;
    auto* const bytes = static_cast<unsigned char*>(out);
    bytes[0] = mId;
    bytes[1] = mFlags;
    unsigned char* at = bytes + vmsg::kMessageHeaderSize;
    const unsigned char* const end = bytes + length;
    // A complete walk over the tags, which leaves the cursor null.
    mCurrentTag = nullptr;
    // The tags are written here rather than through writeTag, with the
    // room left kept as a pointer: the loop is most of what a send costs.
    for (const VTag* tag = mFirstTag; tag; tag = tag->mNext) {
        const unsigned size = tag->mLength;
        // Every tag fits when the chain matches mLength. A payload changed
        // after the tag was added can break that; the tag is then refused
        // rather than written past the buffer, and so is the message.
        if (static_cast<std::size_t>(end - at) < size + vmsg::kTagHeaderSize || (size && !tag->mData))
            return 0;
        // Codes above TagFloat have no class; they are written as TagNull.
        const auto code = static_cast<unsigned>(vmsg::typeCode(*tag));
        at[0] = tag->mId;
        at[1] = static_cast<unsigned char>(code < vmsg::kTypeCount ? code : 0);
        vmsg::storeBE16(at + 2, static_cast<std::uint16_t>(size));
        if (size)
            vmsg::copyPayload(at + vmsg::kTagHeaderSize, tag->mData, size);
        at += size + vmsg::kTagHeaderSize;
    }
    return static_cast<unsigned short>(at - bytes);
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
    // The tags are linked here rather than through addTag: the chain is
    // new, its end is known, and the counters are summed once at the end
    // (a block of at most 65535 bytes holds fewer than 16384 tags, so no
    // sum needs holding at 65535). Each tag is linked as soon as it is
    // made, so that a failed allocation releases the tags made before.
    VTag* last = nullptr;
    unsigned count = 0;
    std::size_t length16 = 0;
    vmsg::TagView view;
    while (reader.next(view)) {
        VTag* tag = vmsg::makeTag(view);
        if (!tag)
            break; // not for a type the reader accepts
        if (last)
            last->mNext = tag;
        else
            msg->mFirstTag = tag;
        last = tag;
        ++count;
        length16 += tag->mLength + vmsg::kTagHeaderSize;
    }
    msg->mCurrentTag = last;
    msg->mTagCount = static_cast<unsigned short>(count);
    msg->mLength = static_cast<unsigned short>(length16 < 0xFFFF ? length16 : 0xFFFF);
    msg->mFlags = reader.flags();
    return msg.release();
}
