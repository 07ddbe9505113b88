#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/safe_file.h"

namespace tarvi {

// A private profile (ini) file: "[section]" lines followed by "key=value"
// lines. Section and key names match without regard to case. Reading never
// fails: a missing file, section or key gives the caller's default, and so
// does a file that is refused (see problem()). Writing changes one key's
// value and keeps everything else of the file as it was.
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
    // key. The file is replaced as a whole (see FileReplacement): a failed or
    // killed write leaves the old one as it was. A file refused for reading
    // is not written over.
    FileError writeString(std::string_view section, std::string_view key, std::string_view value);

    // Why the file that is there cannot be read: not a regular file, larger
    // than textFileLimit, or unreadable. No error when it can be read or
    // when there is none.
    FileError problem() const;

    // The outcome of this object's last writeString.
    const FileError& lastWriteError() const { return lastWriteError_; }

private:
    std::string path_;
    FileError lastWriteError_;
};

}  // namespace tarvi
