// Framed captures: blocks written one after another with a framing of
// VFrame.h, as a TCP stream, a pipe or a serial line carries them.
#ifndef VMSG_TOOL_FRAMED_H
#define VMSG_TOOL_FRAMED_H

#include "Blocks.h"

#include <VFrame.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vmsgtool {

/// The framing that an option value names: "lp" (length prefix) or "cobs".
/// @throws UsageError naming the two values.
vmsg::Framing parseFraming(const std::string& name);

/// The option value that names @p framing: "lp" or "cobs".
const char* framingName(vmsg::Framing framing);

/// @p block framed with @p framing.
/// @throws BlockError for a block that the framing cannot carry (fewer
///         than 2 or more than 65535 bytes), naming @p where.
std::vector<unsigned char> frameBlock(vmsg::Framing framing, const std::vector<unsigned char>& block,
                                      const std::string& where);

/// What a framed capture held.
struct FramedCapture {
    std::vector<Block> blocks;  ///< where: "SOURCE frame N"
    std::uint64_t dropped = 0;  ///< bytes the reader threw away
    std::size_t unfinished = 0; ///< bytes of a last frame cut short
};

/// Reads every block of a framed capture.
/// @param source the capture's name in the blocks' positions.
FramedCapture readFramed(std::string_view bytes, vmsg::Framing framing, const std::string& source);

} // namespace vmsgtool

#endif
