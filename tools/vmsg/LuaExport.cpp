#include "LuaExport.h"

#include <cstdio>

namespace vmsgtool {

namespace {

std::string idList(const std::vector<unsigned char>& ids)
{
    if (ids.empty())
        return "{}";
    std::string out = "{ ";
    for (std::size_t i = 0; i < ids.size(); ++i)
        out += (i ? ", " : "") + std::to_string(unsigned{ids[i]});
    return out + " }";
}

const char* boolean(bool value)
{
    return value ? "true" : "false";
}

} // namespace

std::string luaQuoted(std::string_view text)
{
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte >= 0x20 && byte < 0x7f) {
            out += c;
        } else {
            // Three digits always, so that a digit after the escape is not
            // taken into it.
            char escape[5];
            std::snprintf(escape, sizeof escape, "\\%03u", unsigned{byte});
            out += escape;
        }
    }
    return out + "\"";
}

std::string luaDictionary(const vmsg::Dictionary& dict, const std::string& source)
{
    std::string out = "-- A message dictionary for the vmsg dissector, written by `vmsg dict gen --lua`\n"
                      "-- from the checked file " +
                      luaQuoted(source) + ". Regenerate it instead of editing it.\nreturn {\n";
    out += "  format = " + std::to_string(kLuaDictionaryFormat) + ",\n";
    out += "  source = " + luaQuoted(source) + ",\n";
    if (!dict.name().empty())
        out += "  name = " + luaQuoted(dict.name()) + ",\n";
    if (const std::optional<long long> version = dict.version())
        out += "  version = " + std::to_string(*version) + ",\n";

    out += "  messages = {\n";
    for (const vmsg::Dictionary::Message& m : dict.messages()) {
        out += "    { id = " + std::to_string(unsigned{m.id}) + ", name = " + luaQuoted(m.name) +
               ", required = " + idList(m.required) + ", optional = " + idList(m.optional) +
               ", closed = " + boolean(m.closed);
        if (m.closed) {
            // What the library's own check accepts, so that the reader
            // needs no rule of its own (a listed meta tag brings members).
            std::vector<unsigned char> expected;
            for (unsigned tag = 0; tag < 256; ++tag) {
                if (dict.expects(m.id, static_cast<unsigned char>(tag)))
                    expected.push_back(static_cast<unsigned char>(tag));
            }
            out += ", expected = " + idList(expected);
        }
        out += ", deprecated = " + std::string(boolean(m.deprecated)) + " },\n";
    }
    out += "  },\n  tags = {\n";
    for (const vmsg::Dictionary::Tag& t : dict.tags()) {
        out += "    { id = " + std::to_string(unsigned{t.id}) + ", name = " + luaQuoted(t.name) +
               ", type = " + std::to_string(unsigned{t.type}) + ", deprecated = " + boolean(t.deprecated) + " },\n";
    }
    out += "  },\n  metas = {\n";
    for (const vmsg::Dictionary::Meta& m : dict.metas()) {
        out += "    { id = " + std::to_string(unsigned{m.id}) + ", name = " + luaQuoted(m.name) +
               ", type = " + std::to_string(unsigned{m.type}) + ", object = " + luaQuoted(m.object) +
               ", members = " + idList(m.members) + ", lists_members = " + boolean(m.listsMembers) + " },\n";
    }
    out += "  },\n}\n";
    return out;
}

} // namespace vmsgtool
