#include "format/Walk.h"

#include "format/Text.h"

#include <cstring>

namespace vmsg::detail {

namespace {

WalkStop makeStop(const vmsg::TagView& refused, vmsg::Stop reason, std::size_t size)
{
    return WalkStop{refused.offset, size - refused.offset, reason, refused.id, refused.type, refused.declared};
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
    if (chars > vmsg::kMaxText)
        notes.push_back("text of " + plural(chars, "character") + " cut to " + std::to_string(vmsg::kMaxText) +
                        " by the library");
    return notes;
}

} // namespace

BlockWalk walkBlock(const unsigned char* data, std::size_t size)
{
    BlockWalk walk;
    vmsg::Reader reader(data, size);
    vmsg::TagView view;
    while (reader.next(view)) {
        auto* at = const_cast<unsigned char*>(data + view.offset);
        std::unique_ptr<VTag> tag(VTag::parseTag(at, static_cast<unsigned short>(size - view.offset), nullptr));
        walk.tags.push_back(WalkedTag{view.offset, view.declared, view.payload, std::move(tag)});
    }
    if (reader.stop() != vmsg::Stop::End)
        walk.stop = makeStop(view, reader.stop(), size);
    return walk;
}

const char* stopReasonName(vmsg::Stop reason)
{
    switch (reason) {
    case vmsg::Stop::End: return "end";
    case vmsg::Stop::ShortBlock: return "short-block";
    case vmsg::Stop::ShortTagHeader: return "short-header";
    case vmsg::Stop::LengthBeyondBlock: return "length-beyond-block";
    case vmsg::Stop::UnknownType: return "unknown-type-code";
    case vmsg::Stop::ShortFixedValue: return "short-fixed-value";
    case vmsg::Stop::TooLong: return "too-long";
    }
    return "refused";
}

std::string describeStop(const WalkStop& stop)
{
    const std::string tag = "tag " + std::to_string(stop.id);
    switch (stop.reason) {
    case vmsg::Stop::ShortBlock:
        return "short block (a block needs 2 bytes: message id and flags)";
    case vmsg::Stop::ShortTagHeader:
        return "short tag header (a tag header needs 4 bytes)";
    case vmsg::Stop::LengthBeyondBlock:
        return tag + " declares " + plural(stop.declared, "payload byte") + " but only " +
               std::to_string(stop.unread - vmsg::kTagHeaderSize) + " follow its header";
    case vmsg::Stop::UnknownType:
        return tag + " has unknown type code " + std::to_string(stop.code) + " (expected 0 to " +
               std::to_string(vmsg::kTypeCount - 1) + ")";
    case vmsg::Stop::ShortFixedValue:
        return tag + " of type " + typeName(stop.code) + " declares " + plural(stop.declared, "byte") +
               ", its value needs " + std::to_string(vmsg::typeInfo(stop.code)->minPayload());
    case vmsg::Stop::TooLong:
        return "the block is longer than its receiver takes";
    case vmsg::Stop::End:
        break;
    }
    return "the whole block was read";
}

std::vector<std::string> tagNotes(const WalkedTag& walked)
{
    const unsigned code = static_cast<unsigned>(walked.tag->mType);
    const unsigned declared = walked.declared;
    if (code == VTag::TagString)
        return textNotes(walked);
    if (code == VTag::TagNull && declared > 0)
        return {"declares " + plural(declared, "payload byte") + ", which a null tag ignores"};
    if (code == VTag::TagBytes && declared > vmsg::kMaxPayload)
        return {"declares " + plural(declared, "byte") + "; the library keeps the first " +
                std::to_string(vmsg::kMaxPayload) + ", dropping " + std::to_string(declared - vmsg::kMaxPayload)};
    const vmsg::TypeInfo* type = vmsg::typeInfo(code);
    const unsigned size = type && type->fixedSize ? type->maxPayload : 0;
    if (size && declared > size)
        return {"declares " + plural(declared, "byte") + "; the value is read from the first " +
                std::to_string(size) + ", ignoring " + std::to_string(declared - size)};
    return {};
}

} // namespace vmsg::detail
