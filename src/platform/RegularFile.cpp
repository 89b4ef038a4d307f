#include "platform/RegularFile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace kavo {

namespace {

// A temporary file of a replacement older than this, and unlocked, was left by one that never ended.
constexpr auto StaleTemporaryAge = std::chrono::minutes(1);

std::string ParentFolder(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

int ReadRegularFile(const std::string& path, std::size_t maxBytes, std::string& out)
{
    out.clear();
    // Without O_NONBLOCK, opening a FIFO waits for a writer for ever.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return errno;
    const auto fail = [fd](int error) {
        ::close(fd);
        return error;
    };
    struct stat st
    {};
    if (::fstat(fd, &st) != 0)
        return fail(errno);
    if (!S_ISREG(st.st_mode))
        return fail(NotARegularFile);
    if (static_cast<std::uint64_t>(st.st_size) > maxBytes)
        return fail(FileTooLarge);
    // One byte more than the size, so the read that reports the end needs no second resize.
    out.resize(static_cast<std::size_t>(st.st_size) + 1);
    std::size_t got = 0;
    for (;;) {
        if (got == out.size()) {
            // The file grew while we read it.
            if (out.size() > maxBytes)
                return fail(FileTooLarge);
            out.resize(std::min(out.size() * 2, maxBytes + 1));
        }
        const ssize_t r = ::read(fd, out.data() + got, out.size() - got);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            const int error = errno;
            out.clear();
            return fail(error);
        }
        if (r == 0)
            break;
        got += static_cast<std::size_t>(r);
    }
    ::close(fd);
    if (got > maxBytes) {
        out.clear();
        return FileTooLarge;
    }
    out.resize(got);
    return 0;
}

std::string ReadErrorText(int error, std::size_t maxBytes)
{
    if (error == NotARegularFile)
        return "not a regular file";
    if (error == FileTooLarge)
        return maxBytes >= (std::size_t{1} << 20) ? "larger than " + std::to_string(maxBytes >> 20) + " MiB"
                                                  : "larger than " + std::to_string(maxBytes) + " bytes";
    return std::generic_category().message(error);
}

void RemoveStaleReplacements(const std::string& path)
{
    const std::string folder = ParentFolder(path);
    const std::size_t slash = path.rfind('/');
    const std::string prefix = "." + (slash == std::string::npos ? path : path.substr(slash + 1)) + ".";
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return;
    const auto now = std::chrono::system_clock::now();
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        // mkostemp's six characters after our prefix, nothing else.
        if (name.size() != prefix.size() + 6 || !name.starts_with(prefix) ||
            !std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                         [](char c) { return std::isalnum(static_cast<unsigned char>(c)); }))
            continue;
        const std::string file = folder + "/" + std::string(name);
        const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0)
            continue;
        struct stat st
        {};
        // A save in progress holds its lock; a young file may belong to one that has not taken
        // it yet.
        const bool stale = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
                           now - std::chrono::system_clock::from_time_t(st.st_mtime) > StaleTemporaryAge &&
                           ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        if (stale)
            ::unlink(file.c_str());
        ::close(fd);
    }
    ::closedir(dir);
}

int ReplaceRegularFile(const std::string& path, std::string_view data)
{
    // Replace the file a link points to, not the link.
    std::string target = path;
    struct stat st
    {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            target = real;
            std::free(real);
        }
    }
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists) {
        if (!S_ISREG(st.st_mode))
            return EISDIR;
        // A read-only file is refused, as on Windows, although rename could replace it.
        if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)
            return errno;
    }

    const std::string folder = ParentFolder(target);
    const std::size_t slash = target.rfind('/');
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    RemoveStaleReplacements(target);
    std::string temporary = folder + "/." + name + ".XXXXXX";
    int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return errno;
    // Tells RemoveStaleReplacements of another process that this file is still being written.
    ::flock(fd, LOCK_EX | LOCK_NB);

    const auto fail = [&](int error) {
        if (fd >= 0)
            ::close(fd);
        ::unlink(temporary.c_str());
        return error;
    };

    std::size_t written = 0;
    while (written < data.size()) {
        const ssize_t r = ::write(fd, data.data() + written, data.size() - written);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return fail(errno);
        }
        written += static_cast<std::size_t>(r);
    }
    if (exists) {
        ::fchmod(fd, st.st_mode & 07777);
        if (::fchown(fd, st.st_uid, st.st_gid) != 0) {
            // Only root can give the file away; the user's own file keeps its owner anyway.
        }
    } else {
        ::fchmod(fd, 0644);
    }
    if (::fsync(fd) != 0)
        return fail(errno);
    const int closed = ::close(fd);
    fd = -1;
    if (closed != 0)
        return fail(errno);
    if (::rename(temporary.c_str(), target.c_str()) != 0)
        return fail(errno);
    // The rename itself reaches the disk only with its folder.
    const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd >= 0) {
        ::fsync(folderFd);
        ::close(folderFd);
    }
    return 0;
}

} // namespace kavo
