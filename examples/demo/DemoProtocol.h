// The protocol the demo's two endpoints speak: a small telemetry link. Its
// dictionary is examples/dictionary.json; "dictionary.h" is generated from
// it (vmsg_add_dictionary) and gives demo::dictionary, the tag ids
// demo::tags::..., their names through demo::tagName, and per message
// demo::messages::NAME::id with a typed Builder and Reader.
#ifndef VMSG_EXAMPLES_DEMOPROTOCOL_H
#define VMSG_EXAMPLES_DEMOPROTOCOL_H

#include "dictionary.h"

namespace demo {

// UDP port the receiver listens on by default.
constexpr unsigned short kPort = 47800;

// A message id the dictionary does not define, to show a refusal.
constexpr unsigned char kMsgUndefined = 0x7F;

} // namespace demo

#endif
