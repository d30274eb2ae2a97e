// Splitting a message into frame-sized segments, and joining segments.
#include <VMsg.h>

#include "Cursor.h"
#include "logging/DebugLines.h"

namespace {

constexpr unsigned char kSegmentFlagsMask = static_cast<unsigned char>(~vmsg::kMoreSegments);
// The sizes in the int arithmetic of segmentMessage.
constexpr int kHeaderSize = static_cast<int>(vmsg::kMessageHeaderSize);
constexpr int kTagHeaderSize = static_cast<int>(vmsg::kTagHeaderSize);
// A segment is written whole by getMsg, so no frame holds more than a block.
constexpr int kLargestFrame = static_cast<int>(vmsg::kMaxBlock) + 1;

// Puts back the tags that a failed segmentation had moved: the segments'
// tags in order, then what was still in the parent, and drops the segments.
void undoSegmentation(VMsg& parent)
{
    VTag* head = nullptr;
    VTag** link = &head;
    for (VMsg* segment = parent.mFirstSegment; segment; segment = segment->mNextSegment) {
        *link = segment->mFirstTag;
        while (*link)
            link = &(*link)->mNext;
        segment->mFirstTag = nullptr;
        segment->mCurrentTag = nullptr;
    }
    *link = parent.mFirstTag;
    parent.mFirstTag = head;
    while (VMsg* segment = parent.mFirstSegment) {
        parent.mFirstSegment = segment->mNextSegment;
        delete segment;
    }
    parent.mCurrentSegment = nullptr;
}

VMsg* newSegment(const VMsg& parent)
{
    VMsg* segment = new VMsg(parent.mId);
    segment->mFlags = parent.mFlags & kSegmentFlagsMask;
    return segment;
}

// Moves the parent's tags, in order, into its first segment and as many
// further segments as the frame needs; returns the last segment. A tag
// joins the open segment while the segment stays strictly below the frame
// size; a tag that reaches it on its own still gets a segment of its own,
// since tags are never split.
VMsg* moveTagsIntoSegments(VMsg& parent, int frameSize)
{
    VMsg* current = parent.mFirstSegment;
    int running = kHeaderSize;
    while (VTag* tag = parent.mFirstTag) {
        const int wire = static_cast<unsigned short>(tag->mLength + kTagHeaderSize);
        // One question per tag for both of its lines; each line is still
        // written (and its category checked again) by debug.
        const bool lines = vmsg::log::vmsgDebugOn();
        if (lines)
            parent.debug("Is %d+%d < %d", wire, running, frameSize);
        running += wire;
        if (running < frameSize) {
            parent.mFirstTag = tag->mNext;
            current->addTag(tag);
            if (lines)
                parent.debug("Adding Tag to segment");
            continue;
        }
        if (lines)
            parent.debug("Create new segment");
        VMsg* next = newSegment(parent);
        current->setLastSegment(false);
        current->mNextSegment = next;
        current = next;
        parent.mFirstTag = tag->mNext;
        current->addTag(tag);
        running = kHeaderSize + wire;
    }
    return current;
}

} // namespace

VMsg* VMsg::segmentMessage(int frameSize)
{
    // The tags already live in the existing segments; starting again would
    // orphan that chain.
    if (mFirstSegment) {
        mCurrentSegment = mFirstSegment;
        return mFirstSegment;
    }
    if (frameSize > kLargestFrame)
        frameSize = kLargestFrame;
    mFirstSegment = newSegment(*this);
    // The cursor tag is about to move into a segment.
    mCurrentTag = nullptr;
    VMsg* last = mFirstSegment;
    try {
        debug("Segmenting %d tags for %d bytes", mTagCount, frameSize);
        if (mFirstTag) {
            last = moveTagsIntoSegments(*this, frameSize);
            debug("We're fresh out of tags");
        }
    } catch (...) {
        undoSegmentation(*this);
        throw;
    }
    last->setLastSegment(true);
    mCurrentSegment = mFirstSegment;
    return mFirstSegment;
}

VMsg* VMsg::resetSegment()
{
    mCurrentSegment = mFirstSegment;
    return mCurrentSegment;
}

VMsg* VMsg::getNextSegment()
{
    return vmsg::detail::takeAndAdvance(mCurrentSegment, &VMsg::mNextSegment);
}

void VMsg::setLastSegment(bool last)
{
    if (last)
        mFlags &= kSegmentFlagsMask;
    else
        mFlags |= vmsg::kMoreSegments;
}

bool VMsg::isLastSegment()
{
    return (mFlags & vmsg::kMoreSegments) == 0;
}

void VMsg::addSegment(VMsg* other)
{
    if (!other || other == this)
        return;
    // addTag appends at the end; after the first tag the cursor stays on
    // the last one, so the join is linear in the tags moved.
    while (VTag* tag = other->mFirstTag) {
        other->mFirstTag = tag->mNext;
        addTag(tag);
    }
    other->mCurrentTag = nullptr;
}
