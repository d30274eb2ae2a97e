// The dictionary written as a Lua chunk for the dissector: text that reads
// back as the same bytes, and the tags a closed message may carry.
#include "LuaExport.h"

#include <gtest/gtest.h>

#include <string>

namespace vmsgtool {
namespace {

TEST(LuaExport, QuotesEveryByteSoThatItReadsBackTheSame)
{
    const struct {
        std::string text;
        const char* lua;
    } rows[] = {
        {"plain_name", R"("plain_name")"},
        {"quote \" back \\", R"("quote \" back \\")"},
        // A digit after an escape must not join it: "\0" then "1".
        {std::string("\0" "1", 2), R"("\0001")"},
        {"line\nnext\ttab\r", R"("line\010next\009tab\013")"},
        // UTF-8 byte by byte; a long bracket or a comment start is plain text.
        {"\xc3\xa9 ]] --[[", R"("\195\169 ]] --[[")"},
        {"\x7f\xff", R"("\127\255")"},
        {"", R"("")"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(luaQuoted(row.text), row.lua) << row.lua;
}

TEST(LuaExport, WritesEntriesWithTheLibrarysExpectedTags)
{
    const vmsg::Dictionary dict = vmsg::Dictionary::parse(R"({
      "name": "plant \"north\"\n", "version": 7,
      "messages": [
        { "id": 16, "name": "telemetry", "required": ["device"], "optional": ["sensor"] },
        { "id": 17, "name": "status", "deprecated": true }
      ],
      "tags": [
        { "id": 1, "name": "device", "type": "u32" },
        { "id": 32, "name": "sensor", "type": "u8", "deprecated": true },
        { "id": 33, "name": "reading", "type": "f32" },
        { "id": 40, "name": "spare", "type": "bytes" }
      ],
      "meta": [ { "id": 32, "object": "Sensor", "members": ["reading"] } ]
    })");
    const std::string lua = luaDictionary(dict, "dir/plant.json");
    const char* lines[] = {
        "return {\n  format = 1,\n  source = \"dir/plant.json\",\n",
        "  name = \"plant \\\"north\\\"\\010\",\n  version = 7,\n",
        // The listed meta tag brings its member 33; 40 stays out.
        "    { id = 16, name = \"telemetry\", required = { 1 }, optional = { 32 }, closed = true, "
        "expected = { 1, 32, 33 }, deprecated = false },\n",
        // An open message has no expected list.
        "    { id = 17, name = \"status\", required = {}, optional = {}, closed = false, deprecated = true },\n",
        "    { id = 32, name = \"sensor\", type = 4, deprecated = true },\n",
        "    { id = 40, name = \"spare\", type = 5, deprecated = false },\n",
        "    { id = 32, name = \"sensor\", type = 4, object = \"Sensor\", members = { 33 }, lists_members = true },\n",
    };
    for (const char* line : lines)
        EXPECT_NE(lua.find(line), std::string::npos) << "missing:\n" << line << "\nin:\n" << lua;
    EXPECT_EQ(lua.substr(lua.size() - 5), "},\n}\n");

    // No name or version line for a file without them.
    const std::string bare = luaDictionary(vmsg::Dictionary::parse(R"({ "tags": [] })"), "bare.json");
    EXPECT_EQ(bare.find("name ="), std::string::npos);
    EXPECT_EQ(bare.find("version ="), std::string::npos);
    EXPECT_NE(bare.find("  messages = {\n  },\n  tags = {\n  },\n  metas = {\n  },\n}\n"), std::string::npos);
}

} // namespace
} // namespace vmsgtool
