// Building messages with chained calls, and finding tags by id.
#include <vmsg.hpp>

#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

namespace vmsg {

namespace {

// "vmsg::MessageBuilder::text: tag 1: 2000 bytes, at most 1017"
std::string refusal(const char* call, unsigned char tagId, std::size_t size, const std::string& why)
{
    return std::string("vmsg::MessageBuilder::") + call + ": tag " + std::to_string(tagId) + ": " +
           std::to_string(size) + " " + why;
}

} // namespace

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
    // The typed constructor would cut a longer text, or end it at a NUL;
    // the builder refuses instead, so that what is built is what was asked.
    if (text.size() > kMaxText)
        throw std::length_error(refusal("text", tagId, text.size(), "bytes, at most " + std::to_string(kMaxText)));
    if (const void* nul = text.empty() ? nullptr : std::memchr(text.data(), 0, text.size())) {
        const auto at = static_cast<std::size_t>(static_cast<const char*>(nul) - text.data());
        throw std::length_error(refusal("text", tagId, text.size(), "bytes, a NUL at byte " + std::to_string(at)));
    }
    return add(new VTagString(tagId, text.data(), static_cast<unsigned short>(text.size())));
}

MessageBuilder& MessageBuilder::bytes(unsigned char tagId, const void* data, std::size_t size)
{
    const std::size_t kept = data ? size : 0;
    if (kept > kMaxPayload)
        throw std::length_error(refusal("bytes", tagId, kept, "bytes, at most " + std::to_string(kMaxPayload)));
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
