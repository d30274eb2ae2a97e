/// @file
/// A first-in, first-out list of item pointers, and the error records that
/// the library reports in such lists.
#ifndef VMSG_VLIST_H
#define VMSG_VLIST_H

#include <VTag.h>

/// One entry of a VList.
struct VListNode {
    void* mData;       ///< The item, as handed to add.
    VListNode* mNext;  ///< Next entry towards the tail.
};

/// First-in, first-out queue of untyped item pointers with a read cursor.
/// The list owns its nodes, never its items. Not copyable.
///
/// The error lists that Carrow and CarrowMessage return hold VError
/// records; release one with:
/// @code
/// while (void* item = errors->pull())
///     delete static_cast<VError*>(item);
/// delete errors;
/// @endcode
class VMSG_API VList : public cVlog {
public:
    VListNode* mHead;      ///< First entry; null when empty.
    VListNode* mCurrent;   ///< Read cursor; null past the last entry.
    VListNode* mTail;      ///< Last entry; null when empty.
    unsigned short mCount; ///< Number of entries.

    /// An empty list.
    VList();
    /// Removes every entry; the items are left untouched.
    ~VList();

    /// Not copyable: a copy would share the nodes.
    VList(const VList&) = delete;
    /// Not assignable: an assignment would share the nodes.
    VList& operator=(const VList&) = delete;

    /// Appends @p item at the tail. The cursor moves only if the list was
    /// empty (onto the new entry).
    /// @param item the item; the list does not own it. Null may be added,
    ///        but pull() then cannot tell it from an empty list.
    void add(void* item);
    /// Removes the head entry and returns its item; null when empty. The
    /// cursor then stands on the new head.
    /// @return the item, now the caller's, or null.
    void* pull();
    /// The head item, or null.
    /// @return the item, still in the list.
    void* getfirst();
    /// The item under the cursor, or null past the end.
    /// @return the item, still in the list.
    void* get();
    /// Moves the cursor one entry on; true when it stands on an entry.
    /// @return false once the cursor has passed the last entry.
    bool step();
    /// True when the list has no entries.
    /// @return whether the head is null (not read from mCount).
    bool empty();
};

/// Error codes of the records the library reports.
enum VErrorCode {
    ErrUnknownMessage = 1,    ///< Message id not in the dictionary; detail: the id.
    ErrMissingTag = 3,        ///< A required tag id is missing; detail: the tag id.
    ErrBufferTooSmall = 5,    ///< Output buffer too small; detail: needed size (16-bit, host order).
    ErrLengthMismatch = 6,    ///< Serialized size differs from the needed size; no detail from Carrow,
                              ///< the block size (16-bit, host order) from vmsg::Endpoint::send.
    ErrParseFailed = 7,       ///< A received block yields no message; no detail from Carrow, the stop
                              ///< reason and offset from vmsg::Endpoint::bytesIn (see vmsg::parseStop).
    ErrNullArgument = 10,     ///< A required pointer argument is null; no detail.
    ErrTagCountMismatch = 11, ///< Copies differ from the tag count; detail: copies - count (16-bit, host order).
    ErrQueueFull = 12,        ///< vmsg::Endpoint's queue holds its most messages; no detail.
    ErrJoinTooLarge = 13      ///< vmsg::Joiner would exceed its bound on the joined size; no detail.
};

/// One error record: a code and an owned copy of its detail bytes.
/// Not copyable.
class VMSG_API VError {
public:
    unsigned short mCode;  ///< The error code.
    unsigned short mLength; ///< Number of detail bytes.
    unsigned char* mData;  ///< Owned copy of the detail; null when mLength is 0.
    VErrorCode mType;      ///< The error code again.

    /// Copies @p length bytes from @p data (not read when @p length is 0;
    /// a null @p data gives @p length bytes of value 0).
    /// @param code   the error code, normally a VErrorCode.
    /// @param data   the detail bytes, or null.
    /// @param length the number of detail bytes.
    VError(unsigned short code, const void* data, unsigned short length);
    /// Releases the detail bytes.
    ~VError();

    /// Not copyable: a copy would share the detail bytes.
    VError(const VError&) = delete;
    /// Not assignable: an assignment would share the detail bytes.
    VError& operator=(const VError&) = delete;
};

#endif
