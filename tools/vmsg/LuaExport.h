// `vmsg dict gen --lua`: a checked dictionary written as a Lua chunk that
// returns one table, for the Wireshark dissector (and any other Lua
// program) to load without reading JSON itself.
#ifndef VMSG_TOOL_LUAEXPORT_H
#define VMSG_TOOL_LUAEXPORT_H

#include <VDictionary.h>

#include <string>
#include <string_view>

namespace vmsgtool {

/// The version of the table's layout; a reader refuses any other.
constexpr int kLuaDictionaryFormat = 1;

/// @p text as a Lua string literal in double quotes that reads back as the
/// same bytes in any Lua from 5.1 on: printable ASCII stays, except '"' and
/// '\', which are escaped; every other byte is written as a three-digit
/// decimal escape.
std::string luaQuoted(std::string_view text);

/// The Lua chunk for @p dict:
///
///     return {
///       format = 1, source = "FILE", name = "...", version = 3,
///       messages = { { id = 16, name = "...", required = { 1 }, optional = { 2 },
///                      closed = true, expected = { 1, 2 }, deprecated = false }, ... },
///       tags = { { id = 1, name = "...", type = 2, deprecated = false }, ... },
///       metas = { { id = 32, name = "...", type = 4, object = "Sensor", members = { 33 },
///                   lists_members = true }, ... },
///     }
///
/// Types are wire type codes. "expected" (closed messages only) lists every
/// tag the message may carry, as vmsg::Dictionary::expects says. name and
/// version are left out when the file has none.
/// @param source the dictionary's file name, kept in the chunk for messages.
std::string luaDictionary(const vmsg::Dictionary& dict, const std::string& source);

} // namespace vmsgtool

#endif
