// The text of messages, blocks and tags for people, over the decode report.
#include <VFormat.h>

#include "format/Decode.h"
#include "format/Report.h"
#include "format/Text.h"
#include "tags/TagWire.h"

#include <vmsg.hpp>

#include <array>

namespace vmsg {

namespace {

// The first tags a message too large for one block is summed up with.
constexpr std::size_t kShownTags = 20;

detail::Json reportOf(const void* block, std::size_t length, const Dictionary* dict)
{
    const auto* bytes = static_cast<const unsigned char*>(block);
    detail::Block input;
    if (bytes)
        input.bytes.assign(bytes, bytes + length);
    return detail::decodeBlock(input, 1, dict);
}

std::string tooLargeText(const VMsg& msg, std::size_t payload)
{
    std::string text = "message " + detail::hexNumber(msg.mId, 2) + ", flags " + detail::hexNumber(msg.mFlags, 2) +
                       ", " + std::to_string(msg.mTagCount) + " tags, " + std::to_string(payload) +
                       " payload bytes: too large for one block\n";
    std::size_t count = 0;
    for (const VTag& tag : tags(msg)) {
        if (++count > kShownTags)
            continue;
        // The first line of each: long raw bytes would fill the screen.
        const std::string lines = format(tag, nullptr, "  ");
        const std::size_t end = lines.find('\n');
        text += lines.substr(0, end) + (end + 1 < lines.size() ? " ..." : "") + "\n";
    }
    if (count > kShownTags)
        text += "  ... and " + std::to_string(count - kShownTags) + " more tags\n";
    return text;
}

} // namespace

namespace detail {

BlockReport reportBlock(const Block& block, std::size_t number, const Dictionary* dict)
{
    const Json report = decodeBlock(block, number, dict);
    return {report["ok"].get<bool>(), renderText(report), report.dump(-1, ' ', false, Json::error_handler_t::replace)};
}

} // namespace detail

std::string describe(const void* block, std::size_t length, const Dictionary* dict)
{
    return detail::renderBody(reportOf(block, length, dict));
}

std::string describeJson(const void* block, std::size_t length, const Dictionary* dict)
{
    detail::Json report = reportOf(block, length, dict);
    report.erase("block");
    report.erase("source");
    return detail::renderJson(report);
}

std::string format(const VMsg& msg, const Dictionary* dict)
{
    // Written here rather than with getMsg, which moves the cursor.
    std::array<unsigned char, kMaxBlock> block;
    block[0] = msg.mId;
    block[1] = msg.mFlags;
    std::size_t size = kMessageHeaderSize, payload = 0;
    bool fits = true;
    for (const VTag& tag : tags(msg)) {
        payload += kTagHeaderSize + tag.mLength;
        if (!fits)
            continue;
        const unsigned short written = writeTag(tag, block.data() + size, static_cast<unsigned>(block.size() - size));
        if (written == 0)
            fits = false;
        size += written;
    }
    return fits ? describe(block.data(), size, dict) : tooLargeText(msg, payload);
}

std::string format(const VTag& tag, const Dictionary* dict, std::string_view indent)
{
    return detail::renderTag(detail::describeTag(tag, dict), std::string(indent));
}

} // namespace vmsg
