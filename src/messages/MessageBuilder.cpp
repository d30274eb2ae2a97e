// Building messages with chained calls, and finding tags by id.
#include <vmsg.hpp>

#include <memory>

namespace vmsg {

MessageBuilder::MessageBuilder(unsigned char id, unsigned char flags) : mId(id), mFlags(flags) {}

MessageBuilder& MessageBuilder::add(VTag* tag)
{
    // Owned from its creation: a failure to make the message frees the tag.
    std::unique_ptr<VTag> owned(tag);
    if (!mMsg) {
        mMsg.reset(new VMsg(mId));
        mMsg->mFlags = mFlags;
    }
    mMsg->addTag(owned.release());
    return *this;
}

MessageBuilder& MessageBuilder::null(unsigned char tagId)
{
    return add(new VTagNull(tagId));
}

MessageBuilder& MessageBuilder::u8(unsigned char tagId, std::uint8_t value)
{
    return add(new VTagUInt8(tagId, value));
}

MessageBuilder& MessageBuilder::u16(unsigned char tagId, std::uint16_t value)
{
    return add(new VTagUInt16(tagId, value));
}

MessageBuilder& MessageBuilder::u32(unsigned char tagId, std::uint32_t value)
{
    return add(new VTagUInt32(tagId, static_cast<unsigned int>(value)));
}

MessageBuilder& MessageBuilder::f32(unsigned char tagId, float value)
{
    return add(new VTagFloat(tagId, value));
}

MessageBuilder& MessageBuilder::text(unsigned char tagId, std::string_view text)
{
    // The counted constructor reads no further than the count and stops at
    // a NUL; beyond 1017 characters nothing is kept anyway.
    const std::size_t count = text.size() < kMaxText ? text.size() : kMaxText;
    return add(new VTagString(tagId, text.data(), static_cast<unsigned short>(count)));
}

MessageBuilder& MessageBuilder::bytes(unsigned char tagId, const void* data, std::size_t size)
{
    const std::size_t kept = !data ? 0 : size < kMaxPayload ? size : kMaxPayload;
    // VTagBytes copies the bytes and never writes them.
    return add(new VTagBytes(tagId, const_cast<void*>(data), static_cast<unsigned short>(kept)));
}

std::unique_ptr<VMsg> MessageBuilder::build()
{
    if (!mMsg) {
        mMsg.reset(new VMsg(mId));
        mMsg->mFlags = mFlags;
    }
    return std::move(mMsg);
}

const VTag* findTag(const VMsg& msg, unsigned char id)
{
    for (const VTag& tag : tags(msg)) {
        if (tag.mId == id)
            return &tag;
    }
    return nullptr;
}

} // namespace vmsg
