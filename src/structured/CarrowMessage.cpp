// The structured view: copies of a message's tags grouped into plain tags
// and objects opened by meta tags.
#include <CarrowMessage.h>
#include <vmsg.hpp>

#include "endpoint/ErrorList.h"
#include "logging/Categories.h"
#include "structured/Structure.h"

#include <log4cpp/Category.hh>

#include <cstdint>
#include <memory>

VList* CarrowMessage::mLastErrors = nullptr;

namespace {

// The category of the structured view's lines; null once log4cpp is being
// torn down at exit, when its categories may be freed: the lines are then
// dropped (an object destroyed that late may still clear a tag vector).
log4cpp::Category* structuredLog()
{
    return cVlog::loggingAvailable() ? &cVlog::getLog(vmsg::log::kCarrowMessage) : nullptr;
}

} // namespace

CarrowObject::CarrowObject(VTag* metaTag)
    : cVlog(vmsg::log::kCarrowObject), mId(metaTag ? metaTag->mId : 0), mMetaTag(metaTag)
{
}

CarrowObject::~CarrowObject()
{
    delete mMetaTag;
    for (VTag* tag : mTags)
        delete tag;
}

CarrowMessage::CarrowMessage(unsigned char id) : cVlog(vmsg::log::kCarrowMessage), mId(id) {}

CarrowMessage::~CarrowMessage()
{
    for (VTag* tag : mTags)
        delete tag;
    for (CarrowObject* object : mObjects)
        delete object;
}

void CarrowMessage::clearVTagVect(std::vector<VTag*>* tags)
{
    if (!tags)
        return;
    while (!tags->empty()) {
        delete tags->back();
        tags->pop_back();
        // Also runs as cleanup after a failed allocation, where finding the
        // category (created on first use) can fail too: the line is dropped.
        try {
            if (log4cpp::Category* log = structuredLog())
                log->debug("removed tag\n");
        } catch (...) {
        }
    }
}

namespace {

// Copies made so far; deleted (with their log lines) unless handed over.
struct TagCopies {
    std::vector<VTag*> tags;
    ~TagCopies() { CarrowMessage::clearVTagVect(&tags); }
};

void replaceLastErrors(VList* errors)
{
    vmsg::deleteErrorList(CarrowMessage::mLastErrors);
    CarrowMessage::mLastErrors = errors;
}

// The meta ids of a dictionary, one bit per id: what Carrow::isMeta
// answers, looked up in constant time instead of a scan per tag.
class MetaIds {
public:
    explicit MetaIds(const CarrowDictDef& dict)
    {
        for (unsigned i = 0; i < dict.mMetaDefCount; ++i)
            mBits[dict.mMetaDefs[i].mId >> 6] |= std::uint64_t{1} << (dict.mMetaDefs[i].mId & 63);
    }
    bool contains(unsigned char id) const { return (mBits[id >> 6] >> (id & 63)) & 1; }

private:
    std::uint64_t mBits[4] = {};
};

// Sorts the copies into @p result, which takes each one over as it is placed.
void groupTags(const CarrowDictDef& dict, std::vector<VTag*>& copies, CarrowMessage& result)
{
    const MetaIds meta(dict);
    CarrowObject* current = nullptr;
    for (VTag*& copy : copies) {
        if (meta.contains(copy->mId)) {
            // The slot comes first, so that no allocation can fail between
            // the object taking the copy and the result taking the object.
            result.mObjects.push_back(nullptr);
            current = new CarrowObject(copy);
            result.mObjects.back() = current;
        } else if (current) {
            current->mTags.push_back(copy);
        } else {
            result.mTags.push_back(copy);
        }
        copy = nullptr;
    }
    copies.clear();
}

} // namespace

namespace vmsg {

std::unique_ptr<CarrowMessage> buildStructure(const CarrowDictDef& dict, const VMsg& msg, ErrorListPtr& errors)
{
    std::unique_ptr<CarrowMessage> result(new CarrowMessage(msg.mId));
    const unsigned short declared = msg.mTagCount;
    TagCopies copies;
    copies.tags.reserve(declared);
    for (VTag* tag = msg.mFirstTag; tag; tag = tag->mNext) {
        // The slot comes first, so that a copy is never held outside it.
        copies.tags.push_back(nullptr);
        if (VTag* copy = VTagFactory::createVTag(tag))
            copies.tags.back() = copy;
        else
            copies.tags.pop_back();
    }
    const std::size_t made = copies.tags.size();
    if (made != declared) {
        if (log4cpp::Category* log = structuredLog())
            log->warn("parseVMsg(): tagcount: %d size: %d", static_cast<int>(declared), static_cast<int>(made));
        const auto difference = static_cast<unsigned short>(made - declared);
        errors.reset(errorList(ErrTagCountMismatch, &difference, sizeof difference));
        return nullptr; // the copies and the empty result are released on the way out
    }
    groupTags(dict, copies.tags, *result);
    return result;
}

} // namespace vmsg

CarrowMessage* CarrowMessage::parseVMsg(const CarrowDictDef* dict, VMsg* msg)
{
    replaceLastErrors(nullptr);
    if (!dict || !msg) {
        replaceLastErrors(vmsg::errorList(ErrNullArgument));
        if (log4cpp::Category* log = structuredLog())
            log->warn("parseVMsg(): null pointer - dict: %p vmsg: %p", static_cast<const void*>(dict),
                      static_cast<void*>(msg));
        return nullptr;
    }
    vmsg::ErrorListPtr errors;
    std::unique_ptr<CarrowMessage> result = vmsg::buildStructure(*dict, *msg, errors);
    // The copies were made in a complete walk over the tags, which leaves
    // the cursor past the last one.
    msg->mCurrentTag = nullptr;
    replaceLastErrors(errors.release());
    return result.release();
}

namespace vmsg {

Structure structure(const CarrowDictDef& dict, const VMsg& msg)
{
    ErrorListPtr errors;
    Structure result;
    result.message = buildStructure(dict, msg, errors);
    result.errors = Errors(errors.release());
    return result;
}

} // namespace vmsg
