#include "telescope/objects_file.h"

#include <cerrno>

namespace tarvi {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string padded(std::string_view text, std::size_t width)
{
    std::string out(text);
    if (out.size() < width)
        out.append(width - out.size(), ' ');
    return out;
}

}  // namespace

ObjectRow splitObjectLine(std::string_view line)
{
    line = line.substr(0, line.find_first_of("\r\n"));
    ObjectRow row;
    std::string* const words[] = {&row.name, &row.ra, &row.dec, &row.magnitude, &row.size};
    std::size_t i = 0;
    for (std::string* word : words) {
        while (i < line.size() && isBlank(line[i]))
            ++i;
        if (i == line.size())
            return row;
        const std::size_t start = i;
        while (i < line.size() && !isBlank(line[i]))
            ++i;
        word->assign(line.substr(start, i - start));
    }
    while (i < line.size() && isBlank(line[i]))
        ++i;
    row.otherData.assign(line.substr(i));
    return row;
}

std::vector<ObjectRow> readObjectRows(std::string_view text)
{
    std::vector<ObjectRow> rows;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            rows.push_back(splitObjectLine(text.substr(start)));
            break;
        }
        rows.push_back(splitObjectLine(text.substr(start, end - start)));
        start = end + 1;
        if (text[end] == '\r' && start < text.size() && text[start] == '\n')
            ++start;
    }
    return rows;
}

std::optional<std::vector<ObjectRow>> readObjectsFile(const std::filesystem::path& path, FileError* error)
{
    std::string text;
    const FileError read = readSmallFile(path.string(), text);
    if (error != nullptr)
        *error = read;
    if (read.failed())
        return std::nullopt;
    return readObjectRows(text);
}

std::string objectsFileMessage(const FileError& error)
{
    if (!error.failed() || error.code() == ENOENT)
        return std::string(objectsFileMissingMessage);
    return std::string(objectsFileMissingMessage) + "\n" + error.text();
}

std::string objectSelection(const ObjectRow& row)
{
    return padded(row.name, 25) + " " + padded(row.ra, 8) + " " + padded(row.dec, 9);
}

}  // namespace tarvi
