#include "Walk.h"

#include "TagText.h"

#include <cstring>

namespace vmsgtool {

namespace {

unsigned fixedSize(unsigned code)
{
    switch (code) {
    case VTag::TagUInt32:
    case VTag::TagFloat: return 4;
    case VTag::TagUInt16: return 2;
    case VTag::TagUInt8: return 1;
    default: return 0;
    }
}

// Names the reason a null result of parseTag had: without a next position
// the header or the declared payload did not fit; with one, the header fit
// and the tag itself was refused.
StopReason classify(std::size_t left, bool nextWritten, unsigned code, unsigned declared)
{
    if (!nextWritten)
        return left < VTAG_HEADER_SIZE ? StopReason::ShortHeader : StopReason::LengthBeyondBlock;
    if (code > VTag::TagFloat)
        return StopReason::UnknownTypeCode;
    if (declared < fixedSize(code))
        return StopReason::ShortFixedValue;
    return StopReason::Refused;
}

WalkStop makeStop(const unsigned char* data, std::size_t pos, std::size_t size, bool nextWritten)
{
    WalkStop stop{pos, size - pos, StopReason::ShortHeader, 0, 0, 0};
    if (size - pos >= VTAG_HEADER_SIZE) {
        stop.id = data[pos];
        stop.code = data[pos + 1];
        stop.declared = data[pos + 2] * 256u + data[pos + 3];
    }
    stop.reason = classify(size - pos, nextWritten, stop.code, stop.declared);
    return stop;
}

std::string plural(std::size_t count, const char* noun)
{
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

std::vector<std::string> textNotes(const WalkedTag& walked)
{
    const unsigned declared = walked.declared;
    if (declared == 0)
        return {"empty payload without a NUL; read as the empty text"};
    std::vector<std::string> notes;
    const void* nul = std::memchr(walked.payload, 0, declared);
    const std::size_t chars = nul ? static_cast<std::size_t>(static_cast<const unsigned char*>(nul) - walked.payload)
                                  : declared;
    if (!nul)
        notes.push_back("no NUL within the declared " + plural(declared, "byte") +
                        "; the text runs to the end of the payload");
    else if (chars + 1 < declared)
        notes.push_back("the text ends at its NUL after " + plural(chars, "character") + ", ignoring " +
                        plural(declared - chars - 1, "more declared byte"));
    if (chars > VTAG_MAX_PAYLOAD - 1u)
        notes.push_back("text of " + plural(chars, "character") + " cut to " +
                        std::to_string(VTAG_MAX_PAYLOAD - 1) + " by the library");
    return notes;
}

} // namespace

BlockWalk walkBlock(const unsigned char* data, std::size_t size)
{
    BlockWalk walk;
    std::size_t pos = kMessageHeaderSize;
    while (pos < size) {
        void* next = nullptr;
        auto* at = const_cast<unsigned char*>(data + pos);
        std::unique_ptr<VTag> tag(VTag::parseTag(at, static_cast<unsigned short>(size - pos), &next));
        if (!tag || !next) {
            walk.stop = makeStop(data, pos, size, next != nullptr);
            if (tag) // a tag without a next position: the parser broke its contract
                walk.stop->reason = StopReason::Refused;
            break;
        }
        const unsigned declared = data[pos + 2] * 256u + data[pos + 3];
        walk.tags.push_back(WalkedTag{pos, declared, data + pos + VTAG_HEADER_SIZE, std::move(tag)});
        pos = static_cast<std::size_t>(static_cast<unsigned char*>(next) - data);
    }
    return walk;
}

const char* stopReasonName(StopReason reason)
{
    switch (reason) {
    case StopReason::ShortHeader: return "short-header";
    case StopReason::LengthBeyondBlock: return "length-beyond-block";
    case StopReason::UnknownTypeCode: return "unknown-type-code";
    case StopReason::ShortFixedValue: return "short-fixed-value";
    case StopReason::Refused: return "refused";
    }
    return "refused";
}

std::string describeStop(const WalkStop& stop)
{
    const std::string tag = "tag " + std::to_string(stop.id);
    switch (stop.reason) {
    case StopReason::ShortHeader:
        return "short tag header (a tag header needs 4 bytes)";
    case StopReason::LengthBeyondBlock:
        return tag + " declares " + plural(stop.declared, "payload byte") + " but only " +
               std::to_string(stop.unread - VTAG_HEADER_SIZE) + " follow its header";
    case StopReason::UnknownTypeCode:
        return tag + " has unknown type code " + std::to_string(stop.code) + " (expected 0 to 6)";
    case StopReason::ShortFixedValue:
        return tag + " of type " + typeName(stop.code) + " declares " + plural(stop.declared, "byte") +
               ", its value needs " + std::to_string(fixedSize(stop.code));
    case StopReason::Refused:
        break;
    }
    return tag + " (type code " + std::to_string(stop.code) + ", declared length " +
           std::to_string(stop.declared) + ") refused by the tag parser";
}

std::vector<std::string> tagNotes(const WalkedTag& walked)
{
    const unsigned code = static_cast<unsigned>(walked.tag->mType);
    const unsigned declared = walked.declared;
    if (code == VTag::TagString)
        return textNotes(walked);
    if (code == VTag::TagNull && declared > 0)
        return {"declares " + plural(declared, "payload byte") + ", which a null tag ignores"};
    if (code == VTag::TagBytes && declared > VTAG_MAX_PAYLOAD)
        return {"declares " + plural(declared, "byte") + "; the library keeps the first " +
                std::to_string(VTAG_MAX_PAYLOAD) + ", dropping " + std::to_string(declared - VTAG_MAX_PAYLOAD)};
    const unsigned size = fixedSize(code);
    if (size && declared > size)
        return {"declares " + plural(declared, "byte") + "; the value is read from the first " +
                std::to_string(size) + ", ignoring " + std::to_string(declared - size)};
    return {};
}

} // namespace vmsgtool
