#include "platform/ini_file.h"

#include <algorithm>
#include <cerrno>
#include <vector>

namespace tarvi {

namespace {

std::string_view trimmed(std::string_view text)
{
    constexpr std::string_view blanks = " \t\r\n\v\f";
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

bool sameName(std::string_view a, std::string_view b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

// The name of a "[name]" line, or nothing when the line is not a section line.
bool sectionName(std::string_view line, std::string_view& name)
{
    const auto text = trimmed(line);
    if (text.empty() || text.front() != '[')
        return false;
    auto inner = text.substr(1);
    const auto close = inner.find(']');
    if (close != std::string_view::npos)
        inner = inner.substr(0, close);
    name = trimmed(inner);
    return true;
}

// Splits "key=value"; false for lines without "=".
bool keyAndValue(std::string_view line, std::string_view& key, std::string_view& value)
{
    const auto equals = line.find('=');
    if (equals == std::string_view::npos)
        return false;
    key = trimmed(line.substr(0, equals));
    value = trimmed(line.substr(equals + 1));
    return true;
}

bool isBlank(std::string_view line)
{
    return trimmed(line).empty();
}

// The file's lines; a missing file has none.
FileError loadLines(const std::string& path, std::vector<std::string>& lines)
{
    std::string text;
    const FileError error = readSmallFile(path, text);
    if (error.failed())
        return error.code() == ENOENT ? FileError() : error;
    std::size_t start = 0;
    while (start < text.size()) {
        const auto end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return {};
}

}  // namespace

IniFile::IniFile(std::string path) : path_(std::move(path)) {}

std::string IniFile::readString(std::string_view section, std::string_view key,
                                std::string_view defaultValue, std::size_t bufferSize) const
{
    const auto fitted = [bufferSize](std::string_view text) {
        if (bufferSize == 0)
            return std::string();
        return std::string(text.substr(0, std::min(text.size(), bufferSize - 1)));
    };

    std::vector<std::string> lines;
    if (loadLines(path_, lines).failed())
        return fitted(defaultValue);

    bool inSection = false;
    for (const auto& line : lines) {
        std::string_view name;
        if (sectionName(line, name)) {
            inSection = sameName(name, section);
            continue;
        }
        std::string_view lineKey, value;
        if (!inSection || !keyAndValue(line, lineKey, value) || !sameName(lineKey, key))
            continue;
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'')
            && value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        return fitted(value);
    }
    return fitted(defaultValue);
}

FileError IniFile::problem() const
{
    std::vector<std::string> lines;
    return loadLines(path_, lines);
}

FileError IniFile::writeString(std::string_view section, std::string_view key, std::string_view value)
{
    std::vector<std::string> lines;
    lastWriteError_ = loadLines(path_, lines);
    if (lastWriteError_.failed())
        return lastWriteError_;

    // The new entry as whole lines; a value ending in a newline gives a
    // trailing empty line.
    std::vector<std::string> entry;
    {
        const std::string text = std::string(key) + "=" + std::string(value);
        std::size_t start = 0;
        for (;;) {
            const auto end = text.find('\n', start);
            entry.push_back(text.substr(start, end == std::string::npos ? end : end - start));
            if (end == std::string::npos)
                break;
            start = end + 1;
        }
    }

    std::size_t sectionLine = lines.size();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string_view name;
        if (sectionName(lines[i], name) && sameName(name, section)) {
            sectionLine = i;
            break;
        }
    }

    if (sectionLine == lines.size()) {
        std::string header(1, '[');
        header.append(section).append(1, ']');
        lines.push_back(std::move(header));
        lines.insert(lines.end(), entry.begin(), entry.end());
    } else {
        std::size_t sectionEnd = sectionLine + 1;
        std::size_t lastFilled = sectionLine;
        std::size_t keyLine = lines.size();
        for (; sectionEnd < lines.size(); ++sectionEnd) {
            std::string_view name, lineKey, lineValue;
            if (sectionName(lines[sectionEnd], name))
                break;
            if (!isBlank(lines[sectionEnd]))
                lastFilled = sectionEnd;
            if (keyLine == lines.size() && keyAndValue(lines[sectionEnd], lineKey, lineValue)
                && sameName(lineKey, key))
                keyLine = sectionEnd;
        }
        if (keyLine == lines.size()) {
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(lastFilled + 1), entry.begin(),
                         entry.end());
        } else {
            // The empty lines after the old entry may be what its own value
            // left; keep as many as were there, or as the new value leaves.
            std::size_t blanksAfter = 0;
            while (keyLine + 1 + blanksAfter < sectionEnd && isBlank(lines[keyLine + 1 + blanksAfter]))
                ++blanksAfter;
            std::size_t blanksMade = 0;
            while (blanksMade + 1 < entry.size() && isBlank(entry[entry.size() - 1 - blanksMade]))
                ++blanksMade;
            for (std::size_t extra = blanksMade; extra < blanksAfter; ++extra)
                entry.emplace_back();
            const auto first = lines.begin() + static_cast<std::ptrdiff_t>(keyLine);
            lines.erase(first, first + static_cast<std::ptrdiff_t>(1 + blanksAfter));
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(keyLine), entry.begin(),
                         entry.end());
        }
    }

    std::string text;
    for (const auto& line : lines) {
        text += line;
        text += '\n';
    }
    lastWriteError_ = replaceFile(path_, text);
    return lastWriteError_;
}

}  // namespace tarvi
