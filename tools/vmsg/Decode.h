// Decoding blocks into a report: the message header, every tag with its
// offset, declared length and value, where the parse stopped, and with a
// dictionary the endpoint's verdict, missing required tags and the
// structured view. The report is a JSON value, printed as it is for
// --json and rendered as text otherwise, so both always say the same.
#ifndef VMSG_TOOL_DECODE_H
#define VMSG_TOOL_DECODE_H

#include "Blocks.h"
#include "Dictionary.h"

#include <nlohmann/json.hpp>

#include <string>

namespace vmsgtool {

using Json = nlohmann::ordered_json;

/// The report on one block; its "ok" member is false when the block is too
/// short, its parse stops early, or (with @p dict) the endpoint refuses it,
/// a required tag is missing or the structured view fails.
/// @param number the block's position in the input, from 1.
/// @param dict the dictionary, or null to decode without names or checks.
Json decodeBlock(const Block& block, std::size_t number, const Dictionary* dict);

/// The value members of one tag: id, name (with a dictionary), type, length
/// and value; numbers also in hex, floats also as exact text and bits.
Json describeTag(const VTag& tag, const Dictionary* dict);

/// The report of decodeBlock as indented text lines.
std::string renderText(const Json& report);

/// A JSON document as text; bytes of a text value that are not UTF-8 are
/// shown as U+FFFD.
std::string renderJson(const Json& document);

} // namespace vmsgtool

#endif
