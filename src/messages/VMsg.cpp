// The message container: construction, destruction, the tag chain and its
// single cursor.
#include <VMsg.h>

#include "Cursor.h"
#include "logging/Categories.h"
#include "logging/DebugLines.h"

namespace {

constexpr unsigned kCounterLimit = 0xFFFF;

// The sum, held at 65535 instead of wrapping: a counter that wrapped would
// describe a small message, which getMsg could then write short.
unsigned short saturatingSum(unsigned short counter, unsigned added)
{
    const unsigned sum = counter + added;
    return static_cast<unsigned short>(sum < kCounterLimit ? sum : kCounterLimit);
}

} // namespace

VMsg::VMsg(unsigned char id)
    : cVlog(vmsg::log::kVMsg),
      mId(id),
      mFlags(0),
      mLength(0),
      mFirstTag(nullptr),
      mCurrentTag(nullptr),
      mTagCount(0),
      mFirstSegment(nullptr),
      mCurrentSegment(nullptr),
      mNextSegment(nullptr)
{
    if (vmsg::log::vmsgDebugOn())
        debug("VMsg() - %p", static_cast<void*>(this));
}

VMsg::~VMsg()
{
    if (vmsg::log::vmsgDebugOn())
        debug("~VMsg() - %p", static_cast<void*>(this));
    // Each segment destroys its own segments and tags in turn.
    while (VMsg* segment = mFirstSegment) {
        mFirstSegment = segment->mNextSegment;
        delete segment;
    }
    VTag* tag = mFirstTag;
    while (tag) {
        VTag* next = tag->mNext;
        delete tag;
        tag = next;
    }
}

unsigned short VMsg::addTag(VTag* tag)
{
    if (!tag)
        return mTagCount;
    // Normally the cursor is on the last tag and this loop does not run. When
    // a walk left it elsewhere the new tag still goes to the end, so no tag
    // drops out of the chain that the counts describe.
    VTag* last = mCurrentTag ? mCurrentTag : mFirstTag;
    while (last && last->mNext)
        last = last->mNext;
    if (last)
        last->mNext = tag;
    else
        mFirstTag = tag;
    tag->mNext = nullptr;
    mCurrentTag = tag;
    mTagCount = saturatingSum(mTagCount, 1);
    mLength = saturatingSum(mLength, tag->mLength + vmsg::kTagHeaderSize);
    return mTagCount;
}

VTag* VMsg::gotoFirst()
{
    mCurrentTag = mFirstTag;
    return mCurrentTag;
}

VTag* VMsg::getTag()
{
    return vmsg::detail::takeAndAdvance(mCurrentTag, &VTag::mNext);
}

VTag* VMsg::gotoLast()
{
    if (!mFirstTag)
        return nullptr;
    VTag* last = mFirstTag;
    while (last->mNext)
        last = last->mNext;
    mCurrentTag = last;
    return last;
}
