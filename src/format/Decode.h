// The decode report on one block in both its forms, for the vmsg tool's
// decode and listen: the text and the JSON are made from one report, so
// they always say the same. Internal to libvmsg (not installed), but
// exported, since the tool uses it.
#ifndef VMSG_FORMAT_DECODE_H
#define VMSG_FORMAT_DECODE_H

#include "format/Block.h"

#include <VDictionary.h>
#include <VWire.h>

#include <cstddef>
#include <string>

namespace vmsg::detail {

/// One block's report.
struct BlockReport {
    bool ok;          ///< False when the block is too short or too long, its parse stops early, or (with a
                      ///< dictionary) the endpoint refuses it, a required tag is missing or the structured view fails.
    std::string text; ///< The report as text, under a first line naming the block: "block 1 (stdin:1), 5 bytes".
    std::string json; ///< The report as one line of JSON (text that is not UTF-8 shown as U+FFFD), no newline.
};

/// The report on @p block.
/// @param number the block's position in the input, from 1.
/// @param dict the dictionary, or null to decode without names or checks.
VMSG_API BlockReport reportBlock(const Block& block, std::size_t number, const Dictionary* dict);

} // namespace vmsg::detail

#endif
