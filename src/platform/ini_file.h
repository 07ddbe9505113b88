#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/sys_error.h"

namespace tarvi {

// A private profile (ini) file: "[section]" lines followed by "key=value"
// lines. Section and key names match without regard to case. Reading never
// fails: a missing file, section or key gives the caller's default. Writing
// changes one key's value and keeps everything else of the file as it was.
class IniFile {
public:
    explicit IniFile(std::string path);

    const std::string& path() const { return path_; }

    // The value with blanks around it removed (and one pair of enclosing
    // quotes), cut to bufferSize - 1 characters as a fixed buffer of
    // bufferSize characters would hold it.
    std::string readString(std::string_view section, std::string_view key,
                           std::string_view defaultValue, std::size_t bufferSize = 256) const;

    // Writes "key=value" followed by a line end; the value goes out exactly as
    // given, so a value that ends in a newline leaves an empty line after the
    // key. The file is written to a temporary file in the same directory and
    // renamed over the old one, so a crash never leaves half a file behind.
    SysError writeString(std::string_view section, std::string_view key, std::string_view value);

private:
    std::string path_;
};

}  // namespace tarvi
