/// @file
/// The application's message dictionary and the protocol endpoint that
/// validates and queues messages against it.
#ifndef VMSG_CARROW_H
#define VMSG_CARROW_H

#include <VList.h>
#include <VMsg.h>

/// One message definition.
struct CarrowMsgDef {
    unsigned char mId;                  ///< Message id.
    unsigned char mRequiredCount;       ///< Number of required tag ids.
    const unsigned char* mRequiredTags; ///< The required tag ids.
};

/// One tag definition. The library reads only mId; the rest describes the
/// tag for the application and its tools.
struct CarrowTagDef {
    unsigned char mId;      ///< Tag id.
    VTag::VTagType mType;   ///< Expected type (not checked by the library).
    const char* mName;      ///< Name, for display; may be null.
};

/// One meta-tag definition: a tag id that opens an object in a structured
/// message. The library reads only mId.
struct CarrowMetaDef {
    unsigned char mId;      ///< Tag id that opens an object.
    VTag::VTagType mType;   ///< Expected type of the meta tag (not checked).
    const char* mName;      ///< Name of the meta tag, for display; may be null.
    const char* mObjectName; ///< Name of the object it opens; may be null.
};

/// The dictionary root. Arrays are not read when their count is 0, so their
/// pointers may then be null. The library only reads the dictionary; it
/// must outlive every endpoint built on it. Lookups are linear, in array
/// order; the first entry with a matching id wins.
struct CarrowDictDef {
    unsigned char mReserved[2];         ///< Not read by the library.
    unsigned char mMsgDefCount;         ///< Entries in mMsgDefs.
    unsigned char mTagDefCount;         ///< Entries in mTagDefs.
    unsigned char mMetaDefCount;        ///< Entries in mMetaDefs.
    const CarrowMsgDef* mMsgDefs;       ///< Message definitions.
    const CarrowTagDef* mTagDefs;       ///< Tag definitions.
    const CarrowMetaDef* mMetaDefs;     ///< Meta-tag definitions.
};

/// Protocol endpoint: checks messages against a dictionary and queues them
/// in both directions. Operations that can fail return a new VList of
/// VError records (never empty), or null when there is nothing to report;
/// the caller deletes the list and every record in it. Not copyable.
class VMSG_API Carrow : public cVlog {
public:
    const CarrowDictDef* mDict; ///< The dictionary; not owned.
    VList mIncoming;            ///< Accepted received messages, oldest first; owned.
    VList mOutgoing;            ///< Messages waiting for bytesOut, oldest first; owned.

    /// Builds an endpoint on @p dict (kept, not copied). A null dictionary
    /// behaves as an empty one.
    /// @param dict the dictionary, or null; must outlive the endpoint.
    explicit Carrow(const CarrowDictDef* dict);
    /// Deletes the messages still queued in both directions.
    ~Carrow();

    /// Not copyable: a copy would share the queued messages.
    Carrow(const Carrow&) = delete;
    /// Not assignable: an assignment would share the queued messages.
    Carrow& operator=(const Carrow&) = delete;

    /// Checks @p msg and queues it for bytesOut.
    /// @param msg a message created with `new`.
    /// @return null when queued (the endpoint owns the message from here
    ///         on); otherwise the errors of checkMessage, and the message
    ///         stays with the caller.
    VList* sendMessage(VMsg* msg);
    /// Checks that @p msg is not null and its id is defined, then walks its
    /// tag cursor (the cursor is left past the end). Never takes ownership.
    /// The walk covers mTagCount modulo 256 tags, so a message of 256 tags
    /// or more may be left with its cursor elsewhere.
    /// @param msg the message to check.
    /// @return ErrNullArgument, ErrUnknownMessage (detail: the id), or null.
    ///         Required tags are not checked here: see checkMessageTags.
    VList* checkMessage(VMsg* msg);

    /// Writes the oldest outgoing message into @p out.
    /// @param out the buffer to write to; null is reported as
    ///        ErrBufferTooSmall.
    /// @param length in: the capacity of @p out; out: the bytes written
    ///        (0 when nothing is queued).
    /// @return null on success or an empty queue; ErrBufferTooSmall (detail:
    ///         the needed size, at most 1024; the message stays queued and
    ///         @p length is unchanged); ErrLengthMismatch (the message could
    ///         not be written whole, as one of more than 1022 payload bytes
    ///         never can be whatever the buffer, and has been deleted);
    ///         ErrNullArgument for a null @p length.
    VList* bytesOut(unsigned char* out, unsigned short* length);
    /// True while an outgoing message is queued.
    /// @return whether bytesOut has a message to write.
    bool bytesOutReady();

    /// Parses a received block, checks it and queues it for getMessage.
    /// @param in     the block; never written, not kept.
    /// @param length the number of bytes at @p in.
    /// @return null when queued; ErrParseFailed for a null @p in or fewer
    ///         than 2 bytes; the errors of checkMessage (the message is
    ///         deleted).
    VList* bytesIn(const unsigned char* in, unsigned short length);
    /// The oldest received message, now owned by the caller; null if none.
    /// Its cursor stands where the check left it: start with gotoFirst.
    /// @return a message the caller deletes, or null.
    VMsg* getMessage();

    /// Checks that every tag id required by @p def is among the @p count
    /// ids at @p ids. Each matched element is overwritten with 255, so an id
    /// required twice must be present twice.
    /// @param def   the message definition, e.g. from findMsgDef.
    /// @param ids   the ids present; written (matched ids become 255). Null
    ///              counts as no ids.
    /// @param count the number of ids at @p ids.
    /// @return one ErrMissingTag record per missing id, in the definition's
    ///         order; ErrNullArgument for a null @p def; or null.
    VList* checkMessageTags(const CarrowMsgDef* def, unsigned char* ids, unsigned char count);

    /// The first message definition with id @p id, or null.
    /// @param id the message id.
    /// @return an entry of the dictionary, or null.
    const CarrowMsgDef* findMsgDef(unsigned char id);
    /// The first tag definition with id @p id, or null.
    /// @param id the tag id.
    /// @return an entry of the dictionary, or null.
    const CarrowTagDef* findTagDef(unsigned char id);
    /// True when @p dict lists @p id as a meta tag; false for a null @p dict.
    /// @param dict the dictionary, or null.
    /// @param id   the tag id.
    /// @return whether a meta definition has id @p id.
    static bool isMeta(const CarrowDictDef* dict, unsigned char id);
};

#endif
