// The endpoint with owning handles, and the required-tag check over a
// message.
#include <vmsg.hpp>

#include "endpoint/ErrorList.h"
#include "endpoint/RequiredTags.h"

#include <limits>

namespace vmsg {

Endpoint::Endpoint(const CarrowDictDef& dictionary) : mEndpoint(new Carrow(&dictionary)) {}

Errors Endpoint::send(std::unique_ptr<VMsg>& msg)
{
    Errors errors(mEndpoint->sendMessage(msg.get()));
    if (errors.empty())
        static_cast<void>(msg.release()); // queued: the endpoint owns it now
    return errors;
}

bool Endpoint::ready() const
{
    return mEndpoint->bytesOutReady();
}

Errors Endpoint::bytesOut(void* out, std::size_t capacity, std::size_t& length)
{
    constexpr std::size_t kMaxLength = std::numeric_limits<unsigned short>::max();
    auto room = static_cast<unsigned short>(capacity < kMaxLength ? capacity : kMaxLength);
    Errors errors(mEndpoint->bytesOut(static_cast<unsigned char*>(out), &room));
    length = errors.empty() ? room : 0;
    return errors;
}

Errors Endpoint::bytesIn(const void* block, std::size_t length)
{
    // The parser takes a 16-bit length: a longer block cannot be read whole,
    // and reading only its start would drop the rest unnoticed.
    if (length > std::numeric_limits<unsigned short>::max())
        return Errors(errorList(ErrParseFailed));
    return Errors(
        mEndpoint->bytesIn(static_cast<const unsigned char*>(block), static_cast<unsigned short>(length)));
}

std::unique_ptr<VMsg> Endpoint::receive()
{
    return std::unique_ptr<VMsg>(mEndpoint->getMessage());
}

Errors Endpoint::check(const VMsg& msg) const
{
    if (!definition(msg.mId))
        return Errors(errorList(ErrUnknownMessage, &msg.mId, 1));
    return Errors();
}

const CarrowMsgDef* Endpoint::definition(unsigned char id) const
{
    return mEndpoint->findMsgDef(id);
}

const CarrowDictDef& Endpoint::dictionary() const
{
    return *mEndpoint->mDict;
}

Carrow& Endpoint::classic()
{
    return *mEndpoint;
}

std::vector<unsigned char> missingTags(const CarrowMsgDef& def, const VMsg& msg)
{
    std::vector<unsigned char> ids;
    for (const VTag& tag : tags(msg))
        ids.push_back(tag.mId);
    std::vector<unsigned char> missing;
    matchRequiredTags(def, ids.data(), ids.size(), [&](unsigned char id) { missing.push_back(id); });
    return missing;
}

} // namespace vmsg
