// Typed access to tags without casts: a tag's payload as a wire view, and
// the text and bytes of a view or a tag when it has that type.
#include <vmsg.hpp>

#include "tags/TagAccess.h"

namespace vmsg {

TagView view(const VTag& tag)
{
    return viewOf(tag);
}

std::optional<std::string_view> text(const TagView& tag)
{
    return tag.type == VTag::TagString ? std::optional<std::string_view>(tag.text()) : std::nullopt;
}

std::optional<std::string_view> text(const VTag& tag)
{
    return text(viewOf(tag));
}

std::optional<std::string_view> text(const VTag* tag)
{
    return tag ? text(viewOf(*tag)) : std::nullopt;
}

std::optional<std::string_view> bytes(const TagView& tag)
{
    return tag.type == VTag::TagBytes ? std::optional<std::string_view>(tag.bytes()) : std::nullopt;
}

std::optional<std::string_view> bytes(const VTag& tag)
{
    return bytes(viewOf(tag));
}

std::optional<std::string_view> bytes(const VTag* tag)
{
    return tag ? bytes(viewOf(*tag)) : std::nullopt;
}

} // namespace vmsg
