// A stand-in server process: listens on a loopback port until it is ended. Usage:
// kavo_test_listener PORT-FILE [PORT [GATE-FILE]]. It writes the port (PORT when not 0, else one
// the system picks) to PORT-FILE once it listens; with GATE-FILE, once the port is taken, and it
// listens only when GATE-FILE exists, as a server that needs a while to start.
#include <arpa/inet.h>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

bool WritePort(const std::string& file, int port)
{
    // Written aside and renamed, so that a reader never sees half a number.
    const std::string partial = file + ".part";
    std::FILE* out = std::fopen(partial.c_str(), "w");
    if (!out)
        return false;
    std::fprintf(out, "%d\n", port);
    std::fclose(out);
    return std::rename(partial.c_str(), file.c_str()) == 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    const std::string gate = argc > 3 ? argv[3] : "";
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(argc > 2 ? std::atoi(argv[2]) : 0));
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 1;
    if (!gate.empty()) {
        if (!WritePort(argv[1], ntohs(address.sin_port)))
            return 1;
        // Bounded, so that a test that never opens the gate leaves nothing behind for long.
        for (int i = 0; ::access(gate.c_str(), F_OK) != 0; ++i) {
            if (i == 6000)
                return 1;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    if (::listen(fd, 8) != 0 || (gate.empty() && !WritePort(argv[1], ntohs(address.sin_port))))
        return 1;
    for (;;) {
        const int client = ::accept(fd, nullptr, nullptr);
        if (client >= 0)
            ::close(client);
    }
}
