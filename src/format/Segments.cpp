#include "format/Segments.h"

#include "format/Text.h"
#include "format/Walk.h"

#include <VMsg.h>

#include <memory>

namespace vmsg::detail {

namespace {

// Parses a block, refusing one whose parse would drop bytes unnoticed.
std::unique_ptr<VMsg> parseWhole(const Block& block)
{
    const std::size_t size = block.bytes.size();
    if (size < vmsg::kMessageHeaderSize)
        throw BlockError(block.where + ": a block needs at least 2 bytes (message id and flags), found " +
                         std::to_string(size));
    const BlockWalk walk = walkBlock(block.bytes.data(), size);
    if (walk.stop)
        throw BlockError(block.where + ": parse stops at byte " + std::to_string(walk.stop->offset) + ": " +
                         describeStop(*walk.stop) + "; " + std::to_string(walk.stop->unread) +
                         (walk.stop->unread == 1 ? " byte" : " bytes") + " would be lost");
    return std::unique_ptr<VMsg>(VMsg::parseMsg(block.bytes.data(), static_cast<unsigned short>(size)));
}

std::vector<unsigned char> write(VMsg& msg, const std::string& what)
{
    std::vector<unsigned char> out(vmsg::kMaxBlock);
    const unsigned short written = msg.getMsg(out.data(), static_cast<unsigned short>(out.size()));
    if (written == 0)
        throw BlockError(what + " has " + std::to_string(msg.mLength) + " payload bytes; getMsg writes at most " +
                         std::to_string(vmsg::kMaxMessagePayload));
    out.resize(written);
    return out;
}

} // namespace

std::vector<std::vector<unsigned char>> segmentBlock(const Block& block, int frame)
{
    std::unique_ptr<VMsg> msg = parseWhole(block);
    msg->segmentMessage(frame);
    std::vector<std::vector<unsigned char>> out;
    msg->resetSegment();
    while (VMsg* segment = msg->getNextSegment())
        out.push_back(write(*segment, block.where + ": segment " + std::to_string(out.size() + 1)));
    return out;
}

std::vector<std::vector<unsigned char>> joinBlocks(const std::vector<Block>& segments)
{
    std::vector<std::vector<unsigned char>> out;
    std::unique_ptr<VMsg> first;
    std::string firstWhere;
    for (const Block& block : segments) {
        std::unique_ptr<VMsg> segment = parseWhole(block);
        const bool last = segment->isLastSegment();
        if (!first) {
            first = std::move(segment);
            firstWhere = block.where;
        } else if (segment->mId != first->mId) {
            throw BlockError(block.where + ": segment of message " + hexNumber(segment->mId, 2) +
                             " while message " + hexNumber(first->mId, 2) + " from " + firstWhere +
                             " still expects its last segment");
        } else {
            first->addSegment(segment.get());
        }
        if (last) {
            first->setLastSegment(true);
            out.push_back(write(*first, firstWhere + ": joined message " + hexNumber(first->mId, 2)));
            first.reset();
        }
    }
    if (first)
        throw BlockError(firstWhere + ": input ends before the last segment of message " + hexNumber(first->mId, 2) +
                         " (a segment with flag " + hexNumber(vmsg::kMoreSegments, 2) + " clear)");
    return out;
}

} // namespace vmsg::detail
