#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kavo {

// The messages between kavo and the process that runs a script, over one stream socket: a type
// byte, a 4-byte little-endian length, then the payload. Payloads are sequences of fields, each a
// 4-byte length and its bytes.
namespace script_frames {

// kavo to the script's process.
constexpr char RetrievalJob = 'Y'; // a YP's retrieval script
constexpr char EventJob = 'V';     // a start-up or exit script
constexpr char FetchReply = 'h';   // answer to FetchRequest: "1" and the body, or "0" and the error
// The script's process to kavo.
constexpr char FetchRequest = 'H'; // http.get: the URL
constexpr char Result = 'R';       // the end of the run: "1" or "0", then the text

// Larger frames end the conversation: room for the longest output a script may leave, and more.
constexpr std::size_t MaxPayload = std::size_t{48} << 20;

class Writer
{
public:
    Writer& Add(std::string_view field);
    Writer& Add(std::uint64_t number) { return Add(std::to_string(number)); }
    Writer& Add(bool flag) { return Add(std::string_view(flag ? "1" : "0")); }
    const std::string& Bytes() const { return m_bytes; }

private:
    std::string m_bytes;
};

class Reader
{
public:
    explicit Reader(std::string_view payload) : m_rest(payload) {}
    // False once the payload is used up or malformed.
    bool Next(std::string& field);
    bool Next(std::uint64_t& number);
    bool Next(bool& flag);

private:
    std::string_view m_rest;
};

// Writes a whole frame; false when the other side is gone.
bool Send(int fd, char type, std::string_view payload);
// Reads a whole frame, blocking; false at the end of the stream or on a malformed frame.
bool Receive(int fd, char& type, std::string& payload);

// Takes the first complete frame off the front of bytes received so far. Returns 1 with a frame,
// 0 when more bytes are needed, -1 for a frame that cannot be valid.
int TakeFrame(std::string& buffer, char& type, std::string& payload);

} // namespace script_frames
} // namespace kavo
