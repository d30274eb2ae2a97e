#include "JsonLines.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <iterator>
#include <set>
#include <vector>

namespace vmsg::detail {

using nlohmann::json;

namespace {

// Line numbers of the text, found from byte offsets.
class LineIndex {
public:
    explicit LineIndex(std::string_view text)
    {
        mStarts.push_back(0);
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\n')
                mStarts.push_back(i + 1);
        }
    }
    /// 1-based line of the byte at @p offset.
    std::size_t line(std::size_t offset) const
    {
        return static_cast<std::size_t>(std::upper_bound(mStarts.begin(), mStarts.end(), offset) - mStarts.begin());
    }
    /// 1-based column of the byte at @p offset.
    std::size_t column(std::size_t offset) const { return offset - mStarts[line(offset) - 1] + 1; }

private:
    std::vector<std::size_t> mStarts;
};

// An input iterator over the text that counts the characters the JSON
// lexer has taken, so that each parse event can be given a position.
class CountingIterator {
public:
    using iterator_category = std::input_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = const char&;

    CountingIterator(const char* pos, std::size_t* taken) : mPos(pos), mTaken(taken) {}
    reference operator*() const { return *mPos; }
    CountingIterator& operator++()
    {
        ++mPos;
        ++*mTaken;
        return *this;
    }
    CountingIterator operator++(int)
    {
        CountingIterator before = *this;
        ++*this;
        return before;
    }
    bool operator==(const CountingIterator& other) const { return mPos == other.mPos; }
    bool operator!=(const CountingIterator& other) const { return mPos != other.mPos; }

private:
    const char* mPos;
    std::size_t* mTaken;
};

// Follows the parse events and records the line of every value under its
// path ("tags[2].type"), for messages about the content.
class PathRecorder {
public:
    PathRecorder(std::string_view text, const LineIndex& index, const std::size_t& taken, JsonLines& lines,
                 std::vector<std::string>* duplicates)
        : mText(text), mIndex(index), mTaken(taken), mLines(lines), mDuplicates(duplicates)
    {
    }

    bool operator()(int, json::parse_event_t event, json& parsed)
    {
        switch (event) {
        case json::parse_event_t::object_start:
        case json::parse_event_t::array_start:
            record();
            mStack.push_back({event == json::parse_event_t::array_start, 0, {}, {}});
            break;
        case json::parse_event_t::key:
            mStack.back().key = parsed.get<std::string>();
            // A key given twice: the parser keeps the last value, so the
            // first would be lost unnoticed.
            if (!mStack.back().keys.insert(mStack.back().key).second && mDuplicates) {
                record();
                mDuplicates->push_back(path());
            }
            break;
        case json::parse_event_t::value:
            record();
            finishElement();
            break;
        case json::parse_event_t::object_end:
        case json::parse_event_t::array_end:
            mStack.pop_back();
            finishElement();
            break;
        }
        return true;
    }

private:
    struct Frame {
        bool array;
        std::size_t index;
        std::string key;
        std::set<std::string> keys;
    };

    std::string path() const
    {
        std::string path;
        for (const Frame& frame : mStack)
            path += frame.array ? "[" + std::to_string(frame.index) + "]" : (path.empty() ? "" : ".") + frame.key;
        return path;
    }

    void record() { mLines[path()] = mIndex.line(lastTokenByte()); }

    // The lexer has read one character past a number; step back over it.
    std::size_t lastTokenByte() const
    {
        std::size_t at = mTaken ? mTaken - 1 : 0;
        if (at > 0 && at < mText.size() && std::strchr(" \t\r\n,]}", mText[at]))
            --at;
        return at;
    }

    void finishElement()
    {
        if (!mStack.empty() && mStack.back().array)
            ++mStack.back().index;
    }

    std::string_view mText;
    const LineIndex& mIndex;
    const std::size_t& mTaken;
    JsonLines& mLines;
    std::vector<std::string>* mDuplicates;
    std::vector<Frame> mStack;
};

} // namespace

nlohmann::json parseJsonWithLines(std::string_view text, JsonLines& lines,
                                  std::vector<std::string>* duplicateKeys)
{
    const LineIndex index(text);
    std::size_t taken = 0;
    PathRecorder recorder(text, index, taken, lines, duplicateKeys);
    try {
        return json::parse(CountingIterator(text.data(), &taken), CountingIterator(text.data() + text.size(), &taken),
                           std::ref(recorder));
    } catch (const json::parse_error& error) {
        // error.byte counts the last character read, from 1.
        const std::size_t at = std::min(error.byte ? error.byte - 1 : 0, text.empty() ? 0 : text.size() - 1);
        // The parser's own text leads with its position; ours replaces it.
        std::string what = error.what();
        if (const std::size_t colon = what.find(": "); colon != std::string::npos)
            what.erase(0, colon + 2);
        throw JsonSyntaxError{static_cast<unsigned>(index.line(at)), static_cast<unsigned>(index.column(at)), what};
    } catch (const json::exception& error) {
        // A number beyond what the parser holds (1e999): as bad as a syntax
        // error, and reported where the lexer stopped.
        const std::size_t at = std::min(taken ? taken - 1 : 0, text.empty() ? 0 : text.size() - 1);
        std::string what = error.what();
        if (const std::size_t bracket = what.find("] "); bracket != std::string::npos)
            what.erase(0, bracket + 2);
        throw JsonSyntaxError{static_cast<unsigned>(index.line(at)), static_cast<unsigned>(index.column(at)),
                              "syntax error: " + what};
    }
}

} // namespace vmsg::detail
