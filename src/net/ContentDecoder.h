#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace kavo {

enum class ContentEncoding {
    Identity,
    Gzip,
    Deflate, // the zlib format, or raw deflate data as some servers send it
    Unknown,
};

// The encoding a Content-Encoding header value names ("" and "identity": none).
ContentEncoding ContentEncodingOf(std::string_view headerValue);

// Decodes an HTTP body piece by piece into at most maxBytes bytes. A compressed stream must reach
// its end: an answer cut off inside it is not a shorter index but a broken one.
class ContentDecoder
{
public:
    ContentDecoder(ContentEncoding encoding, std::size_t maxBytes);
    ~ContentDecoder();
    ContentDecoder(const ContentDecoder&) = delete;
    ContentDecoder& operator=(const ContentDecoder&) = delete;

    // Appends what data decodes to. False when the data is broken or the output would pass
    // maxBytes (TooLarge()); Error() then says why, and every later call fails as well.
    bool Feed(std::string_view data, std::string& out);
    // Whether the body may end here: true for identity and for a compressed stream that reached
    // its end (or never began); otherwise false with Error() set.
    bool Finish();

    bool TooLarge() const { return m_tooLarge; }
    const std::string& Error() const { return m_error; }

private:
    struct Stream;
    bool fail(std::string message);
    bool inflateInto(std::string_view data, std::string& out);

    ContentEncoding m_encoding;
    std::size_t m_maxBytes;
    std::unique_ptr<Stream> m_stream;
    std::string m_head; // the first bytes of a deflate body, until its form is known
    bool m_begun = false;
    bool m_ended = false;
    bool m_failed = false;
    bool m_tooLarge = false;
    std::string m_error;
};

} // namespace kavo
