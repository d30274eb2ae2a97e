#include "DictDiff.h"

#include <nlohmann/json.hpp>

#include <algorithm>

namespace vmsgtool {

namespace {

const char* kindName(vmsg::ChangeKind kind)
{
    return kind == vmsg::ChangeKind::Breaking ? "breaking" : "compatible";
}

std::size_t countOf(const std::vector<vmsg::DictionaryChange>& changes, vmsg::ChangeKind kind)
{
    return static_cast<std::size_t>(
        std::count_if(changes.begin(), changes.end(), [kind](const auto& change) { return change.kind == kind; }));
}

} // namespace

std::string diffText(const std::vector<vmsg::DictionaryChange>& changes, const std::string& older,
                     const std::string& newer)
{
    std::size_t width = 0;
    for (const auto& change : changes)
        width = std::max(width, change.rule.size());
    std::string out;
    for (const auto& change : changes) {
        std::string kind = kindName(change.kind);
        kind.resize(11, ' ');
        std::string rule = change.rule;
        rule.resize(width + 2, ' ');
        out += kind + rule + change.text + "\n";
    }
    const std::size_t breaking = countOf(changes, vmsg::ChangeKind::Breaking);
    out += older + " -> " + newer + ": ";
    if (changes.empty())
        return out + "no changes\n";
    return out + std::to_string(breaking) + " breaking, " + std::to_string(changes.size() - breaking) +
           " compatible\n";
}

std::string diffJson(const std::vector<vmsg::DictionaryChange>& changes, const std::string& older,
                     const std::string& newer)
{
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const auto& change : changes)
        list.push_back({{"kind", kindName(change.kind)}, {"rule", change.rule}, {"text", change.text}});
    const nlohmann::ordered_json document{{"old", older},
                                          {"new", newer},
                                          {"breaking", countOf(changes, vmsg::ChangeKind::Breaking)},
                                          {"compatible", countOf(changes, vmsg::ChangeKind::Compatible)},
                                          {"changes", list}};
    return document.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

} // namespace vmsgtool
