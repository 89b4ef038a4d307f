#include "platform/RegularExpression.h"

#include "platform/Cp932.h"
#include "platform/Utf8.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <list>
#include <new>

namespace kavo {

namespace {

constexpr std::size_t kCacheLimit = 64;
// Bounds a runaway backtracking pattern on a channel text to well under a second.
constexpr std::uint32_t kMatchLimit = 10'000'000;
constexpr PCRE2_SIZE kJitStackStart = PCRE2_SIZE{32} * 1024;
constexpr PCRE2_SIZE kJitStackMax = PCRE2_SIZE{1024} * 1024;

constexpr char32_t kReplacementCharacter = 0xFFFD;

std::string pcre2ErrorText(int code)
{
    PCRE2_UCHAR buffer[256];
    const int length = pcre2_get_error_message(code, buffer, sizeof buffer);
    if (length < 0)
        return "PCRE2 error " + std::to_string(code);
    return std::string(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(length));
}

bool isAscii(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// The code point of a UTF-8 text that is exactly one non-ASCII character, else U+FFFD. A CP932
// character that came out as ASCII ("?" or a stray byte) must not match ASCII pattern characters.
char32_t soleNonAsciiCodePoint(std::string_view utf8)
{
    if (utf8.empty())
        return kReplacementCharacter;
    std::size_t length = 0;
    const char32_t cp = DecodeUtf8At(utf8, 0, length);
    return cp >= 0x80 && cp != InvalidUtf8 && length == utf8.size() ? cp : kReplacementCharacter;
}

// Every CP932 character (as Cp932CharLength delimits it) becomes exactly one code point, so match
// offsets always fall on CP932 character boundaries and the trail byte of a double-byte character
// can never be seen as an ASCII character.
class Cp932Decoder
{
public:
    // The UTF-8 form of the character at in[pos] packed as below, and its length in CP932 bytes.
    // Branch-free but for the first sight of a character: channel texts mix ASCII and double-byte
    // characters at random, which a branch per character would keep mispredicting.
    std::uint32_t Decode(const unsigned char* in, std::size_t pos, std::size_t size, std::size_t& length)
    {
        const unsigned char c = in[pos];
        const unsigned leadIndex = (c ^ 0x20u) - 0xA1u; // 0..59 for the lead bytes 0x81-0x9F, 0xE0-0xFC
        const bool pair = leadIndex < 60 && pos + 1 < size;
        const unsigned char trail = in[pos + (pos + 1 < size)];
        const std::size_t index = pair ? 256 + leadIndex * 256 + trail : c;
        length = 1 + pair;
        const std::uint32_t code = index < m_codes.size() ? m_codes[index] : 0;
        return code != 0 ? code : learn(index, in + pos, length);
    }

    // CP932 reaches only the basic plane: at most three UTF-8 bytes, kept in the low three bytes
    // in order, with their count in the high byte.
    static std::size_t Utf8Length(std::uint32_t code) { return code >> 24; }

private:
    [[gnu::noinline]] std::uint32_t learn(std::size_t index, const unsigned char* in, std::size_t length)
    {
        // Filled on demand: a refresh meets a few hundred distinct characters, not all of them.
        if (m_codes.empty())
            m_codes.assign(kTableSize, 0);
        const auto c = static_cast<char32_t>(in[0]);
        const std::string_view character(reinterpret_cast<const char*>(in), length);
        return m_codes[index] = pack(c < 0x80 ? c : soleNonAsciiCodePoint(Cp932ToUtf8(character)));
    }

    // The low three bytes are stored to the output in memory order.
    static_assert(std::endian::native == std::endian::little, "the packed UTF-8 forms assume a little-endian machine");

    static std::uint32_t pack(char32_t cp)
    {
        char bytes[4] = {};
        const auto length = static_cast<std::uint32_t>(EncodeUtf8(bytes, cp) - bytes);
        std::uint32_t code = 0;
        std::memcpy(&code, bytes, 3);
        return (code & 0xFFFFFFu) | (length << 24);
    }

    // 256 single bytes, then 60 lead bytes with 256 trail bytes each.
    static constexpr std::size_t kTableSize = 256 + 60 * 256;
    std::vector<std::uint32_t> m_codes;
};

// A CP932 text as UTF-8 for the engine, with the way back from UTF-8 to CP932 offsets when the
// caller needs them. Buffers are kept between subjects so a conversion allocates nothing.
class Utf8Text
{
public:
    Utf8Text() = default;
    Utf8Text(std::string_view cp932, Cp932Decoder& decoder) { Assign(cp932, decoder, true); }

    bool Holds(std::string_view cp932, bool withOffsets) const
    {
        return m_valid && (m_hasOffsets || !withOffsets) && cp932 == m_cp932;
    }

    void Assign(std::string_view cp932, Cp932Decoder& decoder, bool withOffsets)
    {
        m_valid = false;
        m_cp932.assign(cp932);
        m_ascii = isAscii(cp932);
        m_hasOffsets = withOffsets;
        m_size = 0;
        if (!m_ascii) {
            // Every CP932 byte turns into at most three UTF-8 bytes; one more for the four-byte
            // stores of the decoder.
            grow(m_utf8, cp932.size() * 3 + 1);
            if (withOffsets) {
                grow(m_offsets, cp932.size() * 3 + 3);
                m_size = convert<true>(cp932, decoder);
                m_offsets[m_size] = cp932.size();
            } else {
                m_size = convert<false>(cp932, decoder);
            }
        }
        m_valid = true;
    }

    std::string_view Utf8() const
    {
        return m_ascii ? std::string_view(m_cp932) : std::string_view(m_utf8.data(), m_size);
    }

    // utf8Offset lies on a character boundary (the engine runs in UTF mode and \C is refused).
    std::size_t Cp932Offset(std::size_t utf8Offset) const { return m_ascii ? utf8Offset : m_offsets[utf8Offset]; }

    std::size_t CharLength(std::size_t utf8Offset) const
    {
        const std::string_view text = Utf8();
        if (utf8Offset >= text.size())
            return 1;
        const auto lead = static_cast<unsigned char>(text[utf8Offset]);
        return lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    }

private:
    template <bool WithOffsets>
    std::size_t convert(std::string_view cp932, Cp932Decoder& decoder)
    {
        const auto* const in = reinterpret_cast<const unsigned char*>(cp932.data());
        const std::size_t size = cp932.size();
        char* const begin = m_utf8.data();
        std::size_t* const offsets = m_offsets.data();
        char* out = begin;
        for (std::size_t pos = 0, length = 0; pos < size; pos += length) {
            const std::uint32_t code = decoder.Decode(in, pos, size, length);
            // Four bytes and three offsets are stored whatever the length; the buffers have room.
            std::memcpy(out, &code, 4);
            if constexpr (WithOffsets)
                std::fill_n(offsets + (out - begin), 3, pos);
            out += Cp932Decoder::Utf8Length(code);
        }
        return static_cast<std::size_t>(out - begin);
    }

    template <class Buffer>
    static void grow(Buffer& buffer, std::size_t size)
    {
        if (buffer.size() < size)
            buffer.resize(size);
    }

    bool m_valid = false;
    bool m_ascii = true;
    bool m_hasOffsets = false;
    std::string m_cp932;
    std::string m_utf8; // m_size bytes in use
    std::size_t m_size = 0;
    std::vector<std::size_t> m_offsets;
};

struct CodeFree
{
    void operator()(pcre2_code* code) const { pcre2_code_free(code); }
};

} // namespace

class RegularExpression::Compiled
{
public:
    std::string Pattern;
    std::uint32_t Options = 0;
    std::unique_ptr<pcre2_code, CodeFree> Code; // null when the pattern is invalid
    std::string Error;
    std::uint32_t Groups = 0;
};

namespace {

using CompiledPattern = RegularExpression::Compiled;

template <class T>
T* checkedAlloc(T* object)
{
    if (!object)
        throw std::bad_alloc();
    return object;
}

} // namespace

class RegularExpression::Engine
{
public:
    Cp932Decoder Decoder;

    // Callers often test several patterns against a few texts in turn (favorites against the
    // fields of one channel), so the last few converted subjects are kept.
    const Utf8Text& Convert(std::string_view subject, bool withOffsets)
    {
        for (const Utf8Text& text : m_subjects)
            if (text.Holds(subject, withOffsets))
                return text;
        Utf8Text& slot = m_subjects[m_nextSubject];
        m_nextSubject = (m_nextSubject + 1) % m_subjects.size();
        slot.Assign(subject, Decoder, withOffsets);
        return slot;
    }

    Engine()
        : m_compileContext(checkedAlloc(pcre2_compile_context_create(nullptr))),
          m_matchContext(checkedAlloc(pcre2_match_context_create(nullptr)))
    {
        pcre2_set_newline(m_compileContext.get(), PCRE2_NEWLINE_ANYCRLF);
        pcre2_set_match_limit(m_matchContext.get(), kMatchLimit);
        // Null when the library has no JIT; the interpreter needs no stack of ours.
        m_jitStack.reset(pcre2_jit_stack_create(kJitStackStart, kJitStackMax, nullptr));
        if (m_jitStack)
            pcre2_jit_stack_assign(m_matchContext.get(), nullptr, m_jitStack.get());
    }

    // The compiled pattern, from the cache when it was used lately. Throws for an invalid pattern.
    const std::shared_ptr<const CompiledPattern>& Compile(const std::string& pattern, std::uint32_t options)
    {
        auto hit = std::find_if(m_cache.begin(), m_cache.end(), [&](const auto& entry) {
            return entry->Options == options && entry->Pattern == pattern;
        });
        if (hit != m_cache.end()) {
            m_cache.splice(m_cache.begin(), m_cache, hit);
        } else {
            m_cache.push_front(build(pattern, options));
            if (m_cache.size() > kCacheLimit)
                m_cache.pop_back();
        }
        const auto& entry = m_cache.front();
        if (!entry->Code)
            throw RegularExpressionError(entry->Error);
        return entry;
    }

    // Calls found(ovector) for the first match, or for every match when global is set.
    template <class Found>
    void ForEachMatch(const CompiledPattern& pattern, const Utf8Text& text, bool global, Found&& found)
    {
        const std::size_t size = text.Utf8().size();
        std::size_t start = 0;
        while (start <= size && Search(pattern, text, start)) {
            const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(m_matchData.get());
            found(ovector);
            if (!global)
                break;
            // A match never begins before the search start nor ends before it begins (\K is refused in
            // look-arounds), so this always moves on. After an empty match the next search starts one
            // character later, as in JavaScript.
            const std::size_t end = ovector[1];
            start = end > ovector[0] ? end : end + text.CharLength(end);
        }
    }

    bool Search(const CompiledPattern& pattern, const Utf8Text& text, std::size_t start)
    {
        if (m_matchPairs < pattern.Groups + 1) {
            m_matchData.reset(checkedAlloc(pcre2_match_data_create(pattern.Groups + 1, nullptr)));
            m_matchPairs = pattern.Groups + 1;
        }
        const std::string_view subject = text.Utf8();
        // The UTF-8 text is ours and valid by construction, so the check can be skipped.
        const int rc = pcre2_match(pattern.Code.get(), reinterpret_cast<PCRE2_SPTR>(subject.data()), subject.size(),
                                   start, PCRE2_NO_UTF_CHECK, m_matchData.get(), m_matchContext.get());
        if (rc == PCRE2_ERROR_NOMATCH)
            return false;
        if (rc < 0)
            throw RegularExpressionError("Regular expression \"" + pattern.Pattern +
                                         "\" failed: " + pcre2ErrorText(rc));
        return true;
    }

private:
    struct CompileContextFree
    {
        void operator()(pcre2_compile_context* context) const { pcre2_compile_context_free(context); }
    };
    struct MatchContextFree
    {
        void operator()(pcre2_match_context* context) const { pcre2_match_context_free(context); }
    };
    struct JitStackFree
    {
        void operator()(pcre2_jit_stack* stack) const { pcre2_jit_stack_free(stack); }
    };
    struct MatchDataFree
    {
        void operator()(pcre2_match_data* data) const { pcre2_match_data_free(data); }
    };

    std::shared_ptr<const CompiledPattern> build(const std::string& pattern, std::uint32_t options)
    {
        auto compiled = std::make_shared<CompiledPattern>();
        CompiledPattern& entry = *compiled;
        entry.Pattern = pattern;
        entry.Options = options;
        const Utf8Text text(pattern, Decoder);
        const std::string_view utf8 = text.Utf8();
        int error = 0;
        PCRE2_SIZE errorOffset = 0;
        entry.Code.reset(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(utf8.data()), utf8.size(), options, &error,
                                       &errorOffset, m_compileContext.get()));
        if (!entry.Code) {
            const std::size_t offset = text.Cp932Offset(std::min<std::size_t>(errorOffset, utf8.size()));
            entry.Error = "Invalid regular expression \"" + pattern + "\": " + pcre2ErrorText(error) + " at offset " +
                          std::to_string(offset);
            return compiled;
        }
        // Without JIT (not built in, or out of executable memory) the interpreter runs the pattern.
        pcre2_jit_compile(entry.Code.get(), PCRE2_JIT_COMPLETE);
        pcre2_pattern_info(entry.Code.get(), PCRE2_INFO_CAPTURECOUNT, &entry.Groups);
        return compiled;
    }

    std::unique_ptr<pcre2_compile_context, CompileContextFree> m_compileContext;
    std::unique_ptr<pcre2_match_context, MatchContextFree> m_matchContext;
    std::unique_ptr<pcre2_jit_stack, JitStackFree> m_jitStack;
    std::unique_ptr<pcre2_match_data, MatchDataFree> m_matchData;
    std::uint32_t m_matchPairs = 0;
    std::array<Utf8Text, 4> m_subjects;
    std::size_t m_nextSubject = 0;
    std::list<std::shared_ptr<const CompiledPattern>> m_cache; // most recently used first
};

namespace {

// The CP932 range of group n of the current match; empty for a group that did not take part.
std::string_view groupText(std::string_view subject, const Utf8Text& text, const PCRE2_SIZE* ovector, std::uint32_t n)
{
    if (ovector[2 * std::size_t{n}] == PCRE2_UNSET)
        return {};
    const std::size_t begin = text.Cp932Offset(ovector[2 * std::size_t{n}]);
    const std::size_t end = std::max(begin, text.Cp932Offset(ovector[2 * std::size_t{n} + 1]));
    return subject.substr(begin, end - begin);
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Expands the replacement for one match the way JavaScript's String.replace does.
void appendReplacement(std::string& out, std::string_view replacement, std::string_view subject, const Utf8Text& text,
                       const PCRE2_SIZE* ovector, std::uint32_t groups)
{
    const std::string_view match = groupText(subject, text, ovector, 0);
    const std::size_t matchBegin = static_cast<std::size_t>(match.data() - subject.data());
    for (std::size_t pos = 0; pos < replacement.size();) {
        const std::size_t length = Cp932CharLength(replacement, pos);
        if (length != 1 || replacement[pos] != '$' || pos + 1 >= replacement.size()) {
            out.append(replacement.substr(pos, length));
            pos += length;
            continue;
        }
        const char next = replacement[pos + 1];
        if (next == '$') {
            out.push_back('$');
            pos += 2;
        } else if (next == '&') {
            out.append(match);
            pos += 2;
        } else if (next == '`') {
            out.append(subject.substr(0, matchBegin));
            pos += 2;
        } else if (next == '\'') {
            out.append(subject.substr(matchBegin + match.size()));
            pos += 2;
        } else if (isDigit(next)) {
            // Two digits when they name a group, else one digit when it does, else a literal "$".
            const std::uint32_t one = static_cast<std::uint32_t>(next - '0');
            const bool hasTwo = pos + 2 < replacement.size() && isDigit(replacement[pos + 2]);
            const std::uint32_t two = hasTwo ? one * 10 + static_cast<std::uint32_t>(replacement[pos + 2] - '0') : 0;
            if (hasTwo && two >= 1 && two <= groups) {
                out.append(groupText(subject, text, ovector, two));
                pos += 3;
            } else if (one >= 1 && one <= groups) {
                out.append(groupText(subject, text, ovector, one));
                pos += 2;
            } else {
                out.push_back('$');
                ++pos;
            }
        } else {
            out.push_back('$');
            ++pos;
        }
    }
}

} // namespace

RegularExpression::RegularExpression() = default;
RegularExpression::~RegularExpression() = default;
RegularExpression::RegularExpression(RegularExpression&& other) noexcept = default;
RegularExpression& RegularExpression::operator=(RegularExpression&& other) noexcept = default;

RegularExpression::RegularExpression(const RegularExpression& other)
    : IgnoreCase(other.IgnoreCase), Global(other.Global), Multiline(other.Multiline), Pattern(other.Pattern)
{}

RegularExpression& RegularExpression::operator=(const RegularExpression& other)
{
    IgnoreCase = other.IgnoreCase;
    Global = other.Global;
    Multiline = other.Multiline;
    Pattern = other.Pattern;
    return *this;
}

RegularExpression::Engine& RegularExpression::engine()
{
    if (!m_engine)
        m_engine = std::make_unique<Engine>();
    return *m_engine;
}

namespace {

// ECMAScript where PCRE2 differs: "$" only at the very end without Multiline, \uHHHH and \xHH, a
// back reference to an unset group matches empty, "[]" never matches and "[^]" matches anything.
// \C would split a character and is refused. \w, \s and \d stay ASCII (no UCP).
std::uint32_t compileOptions(bool ignoreCase, bool multiline)
{
    std::uint32_t options = PCRE2_UTF | PCRE2_DOLLAR_ENDONLY | PCRE2_ALT_BSUX | PCRE2_MATCH_UNSET_BACKREF |
                            PCRE2_ALLOW_EMPTY_CLASS | PCRE2_NEVER_BACKSLASH_C;
    if (ignoreCase)
        options |= PCRE2_CASELESS;
    if (multiline)
        options |= PCRE2_MULTILINE;
    return options;
}

} // namespace

std::shared_ptr<const RegularExpression::Compiled> RegularExpression::Compile()
{
    return engine().Compile(Pattern, compileOptions(IgnoreCase, Multiline));
}

bool RegularExpression::Test(std::string_view subject)
{
    Engine& e = engine();
    return Test(*e.Compile(Pattern, compileOptions(IgnoreCase, Multiline)), subject);
}

bool RegularExpression::Test(const Compiled& pattern, std::string_view subject)
{
    Engine& e = engine();
    return e.Search(pattern, e.Convert(subject, false), 0);
}

std::vector<RegExpMatch> RegularExpression::Execute(std::string_view subject)
{
    Engine& e = engine();
    const CompiledPattern& pattern = *e.Compile(Pattern, compileOptions(IgnoreCase, Multiline));
    const Utf8Text& text = e.Convert(subject, true);
    std::vector<RegExpMatch> matches;
    e.ForEachMatch(pattern, text, Global, [&](const PCRE2_SIZE* ovector) {
        RegExpMatch& match = matches.emplace_back();
        const std::string_view value = groupText(subject, text, ovector, 0);
        match.FirstIndex = static_cast<std::size_t>(value.data() - subject.data());
        match.Length = value.size();
        match.Value = value;
        match.SubMatches.reserve(pattern.Groups);
        for (std::uint32_t n = 1; n <= pattern.Groups; ++n)
            match.SubMatches.emplace_back(groupText(subject, text, ovector, n));
    });
    return matches;
}

std::string RegularExpression::Replace(std::string_view subject, std::string_view replacement)
{
    Engine& e = engine();
    const CompiledPattern& pattern = *e.Compile(Pattern, compileOptions(IgnoreCase, Multiline));
    const Utf8Text& text = e.Convert(subject, true);
    std::string out;
    out.reserve(subject.size());
    std::size_t copied = 0;
    e.ForEachMatch(pattern, text, Global, [&](const PCRE2_SIZE* ovector) {
        const std::size_t begin = text.Cp932Offset(ovector[0]);
        const std::size_t end = std::max(begin, text.Cp932Offset(ovector[1]));
        out.append(subject.substr(copied, begin - copied));
        appendReplacement(out, replacement, subject, text, ovector, pattern.Groups);
        copied = end;
    });
    out.append(subject.substr(copied));
    return out;
}

} // namespace kavo
