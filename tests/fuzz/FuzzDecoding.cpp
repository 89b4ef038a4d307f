// gzip and deflate bodies in any pieces: the output never passes its limit, the same bytes give the
// same result however they are split, and what the server compressed comes back whole.
#include "FuzzSupport.h"

#include "net/ContentDecoder.h"

#include <zlib.h>

using namespace kavo;

namespace {

constexpr std::size_t Limit = 1 << 20;

struct Result
{
    bool Fed = true;
    bool Finished = false;
    std::string Out;
};

Result Decode(ContentEncoding encoding, std::string_view body, std::size_t piece)
{
    Result result;
    ContentDecoder decoder(encoding, Limit);
    for (std::size_t at = 0; at < body.size() && result.Fed; at += piece)
        result.Fed = decoder.Feed(body.substr(at, piece), result.Out);
    result.Finished = result.Fed && decoder.Finish();
    FUZZ_CHECK(result.Out.size() <= Limit);
    FUZZ_CHECK(result.Fed || !decoder.Error().empty());
    return result;
}

std::string Compress(std::string_view text, int windowBits)
{
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, static_cast<uLong>(text.size())) + 32, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view input = fuzz::Text(data, size);
    const unsigned choice = fuzz::TakeByte(input);
    const ContentEncoding encoding = choice & 1 ? ContentEncoding::Deflate : ContentEncoding::Gzip;
    const std::size_t piece = (choice >> 1) + 1;

    // The data as a body: whole or in pieces, the same outcome.
    const Result whole = Decode(encoding, input, input.size() + 1);
    const Result pieces = Decode(encoding, input, piece);
    FUZZ_CHECK(whole.Finished == pieces.Finished);
    if (whole.Finished)
        FUZZ_CHECK(whole.Out == pieces.Out);

    // The data as a text a server compressed: it comes back whole, and cut short it never finishes.
    const int windowBits = encoding == ContentEncoding::Gzip ? 15 + 16 : (choice & 2 ? 15 : -15);
    const std::string body = Compress(input, windowBits);
    const Result back = Decode(encoding, body, piece);
    FUZZ_CHECK(back.Finished && back.Out == input);
    if (body.size() > 1)
        FUZZ_CHECK(!Decode(encoding, std::string_view(body).substr(0, body.size() - 1), piece).Finished);
    return 0;
}
