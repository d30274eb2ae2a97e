// The text form of a decode report: a header line per block, a table of
// the tags, then the parse stop and the dictionary's findings.
#include "format/Report.h"

#include "format/Text.h"

#include <algorithm>
#include <array>

namespace vmsg::detail {

namespace {

constexpr std::size_t kBytesPerLine = 16;

std::string plural(std::size_t count, const char* noun)
{
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

// Spaced hex pairs from the compact hex of the report, wrapped.
std::vector<std::string> spacedHex(const std::string& compact, std::size_t perLine)
{
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < compact.size(); i += 2) {
        if (i % (perLine * 2) == 0)
            lines.emplace_back();
        else
            lines.back() += ' ';
        lines.back() += compact.substr(i, 2);
    }
    return lines;
}

// The value of a tag report; several lines for long raw bytes.
std::vector<std::string> valueLines(const Json& tag)
{
    const std::string type = tag["type"].get<std::string>();
    const Json& value = tag["value"];
    if (type == "null")
        return {"-"};
    if (type == "str")
        return {quoteText(value.get<std::string>())};
    if (type == "f32")
        return {tag["text"].get<std::string>() + " (bits " + tag["bits"].get<std::string>() + ")"};
    if (type == "bytes") {
        std::vector<std::string> lines = spacedHex(value.get<std::string>(), kBytesPerLine);
        return lines.empty() ? std::vector<std::string>{"(empty)"} : lines;
    }
    if (tag.contains("hex"))
        return {std::to_string(value.get<unsigned long>()) + " (" + tag["hex"].get<std::string>() + ")"};
    return {"?"};
}

std::string messageLine(const Json& msg)
{
    const auto flags = msg["flags"].get<unsigned>();
    std::string line = "message " + hexNumber(msg["id"].get<unsigned>(), 2);
    if (msg.contains("name"))
        line += " " + msg["name"].get<std::string>();
    line += ", flags " + hexNumber(flags, 2);
    if (msg["more_segments"].get<bool>())
        line += " (more-segments)";
    return line + ", " + plural(msg["tag_count"].get<std::size_t>(), "tag") + ", " +
           plural(msg["payload_length"].get<std::size_t>(), "payload byte") + "\n";
}

// The tag table. Columns: offset, tag id, name (only when some tag has
// one), type, declared length, then the value; long values and notes
// continue on lines of their own under the value.
using Row = std::array<std::string, 5>;
constexpr std::size_t kNameColumn = 2;
constexpr std::size_t kTypeColumn = 3;

Row tableRow(const Json& tag)
{
    return {std::to_string(tag["offset"].get<std::size_t>()), std::to_string(tag["id"].get<unsigned>()),
            tag.value("name", ""), tag["type"].get<std::string>(),
            std::to_string(tag["declared_length"].get<unsigned>())};
}

std::string rowText(const Row& row, const Row& widths, bool named)
{
    std::string line = "  ";
    for (std::size_t c = 0; c < row.size(); ++c) {
        if (c == kNameColumn && !named)
            continue;
        const std::string pad(widths[c].size() - row[c].size(), ' ');
        const bool left = c == kNameColumn || c == kTypeColumn;
        line += (left ? row[c] + pad : pad + row[c]) + "  ";
    }
    return line;
}

std::string tagTable(const Json& tags)
{
    std::vector<Row> rows{{"offset", "tag", "name", "type", "length"}};
    for (const Json& tag : tags)
        rows.push_back(tableRow(tag));
    Row widths{}; // the widest cell of each column, as a string of that size
    for (const Row& row : rows) {
        for (std::size_t c = 0; c < row.size(); ++c)
            widths[c].resize(std::max(widths[c].size(), row[c].size()), ' ');
    }
    const bool named = std::any_of(tags.begin(), tags.end(), [](const Json& t) { return t.contains("name"); });
    std::string out = rowText(rows[0], widths, named) + "value\n";
    const std::string under(rowText(rows[0], widths, named).size(), ' ');
    for (std::size_t r = 1; r < rows.size(); ++r) {
        const Json& tag = tags[r - 1];
        const std::vector<std::string> lines = valueLines(tag);
        out += rowText(rows[r], widths, named) + lines.front() + "\n";
        for (std::size_t i = 1; i < lines.size(); ++i)
            out += under + lines[i] + "\n";
        for (const Json& note : tag.value("notes", Json::array()))
            out += under + "note: " + note.get<std::string>() + "\n";
    }
    return out;
}

std::string stopLines(const Json& stop)
{
    std::string out = "  parse stopped at byte " + std::to_string(stop["offset"].get<std::size_t>()) + ": " +
                      stop["message"].get<std::string>() + "; " +
                      plural(stop["unread"].get<std::size_t>(), "byte") + " left unread\n";
    std::vector<std::string> unread = spacedHex(stop["unread_bytes"].get<std::string>(), 32);
    if (!unread.empty())
        out += "    unread: " + unread.front() + (unread.size() > 1 ? " ..." : "") + "\n";
    return out;
}

void appendErrors(std::string& out, const Json& errors, const std::string& indent)
{
    for (const Json& error : errors) {
        const std::string detail = error.value("detail", "");
        out += indent + error["name"].get<std::string>() +
               (detail.empty() ? "" : " (detail " + spacedHex(detail, detail.size()).front() + ")") + ": " +
               error["text"].get<std::string>() + "\n";
    }
}

std::string dictionaryLines(const Json& report)
{
    std::string out;
    const Json& endpoint = report["endpoint"];
    out += std::string("  endpoint: ") + (endpoint["accepted"].get<bool>() ? "accepted" : "refused") + "\n";
    appendErrors(out, endpoint["errors"], "    ");
    const Json& required = report["required"];
    if (required.is_null())
        out += "  required tags: not checked (no definition for this message id)\n";
    else
        out += std::string("  required tags: ") + (required["all_present"].get<bool>() ? "all present" : "missing") + "\n";
    if (!required.is_null())
        appendErrors(out, required["missing"], "    ");
    if (report.contains("unexpected")) {
        const Json& unexpected = report["unexpected"];
        out += std::string("  unexpected tags: ") + (unexpected.empty() ? "none" : std::to_string(unexpected.size())) +
               " (the message lists its tags)\n";
        for (const Json& tag : unexpected)
            out += "    " + tag["text"].get<std::string>() + " is not a tag of this message\n";
    }
    const Json& view = report["structured"];
    if (!view["ok"].get<bool>()) {
        out += "  structured view: failed\n";
        appendErrors(out, view["errors"], "    ");
        return out;
    }
    out += "  structured view: " + plural(view["tags"].size(), "plain tag") + ", " +
           plural(view["objects"].size(), "object") + "\n";
    for (const Json& tag : view["tags"])
        out += renderTag(tag, "    ");
    for (const Json& object : view["objects"]) {
        out += "    object " + object.value("object", std::to_string(object["id"].get<unsigned>())) + ", opened by ";
        if (object["meta"].is_null())
            out += "no meta tag\n";
        else
            out += renderTag(object["meta"], "");
        for (const Json& tag : object["tags"])
            out += renderTag(tag, "      ");
    }
    return out;
}

} // namespace

std::string renderTag(const Json& tag, const std::string& indent)
{
    std::string head = "tag " + std::to_string(tag["id"].get<unsigned>());
    if (tag.contains("name"))
        head += " " + tag["name"].get<std::string>();
    head += " " + tag["type"].get<std::string>() + " ";
    const std::vector<std::string> lines = valueLines(tag);
    std::string out = indent + head + lines.front() + "\n";
    for (std::size_t i = 1; i < lines.size(); ++i)
        out += indent + std::string(head.size(), ' ') + lines[i] + "\n";
    return out;
}

std::string renderText(const Json& report)
{
    return "block " + std::to_string(report["block"].get<std::size_t>()) + " (" +
           report["source"].get<std::string>() + "), " + plural(report["size"].get<std::size_t>(), "byte") + "\n" +
           renderBody(report);
}

std::string renderBody(const Json& report)
{
    if (report.contains("error"))
        return "  error: " + report["error"].get<std::string>() + "\n";
    std::string out;
    out += messageLine(report["message"]);
    if (!report["tags"].empty())
        out += tagTable(report["tags"]);
    if (!report["stop"].is_null())
        out += stopLines(report["stop"]);
    if (report.contains("endpoint"))
        out += dictionaryLines(report);
    return out;
}

} // namespace vmsg::detail
