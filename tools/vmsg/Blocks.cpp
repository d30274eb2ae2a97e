#include "Blocks.h"

#include "Errors.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <sstream>

namespace vmsgtool {

namespace {

struct HexFault {
    std::size_t column; // 1-based
    std::string what;
};

bool isSeparator(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f' || c == ',';
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string describeChar(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    if (byte > 0x20 && byte < 0x7f)
        return std::string("'") + c + "'";
    return "byte " + hexNumber(byte, 2);
}

// Appends the bytes of one whitespace-free group such as "0x0a0b" or "ff".
std::optional<HexFault> parseGroup(std::string_view line, std::size_t start, std::size_t end,
                                   std::vector<unsigned char>& out)
{
    std::size_t pos = start;
    if (end - pos >= 2 && line[pos] == '0' && (line[pos + 1] == 'x' || line[pos + 1] == 'X'))
        pos += 2;
    if (pos == end)
        return HexFault{pos + 1, "expected hex digits after 0x"};
    for (std::size_t i = pos; i < end; ++i) {
        if (hexDigit(line[i]) < 0)
            return HexFault{i + 1, "expected a hex digit, found " + describeChar(line[i])};
    }
    if ((end - pos) % 2)
        return HexFault{start + 1, "odd number of hex digits in '" + std::string(line.substr(start, end - start)) +
                                       "' (expected two digits per byte)"};
    for (std::size_t i = pos; i < end; i += 2)
        out.push_back(static_cast<unsigned char>(hexDigit(line[i]) * 16 + hexDigit(line[i + 1])));
    return std::nullopt;
}

std::optional<HexFault> parseLine(std::string_view line, std::vector<unsigned char>& out)
{
    const std::size_t comment = line.find('#');
    const std::size_t stop = comment == std::string_view::npos ? line.size() : comment;
    std::size_t pos = 0;
    while (pos < stop) {
        if (isSeparator(line[pos])) {
            ++pos;
            continue;
        }
        std::size_t end = pos;
        while (end < stop && !isSeparator(line[end]))
            ++end;
        if (auto fault = parseGroup(line, pos, end, out))
            return fault;
        pos = end;
    }
    return std::nullopt;
}

void checkSize(std::size_t size, const std::string& where)
{
    if (size > kMaxBlockSize)
        throw UsageError(where + ": block of " + std::to_string(size) + " bytes; expected at most " +
                         std::to_string(kMaxBlockSize));
}

} // namespace

std::vector<Block> parseHexBlocks(std::string_view text, const std::string& source)
{
    std::vector<Block> blocks;
    std::size_t lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        const std::size_t newline = text.find('\n');
        const std::string_view line = text.substr(0, newline);
        text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
        Block block = parseHexLine(line, source, lineNumber);
        if (!block.bytes.empty())
            blocks.push_back(std::move(block));
    }
    return blocks;
}

Block parseHexLine(std::string_view line, const std::string& source, std::size_t lineNumber)
{
    Block block;
    block.where = source + ":" + std::to_string(lineNumber);
    if (auto fault = parseLine(line, block.bytes))
        throw UsageError(block.where + ":" + std::to_string(fault->column) + ": " + fault->what);
    checkSize(block.bytes.size(), block.where);
    return block;
}

std::vector<unsigned char> parseHexBytes(std::string_view text)
{
    std::vector<unsigned char> bytes;
    if (text.find_first_of("\n#") != std::string_view::npos)
        throw UsageError("column " + std::to_string(text.find_first_of("\n#") + 1) + ": expected a hex digit");
    if (auto fault = parseLine(text, bytes))
        throw UsageError("column " + std::to_string(fault->column) + ": " + fault->what);
    return bytes;
}

std::string inputName(const std::string& path)
{
    return path == "-" ? "stdin" : path;
}

std::string readInput(const std::string& path)
{
    if (path == "-") {
        std::ostringstream text;
        text << std::cin.rdbuf();
        return text.str();
    }
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw UsageError(path + ": cannot open: " + std::strerror(errno));
    try {
        // A directory opens but fails on the first read, by an exception.
        std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        if (!file.bad())
            return text;
    } catch (const std::ios_base::failure&) {
    }
    throw UsageError(path + ": cannot read: " + std::strerror(errno));
}

std::vector<Block> readBlocks(const std::string& path, bool raw)
{
    const std::string text = readInput(path);
    const std::string source = inputName(path);
    if (!raw)
        return parseHexBlocks(text, source);
    checkSize(text.size(), source);
    return {Block{std::vector<unsigned char>(text.begin(), text.end()), source}};
}

std::string hexLine(const std::vector<unsigned char>& bytes)
{
    return hexBytes(bytes.data(), bytes.size());
}

} // namespace vmsgtool
