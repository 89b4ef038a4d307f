#include "net/ContentDecoder.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>

namespace kavo {

namespace {

std::string_view TrimBlanks(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n'))
        text.remove_suffix(1);
    return text;
}

bool SameText(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// The two bytes that open a zlib stream: deflate method, and a check over both.
bool IsZlibHeader(unsigned char cmf, unsigned char flg)
{
    return (cmf & 0x0F) == 8 && (cmf >> 4) <= 7 && ((cmf << 8) | flg) % 31 == 0;
}

} // namespace

ContentEncoding ContentEncodingOf(std::string_view headerValue)
{
    const std::string_view value = TrimBlanks(headerValue);
    if (value.empty() || SameText(value, "identity"))
        return ContentEncoding::Identity;
    if (SameText(value, "gzip") || SameText(value, "x-gzip"))
        return ContentEncoding::Gzip;
    if (SameText(value, "deflate"))
        return ContentEncoding::Deflate;
    return ContentEncoding::Unknown;
}

struct ContentDecoder::Stream
{
    z_stream Z{};
    bool Open = false;
    ~Stream()
    {
        if (Open)
            inflateEnd(&Z);
    }
};

ContentDecoder::ContentDecoder(ContentEncoding encoding, std::size_t maxBytes)
    : m_encoding(encoding), m_maxBytes(maxBytes)
{}

ContentDecoder::~ContentDecoder() = default;

bool ContentDecoder::fail(std::string message)
{
    m_failed = true;
    if (m_error.empty())
        m_error = std::move(message);
    return false;
}

bool ContentDecoder::Feed(std::string_view data, std::string& out)
{
    if (m_failed)
        return false;
    if (data.empty())
        return true;
    switch (m_encoding) {
    case ContentEncoding::Identity:
        if (data.size() > m_maxBytes - std::min(m_maxBytes, out.size())) {
            m_tooLarge = true;
            return fail("the answer is too large");
        }
        out.append(data);
        return true;
    case ContentEncoding::Unknown:
        return fail("the answer has a content encoding that cannot be decoded");
    case ContentEncoding::Gzip:
    case ContentEncoding::Deflate:
        break;
    }
    m_begun = true;
    if (m_ended) // what follows a finished stream is not part of the body
        return true;
    if (!m_stream) {
        int windowBits = 15 + 16;
        if (m_encoding == ContentEncoding::Deflate) {
            // The zlib form if it starts like one, otherwise raw deflate data.
            const std::size_t take = std::min(data.size(), 2 - m_head.size());
            m_head.append(data.substr(0, take));
            data.remove_prefix(take);
            if (m_head.size() < 2)
                return true;
            const bool zlib =
                IsZlibHeader(static_cast<unsigned char>(m_head[0]), static_cast<unsigned char>(m_head[1]));
            windowBits = zlib ? 15 : -15;
        }
        m_stream = std::make_unique<Stream>();
        if (inflateInit2(&m_stream->Z, windowBits) != Z_OK)
            return fail("the decompressor could not be started");
        m_stream->Open = true;
        if (!m_head.empty()) {
            const std::string head = std::move(m_head);
            m_head.clear();
            if (!inflateInto(head, out))
                return false;
        }
    }
    return inflateInto(data, out);
}

bool ContentDecoder::inflateInto(std::string_view data, std::string& out)
{
    z_stream& z = m_stream->Z;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    // Until the input is used up and zlib holds no more output for us.
    while (true) {
        char buffer[16384];
        z.next_out = reinterpret_cast<Bytef*>(buffer);
        z.avail_out = sizeof buffer;
        const int rc = inflate(&z, Z_NO_FLUSH);
        const std::size_t produced = sizeof buffer - z.avail_out;
        if (produced > m_maxBytes - std::min(m_maxBytes, out.size())) {
            m_tooLarge = true;
            return fail("the answer is too large");
        }
        out.append(buffer, produced);
        if (rc == Z_STREAM_END) {
            m_ended = true;
            return true;
        }
        if (rc == Z_BUF_ERROR && z.avail_in == 0)
            return true; // everything so far is out; the stream goes on in the next piece
        if (rc != Z_OK)
            return fail(std::string("the compressed answer is broken: ") + (z.msg ? z.msg : "no progress"));
        if (z.avail_in == 0 && z.avail_out != 0)
            return true;
    }
}

bool ContentDecoder::Finish()
{
    if (m_failed)
        return false;
    if (m_encoding == ContentEncoding::Identity || !m_begun || m_ended)
        return true;
    return fail("the compressed answer ends before its end: it was cut off");
}

} // namespace kavo
