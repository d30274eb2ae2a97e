// Writes random dictionaries for the test tool.dict.random: random_N.json
// for N from 0 (closed and open messages, objects with and without
// members, deprecated entries), each checked by the tool's checker, and random.expected,
// the records the checker made of them in the form dump.h prints.
//
//   vmsg_random_dictionaries OUTDIR COUNT SEED
#include <VDictionary.h>
#include "Generate.h"

#include "dump.h"

#include <fstream>
#include <iostream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char* const kTypes[] = {"null", "str", "u32", "u16", "u8", "bytes", "f32"};
// Names the generator must escape, among ordinary ones, and names that
// another's escaped name would take.
const char* const kAwkward[] = {"class", "id", "build", "count", "Reader", "Builder", "stop", "new", "take", "name",
                                "isMessage", "missingTags", "tags_", "id_", "objects_", "std", "vmsg", "VTag",
                                "VMsg", "_x", "class_", "count_", "stop__", "std_", "VTag_"};

std::string randomDictionary(std::mt19937& rng)
{
    std::set<std::string> names;
    auto name = [&](const char* prefix) {
        for (;;) {
            std::string n = rng() % 4 == 0 ? kAwkward[rng() % (sizeof kAwkward / sizeof kAwkward[0])]
                                           : prefix + std::to_string(rng() % 1000);
            if (names.insert(prefix + std::string("/") + n).second)
                return n;
        }
    };
    std::vector<std::pair<unsigned, std::string>> tags; // id, name
    std::set<unsigned> used;
    const unsigned tagCount = rng() % 12;
    std::ostringstream out;
    out << "{\n  \"tags\": [";
    for (unsigned i = 0; i < tagCount; ++i) {
        unsigned id;
        do
            id = rng() % 256;
        while (!used.insert(id).second);
        tags.emplace_back(id, name("t"));
        out << (i ? "," : "") << "\n    {\"id\": " << id << ", \"name\": \"" << tags.back().second << "\", \"type\": \""
            << kTypes[rng() % 7] << "\"" << (rng() % 5 == 0 ? ", \"deprecated\": true" : "") << "}";
    }
    out << "\n  ],\n  \"messages\": [";
    std::set<unsigned> messageIds;
    const unsigned messageCount = rng() % 5;
    for (unsigned i = 0; i < messageCount; ++i) {
        unsigned id;
        do
            id = rng() % 256;
        while (!messageIds.insert(id).second);
        out << (i ? "," : "") << "\n    {\"id\": " << id << ", \"name\": \"" << name("m") << "\"";
        std::set<unsigned> required;
        if (!tags.empty() && rng() % 3) {
            out << ", \"required\": [";
            for (unsigned r = 0, n = rng() % 4; r < n; ++r) {
                const auto& tag = tags[rng() % tags.size()];
                required.insert(tag.first);
                out << (r ? ", " : "");
                if (rng() % 2)
                    out << tag.first;
                else
                    out << "\"" << tag.second << "\"";
            }
            out << "]";
        }
        // Closed: each optional tag once, none of them required.
        if (rng() % 2) {
            out << ", \"optional\": [";
            bool firstOptional = true;
            for (const auto& tag : tags) {
                if (required.count(tag.first) || rng() % 2)
                    continue;
                out << (firstOptional ? "" : ", ") << tag.first;
                firstOptional = false;
            }
            out << "]";
        }
        if (rng() % 5 == 0)
            out << ", \"deprecated\": true";
        out << "}";
    }
    out << "\n  ],\n  \"meta\": [";
    bool first = true;
    std::set<unsigned> members;
    for (const auto& tag : tags) {
        if (rng() % 3)
            continue;
        out << (first ? "" : ",") << "\n    {\"id\": " << tag.first;
        if (rng() % 2)
            out << ", \"name\": \"" << tag.second << "\"";
        if (rng() % 2)
            out << ", \"object\": \"" << name("o") << "\"";
        // Members: any other tag that is no member yet.
        if (rng() % 2) {
            out << ", \"members\": [";
            bool firstMember = true;
            for (const auto& member : tags) {
                if (member.first == tag.first || members.count(member.first) || rng() % 3)
                    continue;
                members.insert(member.first);
                out << (firstMember ? "" : ", ") << "\"" << member.second << "\"";
                firstMember = false;
            }
            out << "]";
        }
        out << "}";
        first = false;
    }
    out << "\n  ]\n}\n";
    return out.str();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::cerr << "usage: vmsg_random_dictionaries OUTDIR COUNT SEED\n";
        return 2;
    }
    const std::string dir = argv[1];
    const int count = std::stoi(argv[2]);
    std::mt19937 rng(static_cast<unsigned>(std::stoul(argv[3])));
    std::ofstream expected(dir + "/random.expected");
    for (int i = 0; i < count; ++i) {
        const std::string text = randomDictionary(rng);
        const std::string path = dir + "/random_" + std::to_string(i) + ".json";
        std::ofstream(path) << text;
        try {
            const vmsg::Dictionary dict = vmsg::Dictionary::parse(text, path);
            expected << vmsgdump::dump("random_" + std::to_string(i), dict.def());
        } catch (const vmsg::DictionaryError& error) {
            std::cerr << error.lines().front() << "\n";
            return 1;
        }
    }
    return 0;
}
