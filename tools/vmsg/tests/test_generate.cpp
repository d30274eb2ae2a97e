// The code generator: its output for three dictionaries is what the golden
// headers hold (regenerate them with `vmsg dict gen` after a deliberate
// change, see README), and names that C++ or the generated classes keep
// for themselves are escaped.
#include <VDictionary.h>
#include "Generate.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace vmsgtool {
namespace {

std::string fileText(const std::string& path)
{
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(Generate, HeadersEqualTheGoldenOnes)
{
    const struct {
        const char* dictionary;
        const char* golden;
        const char* nameSpace;
    } rows[] = {
        {VMSG_TOOL_EXAMPLES_DIR "/dictionary.json", VMSG_TOOL_TESTS_DIR "/golden/dictionary.h", "demo"},
        {VMSG_TOOL_TESTS_DIR "/dictionaries/good/full.json", VMSG_TOOL_TESTS_DIR "/golden/full.h", nullptr},
        {VMSG_TOOL_TESTS_DIR "/dictionaries/good/closed.json", VMSG_TOOL_TESTS_DIR "/golden/closed.h", nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.dictionary);
        const std::string golden = row.golden;
        GenerateOptions options = defaultOptions(row.dictionary, golden.substr(golden.rfind('/') + 1));
        if (row.nameSpace)
            options.nameSpace = row.nameSpace;
        EXPECT_EQ(generateHeader(Dictionary::load(row.dictionary), options), fileText(row.golden));
    }
}

TEST(Generate, NamesAreEscapedWhereCxxOrTheClassesUseThem)
{
    EXPECT_EQ(identifier("device"), "device");
    EXPECT_EQ(identifier("class"), "class_");
    EXPECT_EQ(identifier("build"), "build_");
    EXPECT_EQ(identifier("id"), "id");
    EXPECT_EQ(identifier("Reader"), "Reader_");
    EXPECT_EQ(identifier("id_"), "id__"); // a private member's name
    const GenerateOptions options = defaultOptions("/x/telemetry-v2.json", "out/telemetry-v2.h");
    EXPECT_EQ(options.source, "telemetry-v2.json");
    EXPECT_EQ(options.nameSpace, "telemetry_v2");
    EXPECT_EQ(options.includeGuard, "VMSG_GENERATED_TELEMETRY_V2_H");
    EXPECT_EQ(defaultOptions("1st.json", "").nameSpace, "_1st");
    // Macros of the included headers, and the namespaces and global names
    // a file may be named after.
    EXPECT_EQ(identifier("errno"), "errno_");
    EXPECT_EQ(identifier("NULL"), "NULL_");
    EXPECT_EQ(identifier("linux"), "linux_");
    EXPECT_EQ(identifier("stdin"), "stdin"); // a macro of its own name
    for (const char* file : {"class", "std", "vmsg", "VTag", "CarrowMsgDef", "errno"})
        EXPECT_EQ(defaultOptions(std::string(file) + ".json", "").nameSpace, std::string(file) + "_") << file;
}

// dictionaries/good/reserved.json names a tag after each name the generator
// must escape (tool.dict.reserved compiles its header): each is escaped.
TEST(Generate, EveryReservedNameOfTheReservedDictionaryIsEscaped)
{
    const auto dict = std::make_unique<Dictionary>(Dictionary::load(VMSG_TOOL_TESTS_DIR "/dictionaries/good/reserved.json"));
    std::size_t reserved = 0;
    for (const auto& tag : dict->tags()) {
        if (tag.name == "builder" || tag.name == "int_" || tag.name == "stop__" || tag.name == "tags")
            continue; // the tag names that are not reserved
        ++reserved;
        EXPECT_EQ(identifier(tag.name).rfind(tag.name + "_", 0), 0u) << tag.name;
    }
    EXPECT_GE(reserved, 90u);
    for (const char* word : {"return", "class", "stop", "builder_", "take", "missingTags", "xor_eq", "objects_"})
        EXPECT_NE(identifier(word), word) << word;
}

// Names the generator makes up for objects stay clear of the names the
// dictionary already gives: a class is not named like one of its own
// accessors, a reader's list of objects not like one of its tags.
TEST(Generate, ObjectNamesDoNotClash)
{
    const Dictionary dict = Dictionary::parse(R"({
      "messages": [ { "id": 1, "name": "m" } ],
      "tags": [
        { "id": 1, "name": "sensor", "type": "u8" },
        { "id": 2, "name": "sensors", "type": "u8" },
        { "id": 3, "name": "value", "type": "f32" },
        { "id": 4, "name": "box", "type": "u8" }
      ],
      "meta": [
        { "id": 1, "object": "Sensor", "members": ["sensors"] },
        { "id": 4, "object": "value", "members": ["value"] }
      ]
    })");
    const std::string header = generateHeader(dict, defaultOptions("clash.json", ""));
    EXPECT_NE(header.find("class value_ {"), std::string::npos);
    EXPECT_NE(header.find("std::optional<float> value() const"), std::string::npos);
    EXPECT_NE(header.find("std::optional<std::uint8_t> sensors() const"), std::string::npos);
    EXPECT_NE(header.find("const std::vector<::clash::objects::Sensor>& sensors_() const"), std::string::npos);
    EXPECT_NE(header.find("const std::vector<::clash::objects::value_>& values() const"), std::string::npos);
    EXPECT_NE(header.find("case 3: return \"value\";"), std::string::npos) << "tagName";
}

} // namespace
} // namespace vmsgtool
