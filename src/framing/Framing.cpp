// Writing framed blocks: the 2-byte length prefix, and the COBS encoding
// with its delimiter. The reader side is FrameReader.cpp; the byte layouts
// of both framings are in docs/framing.md.
#include <VFrame.h>

#include <cstring>

namespace vmsg {

namespace {

// A COBS group is a code byte n (1 to 255) and n - 1 non-zero bytes; a code
// below 255 stands for a 0x00 after its bytes, except in the last group.
constexpr std::size_t kMaxGroupRun = 254;
constexpr unsigned char kDelimiter = 0x00;

// The COBS encoding of the @p n bytes at @p in, without the delimiter:
// written to @p out when Write is true (room known to suffice), counted
// only when it is false. Returns its size.
template <bool Write>
std::size_t cobsEncode(const unsigned char* in, std::size_t n, unsigned char* out)
{
    std::size_t w = 0;
    std::size_t i = 0;
    for (;;) {
        const std::size_t codeAt = w++;
        std::size_t run = 0;
        while (i < n && in[i] != 0 && run < kMaxGroupRun) {
            if constexpr (Write)
                out[w] = in[i];
            ++w;
            ++i;
            ++run;
        }
        if constexpr (Write)
            out[codeAt] = static_cast<unsigned char>(run + 1);
        if (i == n)
            return w; // the last group: no 0x00 stands after it
        // A full group (code 255) stands for no 0x00; any other group ended
        // at a 0x00 of the block, which its code stands for. A block that
        // ends with 0x00 thus ends with an empty group (code 1).
        if (run < kMaxGroupRun)
            ++i;
    }
}

std::size_t cobsBound(std::size_t length)
{
    // One code byte per started run of 254 bytes (and one for an empty
    // block), then the delimiter.
    const std::size_t groups = length == 0 ? 1 : (length + kMaxGroupRun - 1) / kMaxGroupRun;
    return length + groups + 1;
}

} // namespace

std::size_t maxFramedSize(Framing framing, std::size_t blockLength)
{
    if (framing == Framing::LengthPrefix)
        return 2 + blockLength;
    return cobsBound(blockLength);
}

std::size_t frame(Framing framing, const void* block, std::size_t length, void* out, std::size_t capacity)
{
    if (!block || !out || length < kMinFramedBlock || length > kMaxFramedBlock)
        return 0;
    const auto* in = static_cast<const unsigned char*>(block);
    auto* to = static_cast<unsigned char*>(out);
    if (framing == Framing::LengthPrefix) {
        if (capacity < 2 || length > capacity - 2)
            return 0;
        storeBE16(to, static_cast<std::uint16_t>(length));
        std::memcpy(to + 2, in, length);
        return 2 + length;
    }
    // The bound is exact for a block without 0x00; with less room, count
    // the encoding first so that nothing is written when it does not fit.
    if (capacity < cobsBound(length) && cobsEncode<false>(in, length, nullptr) + 1 > capacity)
        return 0;
    const std::size_t encoded = cobsEncode<true>(in, length, to);
    to[encoded] = kDelimiter;
    return encoded + 1;
}

} // namespace vmsg
