// Small helpers shared by the test files.
#ifndef VMSG_TESTS_TESTHELPERS_H
#define VMSG_TESTS_TESTHELPERS_H

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

/// A pointer as printf's %p writes it, as in the library's log lines.
inline std::string pointerText(const void* p)
{
    char text[32];
    std::snprintf(text, sizeof text, "%p", p);
    return text;
}

#endif
