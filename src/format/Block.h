// One block of input with the place it came from, as the decode report and
// segmenting name it, and the error of a block that cannot be used whole.
#ifndef VMSG_FORMAT_BLOCK_H
#define VMSG_FORMAT_BLOCK_H

#include <VWire.h>

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

namespace vmsg::detail {

/// Largest block the library's parser takes (its length is 16-bit).
constexpr std::size_t kMaxBlockSize = 65535;

/// One input block and where it came from.
struct Block {
    std::vector<unsigned char> bytes;
    std::string where; ///< "FILE:LINE" for hex input, "FILE" for raw input; any name otherwise.
};

/// A block that does not parse whole, or that the library refuses to write.
class VMSG_API BlockError : public std::runtime_error {
public:
    explicit BlockError(const std::string& what) : std::runtime_error(what) {}
};

} // namespace vmsg::detail

#endif
