// Helpers shared by the fuzz targets: a property check that stops the run,
// a reader that turns the input bytes into choices, and comparisons of tags
// and messages that look only at public fields.
#ifndef VMSG_FUZZ_FUZZSUPPORT_H
#define VMSG_FUZZ_FUZZSUPPORT_H

#include <VMsg.h>

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <typeinfo>
#include <vector>

/// Stops the run when @p cond is false: names the property, then traps, so
/// that libFuzzer keeps the input and a replay test fails.
#define FUZZ_CHECK(cond)                                          \
    do {                                                          \
        if (!(cond))                                              \
            vmsgfuzz::propertyFailed(#cond, __FILE__, __LINE__); \
    } while (0)

namespace vmsgfuzz {

[[noreturn]] inline void propertyFailed(const char* what, const char* file, int line)
{
    std::fprintf(stderr, "%s:%d: property failed: %s\n", file, line, what);
    std::fflush(stderr);
    __builtin_trap();
}

/// With VMSG_FUZZ_TRACE set, prints one line per step of a scenario to
/// stderr: run a crash input through a replay program to see what it does.
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
inline void trace(const char* format, ...)
{
    static const bool enabled = std::getenv("VMSG_FUZZ_TRACE") != nullptr;
    if (!enabled)
        return;
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
}

/// Reads choices from the input, front to back. Past the end every read
/// gives zeros, so a short input still drives a whole (short) scenario.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : mData(data), mSize(size), mPos(0) {}

    bool empty() const { return mPos >= mSize; }
    std::size_t remaining() const { return mSize - mPos; }

    std::uint8_t byte() { return empty() ? 0 : mData[mPos++]; }

    std::uint16_t u16()
    {
        const unsigned high = byte();
        return static_cast<std::uint16_t>((high << 8) | byte());
    }

    /// The next @p count bytes, or fewer at the end of the input.
    std::vector<unsigned char> bytes(std::size_t count)
    {
        if (count > remaining())
            count = remaining();
        std::vector<unsigned char> out(mData + mPos, mData + mPos + count);
        mPos += count;
        return out;
    }

private:
    const std::uint8_t* mData;
    std::size_t mSize;
    std::size_t mPos;
};

/// The type code as stored; read as an integer, as a plain VTag may carry
/// a code outside the enumeration.
inline int typeCode(const VTag& tag)
{
    int code;
    static_assert(sizeof code == sizeof tag.mType, "type code is 32 bits wide");
    std::memcpy(&code, &tag.mType, sizeof code);
    return code;
}

/// Same id, type code, length and payload bytes.
inline bool sameTag(const VTag& a, const VTag& b)
{
    if (a.mId != b.mId || typeCode(a) != typeCode(b) || a.mLength != b.mLength)
        return false;
    if (a.mLength == 0)
        return true;
    return a.mData && b.mData && std::memcmp(a.mData, b.mData, a.mLength) == 0;
}

/// Objects of the same dynamic class.
inline bool sameClass(const VTag& a, const VTag& b)
{
    return typeid(a) == typeid(b);
}

/// The tag in wire layout; stops the run if getTag refuses an exact buffer.
inline std::vector<unsigned char> encodeTag(const VTag& tag)
{
    std::vector<unsigned char> out(tag.mLength + 4u);
    FUZZ_CHECK(tag.getTag(out.data(), static_cast<unsigned short>(out.size())) == out.size());
    return out;
}

/// The tags of @p msg's chain, followed without the cursor. Stops the run
/// on a chain longer than any message can hold (a cycle).
inline std::vector<VTag*> chainOf(const VMsg& msg)
{
    std::vector<VTag*> tags;
    for (VTag* tag = msg.mFirstTag; tag; tag = tag->mNext)
        FUZZ_CHECK((tags.push_back(tag), tags.size() <= 0x20000));
    return tags;
}

/// The payload size of @p msg on the wire, summed over its chain without a
/// 16-bit limit.
inline std::size_t chainSize(const VMsg& msg)
{
    std::size_t sum = 0;
    for (const VTag* tag : chainOf(msg))
        sum += tag->mLength + 4u;
    return sum;
}

/// @p n as a message's 16-bit counters hold it: at most 65535.
inline std::uint16_t saturated(std::size_t n)
{
    return static_cast<std::uint16_t>(n < 0xFFFF ? n : 0xFFFF);
}

/// The counts describe the chain: mTagCount is its length and mLength the
/// sum of its tags' wire sizes, both held at 65535.
inline void checkCounts(const VMsg& msg)
{
    FUZZ_CHECK(msg.mTagCount == saturated(chainOf(msg).size()));
    FUZZ_CHECK(msg.mLength == saturated(chainSize(msg)));
}

/// The message written with getMsg into a buffer of exactly 2 + mLength
/// bytes; empty when getMsg refuses it.
inline std::vector<unsigned char> encodeMsg(VMsg& msg)
{
    std::vector<unsigned char> out(msg.mLength + 2u);
    const unsigned short n = msg.getMsg(out.data(), static_cast<unsigned short>(out.size()));
    if (n == 0)
        return {};
    FUZZ_CHECK(n == out.size());
    return out;
}

} // namespace vmsgfuzz

#endif
