// Small helpers shared by the test files.
#ifndef VMSG_TESTS_TESTHELPERS_H
#define VMSG_TESTS_TESTHELPERS_H

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

/// The raw bytes of a 16-bit value as it lies in memory (host byte order).
inline Bytes hostBytes(unsigned short value)
{
    Bytes bytes(sizeof value);
    std::memcpy(bytes.data(), &value, sizeof value);
    return bytes;
}

/// A tag on the wire: id, type code, big-endian payload length, payload.
inline Bytes tagWire(unsigned char id, unsigned char type, const Bytes& payload)
{
    // Sized once and filled: GCC 12 warns (-Warray-bounds, wrongly) about
    // inserting into a vector built from an initializer list.
    Bytes out(4 + payload.size());
    out[0] = id;
    out[1] = type;
    out[2] = static_cast<unsigned char>(payload.size() >> 8);
    out[3] = static_cast<unsigned char>(payload.size());
    std::copy(payload.begin(), payload.end(), out.begin() + 4);
    return out;
}

/// A pointer as printf's %p writes it, as in the library's log lines.
inline std::string pointerText(const void* p)
{
    char text[32];
    std::snprintf(text, sizeof text, "%p", p);
    return text;
}

#endif
