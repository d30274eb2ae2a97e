// Joining received segments into one message, at a cost set by the
// segment being joined, within a bound on the joined size.
#include <vmsg.hpp>

#include "endpoint/ErrorList.h"

#include <utility>

namespace vmsg {

namespace {

constexpr unsigned kCounterLimit = 0xFFFF;

// As VMsg::addTag counts: held at 65535 rather than wrapping.
unsigned short saturatingSum(unsigned short counter, std::size_t added)
{
    const std::size_t sum = counter + added;
    return static_cast<unsigned short>(sum < kCounterLimit ? sum : kCounterLimit);
}

} // namespace

Joiner::Joiner(std::size_t maxJoined) : mMaxJoined(maxJoined) {}

Joiner::~Joiner() = default;

Joiner::Joiner(Joiner&& other) noexcept
    : mMsg(std::move(other.mMsg)),
      mLast(other.mLast),
      mMaxJoined(other.mMaxJoined),
      mSize(other.mSize),
      mCount(other.mCount),
      mSteps(other.mSteps)
{
    other.mLast = nullptr;
    other.mSize = other.mCount = other.mSteps = 0;
}

Joiner& Joiner::operator=(Joiner&& other) noexcept
{
    if (this != &other) {
        mMsg = std::move(other.mMsg);
        mLast = other.mLast;
        mMaxJoined = other.mMaxJoined;
        mSize = other.mSize;
        mCount = other.mCount;
        mSteps = other.mSteps;
        other.mLast = nullptr;
        other.mSize = other.mCount = other.mSteps = 0;
    }
    return *this;
}

Errors Joiner::add(std::unique_ptr<VMsg>& segment)
{
    if (!segment)
        return Errors(errorList(ErrNullArgument));
    // One pass over the segment's own tags: its size and its last tag.
    std::size_t bytes = 0;
    std::size_t count = 0;
    VTag* tail = nullptr;
    for (VTag* tag = segment->mFirstTag; tag; tag = tag->mNext) {
        bytes += tag->mLength + kTagHeaderSize;
        ++count;
        tail = tag;
    }
    mSteps += count;
    if (bytes > mMaxJoined - mSize || count > kMaxJoinedTags - mCount)
        return Errors(errorList(ErrJoinTooLarge));

    if (!mMsg) {
        // The first segment is the joined message.
        mMsg = std::move(segment);
        mLast = tail;
        mSize = bytes;
        mCount = count;
        mMsg->mCurrentTag = tail;
        return Errors();
    }

    VMsg& joined = *mMsg;
    // The caller may have appended with addTag since the last join: step
    // over those tags (once each), so that the segment goes to the end.
    if (!joined.mFirstTag)
        mLast = nullptr;
    else if (!mLast)
        mLast = joined.mFirstTag;
    if (mLast) {
        while (mLast->mNext) {
            mLast = mLast->mNext;
            ++mSteps;
        }
    }
    if (tail) {
        if (mLast)
            mLast->mNext = segment->mFirstTag;
        else
            joined.mFirstTag = segment->mFirstTag;
        mLast = tail;
        joined.mTagCount = saturatingSum(joined.mTagCount, count);
        joined.mLength = saturatingSum(joined.mLength, bytes);
        mSize += bytes;
        mCount += count;
    }
    if (mLast)
        joined.mCurrentTag = mLast;
    joined.mFlags = static_cast<unsigned char>((joined.mFlags & ~kMoreSegments) | (segment->mFlags & kMoreSegments));
    // The tags belong to the joined message now; the emptied segment goes.
    segment->mFirstTag = nullptr;
    segment->mCurrentTag = nullptr;
    segment.reset();
    return Errors();
}

bool Joiner::complete() const
{
    return mMsg && (mMsg->mFlags & kMoreSegments) == 0;
}

std::unique_ptr<VMsg> Joiner::release()
{
    mLast = nullptr;
    mSize = mCount = mSteps = 0;
    return std::move(mMsg);
}

} // namespace vmsg
