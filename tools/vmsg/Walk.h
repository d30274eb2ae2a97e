// Walking a block tag by tag exactly as the library's message parser does,
// keeping what it does not report: each tag's offset and declared length,
// and where and why the parse stops before the end of the block.
#ifndef VMSG_TOOL_WALK_H
#define VMSG_TOOL_WALK_H

#include <VTag.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vmsgtool {

/// Size of the message header (id and flags) in front of the tags.
constexpr std::size_t kMessageHeaderSize = 2;

/// One tag the parser accepted.
struct WalkedTag {
    std::size_t offset;             ///< Offset of the tag header in the block.
    unsigned declared;              ///< Payload length in the tag header.
    const unsigned char* payload;   ///< The declared payload, inside the block.
    std::unique_ptr<VTag> tag;      ///< The tag as the library created it.
};

/// Why the parser refused the rest of a block.
enum class StopReason {
    ShortHeader,       ///< Fewer than 4 bytes left for a tag header.
    LengthBeyondBlock, ///< The declared length runs past the end of the block.
    UnknownTypeCode,   ///< A type code above 6.
    ShortFixedValue,   ///< u32/f32 declaring under 4 bytes, u16 under 2, u8 0.
    Refused            ///< Refused for none of the reasons above.
};

/// Where the parse stopped.
struct WalkStop {
    std::size_t offset;   ///< Offset of the refused tag header in the block.
    std::size_t unread;   ///< Bytes from there to the end, never parsed.
    StopReason reason;
    unsigned char id;     ///< Header fields, when 4 header bytes were there.
    unsigned char code;
    unsigned declared;
};

/// The tags of a block and, if it ends early, where the parse stopped.
struct BlockWalk {
    std::vector<WalkedTag> tags;
    std::optional<WalkStop> stop;
};

/// Walks the tags after the 2-byte header of @p data with VTag::parseTag,
/// stepping by the next position it reports, and stops where the library's
/// parseMsg stops. @p size must be at least 2. The WalkedTag payload
/// pointers point into @p data.
BlockWalk walkBlock(const unsigned char* data, std::size_t size);

/// A short name for the reason, as used in JSON output ("unknown-type-code").
const char* stopReasonName(StopReason reason);

/// One sentence on the stop: the reason with the header fields behind it.
std::string describeStop(const WalkStop& stop);

/// Remarks on a tag whose payload the library reads differently from its
/// declared length: ignored, cut or missing bytes. Empty for a tag whose
/// declared length matches its value.
std::vector<std::string> tagNotes(const WalkedTag& tag);

} // namespace vmsgtool

#endif
