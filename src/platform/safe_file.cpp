#include "platform/safe_file.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#include <vector>

#include "platform/sys_error.h"

namespace tarvi {

namespace {

constexpr std::string_view temporaryPrefix = ".tarvi-write.";

std::string randomSuffix()
{
    constexpr std::string_view letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    unsigned char bytes[10] = {};
    if (::getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
        // Unique enough among our own writers; a clash is tried again anyway.
        timespec now {};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        const auto mixed = static_cast<unsigned long long>(::getpid()) * 1000003ull +
                           static_cast<unsigned long long>(now.tv_nsec);
        for (std::size_t i = 0; i < sizeof bytes; ++i)
            bytes[i] = static_cast<unsigned char>(mixed >> (6 * i));
    }
    std::string out;
    for (unsigned char byte : bytes)
        out.push_back(letters[byte % letters.size()]);
    return out;
}

std::string inDirectory(const std::string& directory, std::string_view name)
{
    return directory + (directory.back() == '/' ? "" : "/") + std::string(name);
}

// The file a chain of symbolic links ends in; a dangling link gives the name
// it points to, which the write then creates.
FileError followLinks(std::string& path)
{
    for (int hops = 0; hops < 40; ++hops) {
        struct stat status {};
        if (::lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode))
            return {};
        std::vector<char> buffer(PATH_MAX);
        const ssize_t length = ::readlink(path.c_str(), buffer.data(), buffer.size());
        if (length < 0)
            return FileError::fromErrno();
        std::string target(buffer.data(), static_cast<std::size_t>(length));
        const auto slash = path.rfind('/');
        if (!target.empty() && target.front() != '/' && slash != std::string::npos)
            target = path.substr(0, slash + 1) + target;
        path = std::move(target);
    }
    return FileError::system(ELOOP);
}

std::string directoryOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

void syncDirectory(const std::string& directory)
{
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

// A writer holds its temporary locked until it is renamed or removed, so an
// unlocked one belongs to a writer that died. The name is checked to still be
// the file locked: its writer may have just removed it.
void removeWriteLeftovers(const std::string& directory)
{
    DIR* dir = ::opendir(directory.c_str());
    if (dir == nullptr)
        return;
    const int dirFd = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        if (std::string_view(entry->d_name).substr(0, temporaryPrefix.size()) != temporaryPrefix)
            continue;
        const int fd = ::openat(dirFd, entry->d_name, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat opened {}, named {};
        if (::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            ::fstatat(dirFd, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_dev == opened.st_dev &&
            named.st_ino == opened.st_ino)
            ::unlinkat(dirFd, entry->d_name, 0);
        ::close(fd);
    }
    ::closedir(dir);
}

FileError FileError::system(int code)
{
    FileError error;
    error.kind_ = code != 0 ? Kind::system : Kind::none;
    error.code_ = code;
    return error;
}

FileError FileError::fromErrno()
{
    return system(SysError::fromErrno().code());
}

FileError FileError::notRegular(mode_t mode)
{
    if (S_ISDIR(mode))
        return system(EISDIR);
    FileError error;
    error.kind_ = Kind::notRegular;
    error.detail_ = mode;
    return error;
}

FileError FileError::tooLarge(std::uint64_t limit)
{
    FileError error;
    error.kind_ = Kind::tooLarge;
    error.detail_ = limit;
    return error;
}

std::string FileError::text() const
{
    switch (kind_) {
    case Kind::none: return SysError().text();
    case Kind::system: return SysError(code_).text();
    case Kind::notRegular: {
        const auto mode = static_cast<mode_t>(detail_);
        const char* what = S_ISFIFO(mode) ? "a named pipe"
                           : S_ISCHR(mode) || S_ISBLK(mode) ? "a device"
                           : S_ISSOCK(mode) ? "a socket"
                                            : "something else";
        return std::string("Is ") + what + ", not a regular file";
    }
    case Kind::tooLarge:
        if (detail_ % (std::uint64_t{1} << 20) == 0)
            return "Larger than " + std::to_string(detail_ >> 20) + " MiB";
        return "Larger than " + std::to_string(detail_) + " bytes";
    }
    return {};
}

std::string openFailureText(const std::string& path, const FileError& error)
{
    return "Cannot open file " + path + ":\n" + error.text();
}

std::string createFailureText(const std::string& path, const FileError& error)
{
    return "Cannot open file " + path + " for writing:\n" + error.text();
}

std::string writeFailureText(const std::string& path, const FileError& error)
{
    return "Cannot write file " + path + ":\n" + error.text();
}

FileHandle::~FileHandle()
{
    if (fd_ >= 0)
        ::close(fd_);
}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept
{
    std::swap(fd_, other.fd_);
    return *this;
}

FileError openRegularFile(const std::string& path, FileHandle& file)
{
    // Looked at before opening: opening a serial device raises its modem
    // lines, and a fifo would wait for a writer.
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0)
        return FileError::fromErrno();
    if (!S_ISREG(status.st_mode))
        return FileError::notRegular(status.st_mode);
    // The name may be a fifo by now; O_NONBLOCK keeps the open from waiting
    // and fstat tells what was opened.
    FileHandle opened(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (opened.get() < 0)
        return FileError::fromErrno();
    if (::fstat(opened.get(), &status) != 0)
        return FileError::fromErrno();
    if (!S_ISREG(status.st_mode))
        return FileError::notRegular(status.st_mode);
    const int flags = ::fcntl(opened.get(), F_GETFL);
    if (flags != -1)
        ::fcntl(opened.get(), F_SETFL, flags & ~O_NONBLOCK);
    file = std::move(opened);
    return {};
}

FileError readSmallFile(const std::string& path, std::string& content, std::uint64_t limit)
{
    FileHandle file;
    if (const FileError error = openRegularFile(path, file); error.failed())
        return error;
    struct stat status {};
    if (::fstat(file.get(), &status) != 0)
        return FileError::fromErrno();
    if (static_cast<std::uint64_t>(status.st_size) > limit)
        return FileError::tooLarge(limit);
    // One byte more than allowed tells a file that grew since.
    std::string text(static_cast<std::size_t>(limit) + 1, '\0');
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::read(file.get(), text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return FileError::fromErrno();
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    if (done > limit)
        return FileError::tooLarge(limit);
    text.resize(done);
    content = std::move(text);
    return {};
}

FileError writeAll(int fd, std::initializer_list<std::span<const std::uint8_t>> parts)
{
    std::vector<iovec> pending;
    for (const std::span<const std::uint8_t>& part : parts) {
        if (!part.empty())
            pending.push_back({const_cast<std::uint8_t*>(part.data()), part.size()});
    }
    std::size_t first = 0;
    while (first < pending.size()) {
        const int count = static_cast<int>(std::min<std::size_t>(pending.size() - first, IOV_MAX));
        ssize_t n = ::writev(fd, pending.data() + first, count);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return FileError::fromErrno();
        if (n == 0)
            return FileError::system(EIO);
        while (first < pending.size() && static_cast<std::size_t>(n) >= pending[first].iov_len) {
            n -= static_cast<ssize_t>(pending[first].iov_len);
            ++first;
        }
        if (first < pending.size()) {
            pending[first].iov_base = static_cast<std::uint8_t*>(pending[first].iov_base) + n;
            pending[first].iov_len -= static_cast<std::size_t>(n);
        }
    }
    return {};
}

FileReplacement::FileReplacement(std::string path, Temporary temporary)
    : path_(std::move(path)), temporary_(temporary)
{
}

FileReplacement::~FileReplacement()
{
    if (!temporaryName_.empty())
        ::unlink(temporaryName_.c_str());
    if (fd_ >= 0)
        ::close(fd_);
}

FileError FileReplacement::begin()
{
    if (path_.empty())
        return FileError::system(ENOENT);
    target_ = path_;
    if (const FileError error = followLinks(target_); error.failed())
        return error;
    directory_ = directoryOf(target_);

    struct stat old {};
    const bool exists = ::stat(target_.c_str(), &old) == 0;
    if (!exists && errno != ENOENT)
        return FileError::fromErrno();
    if (exists) {
        if (!S_ISREG(old.st_mode))
            return FileError::notRegular(old.st_mode);
        // A file marked read-only stays as it is, even for root, who could
        // otherwise write anything.
        if ((old.st_mode & 0222) == 0)
            return FileError::system(EACCES);
        if (::faccessat(AT_FDCWD, target_.c_str(), W_OK, AT_EACCESS) != 0)
            return FileError::fromErrno();
    }

    removeWriteLeftovers(directory_);
    FileError error = makeTemporary(temporary_ == Temporary::named);
    if (error.failed() && temporary_ == Temporary::unnamedWhereSupported &&
        (error.code() == EOPNOTSUPP || error.code() == EISDIR || error.code() == EINVAL))
        error = makeTemporary(true);
    if (error.failed())
        return error;

    if (exists) {
        // Only root may give a file away; a member of the group may keep it.
        if (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) {
            if (::fchown(fd_, old.st_uid, old.st_gid) != 0)
                (void)::fchown(fd_, static_cast<uid_t>(-1), old.st_gid);
        }
        if (::fchmod(fd_, old.st_mode & 07777) != 0)
            return FileError::fromErrno();
    }
    return {};
}

FileError FileReplacement::makeTemporary(bool named)
{
    if (!named) {
        fd_ = ::open(directory_.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (fd_ < 0)
            return FileError::fromErrno();
        // Locked from the start: once linked in, it has a name that another
        // writer's clean-up must leave alone.
        ::flock(fd_, LOCK_EX);
        return {};
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = inDirectory(directory_, std::string(temporaryPrefix) + randomSuffix());
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return FileError::fromErrno();
        }
        // Another writer's clean-up may have taken it before the lock.
        struct stat opened {}, current {};
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &opened) == 0 &&
            ::lstat(name.c_str(), &current) == 0 && opened.st_ino == current.st_ino &&
            opened.st_dev == current.st_dev) {
            fd_ = fd;
            temporaryName_ = name;
            return {};
        }
        ::close(fd);
    }
    return FileError::system(EEXIST);
}

FileError FileReplacement::linkUnnamed()
{
    const std::string procPath = "/proc/self/fd/" + std::to_string(fd_);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = inDirectory(directory_, std::string(temporaryPrefix) + randomSuffix());
        // Without /proc only a privileged process can link a descriptor.
        if (::linkat(AT_FDCWD, procPath.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0 ||
            (errno == ENOENT && ::linkat(fd_, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0)) {
            temporaryName_ = name;
            return {};
        }
        if (errno != EEXIST)
            return FileError::fromErrno();
    }
    return FileError::system(EEXIST);
}

FileError FileReplacement::commit()
{
    if (fd_ < 0)
        return FileError::system(EBADF);
    if (::fsync(fd_) != 0)
        return FileError::fromErrno();
    // A new file can take its name at once; an old one can only be replaced
    // by a rename, which needs the new one to have a name of its own first.
    if (temporaryName_.empty()) {
        const std::string procPath = "/proc/self/fd/" + std::to_string(fd_);
        if (::linkat(AT_FDCWD, procPath.c_str(), AT_FDCWD, target_.c_str(), AT_SYMLINK_FOLLOW) != 0) {
            if (errno != EEXIST && errno != ENOENT)
                return FileError::fromErrno();
            if (const FileError error = linkUnnamed(); error.failed())
                return error;
        }
    }
    if (!temporaryName_.empty()) {
        if (::rename(temporaryName_.c_str(), target_.c_str()) != 0)
            return FileError::fromErrno();
        temporaryName_.clear();
    }
    syncDirectory(directory_);
    ::close(fd_);
    fd_ = -1;
    return {};
}

FileError replaceFile(const std::string& path, std::string_view content)
{
    FileReplacement file(path);
    if (const FileError error = file.begin(); error.failed())
        return error;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(content.data());
    if (const FileError error = writeAll(file.fd(), {std::span(bytes, content.size())}); error.failed())
        return error;
    return file.commit();
}

}  // namespace tarvi
