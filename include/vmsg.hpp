/// @file
/// The modern layer over the classic API: owning handles, a message
/// builder, iteration and typed access that need no casts, error lists that
/// free themselves, an endpoint that takes and gives std::unique_ptr, and a
/// structured view with no process-wide state.
///
/// Everything here is built on the classic classes and produces the same
/// bytes, records and log lines; the classic API stays as it is.
#ifndef VMSG_VMSG_HPP
#define VMSG_VMSG_HPP

#include <Carrow.h>
#include <CarrowMessage.h>
#include <VList.h>
#include <VMsg.h>
#include <VTag.h>
#include <VWire.h>

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <optional>
#include <string_view>
#include <type_traits>
#include <vector>

namespace vmsg {

// ---------------------------------------------------------------------------
// Error records

/// The name of error code @p code: "ErrUnknownMessage", "ErrMissingTag",
/// "ErrBufferTooSmall", "ErrLengthMismatch", "ErrParseFailed",
/// "ErrNullArgument", "ErrTagCountMismatch", "ErrQueueFull" or
/// "ErrJoinTooLarge".
/// @param code an error code (VError::mCode).
/// @return a static text; "unknown error" for a code the library never
///         produces.
VMSG_API const char* errorName(unsigned code);

/// The detail of @p error, decoded as its code defines it: the message id
/// (ErrUnknownMessage), the missing tag id (ErrMissingTag), the needed
/// buffer size (ErrBufferTooSmall, 0 to 65535), the size of a block that
/// can never be written (ErrLengthMismatch from Endpoint::send, 0 to 65535)
/// or the copies minus the tag count (ErrTagCountMismatch, -32768 to 32767).
/// For ErrParseFailed see parseStop.
/// @param error the record.
/// @return the value; empty for a code without detail or a record whose
///         detail is not of the code's size.
VMSG_API std::optional<int> errorDetail(const VError& error);

/// Where and why a received block was refused.
struct ParseStop {
    Stop stop;          ///< Why the walk over the block ended.
    std::size_t offset; ///< Where: the offset of the refused tag, 0 for a short or too long block.
};

/// The stop reason and offset of an ErrParseFailed record that
/// Endpoint::bytesIn returned.
/// @param error the record.
/// @return the stop; empty for another code, or a record without that
///         detail (the classic Carrow::bytesIn gives none).
VMSG_API std::optional<ParseStop> parseStop(const VError& error);

/// An error list that the library returned, with its records, freed when
/// the handle goes. Move-only. Empty means nothing to report.
///
/// @code
/// if (vmsg::Errors errors = endpoint.send(msg)) {
///     for (const VError& error : errors)
///         std::printf("%s\n", vmsg::errorName(error.mCode));
/// }
/// @endcode
class VMSG_API Errors {
public:
    /// Walks the records of the list, oldest first.
    class const_iterator {
    public:
        using iterator_category = std::forward_iterator_tag; ///< Forward only.
        using value_type = VError;                           ///< The records.
        using difference_type = std::ptrdiff_t;              ///< A count of records.
        using pointer = const VError*;                       ///< Pointer to a record.
        using reference = const VError&;                     ///< A record.

        /// The end of any list.
        const_iterator() = default;
        /// An iterator on @p node and the nodes after it.
        /// @param node a node of an error list, or null for the end.
        explicit const_iterator(const VListNode* node) : mNode(node) {}
        /// The record.
        /// @return the record under the iterator.
        reference operator*() const { return *static_cast<const VError*>(mNode->mData); }
        /// The record.
        /// @return a pointer to the record under the iterator.
        pointer operator->() const { return static_cast<const VError*>(mNode->mData); }
        /// Moves to the next record.
        /// @return this iterator.
        const_iterator& operator++()
        {
            mNode = mNode->mNext;
            return *this;
        }
        /// Moves to the next record.
        /// @return the iterator as it was.
        const_iterator operator++(int)
        {
            const_iterator was = *this;
            mNode = mNode->mNext;
            return was;
        }
        /// Same position.
        /// @param other the iterator to compare with.
        /// @return whether both stand on the same node.
        bool operator==(const const_iterator& other) const { return mNode == other.mNode; }
        /// Other position.
        /// @param other the iterator to compare with.
        /// @return whether they stand on different nodes.
        bool operator!=(const const_iterator& other) const { return mNode != other.mNode; }

    private:
        const VListNode* mNode = nullptr;
    };

    /// No errors.
    Errors() = default;
    /// Takes over @p list, as returned by Carrow or CarrowMessage, with
    /// every record in it.
    /// @param list an error list, or null for none.
    explicit Errors(VList* list) : mList(list) {}
    /// Frees the list and its records.
    ~Errors();
    /// Takes the list of @p other, which is left empty.
    /// @param other the handle to take from.
    Errors(Errors&& other) noexcept : mList(other.mList) { other.mList = nullptr; }
    /// Frees this list, then takes the list of @p other.
    /// @param other the handle to take from.
    /// @return this handle.
    Errors& operator=(Errors&& other) noexcept;
    /// Not copyable: one list, one owner.
    Errors(const Errors&) = delete;
    /// Not copyable: one list, one owner.
    Errors& operator=(const Errors&) = delete;

    /// True when there is nothing to report.
    /// @return whether the handle holds no record.
    bool empty() const { return !mList || !mList->mHead; }
    /// True when there is something to report.
    /// @return !empty().
    explicit operator bool() const { return !empty(); }
    /// The number of records.
    /// @return the records counted in the list.
    std::size_t size() const;
    /// The first record.
    /// @return an iterator on it.
    const_iterator begin() const { return const_iterator(mList ? mList->mHead : nullptr); }
    /// Past the last record.
    /// @return the end iterator.
    const_iterator end() const { return const_iterator(); }
    /// The first record; the handle must not be empty.
    /// @return the oldest record.
    const VError& front() const { return *begin(); }
    /// True when a record of @p code is in the list.
    /// @param code an error code.
    /// @return whether any record has that code.
    bool contains(unsigned code) const;
    /// Hands the list back in the classic form; the caller then releases
    /// it (pull and delete each record, then delete the list).
    /// @return the list, or null; the handle is empty afterwards.
    VList* release()
    {
        VList* list = mList;
        mList = nullptr;
        return list;
    }

private:
    VList* mList = nullptr;
};

// ---------------------------------------------------------------------------
// Building messages

/// Builds a message tag by tag; the calls chain. The bytes are those of the
/// typed constructors. Unlike them, the builder cuts nothing: a text of
/// more than 1017 bytes or holding a NUL, and raw bytes of more than 1018,
/// are refused with std::length_error, and the builder is left as it was.
/// Nothing is written into the caller's text or bytes.
///
/// @code
/// std::unique_ptr<VMsg> msg =
///     vmsg::MessageBuilder(0x10).u32(1, 42).text(2, "pump-7").f32(0x21, 21.5f).build();
/// @endcode
///
/// Allocation failure throws std::bad_alloc; what was built is released.
/// The builder does not bound the message: one of more than 1022 payload
/// bytes is built, and Endpoint::send refuses it (segment it instead).
class VMSG_API MessageBuilder {
public:
    /// A builder of a message with id @p id.
    /// @param id    the message id.
    /// @param flags the flags byte; bit 7 set means more segments follow.
    explicit MessageBuilder(unsigned char id, unsigned char flags = 0);

    /// Appends a null tag.
    /// @param tagId the tag id.
    /// @return this builder.
    MessageBuilder& null(unsigned char tagId);
    /// Appends a u8 tag.
    /// @param tagId the tag id.
    /// @param value the value.
    /// @return this builder.
    MessageBuilder& u8(unsigned char tagId, std::uint8_t value);
    /// Appends a u16 tag.
    /// @param tagId the tag id.
    /// @param value the value.
    /// @return this builder.
    MessageBuilder& u16(unsigned char tagId, std::uint16_t value);
    /// Appends a u32 tag.
    /// @param tagId the tag id.
    /// @param value the value.
    /// @return this builder.
    MessageBuilder& u32(unsigned char tagId, std::uint32_t value);
    /// Appends an f32 tag (type code 6).
    /// @param tagId the tag id.
    /// @param value the float; every bit pattern is kept.
    /// @return this builder.
    MessageBuilder& f32(unsigned char tagId, float value);
    /// Appends a text tag holding the characters of @p text and a NUL.
    /// @param tagId the tag id.
    /// @param text  the characters, at most 1017, none of them NUL; never
    ///              written.
    /// @return this builder.
    /// @throw std::length_error naming the tag id and the size for a longer
    ///        text or one that holds a NUL; nothing is added.
    MessageBuilder& text(unsigned char tagId, std::string_view text);
    /// Appends a raw-bytes tag of the @p size bytes at @p data.
    /// @param tagId the tag id.
    /// @param data  the bytes; never written; null gives an empty payload.
    /// @param size  the number of bytes at @p data, at most 1018.
    /// @return this builder.
    /// @throw std::length_error naming the tag id and the size for more
    ///        bytes; nothing is added.
    MessageBuilder& bytes(unsigned char tagId, const void* data, std::size_t size);

    /// Hands over the message built so far; the builder then starts a new,
    /// empty message with the same id and flags.
    /// @return the message, owned by the caller.
    std::unique_ptr<VMsg> build();

private:
    MessageBuilder& add(VTag* tag);

    unsigned char mId;
    unsigned char mFlags;
    std::unique_ptr<VMsg> mMsg; // the message under construction

};

// ---------------------------------------------------------------------------
// Walking and reading tags

/// The tags of a message in chain order, for range-for over `const VTag&`.
/// Follows the chain's links: the message's cursor is left where it is.
class TagRange {
public:
    /// Walks a chain of tags.
    class const_iterator {
    public:
        using iterator_category = std::forward_iterator_tag; ///< Forward only.
        using value_type = VTag;                             ///< The tags.
        using difference_type = std::ptrdiff_t;              ///< A count of tags.
        using pointer = const VTag*;                         ///< Pointer to a tag.
        using reference = const VTag&;                       ///< A tag.

        /// The end of any chain.
        const_iterator() = default;
        /// An iterator on @p tag and the tags linked after it.
        /// @param tag a tag of a chain, or null for the end.
        explicit const_iterator(const VTag* tag) : mTag(tag) {}
        /// The tag.
        /// @return the tag under the iterator.
        reference operator*() const { return *mTag; }
        /// The tag.
        /// @return a pointer to the tag under the iterator.
        pointer operator->() const { return mTag; }
        /// Moves to the next tag of the chain.
        /// @return this iterator.
        const_iterator& operator++()
        {
            mTag = mTag->mNext;
            return *this;
        }
        /// Moves to the next tag of the chain.
        /// @return the iterator as it was.
        const_iterator operator++(int)
        {
            const_iterator was = *this;
            mTag = mTag->mNext;
            return was;
        }
        /// Same position.
        /// @param other the iterator to compare with.
        /// @return whether both stand on the same tag.
        bool operator==(const const_iterator& other) const { return mTag == other.mTag; }
        /// Other position.
        /// @param other the iterator to compare with.
        /// @return whether they stand on different tags.
        bool operator!=(const const_iterator& other) const { return mTag != other.mTag; }

    private:
        const VTag* mTag = nullptr;
    };

    /// The chain that starts at @p first.
    /// @param first the first tag, or null for none.
    explicit TagRange(const VTag* first) : mFirst(first) {}
    /// The first tag.
    /// @return an iterator on it.
    const_iterator begin() const { return const_iterator(mFirst); }
    /// Past the last tag.
    /// @return the end iterator.
    const_iterator end() const { return const_iterator(); }
    /// True when the chain has no tag.
    /// @return whether the range is empty.
    bool empty() const { return mFirst == nullptr; }

private:
    const VTag* mFirst;
};

/// The tags of @p msg, for range-for; the message's cursor is left alone.
/// @param msg the message.
/// @return a range over its chain, valid while the chain is unchanged.
inline TagRange tags(const VMsg& msg)
{
    return TagRange(msg.mFirstTag);
}

/// The first tag of @p msg with id @p id; the cursor is left alone.
/// @param msg the message.
/// @param id  the tag id.
/// @return the tag, still owned by the message, or null.
VMSG_API const VTag* findTag(const VMsg& msg, unsigned char id);

/// The payload of @p tag seen as a wire view, read by the same accessors as
/// a received tag. A code outside 0 to 6 reads as the unknown code 255.
/// @param tag the tag; the view is valid while its payload is.
/// @return the view (offset 0).
VMSG_API TagView view(const VTag& tag);

/// The value of a u8, u16, u32 or f32 tag.
/// @tparam T std::uint8_t, std::uint16_t, std::uint32_t or float.
/// @param tag the tag, read in place.
/// @return the value; empty when the tag's type code is not T's (a u32
///         holding a float's bits is a u32, not an f32).
template <typename T>
std::optional<T> value(const TagView& tag)
{
    static_assert(std::is_same_v<T, std::uint8_t> || std::is_same_v<T, std::uint16_t> ||
                      std::is_same_v<T, std::uint32_t> || std::is_same_v<T, float>,
                  "vmsg::value reads std::uint8_t, std::uint16_t, std::uint32_t or float");
    if constexpr (std::is_same_v<T, std::uint8_t>)
        return tag.type == VTag::TagUInt8 ? std::optional<T>(tag.u8()) : std::nullopt;
    else if constexpr (std::is_same_v<T, std::uint16_t>)
        return tag.type == VTag::TagUInt16 ? std::optional<T>(tag.u16()) : std::nullopt;
    else if constexpr (std::is_same_v<T, std::uint32_t>)
        return tag.type == VTag::TagUInt32 ? std::optional<T>(tag.u32()) : std::nullopt;
    else
        return tag.type == VTag::TagFloat ? std::optional<T>(tag.f32()) : std::nullopt;
}

/// The value of an owned tag; see value(const TagView&).
/// @tparam T std::uint8_t, std::uint16_t, std::uint32_t or float.
/// @param tag the tag.
/// @return the value, or empty on a type mismatch.
template <typename T>
std::optional<T> value(const VTag& tag)
{
    return value<T>(view(tag));
}

/// The value of a tag that may be missing, as findTag returns it.
/// @tparam T std::uint8_t, std::uint16_t, std::uint32_t or float.
/// @param tag the tag, or null.
/// @return the value; empty for null or on a type mismatch.
template <typename T>
std::optional<T> value(const VTag* tag)
{
    return tag ? value<T>(*tag) : std::nullopt;
}

/// The characters of a text tag, without the NUL.
/// @param tag the tag, read in place.
/// @return a view into the payload; empty when the tag is not a text.
VMSG_API std::optional<std::string_view> text(const TagView& tag);
/// The characters of an owned text tag, without the NUL.
/// @param tag the tag.
/// @return a view into its payload; empty when the tag is not a text.
VMSG_API std::optional<std::string_view> text(const VTag& tag);
/// The characters of a text tag that may be missing.
/// @param tag the tag, or null.
/// @return a view into its payload; empty for null or another type.
VMSG_API std::optional<std::string_view> text(const VTag* tag);
/// The payload of a raw-bytes tag.
/// @param tag the tag, read in place.
/// @return a view into the payload; empty when the tag is not raw bytes.
VMSG_API std::optional<std::string_view> bytes(const TagView& tag);
/// The payload of an owned raw-bytes tag.
/// @param tag the tag.
/// @return a view into its payload; empty when the tag is not raw bytes.
VMSG_API std::optional<std::string_view> bytes(const VTag& tag);
/// The payload of a raw-bytes tag that may be missing.
/// @param tag the tag, or null.
/// @return a view into its payload; empty for null or another type.
VMSG_API std::optional<std::string_view> bytes(const VTag* tag);

// ---------------------------------------------------------------------------
// Joining segments

/// The most bytes of tags (each tag's payload and its 4-byte header) that a
/// Joiner joins into one message unless told otherwise: 4 MiB, room for 64
/// segments of the largest block parseMsg reads.
inline constexpr std::size_t kDefaultMaxJoined = std::size_t{4} << 20;

/// The most tags a joined message holds: VMsg::mTagCount counts in 16 bits.
inline constexpr std::size_t kMaxJoinedTags = 0xFFFF;

/// Joins received segments into one message, in the order they are given,
/// as VMsg::addSegment does, but at a cost that depends only on the tags
/// of the segment being joined: the joiner keeps its own end of the chain,
/// so the caller may walk, check or gotoFirst the joined message between
/// segments without making the next join walk the whole chain again. And
/// it is bounded: a segment that would take the joined message beyond
/// maxJoined bytes of tags, or beyond 65535 tags, is refused with
/// ErrJoinTooLarge and nothing changes, so a peer that never sends the
/// last segment cannot make the receiver grow without end.
///
/// @code
/// vmsg::Joiner joiner;
/// while (std::unique_ptr<VMsg> segment = next()) {
///     if (vmsg::Errors errors = joiner.add(segment))
///         break;                    // too large: segment is still ours
///     if (joiner.complete())
///         deliver(joiner.release()); // the whole message; the joiner starts again
/// }
/// @endcode
///
/// Like addSegment it checks neither ids nor order: the caller decides
/// which segments belong together. Move-only.
class VMSG_API Joiner {
public:
    /// A joiner that joins at most @p maxJoined bytes of tags.
    /// @param maxJoined the bound on the joined tags' wire bytes (payloads
    ///        and tag headers; the message header is not counted).
    explicit Joiner(std::size_t maxJoined = kDefaultMaxJoined);
    /// Deletes the message being joined, if it was not released.
    ~Joiner();
    /// Takes the message and state of @p other, which is left empty.
    /// @param other the joiner to take from.
    Joiner(Joiner&& other) noexcept;
    /// Deletes this joiner's message, then takes that of @p other.
    /// @param other the joiner to take from.
    /// @return this joiner.
    Joiner& operator=(Joiner&& other) noexcept;
    /// Not copyable: one message, one owner.
    Joiner(const Joiner&) = delete;
    /// Not copyable: one message, one owner.
    Joiner& operator=(const Joiner&) = delete;

    /// Joins @p segment. The first segment becomes the joined message
    /// (its id and flags bits 0 to 6 are the message's); the tags of a
    /// later one are moved behind the joined tags and the segment is
    /// deleted. Bit 7 of the joined message's flags is that of the last
    /// segment joined, so the message is whole once complete() is true.
    /// The joined message's cursor is left on its last tag, as addSegment
    /// leaves it. Costs one step per tag of @p segment.
    /// @param segment the segment; taken (left null) when joined, left
    ///        untouched in the caller's hands when refused.
    /// @return empty when joined; ErrNullArgument for a null @p segment;
    ///         ErrJoinTooLarge when the joined tags would exceed maxJoined
    ///         bytes or 65535 tags.
    Errors add(std::unique_ptr<VMsg>& segment);
    /// The message joined so far, still owned by the joiner: it may be
    /// read, walked and checked between segments. Append to it only with
    /// addTag, and do not take tags out of it, while the joiner holds it.
    /// @return the message, or null before the first segment.
    VMsg* message() const { return mMsg.get(); }
    /// True when the last segment joined had bit 7 of its flags clear.
    /// @return whether the joined message is whole.
    bool complete() const;
    /// Hands over the joined message; the joiner is then empty and joins
    /// the next message from its first segment.
    /// @return the message, owned by the caller; null before a segment.
    std::unique_ptr<VMsg> release();
    /// The wire bytes of the tags joined so far (payloads and tag headers),
    /// exact even where the message's 16-bit mLength holds at 65535.
    /// @return the bytes counted against maxJoined.
    std::size_t size() const { return mSize; }
    /// The tags joined so far.
    /// @return the tags counted against 65535.
    std::size_t count() const { return mCount; }
    /// The tags the joiner has stepped over since it was created or last
    /// released a message: the measure of its work. It is the number of
    /// tags offered (joined or refused), plus any that the caller appended
    /// to the joined message with addTag, whatever the caller did with the
    /// message's cursor in between.
    /// @return the steps taken.
    std::size_t steps() const { return mSteps; }
    /// The bound given to the constructor.
    /// @return the most bytes of tags joined.
    std::size_t maxJoined() const { return mMaxJoined; }

private:
    std::unique_ptr<VMsg> mMsg; // the message being joined
    VTag* mLast = nullptr;      // the last tag of its chain, as far as the joiner knows
    std::size_t mMaxJoined;
    std::size_t mSize = 0;
    std::size_t mCount = 0;
    std::size_t mSteps = 0;
};

// ---------------------------------------------------------------------------
// Dictionary checks and the structured view

/// The required tag ids of @p def that @p msg lacks, in the definition's
/// order, by the rule of Carrow::checkMessageTags: each tag present
/// satisfies one required id, so an id required twice must be present
/// twice. Every tag of the message counts (checkMessageTags takes at most
/// 255 ids). Touches no caller array and not the message's cursor.
/// @param def the message definition.
/// @param msg the message.
/// @return the missing ids; empty when all are present.
VMSG_API std::vector<unsigned char> missingTags(const CarrowMsgDef& def, const VMsg& msg);

/// A structured view, or why there is none.
struct Structure {
    std::unique_ptr<CarrowMessage> message; ///< The view; null on failure.
    Errors errors;                          ///< Why it failed; empty on success.

    /// True when the view was built.
    /// @return whether message is set.
    explicit operator bool() const { return message != nullptr; }
};

/// Regroups the tags of @p msg into plain tags and objects by @p dict, by
/// the same grouping and tag-count check as CarrowMessage::parseVMsg (and
/// with its warning lines), but with the errors in the result instead of
/// the class-wide mLastErrors and without moving the message's cursor:
/// safe to call from many threads at once, each on its own message or on
/// one that no thread changes.
/// @param dict the dictionary whose meta definitions open objects.
/// @param msg  the message; not changed.
/// @return the view (owned by the caller), or ErrTagCountMismatch with the
///         copies minus the tag count as detail.
VMSG_API Structure structure(const CarrowDictDef& dict, const VMsg& msg);

// ---------------------------------------------------------------------------
// The endpoint

/// The most messages each queue of an Endpoint holds unless its options
/// say otherwise.
inline constexpr std::size_t kDefaultMaxQueued = 1024;

/// What an Endpoint takes in and holds. Set the fields, then pass the
/// options to the Endpoint's constructor; fields added in later releases
/// come with defaults, and programs built before them keep working.
struct EndpointOptions {
    /// Queue a received block whose walk stopped before its end, with the
    /// tags before the stop, as the classic Carrow::bytesIn does. By
    /// default such a block is refused.
    bool acceptDamaged = false;
    /// The longest block bytesIn takes; a longer one is refused. At most
    /// 65535 (a larger value counts as 65535). The default is the largest
    /// block any sender writes.
    std::size_t maxBlock = kMaxBlock;
    /// The most messages each queue holds; send and bytesIn refuse more
    /// with ErrQueueFull. 0 for no limit; at most 65535 (the queues count
    /// in 16 bits; a larger value counts as 65535).
    std::size_t maxQueued = kDefaultMaxQueued;
};

/// The protocol endpoint with owning handles: messages go in and come out
/// as std::unique_ptr<VMsg>, failures come back as Errors. Nothing leaks
/// whatever the caller does with the results. Move-only.
///
/// Unlike the classic Carrow it checks what it takes: a message that can
/// never be written is refused by send, a damaged or over-long block by
/// bytesIn, and each queue holds a bounded number of messages (see
/// EndpointOptions).
///
/// @code
/// vmsg::Endpoint endpoint(dictionary);
/// std::unique_ptr<VMsg> msg = vmsg::MessageBuilder(0x10).u32(1, 42).build();
/// if (vmsg::Errors errors = endpoint.send(msg))
///     return; // refused: msg is still ours
/// unsigned char block[vmsg::kMaxBlock];
/// std::size_t length = 0;
/// vmsg::Errors errors = endpoint.bytesOut(block, sizeof block, length);
/// @endcode
class VMSG_API Endpoint {
public:
    /// An endpoint on @p dictionary, which must outlive it, with the
    /// default options.
    /// @param dictionary the dictionary; kept by address, never copied.
    explicit Endpoint(const CarrowDictDef& dictionary);
    /// An endpoint on @p dictionary with @p options.
    /// @param dictionary the dictionary; kept by address, never copied.
    /// @param options    what it takes in and holds; copied.
    Endpoint(const CarrowDictDef& dictionary, const EndpointOptions& options)
        : Endpoint(dictionary, options, sizeof(EndpointOptions))
    {
    }
    /// Deletes the messages still queued in both directions.
    ~Endpoint();
    /// Takes the queues and options of @p other, which must not be used
    /// again but to be destroyed or assigned to.
    /// @param other the endpoint to take from.
    Endpoint(Endpoint&& other) noexcept;
    /// Deletes this endpoint's queued messages, then takes those of
    /// @p other, as the move constructor does.
    /// @param other the endpoint to take from.
    /// @return this endpoint.
    Endpoint& operator=(Endpoint&& other) noexcept;

    /// Checks @p msg and queues it for bytesOut.
    /// @param msg the message. When it is queued the endpoint takes it and
    ///        @p msg becomes null; when it is refused it stays in @p msg.
    /// @return empty when queued; ErrNullArgument for a null @p msg,
    ///         ErrUnknownMessage (detail: the id) for an undefined id,
    ///         ErrLengthMismatch (detail: the bytes its block would take,
    ///         at most 65535) for a message of more than 1022 payload bytes,
    ///         which no block can hold (segment it), ErrQueueFull when the
    ///         outgoing queue holds EndpointOptions::maxQueued messages.
    Errors send(std::unique_ptr<VMsg>& msg);
    /// True while a message waits for bytesOut.
    /// @return whether the outgoing queue holds a message.
    bool ready() const;
    /// Writes the oldest queued message into @p out.
    /// @param out      the buffer.
    /// @param capacity the bytes of room at @p out (room beyond 65535 bytes
    ///                 is not used).
    /// @param length   receives the bytes written; 0 when nothing was
    ///                 queued or on an error.
    /// @return empty on success or with nothing queued; ErrBufferTooSmall
    ///         (detail: the needed size, at most 1024; the message stays
    ///         queued) or ErrLengthMismatch (the message could not be
    ///         written whole and is gone: one of more than 1022 payload
    ///         bytes put in through classic()).
    Errors bytesOut(void* out, std::size_t capacity, std::size_t& length);
    /// Parses a received block, checks it and queues it for receive.
    /// @param block  the bytes; not kept.
    /// @param length the number of bytes.
    /// @return empty when queued. ErrParseFailed, nothing queued, with the
    ///         stop reason and offset that parseStop reads: for a null
    ///         block or fewer than 2 bytes (Stop::ShortBlock), one longer
    ///         than EndpointOptions::maxBlock (Stop::TooLong), or one whose
    ///         walk stops before its end (the reader's stop; such a block
    ///         is queued with the tags before the stop when acceptDamaged
    ///         is set). ErrUnknownMessage (detail: the id); ErrQueueFull
    ///         when the incoming queue holds maxQueued messages.
    Errors bytesIn(const void* block, std::size_t length);
    /// The oldest received message.
    /// @return the message, now the caller's, or null when none is queued.
    std::unique_ptr<VMsg> receive();
    /// Checks @p msg as send and bytesIn do (its id is defined), without
    /// queueing it and without moving its cursor.
    /// @param msg the message.
    /// @return empty, or ErrUnknownMessage (detail: the id).
    Errors check(const VMsg& msg) const;
    /// The definition of message id @p id.
    /// @param id the message id.
    /// @return the dictionary's first definition with that id, or null.
    const CarrowMsgDef* definition(unsigned char id) const;
    /// The dictionary.
    /// @return the dictionary given to the constructor.
    const CarrowDictDef& dictionary() const;
    /// The classic endpoint underneath, for what this class does not offer.
    /// @return the endpoint; it stays owned by this object.
    Carrow& classic();

private:
    // The options are read up to @p optionsSize bytes, the size of
    // EndpointOptions the caller was built with.
    Endpoint(const CarrowDictDef& dictionary, const EndpointOptions& options, std::size_t optionsSize);

    // Held by pointer so that the endpoint can move; destroying it deletes
    // the messages still queued in both directions. A moved-from endpoint
    // must not be used again.
    std::unique_ptr<Carrow> mEndpoint;
};

} // namespace vmsg

#endif
