// JSON dictionaries: the records they give the library, and the errors
// that point at the offending line.
#include <VDictionary.h>

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace vmsg {
namespace {

std::string errorOf(const std::string& text)
{
    try {
        Dictionary::parse(text, "d.json");
    } catch (const DictionaryError& error) {
        return error.lines().front();
    }
    return "accepted";
}

TEST(Dictionary, RecordsOutliveTheTextAndServeTheEndpoint)
{
    std::optional<Dictionary> dict;
    {
        std::string text = R"({
          "messages": [{"id": 16, "name": "telemetry", "required": ["device", 2, "device"]},
                       {"id": 17, "name": "empty"}],
          "tags": [{"id": 1, "name": "device", "type": "u32"},
                   {"id": 2, "name": "a_rather_long_tag_name_well_beyond_any_short_string_buffer", "type": "str"},
                   {"id": 32, "name": "sensor", "type": "u8"}, {"id": 40, "name": "group", "type": "null"}],
          "meta": [{"id": 32, "name": "sensor"}, {"id": 40, "object": "Group", "type": "null"}]
        })";
        dict.emplace(Dictionary::parse(text, "d.json"));
        text.assign(text.size(), 'x');
    }
    const CarrowDictDef& def = dict->def();
    Carrow endpoint(&def);
    const CarrowMsgDef* telemetry = endpoint.findMsgDef(16);
    ASSERT_NE(telemetry, nullptr);
    ASSERT_EQ(telemetry->mRequiredCount, 3);
    EXPECT_EQ(std::vector<unsigned char>(telemetry->mRequiredTags, telemetry->mRequiredTags + 3),
              (std::vector<unsigned char>{1, 2, 1}));
    EXPECT_EQ(endpoint.findMsgDef(17)->mRequiredCount, 0);
    EXPECT_STREQ(endpoint.findTagDef(2)->mName, "a_rather_long_tag_name_well_beyond_any_short_string_buffer");
    EXPECT_TRUE(Carrow::isMeta(&def, 32));
    EXPECT_FALSE(Carrow::isMeta(&def, 1));
    // A meta entry takes its name and type from the tag of the same id, and
    // its object name from the tag's name unless given.
    EXPECT_EQ(def.mMetaDefs[0].mType, VTag::TagUInt8);
    EXPECT_STREQ(def.mMetaDefs[0].mObjectName, "sensor");
    EXPECT_EQ(def.mMetaDefs[1].mType, VTag::TagNull);
    EXPECT_STREQ(def.mMetaDefs[1].mName, "group");
    EXPECT_STREQ(def.mMetaDefs[1].mObjectName, "Group");
}

TEST(Dictionary, EmptyDictionaryHasNoEntries)
{
    const Dictionary dict = Dictionary::parse("{}", "d.json");
    EXPECT_EQ(dict.def().mMsgDefCount + dict.def().mTagDefCount + dict.def().mMetaDefCount, 0);
    EXPECT_EQ(dict.message(0), nullptr);
    EXPECT_EQ(dict.name(), "");
    EXPECT_FALSE(dict.version());
}

TEST(Dictionary, ContentErrorsNameLinePathAndExpectation)
{
    const struct {
        const char* text;
        const char* error;
    } rows[] = {
        {"[1]", "d.json:1: expected an object with the keys messages, tags, meta, name, version, found [1]"},
        {"{\n\"tagz\": []}", "d.json:2: tagz: unknown key 'tagz'; expected one of messages, tags, meta, name, version"},
        {"{\"tags\": {}}", "d.json:1: tags: expected a list of entries, found {}"},
        {"{\"tags\": [\n{\"id\": 1, \"name\": \"a\"}\n]}", "d.json:2: tags[0]: missing key 'type'"},
        {"{\"tags\": [\n{\"id\": 1, \"name\": \"a\",\n \"type\": \"u64\"}]}",
         "d.json:3: tags[0].type: expected a type name (null, str, u32, u16, u8, bytes, f32), found \"u64\""},
        // The number ends its line: its line is the one reported, not the next.
        {"{\"tags\": [\n{\"name\": \"a\", \"type\": \"u8\", \"id\": 256\n}]}",
         "d.json:2: tags[0].id: expected an id from 0 to 255, found 256"},
        {"{\"tags\": [{\"id\": -1, \"name\": \"a\", \"type\": \"u8\"}]}",
         "d.json:1: tags[0].id: expected an id from 0 to 255, found -1"},
        {"{\"tags\": [{\"id\": 1.5, \"name\": \"a\", \"type\": \"u8\"}]}",
         "d.json:1: tags[0].id: expected an id from 0 to 255, found 1.5"},
        {"{\"tags\": [{\"id\": 1, \"name\": \"\", \"type\": \"u8\"}]}",
         "d.json:1: tags[0].name: expected a name (a letter or '_', then letters, digits or '_'), found \"\""},
        {"{\"tags\": [\n{\"id\": 1, \"name\": \"a\", \"type\": \"u8\"},\n{\"id\": 1, \"name\": \"b\", \"type\": \"u8\"}]}",
         "d.json:3: tags[1].id: duplicate tag id 1 (first at line 2)"},
        {"{\"messages\": [{\"id\": 1, \"name\": \"m\",\n\"required\": [\"nope\"]}]}",
         "d.json:2: messages[0].required[0]: expected a tag id or the name of an entry of \"tags\", found \"nope\""},
        {"{\"messages\": [{\"id\": 1, \"name\": \"m\", \"required\": 1}]}",
         "d.json:1: messages[0].required: expected a list of at most 255 tag ids or names, found 1"},
        {"{\"tags\": [{\"id\": 1, \"name\": \"a\", \"type\": \"u8\"}],\n\"meta\": [\n{\"id\": 1, \"objekt\": \"A\"}]}",
         "d.json:3: meta[0].objekt: unknown key 'objekt'; expected one of id, name, type, object, members"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(errorOf(row.text), row.error);
}

TEST(Dictionary, OneCheckNamesEveryProblemInLineOrder)
{
    std::vector<std::string> problems;
    try {
        Dictionary::parse(R"({
      "meta": [{"id": 9}],
      "tags": [{"id": 1, "name": "a", "type": "u64"},
               {"id": 1, "name": "b", "type": "u8"}],
      "messages": [{"id": 2, "name": "m", "required": ["a", "c"]}]
    })",
                          "d.json");
        ADD_FAILURE() << "accepted";
    } catch (const DictionaryError& error) {
        problems = error.lines();
        EXPECT_FALSE(error.syntaxError());
        EXPECT_EQ(error.problems().front().line, 2u);
        EXPECT_EQ(error.problems().front().path, "meta[0].id");
    }
    // The tag with a bad type still defines "a"; only "c" is unknown.
    EXPECT_EQ(problems, (std::vector<std::string>{
                            "d.json:2: meta[0].id: meta tag 9 is not in \"tags\" (a meta tag is also a tag)",
                            "d.json:3: tags[0].type: expected a type name (null, str, u32, u16, u8, bytes, f32), "
                            "found \"u64\"",
                            "d.json:4: tags[1].id: duplicate tag id 1 (first at line 3)",
                            "d.json:5: messages[0].required[1]: expected a tag id or the name of an entry of "
                            "\"tags\", found \"c\"",
                        }));
}

std::string fileText(const std::filesystem::path& path)
{
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The corpus that the dissector's test reads too: each refused file with
// the path of its first problem, and files that hold.
TEST(Dictionary, SharedCorpusIsRefusedAtTheListedPaths)
{
    const std::filesystem::path dir = VMSG_DICTIONARY_CORPUS;
    std::istringstream expected(fileText(dir / "bad" / "expected.txt"));
    std::size_t bad = 0;
    for (std::string line; std::getline(expected, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        const std::string file = line.substr(0, line.find(' '));
        std::string path = line.substr(line.find(' ') + 1);
        if (path == "\"\"")
            path.clear();
        SCOPED_TRACE(file);
        ++bad;
        try {
            Dictionary::parse(fileText(dir / "bad" / file), file);
            ADD_FAILURE() << "accepted";
        } catch (const DictionaryError& error) {
            if (error.syntaxError())
                EXPECT_EQ(path, "-") << error.what();
            else
                EXPECT_EQ(error.problems().front().path, path);
        }
    }
    EXPECT_GE(bad, 20u);
    for (const auto& entry : std::filesystem::directory_iterator(dir / "good")) {
        SCOPED_TRACE(entry.path().string());
        EXPECT_NO_THROW(Dictionary::parse(fileText(entry.path()), "good.json"));
    }
}

TEST(Dictionary, SyntaxErrorsNameLineAndColumn)
{
    EXPECT_EQ(errorOf("{\n  \"tags\": [\n    {\"id\": 1},\n  ]\n}"),
              "d.json:4:3: syntax error while parsing value - unexpected ']'; expected '[', '{', or a literal");
    EXPECT_EQ(errorOf("{\"tags\": [}").rfind("d.json:1:11: syntax error", 0), 0u);
    EXPECT_EQ(errorOf("").rfind("d.json:1:1: ", 0), 0u);
    // A number beyond a double is refused like bad syntax, not as a crash.
    EXPECT_EQ(errorOf("{\"tags\": [{\"id\": 1e999}]}"), "d.json:1:23: syntax error: number overflow parsing '1e999'");
}

// A list of COUNT entries, ENTRY(i) each.
template <typename Entry>
std::string listOf(int count, Entry entry)
{
    std::string text = "[";
    for (int i = 0; i < count; ++i)
        text += std::string(i ? "," : "") + entry(i);
    return text + "]";
}

TEST(Dictionary, ListsHoldAtMost255Entries)
{
    // 255 entries are taken, 256 refused, in every list (a 256th entry
    // needs a repeated id, which the count refuses first).
    const auto tag = [](int i) {
        return "{\"id\": " + std::to_string(i % 256) + ", \"name\": \"t" + std::to_string(i) + "\", \"type\": \"u8\"}";
    };
    const auto message = [](int i) {
        return "{\"id\": " + std::to_string(i % 256) + ", \"name\": \"m" + std::to_string(i) + "\"}";
    };
    const auto meta = [](int i) { return "{\"id\": " + std::to_string(i % 256) + "}"; };
    const std::string tags = "\"tags\": " + listOf(255, tag);
    for (int count : {255, 256}) {
        const std::string over = count == 256 ? "expected at most 255 entries, found 256" : "";
        EXPECT_EQ(errorOf("{\"tags\": " + listOf(count, tag) + "}"),
                  over.empty() ? "accepted" : "d.json:1: tags: " + over);
        EXPECT_EQ(errorOf("{\"messages\": " + listOf(count, message) + "}"),
                  over.empty() ? "accepted" : "d.json:1: messages: " + over);
        EXPECT_EQ(errorOf("{" + tags + ", \"meta\": " + listOf(count, meta) + "}"),
                  over.empty() ? "accepted" : "d.json:1: meta: " + over);
        // A required list may name a tag many times.
        const std::string required =
            errorOf("{" + tags + ", \"messages\": [{\"id\": 1, \"name\": \"m\", \"required\": " +
                    listOf(count, [](int) { return std::string("1"); }) + "}]}");
        if (count == 255)
            EXPECT_EQ(required, "accepted");
        else
            EXPECT_EQ(required.rfind("d.json:1: messages[0].required: expected a list of at most 255 tag ids or names, "
                                     "found [1,1,",
                                     0),
                      0u)
                << required;
    }
}

TEST(Dictionary, MissingFileIsNamed)
{
    try {
        Dictionary::load("/nonexistent/dict.json");
        ADD_FAILURE();
    } catch (const DictionaryError& error) {
        EXPECT_STREQ(error.what(), "/nonexistent/dict.json: cannot open: No such file or directory");
        EXPECT_TRUE(error.syntaxError());
    }
}

} // namespace
} // namespace vmsg
