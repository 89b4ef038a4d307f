#include "platform/RegularFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace kavo {

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

} // namespace kavo
