/// @file
/// The message: an id, a flags byte and an owned chain of tags, with its
/// wire format and its splitting into frame-sized segments.
#ifndef VMSG_VMSG_H
#define VMSG_VMSG_H

#include <VTag.h>

// VMSG_MAX_PAYLOAD (largest message payload getMsg writes), VMSG_MAX_BLOCK
// (largest block getMsg writes) and VMSG_MORE_SEGMENTS (bit of mFlags that
// marks every segment but the last) come from VWire.h, through VTag.h.

/// One message or segment.
///
/// Wire layout: id (1 byte), flags (1 byte), then the tags back to back in
/// chain order; the block is exactly 2 + mLength bytes. The message owns
/// every tag in its chain and every segment in its segment chain.
///
/// The single cursor mCurrentTag is both the reading position of getTag and
/// the point behind which addTag appends: a complete walk leaves it null.
/// addTag still appends at the end of the chain wherever the cursor stands.
///
/// Messages are not copyable.
class VMSG_API VMsg : public cVlog {
public:
    unsigned char mId;        ///< Message id; first byte on the wire.
    unsigned char mFlags;     ///< Second byte; bit 7 set: more segments follow.
    /// Sum of (mLength + 4) over every tag added; held at 65535 rather than
    /// wrapping, so 65535 stands for "65535 or more" (no such message can
    /// be written: getMsg refuses a payload above 1022 bytes).
    unsigned short mLength;
    VTag* mFirstTag;          ///< Head of the tag chain.
    VTag* mCurrentTag;        ///< The tag cursor.
    /// Number of tags added; held at 65535 rather than wrapping, so 65535
    /// stands for "65535 or more" (CarrowMessage::parseVMsg refuses a
    /// message with more tags than that, as a count mismatch).
    unsigned short mTagCount;
    VMsg* mFirstSegment;      ///< Head of this message's segment chain.
    VMsg* mCurrentSegment;    ///< Cursor over the segment chain.
    VMsg* mNextSegment;       ///< Next segment of the same parent.

    /// An empty message with flags 0.
    /// @param id the message id.
    explicit VMsg(unsigned char id);
    /// Destroys every segment, then every tag still in the chain.
    ~VMsg();

    /// Not copyable: a copy would share the tags.
    VMsg(const VMsg&) = delete;
    /// Not assignable: an assignment would share the tags.
    VMsg& operator=(const VMsg&) = delete;

    /// Appends @p tag at the end of the chain; the message owns it from here
    /// on and the cursor moves onto it. Constant time when the cursor is on
    /// the last tag; otherwise the last tag is found first.
    /// @param tag a tag created with `new` that belongs to no message; null
    ///            is ignored. mLength grows by the tag's mLength + 4 and
    ///            mTagCount by 1, each up to 65535, where it stays.
    /// @return the tag count after the call (unchanged for a null tag).
    unsigned short addTag(VTag* tag);

    /// Puts the cursor on the first tag and returns it (null if none).
    /// @return the first tag, still owned by the message.
    VTag* gotoFirst();
    /// Returns the tag under the cursor and moves the cursor to its
    /// successor; null (and no move) when the cursor is null.
    /// @return the tag, still owned by the message, or null.
    VTag* getTag();
    /// Puts the cursor on the last tag and returns it; with no tags returns
    /// null and leaves the cursor alone.
    /// @return the last tag, still owned by the message, or null.
    VTag* gotoLast();

    /// Writes the message into @p out.
    /// @param out    the buffer to write to.
    /// @param length the capacity of @p out in bytes.
    /// @return 2 + mLength; 0 with nothing written when @p out is null,
    ///         @p length is below 2 + mLength or mLength exceeds 1022; 0 also
    ///         when a tag no longer fits because its payload was changed
    ///         after it was added (nothing is written past @p length).
    ///         Leaves the cursor null.
    unsigned short getMsg(void* out, unsigned short length);

    /// Builds a message from a received block. Tags are read until the
    /// input ends or a tag is refused (short header, declared length beyond
    /// the block, unknown type code); the tags before that point are kept.
    /// Each tag is stepped over by its length on the wire, so the tail of an
    /// oversized raw-bytes tag is skipped, never read as further tags.
    /// @param in     the block; never written.
    /// @param length the number of bytes at @p in.
    /// @return a new message owned by the caller; null for a null @p in or
    ///         fewer than 2 bytes.
    static VMsg* parseMsg(const void* in, unsigned short length);

    /// Moves the tags into a chain of segments, each below @p frameSize
    /// bytes when written (a tag too large for any frame gets a segment of
    /// its own). Every segment but the last has bit 7 set. The message keeps
    /// the segments, its counts and its header; its chain and cursor become
    /// empty. A second call changes nothing and returns the first segment.
    /// @param frameSize the frame size; every segment written is shorter.
    ///        Frames above 1025 bytes are treated as 1025, so that every
    ///        segment stays within the 1024 bytes getMsg writes.
    /// @return the first segment, owned by this message. The segment cursor
    ///         stands on it.
    VMsg* segmentMessage(int frameSize);
    /// Puts the segment cursor on the first segment and returns it.
    /// @return the first segment, owned by this message, or null.
    VMsg* resetSegment();
    /// Returns the segment under the cursor and moves on; null at the end.
    /// @return the segment, owned by this message, or null.
    VMsg* getNextSegment();
    /// Clears bit 7 of mFlags when @p last is true, sets it otherwise.
    /// @param last true for the last segment of a message.
    void setLastSegment(bool last);
    /// True when bit 7 of mFlags is clear.
    /// @return true for a last segment or an unsegmented message.
    bool isLastSegment();
    /// Moves every tag of @p other, in order, to the end of this message.
    /// @p other stays the caller's, without tags and with a null cursor.
    /// Ids and flags are not checked. A null @p other, or this message
    /// itself, is ignored.
    /// @param other the message whose tags move; its mLength and mTagCount
    ///        are left as they were. This message's counters grow as with
    ///        addTag, up to 65535.
    void addSegment(VMsg* other);
};

#endif
