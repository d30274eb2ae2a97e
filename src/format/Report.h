// Decoding blocks into a report: the message header, every tag with its
// offset, declared length and value, where the parse stopped, and with a
// dictionary the endpoint's verdict, missing required tags, unexpected tags
// and the structured view. The report is a JSON value, printed as it is for
// --json and rendered as text otherwise, so both always say the same.
// Internal to libvmsg: the JSON type stays out of the installed headers
// (VFormat.h gives the text and the JSON text); the vmsg tool, built with
// the library, uses the values themselves.
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
VMSG_API Json decodeBlock(const Block& block, std::size_t number, const Dictionary* dict);

/// The value members of one tag: id, name (with a dictionary), type, length
/// and value; numbers also in hex, floats also as exact text and bits.
VMSG_API Json describeTag(const VTag& tag, const Dictionary* dict);

/// The report of decodeBlock as indented text lines, under a first line
/// naming the block: "block 1 (stdin:1), 5 bytes".
VMSG_API std::string renderText(const Json& report);

/// The report of decodeBlock as renderText gives it, without the first
/// line: the text of the block itself, wherever it came from.
VMSG_API std::string renderBody(const Json& report);

/// One tag as the structured view shows it, "tag 33 reading f32 21.5 (bits
/// 0x41ac0000)"; long raw bytes continue on further lines, aligned under
/// the value. Every line starts with @p indent and ends with a newline.
/// @param tag the members of describeTag.
VMSG_API std::string renderTag(const Json& tag, const std::string& indent);

/// A JSON document as text; bytes of a text value that are not UTF-8 are
/// shown as U+FFFD.
VMSG_API std::string renderJson(const Json& document);

} // namespace vmsg::detail

#endif
