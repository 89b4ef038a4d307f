#include "platform/Cp932.h"

#include "platform/Utf8.h"

#include <algorithm>
#include <bitset>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iconv.h>
#include <stdexcept>

namespace kavo {

namespace {

// One converter per direction and thread: iconv descriptors keep shift state and are not
// thread-safe, and opening one costs far more than a short conversion.
class Converter
{
public:
    Converter(const char* to, const char* from) : m_cd(iconv_open(to, from))
    {
        if (m_cd == reinterpret_cast<iconv_t>(-1)) // NOLINT(performance-no-int-to-ptr): iconv_open's failure value
            throw std::runtime_error(std::string("iconv cannot convert ") + from + " to " + to);
    }
    ~Converter() { iconv_close(m_cd); }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Converts all of input; on a sequence iconv refuses, appends `replacement` and skips
    // skipLength(rest) bytes of the input. The buffer only ever grows by doubling, so a text made
    // of nothing but invalid bytes still costs time in proportion to its length.
    template <class Skip>
    std::string Convert(std::string_view input, std::string_view replacement, Skip skipLength)
    {
        std::string out;
        out.resize(input.size() + input.size() / 2 + 16);
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        char* in = const_cast<char*>(input.data());
        std::size_t inLeft = input.size();
        std::size_t used = 0;
        while (inLeft > 0) {
            char* dst = out.data() + used;
            std::size_t dstLeft = out.size() - used;
            const std::size_t rc = iconv(m_cd, &in, &inLeft, &dst, &dstLeft);
            used = out.size() - dstLeft;
            if (rc != static_cast<std::size_t>(-1))
                break;
            if (errno == E2BIG) {
                out.resize(out.size() * 2 + 16);
                continue;
            }
            // EILSEQ, or EINVAL for a sequence cut off at the end.
            if (out.size() - used < replacement.size())
                out.resize(out.size() * 2 + replacement.size());
            std::memcpy(out.data() + used, replacement.data(), replacement.size());
            used += replacement.size();
            const std::size_t skip = std::min(inLeft, skipLength(std::string_view(in, inLeft)));
            in += skip;
            inLeft -= skip;
            iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        }
        out.resize(used);
        return out;
    }

private:
    iconv_t m_cd;
};

bool IsAscii(std::string_view text)
{
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

// Length of the UTF-8 sequence that starts the text, as far as it is well formed (at least 1).
std::size_t Utf8SequenceLength(std::string_view text)
{
    const auto lead = static_cast<unsigned char>(text[0]);
    std::size_t length = lead < 0xC2 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF5 ? 4 : 1;
    for (std::size_t i = 1; i < length; ++i)
        if (i >= text.size() || (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80)
            return i;
    return length;
}

const std::bitset<0x10000>& AssignedPairs()
{
    // Every pair is converted once, all in one pass. A line feed follows each pair: no trail byte
    // is a line feed, so a pair without a mapping cannot run into the next one, and each line of
    // the result is one character, or U+FFFD and what became of the lone trail byte.
    static const std::bitset<0x10000> assigned = [] {
        std::string pairs;
        for (unsigned l = 0x81; l <= 0xFC; ++l)
            if (IsCp932Lead(static_cast<unsigned char>(l)))
                for (unsigned t = 0x40; t <= 0xFC; ++t)
                    pairs += {static_cast<char>(l), static_cast<char>(t), '\n'};
        const std::string utf8 = Cp932ToUtf8(pairs);
        std::bitset<0x10000> table;
        std::size_t line = 0;
        std::size_t pos = 0;
        while (pos < utf8.size()) {
            std::size_t end = utf8.find('\n', pos);
            if (end == std::string::npos)
                end = utf8.size();
            const std::string_view character(utf8.data() + pos, end - pos);
            if (!character.empty() && character.size() == Utf8SequenceLength(character) &&
                character != "\xEF\xBF\xBD") {
                const auto l = static_cast<unsigned char>(pairs[line * 3]);
                const auto t = static_cast<unsigned char>(pairs[line * 3 + 1]);
                table.set(l << 8 | t);
            }
            ++line;
            pos = end + 1;
        }
        return table;
    }();
    return assigned;
}

} // namespace

std::string Utf8ToCp932(std::string_view utf8)
{
    if (IsAscii(utf8))
        return std::string(utf8);
    thread_local Converter converter("CP932", "UTF-8");
    return converter.Convert(utf8, "?", Utf8SequenceLength);
}

std::string Cp932ToUtf8(std::string_view cp932)
{
    if (IsAscii(cp932))
        return std::string(cp932);
    thread_local Converter converter("UTF-8", "CP932");
    // A bad lead byte is skipped alone, so the byte after it starts the next character.
    return converter.Convert(cp932, "\xEF\xBF\xBD", [](std::string_view) { return std::size_t{1}; });
}

bool IsAssignedCp932Pair(unsigned char lead, unsigned char trail)
{
    return AssignedPairs().test(static_cast<unsigned>(lead) << 8 | trail);
}

bool IsValidCp932(std::string_view text)
{
    const std::bitset<0x10000>& assigned = AssignedPairs();
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n;) {
        // Settings files are mostly ASCII: step over it eight bytes at a time.
        if (i + 8 <= n) {
            std::uint64_t word;
            std::memcpy(&word, text.data() + i, 8);
            if ((word & 0x8080808080808080u) == 0) {
                i += 8;
                continue;
            }
        }
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80 || (c >= 0xA1 && c <= 0xDF)) {
            ++i;
            continue;
        }
        if (i + 1 >= n || !assigned.test(static_cast<unsigned>(c) << 8 | static_cast<unsigned char>(text[i + 1])))
            return false;
        i += 2;
    }
    return true;
}

bool IsValidUtf8(std::string_view text)
{
    for (std::size_t i = 0, length = 0; i < text.size(); i += length)
        if (DecodeUtf8At(text, i, length) == InvalidUtf8)
            return false;
    return true;
}

std::string_view Cp932Cut(std::string_view text, std::size_t maxBytes)
{
    if (text.size() <= maxBytes)
        return text;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t length = Cp932CharLength(text, pos);
        if (pos + length > maxBytes)
            break;
        pos += length;
    }
    return text.substr(0, pos);
}

std::string Cp932AsciiLower(std::string_view text)
{
    std::string out(text);
    for (std::size_t pos = 0; pos < out.size();) {
        const std::size_t length = Cp932CharLength(out, pos);
        if (length == 1 && out[pos] >= 'A' && out[pos] <= 'Z')
            out[pos] = static_cast<char>(out[pos] - 'A' + 'a');
        pos += length;
    }
    return out;
}

std::size_t Cp932Find(std::string_view text, std::string_view word, std::size_t from)
{
    // `boundary` walks the character boundaries and never passes a candidate, so each byte of
    // the text is stepped over once however many candidates fall inside double-byte characters.
    std::size_t boundary = from;
    while (true) {
        const std::size_t hit = text.find(word, boundary);
        if (hit == std::string_view::npos)
            return hit;
        while (boundary < hit)
            boundary += Cp932CharLength(text, boundary);
        if (boundary == hit)
            return hit;
    }
}

std::string_view StripUtf8Bom(std::string_view text)
{
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    return text;
}

} // namespace kavo
