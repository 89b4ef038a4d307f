#include "script/ScriptFrames.h"

#include <cerrno>
#include <charconv>
#include <sys/socket.h>
#include <unistd.h>

namespace kavo::script_frames {

namespace {

void PutLength(std::string& out, std::size_t length)
{
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((length >> (8 * i)) & 0xFF);
}

std::size_t GetLength(std::string_view bytes)
{
    std::size_t length = 0;
    for (int i = 3; i >= 0; --i)
        length = (length << 8) | static_cast<unsigned char>(bytes[static_cast<std::size_t>(i)]);
    return length;
}

bool WriteAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        // MSG_NOSIGNAL: a process that is gone is an answer, not a SIGPIPE for kavo.
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool ReadAll(int fd, char* out, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::read(fd, out, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        out += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

Writer& Writer::Add(std::string_view field)
{
    PutLength(m_bytes, field.size());
    m_bytes.append(field);
    return *this;
}

bool Reader::Next(std::string& field)
{
    if (m_rest.size() < 4)
        return false;
    const std::size_t length = GetLength(m_rest);
    if (length > m_rest.size() - 4)
        return false;
    field.assign(m_rest.substr(4, length));
    m_rest.remove_prefix(4 + length);
    return true;
}

bool Reader::Next(std::uint64_t& number)
{
    std::string text;
    if (!Next(text))
        return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    return error == std::errc() && end == text.data() + text.size();
}

bool Reader::Next(bool& flag)
{
    std::string text;
    if (!Next(text) || (text != "0" && text != "1"))
        return false;
    flag = text == "1";
    return true;
}

bool Send(int fd, char type, std::string_view payload)
{
    if (payload.size() > MaxPayload)
        return false;
    std::string head(1, type);
    PutLength(head, payload.size());
    return WriteAll(fd, head) && WriteAll(fd, payload);
}

bool Receive(int fd, char& type, std::string& payload)
{
    char head[5];
    if (!ReadAll(fd, head, sizeof head))
        return false;
    const std::size_t length = GetLength(std::string_view(head + 1, 4));
    if (length > MaxPayload)
        return false;
    type = head[0];
    payload.resize(length);
    return ReadAll(fd, payload.data(), length);
}

int TakeFrame(std::string& buffer, char& type, std::string& payload)
{
    if (buffer.size() < 5)
        return 0;
    const std::size_t length = GetLength(std::string_view(buffer).substr(1, 4));
    if (length > MaxPayload)
        return -1;
    if (buffer.size() - 5 < length)
        return 0;
    type = buffer[0];
    payload.assign(buffer, 5, length);
    buffer.erase(0, 5 + length);
    return 1;
}

} // namespace kavo::script_frames
