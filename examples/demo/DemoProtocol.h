// The protocol the demo's two endpoints speak: a small telemetry link.
#ifndef VMSG_EXAMPLES_DEMOPROTOCOL_H
#define VMSG_EXAMPLES_DEMOPROTOCOL_H

#include <Carrow.h>

namespace demo {

// UDP port the receiver listens on by default.
constexpr unsigned short kPort = 47800;

// Message ids.
constexpr unsigned char kMsgTelemetry = 0x10;
constexpr unsigned char kMsgCommand = 0x11;
constexpr unsigned char kMsgUndefined = 0x7F;

// Tag ids.
constexpr unsigned char kTagDevice = 1;   // u32 device number
constexpr unsigned char kTagName = 2;     // text: device name
constexpr unsigned char kTagUptime = 3;   // u32 seconds
constexpr unsigned char kTagSensor = 0x20; // u8 sensor index; opens an object
constexpr unsigned char kTagReading = 0x21; // float reading
constexpr unsigned char kTagUnit = 0x22;  // text unit
constexpr unsigned char kTagStatus = 0x23; // u16 status bits
constexpr unsigned char kTagAction = 0x30; // u8 command code
constexpr unsigned char kTagPayload = 0x31; // raw bytes

/// The demo's dictionary; lives for the whole program.
const CarrowDictDef& dictionary();

/// The name of tag @p id in the dictionary, or null.
const char* tagName(unsigned char id);

} // namespace demo

#endif
