// Tags as text: the command-line tag arguments that `vmsg encode` reads ("u16:2=258"), and building a block from them.
#ifndef VMSG_TOOL_TAGTEXT_H
#define VMSG_TOOL_TAGTEXT_H

#include "Library.h"

#include <VMsg.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vmsgtool {

/// Builds the tag that one argument describes: TYPE:ID=VALUE, or null:ID.
/// Ids and unsigned values are decimal or 0x hex; f32 takes any float text
/// (1.5, -0, 1e-3, inf, nan); str takes the rest of the argument as it is
/// (at most 1017 characters); bytes takes hex digits (at most 1018 bytes).
/// @return a new tag, owned by the caller.
/// @throws UsageError naming the argument and what was expected.
std::unique_ptr<VTag> parseTagArgument(const std::string& argument);

/// Builds a message with @p id, @p flags and one tag per argument, and
/// writes it with the library's getMsg.
/// @throws UsageError for a bad argument, or when the tags need more than
///         the 1022 payload bytes a block can carry.
std::vector<unsigned char> encodeMessage(unsigned char id, unsigned char flags,
                                         const std::vector<std::string>& arguments);

} // namespace vmsgtool

#endif
