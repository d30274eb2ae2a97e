// The structured view of a message: plain tags and dictionary-defined
// objects, each opened by a meta tag.
#ifndef VMSG_CARROWMESSAGE_H
#define VMSG_CARROWMESSAGE_H

#include <Carrow.h>

#include <vector>

/// An object: a meta tag and the tags that followed it. Owns all of them.
class VMSG_API CarrowObject : public cVlog {
public:
    unsigned char mId;          ///< The meta tag's id (0 without meta tag).
    std::vector<VTag*> mTags;   ///< Member tags in message order; owned.
    VTag* mMetaTag;             ///< The meta tag that opened the object; owned.

    /// Takes ownership of @p metaTag (may be null).
    explicit CarrowObject(VTag* metaTag);
    ~CarrowObject();

    CarrowObject(const CarrowObject&) = delete;
    CarrowObject& operator=(const CarrowObject&) = delete;
};

/// A message regrouped into plain tags and objects. Owns every tag and
/// object it holds; the tags are copies, independent of the source message.
class VMSG_API CarrowMessage : public cVlog {
public:
    unsigned char mId;                    ///< Id of the source message.
    std::vector<VTag*> mTags;             ///< Tags before the first meta tag; owned.
    std::vector<CarrowObject*> mObjects;  ///< Objects in message order; owned.

    /// Errors of the last parseVMsg call; null after a successful one.
    /// Owned by the class and freed at the start of the next call.
    static VList* mLastErrors;

    explicit CarrowMessage(unsigned char id);
    ~CarrowMessage();

    CarrowMessage(const CarrowMessage&) = delete;
    CarrowMessage& operator=(const CarrowMessage&) = delete;

    /// Deletes every tag of @p tags, last first, leaving it empty. Null is
    /// ignored.
    static void clearVTagVect(std::vector<VTag*>* tags);

    /// Copies every tag of @p msg and groups the copies by @p dict: a meta
    /// tag opens an object, later non-meta tags join the object opened last,
    /// tags before the first meta tag stay plain. The message's cursor is
    /// left past the end. Not reentrant: mLastErrors is shared.
    /// @return a new structured message owned by the caller; null with
    ///         mLastErrors holding ErrNullArgument (null argument, message
    ///         untouched) or ErrTagCountMismatch (detail: copies - mTagCount).
    static CarrowMessage* parseVMsg(const CarrowDictDef* dict, VMsg* msg);
};

#endif
