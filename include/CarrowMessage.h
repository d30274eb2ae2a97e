/// @file
/// The structured view of a message: plain tags and dictionary-defined
/// objects, each opened by a meta tag.
#ifndef VMSG_CARROWMESSAGE_H
#define VMSG_CARROWMESSAGE_H

#include <Carrow.h>

#include <vector>

/// An object: a meta tag and the tags that followed it. Owns all of them.
/// Not copyable.
class VMSG_API CarrowObject : public cVlog {
public:
    unsigned char mId;          ///< The meta tag's id (0 without meta tag).
    std::vector<VTag*> mTags;   ///< Member tags in message order; owned.
    VTag* mMetaTag;             ///< The meta tag that opened the object; owned.

    /// Takes ownership of @p metaTag (may be null).
    /// @param metaTag a tag created with `new`, or null (mId is then 0).
    explicit CarrowObject(VTag* metaTag);
    /// Deletes the meta tag and every member tag.
    ~CarrowObject();

    /// Not copyable: a copy would share the tags.
    CarrowObject(const CarrowObject&) = delete;
    /// Not assignable: an assignment would share the tags.
    CarrowObject& operator=(const CarrowObject&) = delete;
};

/// A message regrouped into plain tags and objects. Owns every tag and
/// object it holds; the tags are copies, independent of the source message.
/// Not copyable.
class VMSG_API CarrowMessage : public cVlog {
public:
    unsigned char mId;                    ///< Id of the source message.
    std::vector<VTag*> mTags;             ///< Tags before the first meta tag; owned.
    std::vector<CarrowObject*> mObjects;  ///< Objects in message order; owned.

    /// Errors of the last parseVMsg call; null after a successful one.
    /// Owned by the class and freed at the start of the next call.
    static VList* mLastErrors;

    /// An empty structured message.
    /// @param id the message id.
    explicit CarrowMessage(unsigned char id);
    /// Deletes every plain tag and every object.
    ~CarrowMessage();

    /// Not copyable: a copy would share the tags and objects.
    CarrowMessage(const CarrowMessage&) = delete;
    /// Not assignable: an assignment would share the tags and objects.
    CarrowMessage& operator=(const CarrowMessage&) = delete;

    /// Deletes every tag of @p tags, last first, leaving it empty. Null is
    /// ignored.
    /// @param tags the vector whose tags are deleted, or null. Writes one
    ///        debug line ("removed tag") per tag to the category
    ///        "CarrowMessage".
    static void clearVTagVect(std::vector<VTag*>* tags);

    /// Copies every tag of @p msg and groups the copies by @p dict: a meta
    /// tag opens an object, later non-meta tags join the object opened last,
    /// tags before the first meta tag stay plain. The message's cursor is
    /// left past the end. Not reentrant: mLastErrors is shared.
    /// @param dict the dictionary whose meta definitions open objects.
    /// @param msg  the message to copy; it stays the caller's.
    /// @return a new structured message owned by the caller; null with
    ///         mLastErrors holding ErrNullArgument (null argument, message
    ///         untouched) or ErrTagCountMismatch (detail: copies - mTagCount).
    ///         Both failures also write a warning to the category
    ///         "CarrowMessage".
    static CarrowMessage* parseVMsg(const CarrowDictDef* dict, VMsg* msg);
};

#endif
