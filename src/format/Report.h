// Decoding blocks into a report: the message header, every tag with its
// offset, declared length and value, where the parse stopped, and with a
// dictionary the endpoint's verdict, missing required tags, unexpected tags
// and the structured view. The report is a JSON value, printed as it is for
// --json and rendered as text otherwise, so both always say the same.
// Internal to libvmsg and not exported: the JSON type appears in no
// interface of the library (VFormat.h gives the text and the JSON text,
// format/Decode.h both for the vmsg tool).
#ifndef VMSG_FORMAT_REPORT_H
#define VMSG_FORMAT_REPORT_H

#include "format/Block.h"

#include <VDictionary.h>
#include <VList.h>
#include <nlohmann/json.hpp>

#include <string>

namespace vmsg::detail {

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

/// The report of decodeBlock as indented text lines, under a first line
/// naming the block: "block 1 (stdin:1), 5 bytes".
std::string renderText(const Json& report);

/// The report of decodeBlock as renderText gives it, without the first
/// line: the text of the block itself, wherever it came from.
std::string renderBody(const Json& report);

/// One tag as the structured view shows it, "tag 33 reading f32 21.5 (bits
/// 0x41ac0000)"; long raw bytes continue on further lines, aligned under
/// the value. Every line starts with @p indent and ends with a newline.
/// @param tag the members of describeTag.
std::string renderTag(const Json& tag, const std::string& indent);

/// A JSON document as text; bytes of a text value that are not UTF-8 are
/// shown as U+FFFD.
std::string renderJson(const Json& document);

} // namespace vmsg::detail

#endif
