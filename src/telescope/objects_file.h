#pragma once

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/safe_file.h"

namespace tarvi {

inline constexpr std::string_view objectsFileName = "objects.txt";
inline constexpr std::string_view objectsFileMissingMessage = "Cannot open objects.txt.";
inline constexpr std::string_view objectsFileMissingCaption = "Problem";

struct ObjectListColumn {
    std::string_view heading;
    int widthPixels;
};
inline constexpr std::array<ObjectListColumn, 6> objectListColumns{{
    {"Object Name", 100},
    {"R.A.", 75},
    {"Dec.", 75},
    {"Mag.", 50},
    {"Size(')", 50},
    {"Other Data", 300},
}};

// One line of the user's object list. Only name, R.A. and Dec. are used;
// the others are shown.
struct ObjectRow {
    std::string name;
    std::string ra;
    std::string dec;
    std::string magnitude;
    std::string size;
    std::string otherData;  // the rest of the line, blanks inside it kept

    bool operator==(const ObjectRow&) const = default;
};

// One line without its line end: five words separated by runs of blanks or
// tabs (leading ones skipped), then everything after the blanks that follow
// the fifth word. Missing fields are empty; a carriage return ends the line.
ObjectRow splitObjectLine(std::string_view line);

// Every line a row, a blank line an empty one, of any length. Lines end in
// a line feed, a carriage return and line feed, or a lone carriage return;
// a last line without an end is a row too, and an empty text has none.
std::vector<ObjectRow> readObjectRows(std::string_view text);

// The rows of the file; nothing when it cannot be read or is refused (not a
// regular file, larger than textFileLimit), and then why in *error.
std::optional<std::vector<ObjectRow>> readObjectsFile(const std::filesystem::path& path, FileError* error = nullptr);

// The box for a list that could not be read: objectsFileMissingMessage, and
// on a line of its own why, unless the file is simply not there.
std::string objectsFileMessage(const FileError& error);

// What the list hands to the objects page: "%-25s %-8s %-9s" of name, R.A.
// and Dec.; longer values are not cut.
std::string objectSelection(const ObjectRow& row);

}  // namespace tarvi
