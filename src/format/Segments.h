// Splitting blocks into frame-sized segment blocks and joining segment
// blocks back, with the library's own segmentation.
#ifndef VMSG_FORMAT_SEGMENTS_H
#define VMSG_FORMAT_SEGMENTS_H

#include "format/Block.h"

#include <vector>

namespace vmsg::detail {

/// Parses @p block, splits it with VMsg::segmentMessage(@p frame) and
/// writes each segment with getMsg, in order.
/// @throws BlockError naming the block when it is shorter than 2 bytes, its
///         parse stops before the end (the rest would be lost), or getMsg
///         refuses a segment (over 1022 payload bytes).
VMSG_API std::vector<std::vector<unsigned char>> segmentBlock(const Block& block, int frame);

/// Joins segment blocks into whole messages: each segment is parsed and
/// added in order onto the first segment of its message; a segment whose
/// more-segments bit (0x80) is clear ends the message, which is then
/// marked last and written with getMsg.
/// @return one block per message, in input order.
/// @throws BlockError naming the segment when it is shorter than 2 bytes,
///         its parse stops early, its id differs from the first segment's,
///         the joined message is too large for getMsg, or the input ends
///         before a last segment.
VMSG_API std::vector<std::vector<unsigned char>> joinBlocks(const std::vector<Block>& segments);

} // namespace vmsg::detail

#endif
