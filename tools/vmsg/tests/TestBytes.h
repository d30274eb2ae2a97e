// Helpers shared by the tool's unit tests.
#ifndef VMSG_TOOL_TESTS_TESTBYTES_H
#define VMSG_TOOL_TESTS_TESTBYTES_H

#include "Blocks.h"

#include <string>
#include <vector>

namespace vmsgtool::test {

/// Bytes from hex text ("21 00 05 04").
inline std::vector<unsigned char> bytes(const std::string& hex)
{
    return parseHexBytes(hex);
}

/// A block named "test:1" from hex text.
inline Block block(const std::string& hex)
{
    return Block{bytes(hex), "test:1"};
}

/// The demo's telemetry message as the demo prints it.
inline const char* demoTelemetryHex()
{
    return "10 00 01 02 00 04 00 00 00 2a 02 01 00 07 70 75 6d 70 2d 37 00 03 02 00 04 00 00 0e 10 20 04 00 01 00 "
           "21 06 00 04 41 ac 00 00 22 01 00 02 43 00 20 04 00 01 01 21 06 00 04 44 7d 50 00 23 03 00 02 01 02";
}

} // namespace vmsgtool::test

#endif
