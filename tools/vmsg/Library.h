// What the tool takes from libvmsg's own report code (src/format): the
// text helpers, the tag walk, the block and its error, segmenting and the
// decode report, which the Python module shares; the tool's modules name
// them as their own.
#ifndef VMSG_TOOL_LIBRARY_H
#define VMSG_TOOL_LIBRARY_H

#include <format/Block.h>
#include <format/Text.h>

#include <VDictionary.h>
#include <VFormat.h>

namespace vmsgtool {

using namespace vmsg::detail;
using vmsg::Dictionary;
using vmsg::errorText;

} // namespace vmsgtool

#endif
