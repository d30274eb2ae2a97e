// Walking a block tag by tag with the library's reader, keeping what the
// message parser does not report: each tag's offset and declared length,
// and where and why the parse stops before the end of the block.
#ifndef VMSG_FORMAT_WALK_H
#define VMSG_FORMAT_WALK_H

#include <VTag.h>
#include <VWire.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vmsg::detail {

/// One tag the parser accepted.
struct WalkedTag {
    std::size_t offset;             ///< Offset of the tag header in the block.
    unsigned declared;              ///< Payload length in the tag header.
    const unsigned char* payload;   ///< The declared payload, inside the block.
    std::unique_ptr<VTag> tag;      ///< The tag as the library created it.
};

/// Where the parse stopped.
struct WalkStop {
    std::size_t offset;   ///< Offset of the refused tag header in the block.
    std::size_t unread;   ///< Bytes from there to the end, never parsed.
    vmsg::Stop reason;    ///< Why the reader refused the tag.
    unsigned char id;     ///< Header fields, when 4 header bytes were there.
    unsigned char code;
    unsigned declared;
};

/// The tags of a block and, if it ends early, where the parse stopped.
struct BlockWalk {
    std::vector<WalkedTag> tags;
    std::optional<WalkStop> stop;
};

/// Walks the tags after the 2-byte header of @p data with vmsg::Reader,
/// which stops where the library's parseMsg stops; each tag is built by
/// VTag::parseTag. @p size must be at least 2. The WalkedTag payload
/// pointers point into @p data.
VMSG_API BlockWalk walkBlock(const unsigned char* data, std::size_t size);

/// A short name for the reason, as used in JSON output ("unknown-type-code").
VMSG_API const char* stopReasonName(vmsg::Stop reason);

/// One sentence on the stop: the reason with the header fields behind it.
VMSG_API std::string describeStop(const WalkStop& stop);

/// Remarks on a tag whose payload the library reads differently from its
/// declared length: ignored, cut or missing bytes. Empty for a tag whose
/// declared length matches its value.
VMSG_API std::vector<std::string> tagNotes(const WalkedTag& tag);

} // namespace vmsg::detail

#endif
