#pragma once

#include "support/TempFolder.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <grp.h>
#include <iterator>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kavo::test {

inline std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

inline const char* const NoPrivilegeDrop = "<cannot drop privileges>";

// Runs fn where file modes are obeyed: directly, or as root in a child that became "nobody"
// (root passes every permission check). Returns fn's result, or NoPrivilegeDrop.
inline std::string RunUnprivileged(const std::function<std::string()>& fn)
{
    if (::geteuid() != 0)
        return fn();
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return NoPrivilegeDrop;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        std::string result = NoPrivilegeDrop;
        if (::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0)
            result = fn();
        const char* p = result.data();
        std::size_t left = result.size();
        while (left > 0) {
            const ssize_t n = ::write(pipeFds[1], p, left);
            if (n <= 0)
                break;
            p += n;
            left -= static_cast<std::size_t>(n);
        }
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    std::string result;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0)
        result.append(buffer, static_cast<std::size_t>(n));
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return result;
}

} // namespace kavo::test
