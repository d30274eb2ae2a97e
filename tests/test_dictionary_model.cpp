// The dictionary's lookups, closed messages and the comparison of two
// versions, rule by rule.
#include <VDictionary.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vmsg {
namespace {

const char kBase[] = R"({"name": "plant", "version": 1,
  "messages": [{"id": 16, "name": "telemetry", "required": ["device"], "optional": ["site", "sensor"]},
               {"id": 17, "name": "ping"}],
  "tags": [{"id": 1, "name": "device", "type": "u32"}, {"id": 2, "name": "site", "type": "str"},
           {"id": 32, "name": "sensor", "type": "u8"}, {"id": 33, "name": "reading", "type": "f32"},
           {"id": 40, "name": "group", "type": "null"}, {"id": 41, "name": "label", "type": "str"}],
  "meta": [{"id": 32, "object": "Sensor", "members": ["reading"]}, {"id": 40, "members": ["label"]}]})";

TEST(DictionaryModel, LookupsByIdAndNameAndAMoveKeepsTheRecords)
{
    Dictionary first = Dictionary::parse(kBase, "base.json");
    const CarrowDictDef* def = &first.def();
    const Dictionary dict = std::move(first);
    EXPECT_EQ(&dict.def(), def);
    EXPECT_EQ(dict.def().mMsgDefCount, 2);
    EXPECT_EQ(dict.name(), "plant");
    EXPECT_EQ(dict.version(), 1);
    EXPECT_EQ(dict.tagName(33), "reading");
    EXPECT_EQ(dict.tagName(99), "");
    EXPECT_EQ(dict.messageName(17), "ping");
    EXPECT_EQ(dict.tagId("label"), 41);
    EXPECT_FALSE(dict.tagId("nope"));
    EXPECT_EQ(dict.messageId("telemetry"), 16);
    EXPECT_TRUE(dict.message(16)->closed);
    EXPECT_FALSE(dict.message(17)->closed);
}

TEST(DictionaryModel, ClosedMessagesReportTagsOutsideTheirList)
{
    const Dictionary dict = Dictionary::parse(kBase);
    // telemetry: device, sensor (opening Sensor: reading), then label and 7.
    const unsigned char block[] = {16, 0, 1, 2, 0, 4, 0, 0, 0, 1, 32, 4, 0, 1, 0, 33, 6, 0, 4, 0, 0, 0, 0,
                                   41, 1, 0, 1, 'x', 7, 0, 0, 0, 7, 0, 0, 0};
    EXPECT_EQ(dict.unexpectedTags(block, sizeof block), (std::vector<unsigned char>{41, 7}));
    EXPECT_TRUE(dict.expects(16, 33));
    EXPECT_FALSE(dict.expects(16, 41));
    EXPECT_TRUE(dict.expects(17, 41)); // open
    EXPECT_TRUE(dict.expects(99, 41)); // undefined
}

std::vector<std::string> rulesOf(const std::string& newer)
{
    std::vector<std::string> rules;
    for (const DictionaryChange& change : compare(Dictionary::parse(kBase), Dictionary::parse(newer)))
        rules.push_back(std::string(change.kind == ChangeKind::Breaking ? "B " : "C ") + change.rule);
    return rules;
}

std::string edited(std::string text, const std::string& from, const std::string& to)
{
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return text.replace(at, from.size(), to);
}

TEST(DictionaryModel, EveryRuleOfTheComparison)
{
    const struct {
        const char* from;
        const char* to;
        std::vector<std::string> rules;
    } rows[] = {
        {"", "", {}},
        {R"(,
               {"id": 17, "name": "ping"})", "", {"B message-removed"}},
        {R"({"id": 17, "name": "ping"})", R"({"id": 17, "name": "ping"}, {"id": 18, "name": "pong"})",
         {"C message-added"}},
        {R"("name": "ping")", R"("name": "hello")", {"C message-renamed"}},
        {R"({"id": 17, "name": "ping"})", R"({"id": 18, "name": "ping"})", {"B message-id-changed"}},
        {R"({"id": 17, "name": "ping"})", R"({"id": 17, "name": "ping", "deprecated": true})",
         {"C message-deprecated"}},
        {R"({"id": 17, "name": "ping"})", R"({"id": 17, "name": "ping", "optional": []})", {"C message-closed"}},
        {R"({"id": 2, "name": "site", "type": "str"})", R"({"id": 2, "name": "site", "type": "u8"})",
         {"B tag-type-changed"}},
        {R"({"id": 40, "name": "group", "type": "null"})", R"({"id": 40, "name": "cluster", "type": "null"})",
         {"C tag-renamed", "C object-renamed"}}, // the object is named after its tag
        {R"({"id": 2, "name": "site", "type": "str"})", R"({"id": 2, "name": "site", "type": "str", "deprecated": true})",
         {"C tag-deprecated"}},
        {R"({"id": 41, "name": "label", "type": "str"})",
         R"({"id": 41, "name": "label", "type": "str"}, {"id": 42, "name": "spare", "type": "u8"})", {"C tag-added"}},
        {R"("required": ["device"], "optional": ["site", "sensor"])", R"("required": ["device", "site"], "optional": ["sensor"])",
         {"B tag-made-required"}},
        {R"("required": ["device"], "optional": ["site", "sensor"])", R"("optional": ["device", "site", "sensor"])",
         {"B tag-no-longer-required"}},
        {R"("optional": ["site", "sensor"])", R"("optional": ["site", "sensor", "group"])", {"C optional-tag-added"}},
        {R"("optional": ["site", "sensor"])", R"("optional": ["sensor"])", {"B optional-tag-removed"}},
        {R"("members": ["reading"])", R"("members": [])", {"B member-removed"}},
        {R"("members": ["reading"]}, {"id": 40, "members": ["label"]})",
         R"("members": []}, {"id": 40, "members": ["label", "reading"]})", {"B member-moved"}},
        {R"("members": ["label"])", R"("members": ["label", "site"])", {"C member-added"}},
        {R"(, {"id": 40, "members": ["label"]})", "", {"B object-removed"}},
        {R"("object": "Sensor")", R"("object": "Probe")", {"C object-renamed"}},
        {R"({"id": 33, "name": "reading", "type": "f32"})",
         R"({"id": 33, "name": "reading", "type": "f32"}, {"id": 34, "name": "unit", "type": "u8"})", {"C tag-added"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.to);
        const std::string newer = *row.from ? edited(kBase, row.from, row.to) : std::string(kBase);
        EXPECT_EQ(rulesOf(newer), row.rules);
    }
    // Swapping two names between their ids breaks both (and the message
    // that names them now requires the other id).
    const std::string swapped = edited(edited(kBase, R"("name": "site")", R"("name": "xx")"), R"("name": "device")",
                                       R"("name": "site")");
    EXPECT_EQ(rulesOf(edited(swapped, R"("name": "xx")", R"("name": "device")")),
              (std::vector<std::string>{"B tag-made-required", "B tag-no-longer-required", "B tag-id-reassigned",
                                        "B tag-id-reassigned"}));
    // Removing a tag breaks, as does taking it out of a closed message.
    const std::string fewer = edited(kBase, R"("optional": ["site", "sensor"])", R"("optional": ["sensor"])");
    EXPECT_EQ(rulesOf(edited(fewer, R"(, {"id": 2, "name": "site", "type": "str"})", "")),
              (std::vector<std::string>{"B optional-tag-removed", "B tag-removed"}));
}

} // namespace
} // namespace vmsg
