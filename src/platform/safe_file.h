#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace tarvi {

// Settings files and the object list are a few lines each: a larger file is
// not one of them (a device, a runaway log) and is refused, not read into
// memory.
inline constexpr std::uint64_t textFileLimit = std::uint64_t{1} << 20;

// Why a file could not be read or written: what the system said, or a file
// that is there but is refused for what it is.
class FileError {
public:
    FileError() = default;
    static FileError system(int code);
    static FileError fromErrno();
    // A fifo, device or socket; the mode says which. A directory is the
    // system's EISDIR.
    static FileError notRegular(mode_t mode);
    static FileError tooLarge(std::uint64_t limit);

    bool failed() const { return kind_ != Kind::none; }
    // The errno of a system error; 0 for a refusal.
    int code() const { return code_; }
    // One line in the system's manner, "No space left on device".
    std::string text() const;

private:
    enum class Kind { none, system, notRegular, tooLarge };
    Kind kind_ = Kind::none;
    int code_ = 0;
    std::uint64_t detail_ = 0;  // the mode, or the limit
};

// "Cannot open file <path>:\n<reason>"
std::string openFailureText(const std::string& path, const FileError& error);
// "Cannot open file <path> for writing:\n<reason>"
std::string createFailureText(const std::string& path, const FileError& error);
// "Cannot write file <path>:\n<reason>"
std::string writeFailureText(const std::string& path, const FileError& error);

class FileHandle {
public:
    FileHandle() = default;
    explicit FileHandle(int fd) : fd_(fd) {}
    ~FileHandle();
    FileHandle(FileHandle&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    FileHandle& operator=(FileHandle&& other) noexcept;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    int get() const { return fd_; }

private:
    int fd_ = -1;
};

// Opens an existing regular file for reading. A fifo, device, socket or
// directory is refused without being opened in a way that could block or
// wake a device.
FileError openRegularFile(const std::string& path, FileHandle& file);

// The whole of a regular file of at most limit bytes.
FileError readSmallFile(const std::string& path, std::string& content, std::uint64_t limit = textFileLimit);

// Writes the parts one after another in as few calls as the system allows.
FileError writeAll(int fd, std::initializer_list<std::span<const std::uint8_t>> parts);

// Replaces a file as a whole. The new content goes into a temporary file in
// the target's directory, which takes the target's name only once it is
// complete and on disk; until then, and whenever anything fails or the
// process is killed, the old file stays exactly as it was. A symbolic link
// is followed, and the file it points to is replaced. The replacement keeps
// the old file's mode and, where the system allows, its owner.
//
// The temporary has no name where the file system allows (O_TMPFILE), so a
// killed write leaves nothing. Elsewhere it is a hidden ".tarvi-write.*"
// file that its writer holds locked; every write into a directory removes
// the ones whose writer is gone.
//
// Refused before anything is created: an existing target that is not a
// regular file, and one that is read-only (no write permission bit at all,
// or none for this user).
class FileReplacement {
public:
    // named is what a file system without O_TMPFILE gets anyway; tests ask
    // for it to reach that path on any file system.
    enum class Temporary { unnamedWhereSupported, named };

    explicit FileReplacement(std::string path, Temporary temporary = Temporary::unnamedWhereSupported);
    ~FileReplacement();
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    // Makes the temporary file; write the content to fd().
    FileError begin();
    int fd() const { return fd_; }
    // Puts the temporary in the target's place. Without it the temporary
    // goes when the object does.
    FileError commit();

private:
    FileError makeTemporary(bool named);
    FileError linkUnnamed();

    std::string path_;
    Temporary temporary_;
    std::string target_;
    std::string directory_;
    std::string temporaryName_;  // set while a named temporary exists
    int fd_ = -1;
};

// Removes the named temporaries in the directory whose writer is gone (killed
// on a file system without unnamed temporaries).
void removeWriteLeftovers(const std::string& directory);

// The whole content at once, through a FileReplacement.
FileError replaceFile(const std::string& path, std::string_view content);

}  // namespace tarvi
