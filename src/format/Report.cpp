#include "format/Report.h"

#include "format/Text.h"
#include "format/Walk.h"

#include <CarrowMessage.h>
#include <VFormat.h>
#include <vmsg.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

namespace vmsg::detail {

namespace {

using ErrorRecords = std::vector<std::unique_ptr<VError>>;

// Takes over a list returned by the library: the records and the list.
ErrorRecords takeErrors(VList* list)
{
    ErrorRecords errors;
    if (!list)
        return errors;
    while (void* item = list->pull())
        errors.emplace_back(static_cast<VError*>(item));
    delete list;
    return errors;
}

std::string tagLabel(unsigned char id, const Dictionary* dict)
{
    const Dictionary::Tag* tag = dict ? dict->tag(id) : nullptr;
    return "tag " + std::to_string(id) + (tag ? " (" + tag->name + ")" : "");
}

Json errorJson(const VError& error, const Dictionary* dict)
{
    return {{"code", error.mCode},
            {"name", vmsg::errorName(error.mCode)},
            {"detail", hexBytes(error.mData, error.mData ? error.mLength : 0, "")},
            {"text", errorText(error, dict)}};
}

Json errorsJson(const ErrorRecords& errors, const Dictionary* dict)
{
    Json list = Json::array();
    for (const auto& error : errors)
        list.push_back(errorJson(*error, dict));
    return list;
}

void addValue(Json& out, const VTag& tag)
{
    switch (tag.mType) {
    case VTag::TagNull: out["value"] = nullptr; return;
    case VTag::TagString: {
        // The held text ends at its NUL; mLength counts that NUL.
        const char* text = reinterpret_cast<const char*>(tag.mData);
        const std::size_t held = tag.mData ? tag.mLength : 0;
        out["value"] = std::string(text, static_cast<std::size_t>(std::find(text, text + held, '\0') - text));
        return;
    }
    case VTag::TagUInt32: {
        const unsigned int value = static_cast<const VTagUInt32&>(tag).getValue();
        out["value"] = value;
        out["hex"] = hexNumber(value, 8);
        return;
    }
    case VTag::TagUInt16: {
        const unsigned short value = static_cast<const VTagUInt16&>(tag).getValue();
        out["value"] = value;
        out["hex"] = hexNumber(value, 4);
        return;
    }
    case VTag::TagUInt8: {
        const unsigned char value = static_cast<const VTagUInt8&>(tag).getValue();
        out["value"] = value;
        out["hex"] = hexNumber(value, 2);
        return;
    }
    case VTag::TagFloat: {
        const float value = static_cast<const VTagUInt32&>(tag).getFloatValue();
        // A JSON number holds the float's exact value; NaN and infinities
        // have none and are given as text only.
        if (std::isfinite(value))
            out["value"] = static_cast<double>(value);
        else
            out["value"] = nullptr;
        out["text"] = floatText(value);
        out["bits"] = hexNumber(floatBits(value), 8);
        return;
    }
    case VTag::TagBytes: out["value"] = hexBytes(tag.mData, tag.mData ? tag.mLength : 0, ""); return;
    }
    out["value"] = nullptr;
}

Json messageJson(const VMsg& msg, const Dictionary* dict)
{
    Json out;
    out["id"] = msg.mId;
    if (const Dictionary::Message* def = dict ? dict->message(msg.mId) : nullptr)
        out["name"] = def->name;
    out["flags"] = msg.mFlags;
    out["more_segments"] = (msg.mFlags & vmsg::kMoreSegments) != 0;
    out["tag_count"] = msg.mTagCount;
    out["payload_length"] = msg.mLength;
    return out;
}

Json walkedTagJson(const WalkedTag& walked, const Dictionary* dict)
{
    Json out{{"offset", walked.offset}};
    const Json described = describeTag(*walked.tag, dict);
    for (const auto& item : described.items()) {
        if (item.key() == "length")
            out["declared_length"] = walked.declared;
        out[item.key()] = item.value();
    }
    std::vector<std::string> notes = tagNotes(walked);
    if (walked.tag->mLength != walked.declared && !notes.empty())
        notes.front() += " (the library's tag has length " + std::to_string(walked.tag->mLength) + ")";
    const Dictionary::Tag* def = dict ? dict->tag(walked.tag->mId) : nullptr;
    if (def && def->type != walked.tag->mType)
        notes.push_back("the dictionary declares " + def->name + " as " + typeName(def->type));
    if (!notes.empty())
        out["notes"] = notes;
    return out;
}

Json stopJson(const WalkStop& stop, const unsigned char* data)
{
    Json out;
    out["offset"] = stop.offset;
    out["reason"] = stopReasonName(stop.reason);
    out["message"] = describeStop(stop);
    if (stop.unread >= vmsg::kTagHeaderSize) {
        out["tag_id"] = stop.id;
        out["type_code"] = stop.code;
        out["declared_length"] = stop.declared;
    }
    out["unread"] = stop.unread;
    out["unread_bytes"] = hexBytes(data + stop.offset, stop.unread, "");
    return out;
}

// The endpoint's receive path: bytesIn parses and checks the block.
Json endpointJson(const Block& block, const Dictionary& dict)
{
    Carrow endpoint(&dict.def());
    const ErrorRecords errors =
        takeErrors(endpoint.bytesIn(block.bytes.data(), static_cast<unsigned short>(block.bytes.size())));
    delete endpoint.getMessage();
    return {{"accepted", errors.empty()}, {"errors", errorsJson(errors, &dict)}};
}

Json requiredJson(VMsg& msg, const Dictionary& dict)
{
    Carrow endpoint(&dict.def());
    const CarrowMsgDef* def = endpoint.findMsgDef(msg.mId);
    if (!def)
        return nullptr;
    std::vector<unsigned char> ids;
    msg.gotoFirst();
    while (VTag* tag = msg.getTag())
        ids.push_back(tag->mId);
    // The library takes an 8-bit count; later tags cannot be looked at.
    const auto count = static_cast<unsigned char>(std::min<std::size_t>(ids.size(), 255));
    const ErrorRecords missing = takeErrors(endpoint.checkMessageTags(def, ids.data(), count));
    Json out{{"all_present", missing.empty()}, {"missing", errorsJson(missing, &dict)}};
    if (ids.size() > 255)
        out["note"] = "only the first 255 tags were looked at (the count is 8-bit)";
    return out;
}

// The structured view by vmsg::structure: the grouping of parseVMsg, with
// its errors in the result rather than the class-wide list, so that a
// report can be made in any thread.
Json structuredJson(const VMsg& msg, const Dictionary& dict)
{
    const vmsg::Structure structure = vmsg::structure(dict.def(), msg);
    if (!structure) {
        Json errors = Json::array();
        for (const VError& error : structure.errors)
            errors.push_back(errorJson(error, &dict));
        return {{"ok", false}, {"errors", errors}};
    }
    const CarrowMessage* view = structure.message.get();
    Json out{{"ok", true}, {"tags", Json::array()}, {"objects", Json::array()}};
    for (const VTag* tag : view->mTags)
        out["tags"].push_back(describeTag(*tag, &dict));
    for (const CarrowObject* object : view->mObjects) {
        Json entry;
        entry["id"] = object->mId;
        if (const Dictionary::Meta* meta = dict.meta(object->mId))
            entry["object"] = meta->object;
        entry["meta"] = object->mMetaTag ? describeTag(*object->mMetaTag, &dict) : Json(nullptr);
        entry["tags"] = Json::array();
        for (const VTag* tag : object->mTags)
            entry["tags"].push_back(describeTag(*tag, &dict));
        out["objects"].push_back(entry);
    }
    return out;
}

// Adds the dictionary's findings; false when any of them is a failure.
bool addDictionaryChecks(Json& report, const Block& block, VMsg& msg, const Dictionary& dict)
{
    report["endpoint"] = endpointJson(block, dict);
    report["required"] = requiredJson(msg, dict);
    report["structured"] = structuredJson(msg, dict);
    // A closed message lists its tags: the others are reported, not refused.
    if (const Dictionary::Message* def = dict.message(msg.mId); def && def->closed) {
        Json unexpected = Json::array();
        for (unsigned char id : dict.unexpectedTags(block.bytes.data(), block.bytes.size()))
            unexpected.push_back({{"id", id}, {"text", tagLabel(id, &dict)}});
        report["unexpected"] = unexpected;
    }
    const bool required = report["required"].is_null() || report["required"]["all_present"].get<bool>();
    return report["endpoint"]["accepted"].get<bool>() && required && report["structured"]["ok"].get<bool>();
}

} // namespace

Json describeTag(const VTag& tag, const Dictionary* dict)
{
    Json out;
    out["id"] = tag.mId;
    if (const Dictionary::Tag* def = dict ? dict->tag(tag.mId) : nullptr)
        out["name"] = def->name;
    const char* type = typeName(static_cast<unsigned>(tag.mType));
    out["type"] = type ? type : "unknown";
    out["length"] = tag.mLength;
    addValue(out, tag);
    return out;
}

Json decodeBlock(const Block& block, std::size_t number, const Dictionary* dict)
{
    Json report{{"block", number}, {"source", block.where}, {"size", block.bytes.size()}};
    const std::size_t size = block.bytes.size();
    if (size < vmsg::kMessageHeaderSize) {
        report["error"] = "a block needs at least 2 bytes (message id and flags), found " + std::to_string(size);
        report["ok"] = false;
        return report;
    }
    // The parser takes a 16-bit length: a longer block would be read cut.
    if (size > kMaxBlockSize) {
        report["error"] = "a block holds at most " + std::to_string(kMaxBlockSize) + " bytes, found " +
                          std::to_string(size);
        report["ok"] = false;
        return report;
    }
    std::unique_ptr<VMsg> msg(VMsg::parseMsg(block.bytes.data(), static_cast<unsigned short>(size)));
    const BlockWalk walk = walkBlock(block.bytes.data(), size);
    report["message"] = messageJson(*msg, dict);
    report["tags"] = Json::array();
    for (const WalkedTag& tag : walk.tags)
        report["tags"].push_back(walkedTagJson(tag, dict));
    report["stop"] = walk.stop ? stopJson(*walk.stop, block.bytes.data()) : Json(nullptr);
    bool ok = !walk.stop;
    if (dict && !addDictionaryChecks(report, block, *msg, *dict))
        ok = false;
    report["ok"] = ok;
    return report;
}

std::string renderJson(const Json& document)
{
    return document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

} // namespace vmsg::detail

namespace vmsg {

std::string errorText(const VError& error, const Dictionary* dict)
{
    const unsigned char first = error.mData && error.mLength ? error.mData[0] : 0;
    switch (error.mCode) {
    case ErrUnknownMessage: return "message id " + detail::hexNumber(first, 2) + " is not in the dictionary";
    case ErrMissingTag: return "required " + detail::tagLabel(first, dict) + " is missing";
    case ErrBufferTooSmall:
        return "needs a buffer of " + std::to_string(vmsg::errorDetail(error).value_or(0)) + " bytes";
    case ErrLengthMismatch:
        if (const std::optional<int> size = vmsg::errorDetail(error))
            return "a message of " + std::to_string(*size) + " bytes fits no block (at most " +
                   std::to_string(vmsg::kMaxBlock) + ")";
        return "the written size differs from the message length";
    case ErrParseFailed:
        if (const std::optional<vmsg::ParseStop> stop = vmsg::parseStop(error))
            return std::string("the block yields no message: ") + vmsg::stopName(stop->stop) + " at offset " +
                   std::to_string(stop->offset);
        return "the block yields no message";
    case ErrQueueFull: return "the endpoint's queue is full";
    case ErrNullArgument: return "a required argument was null";
    case ErrTagCountMismatch:
        return "copies minus tag count is " + std::to_string(vmsg::errorDetail(error).value_or(0));
    default: return "error code " + std::to_string(error.mCode);
    }
}

} // namespace vmsg
