// The message: an id, a flags byte and an owned chain of tags, with its
// wire format and its splitting into frame-sized segments.
#ifndef VMSG_VMSG_H
#define VMSG_VMSG_H

#include <VTag.h>

/// Largest message payload getMsg writes (one tag of 1018 bytes + header).
#define VMSG_MAX_PAYLOAD 1022
/// Largest block getMsg writes: 2 header bytes + VMSG_MAX_PAYLOAD.
#define VMSG_MAX_BLOCK 1024
/// Bit of mFlags that marks every segment but the last.
#define VMSG_MORE_SEGMENTS 0x80

/// One message or segment.
///
/// Wire layout: id (1 byte), flags (1 byte), then the tags back to back in
/// chain order; the block is exactly 2 + mLength bytes. The message owns
/// every tag in its chain and every segment in its segment chain.
///
/// The single cursor mCurrentTag is both the reading position of getTag and
/// the point behind which addTag appends: a complete walk leaves it null.
class VMSG_API VMsg : public cVlog {
public:
    unsigned char mId;        ///< Message id; first byte on the wire.
    unsigned char mFlags;     ///< Second byte; bit 7 set: more segments follow.
    unsigned short mLength;   ///< Sum of (mLength + 4) over every tag added.
    VTag* mFirstTag;          ///< Head of the tag chain.
    VTag* mCurrentTag;        ///< The tag cursor.
    unsigned short mTagCount; ///< Number of tags added.
    VMsg* mFirstSegment;      ///< Head of this message's segment chain.
    VMsg* mCurrentSegment;    ///< Cursor over the segment chain.
    VMsg* mNextSegment;       ///< Next segment of the same parent.

    /// An empty message with flags 0.
    explicit VMsg(unsigned char id);
    /// Destroys every segment, then every tag still in the chain.
    ~VMsg();

    VMsg(const VMsg&) = delete;
    VMsg& operator=(const VMsg&) = delete;

    /// Appends @p tag at the end of the chain; the message owns it from here
    /// on and the cursor moves onto it. Constant time when the cursor is on
    /// the last tag; otherwise the last tag is found first.
    /// @return the tag count after the call (unchanged for a null tag).
    unsigned short addTag(VTag* tag);

    /// Puts the cursor on the first tag and returns it (null if none).
    VTag* gotoFirst();
    /// Returns the tag under the cursor and moves the cursor to its
    /// successor; null (and no move) when the cursor is null.
    VTag* getTag();
    /// Puts the cursor on the last tag and returns it; with no tags returns
    /// null and leaves the cursor alone.
    VTag* gotoLast();

    /// Writes the message into @p out.
    /// @return 2 + mLength; 0 with nothing written when @p out is null,
    ///         @p length is below 2 + mLength or mLength exceeds 1022; 0 also
    ///         when a tag no longer fits because its payload was changed
    ///         after it was added (nothing is written past @p length).
    ///         Leaves the cursor null.
    unsigned short getMsg(void* out, unsigned short length);

    /// Builds a message from a received block. Tags are read until the
    /// input ends or a tag is refused (short header, declared length beyond
    /// the block, unknown type code); the tags before that point are kept.
    /// @return a new message owned by the caller; null for a null @p in or
    ///         fewer than 2 bytes.
    static VMsg* parseMsg(const void* in, unsigned short length);

    /// Moves the tags into a chain of segments, each below @p frameSize
    /// bytes when written (a tag too large for any frame gets a segment of
    /// its own). Every segment but the last has bit 7 set. The message keeps
    /// the segments, its counts and its header; its chain and cursor become
    /// empty. A second call changes nothing and returns the first segment.
    /// @return the first segment, owned by this message.
    VMsg* segmentMessage(int frameSize);
    /// Puts the segment cursor on the first segment and returns it.
    VMsg* resetSegment();
    /// Returns the segment under the cursor and moves on; null at the end.
    VMsg* getNextSegment();
    /// Clears bit 7 of mFlags when @p last is true, sets it otherwise.
    void setLastSegment(bool last);
    /// True when bit 7 of mFlags is clear.
    bool isLastSegment();
    /// Moves every tag of @p other, in order, to the end of this message.
    /// @p other stays the caller's, without tags and with a null cursor.
    /// Ids and flags are not checked. A null @p other, or this message
    /// itself, is ignored.
    void addSegment(VMsg* other);
};

#endif
