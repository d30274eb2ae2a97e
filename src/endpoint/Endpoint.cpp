// The endpoint with owning handles, and the required-tag check over a
// message.
#include <vmsg.hpp>

#include "endpoint/ErrorList.h"
#include "endpoint/RequiredTags.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>

namespace vmsg {

namespace {

// The options in force, clamped to what the queues and the parser take.
struct Limits {
    bool acceptDamaged = false;
    std::size_t maxBlock = kMaxBlock;
    std::size_t maxQueued = kDefaultMaxQueued;
};

constexpr std::size_t kMax16 = std::numeric_limits<unsigned short>::max();

// Reads the fields that lie within the first @p size bytes of @p options:
// a program built against an earlier release passes a shorter struct, and
// the fields it does not know keep their defaults.
Limits limitsOf(const EndpointOptions& options, std::size_t size)
{
    Limits limits;
    const auto has = [size](std::size_t offset, std::size_t width) { return offset + width <= size; };
    if (has(offsetof(EndpointOptions, acceptDamaged), sizeof options.acceptDamaged))
        limits.acceptDamaged = options.acceptDamaged;
    if (has(offsetof(EndpointOptions, maxBlock), sizeof options.maxBlock))
        limits.maxBlock = options.maxBlock < kMax16 ? options.maxBlock : kMax16;
    if (has(offsetof(EndpointOptions, maxQueued), sizeof options.maxQueued))
        limits.maxQueued = options.maxQueued < kMax16 ? options.maxQueued : kMax16;
    return limits;
}

// The limits of every endpoint made with options, by its classic endpoint.
// They are kept here rather than in vmsg::Endpoint so that the class keeps
// the size and layout (one pointer) that programs built against earlier
// releases allocate, move and destroy inline. An endpoint without an entry
// has the defaults, and while no endpoint has one no lock is taken.
class LimitTable {
public:
    void set(const Carrow* endpoint, const Limits& limits)
    {
        std::unique_lock<std::shared_mutex> lock(mMutex);
        mLimits[endpoint] = limits;
        mSize.store(mLimits.size(), std::memory_order_release);
    }
    void erase(const Carrow* endpoint)
    {
        if (mSize.load(std::memory_order_acquire) == 0)
            return;
        std::unique_lock<std::shared_mutex> lock(mMutex);
        mLimits.erase(endpoint);
        mSize.store(mLimits.size(), std::memory_order_release);
    }
    Limits get(const Carrow* endpoint) const
    {
        if (mSize.load(std::memory_order_acquire) == 0)
            return Limits{};
        std::shared_lock<std::shared_mutex> lock(mMutex);
        const auto it = mLimits.find(endpoint);
        return it == mLimits.end() ? Limits{} : it->second;
    }

private:
    mutable std::shared_mutex mMutex;
    std::unordered_map<const Carrow*, Limits> mLimits;
    std::atomic<std::size_t> mSize{0};
};

// Never destroyed: endpoints in static storage may go after it would.
LimitTable& limitTable()
{
    static LimitTable* const table = new LimitTable;
    return *table;
}

bool full(const VList& queue, const Limits& limits)
{
    return limits.maxQueued != 0 && queue.mCount >= limits.maxQueued;
}

} // namespace

Endpoint::Endpoint(const CarrowDictDef& dictionary) : mEndpoint(new Carrow(&dictionary))
{
    // An endpoint with options may have lived at this address and been
    // destroyed by a program built before ~Endpoint left the header.
    limitTable().erase(mEndpoint.get());
}

Endpoint::Endpoint(const CarrowDictDef& dictionary, const EndpointOptions& options, std::size_t optionsSize)
    : mEndpoint(new Carrow(&dictionary))
{
    limitTable().set(mEndpoint.get(), limitsOf(options, optionsSize));
}

Endpoint::~Endpoint()
{
    if (mEndpoint)
        limitTable().erase(mEndpoint.get());
}

Endpoint::Endpoint(Endpoint&& other) noexcept : mEndpoint(std::move(other.mEndpoint)) {}

Endpoint& Endpoint::operator=(Endpoint&& other) noexcept
{
    if (this != &other) {
        if (mEndpoint)
            limitTable().erase(mEndpoint.get());
        mEndpoint = std::move(other.mEndpoint);
    }
    return *this;
}

Errors Endpoint::send(std::unique_ptr<VMsg>& msg)
{
    if (VList* errors = mEndpoint->checkMessage(msg.get()))
        return Errors(errors);
    // No block holds more than kMaxMessagePayload bytes: queued, the
    // message could only be dropped by bytesOut.
    if (msg->mLength > kMaxMessagePayload) {
        const std::size_t needed = msg->mLength + kMessageHeaderSize;
        const auto detail = static_cast<unsigned short>(needed < kMax16 ? needed : kMax16);
        return Errors(errorList(ErrLengthMismatch, &detail, sizeof detail));
    }
    if (full(mEndpoint->mOutgoing, limitTable().get(mEndpoint.get())))
        return Errors(errorList(ErrQueueFull));
    mEndpoint->mOutgoing.add(msg.get());
    static_cast<void>(msg.release()); // queued: the endpoint owns it now
    return Errors();
}

bool Endpoint::ready() const
{
    return mEndpoint->bytesOutReady();
}

Errors Endpoint::bytesOut(void* out, std::size_t capacity, std::size_t& length)
{
    auto room = static_cast<unsigned short>(capacity < kMax16 ? capacity : kMax16);
    Errors errors(mEndpoint->bytesOut(static_cast<unsigned char*>(out), &room));
    length = errors.empty() ? room : 0;
    return errors;
}

Errors Endpoint::bytesIn(const void* block, std::size_t length)
{
    const Limits limits = limitTable().get(mEndpoint.get());
    if (full(mEndpoint->mIncoming, limits))
        return Errors(errorList(ErrQueueFull));
    if (!block || length < kMessageHeaderSize)
        return Errors(parseFailure(Stop::ShortBlock, 0));
    // The parser takes a 16-bit length, and maxBlock is at most 65535.
    if (length > limits.maxBlock)
        return Errors(parseFailure(Stop::TooLong, 0));
    if (!limits.acceptDamaged) {
        Reader reader(block, length);
        TagView tag;
        while (reader.next(tag)) {
        }
        if (reader.stop() != Stop::End)
            return Errors(parseFailure(reader.stop(), reader.offset()));
    }
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
    // The rule of matchRequiredTags, with the present ids counted by id
    // instead of searched for each requirement: one pass over the tags and
    // one over the requirements. A requirement consumes one tag of its id,
    // which becomes a 255 there; a required 255 is met by any 255 present,
    // and a consumed 255 stays a 255, so it consumes nothing.
    std::uint32_t present[256] = {};
    for (const VTag& tag : tags(msg))
        ++present[tag.mId];
    bool any255 = present[kConsumedTagId] != 0;
    std::vector<unsigned char> missing;
    for (unsigned r = 0; r < def.mRequiredCount; ++r) {
        const unsigned char required = def.mRequiredTags[r];
        if (required == kConsumedTagId) {
            if (!any255)
                missing.push_back(required);
        } else if (present[required]) {
            --present[required];
            any255 = true;
        } else {
            missing.push_back(required);
        }
    }
    return missing;
}

} // namespace vmsg
