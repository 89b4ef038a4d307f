#include "settings/IniFile.h"

#include "platform/Cp932.h"
#include "platform/RegularFile.h"
#include "settings/IniEncoding.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kavo {

namespace {

constexpr std::size_t MaxFileSize = std::size_t{1} << 30; // offsets are 32-bit

constexpr bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

inline __attribute__((always_inline)) std::string_view Trim(std::string_view s)
{
    std::size_t begin = 0;
    std::size_t end = s.size();
    while (begin < end && IsBlank(s[begin]))
        ++begin;
    while (end > begin && IsBlank(s[end - 1]))
        --end;
    return s.substr(begin, end - begin);
}

// Finds the end of the line at p (its CR or LF, or end) and its first "=" (or nullptr). Lines are
// short, so 32 bytes are tested at a time inline: one well-predicted branch per line instead of a
// library call per character kind.
const char* ScanLine(const char* p, const char* end, const char*& eq)
{
    eq = nullptr;
#if defined(__SSE2__)
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i equals = _mm_set1_epi8('=');
    for (; end - p >= 32; p += 32) {
        const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
        const auto mask = [](__m128i hit) { return static_cast<std::uint32_t>(_mm_movemask_epi8(hit)); };
        const std::uint32_t eol = mask(_mm_or_si128(_mm_cmpeq_epi8(low, lf), _mm_cmpeq_epi8(low, cr))) |
                                  mask(_mm_or_si128(_mm_cmpeq_epi8(high, lf), _mm_cmpeq_epi8(high, cr))) << 16;
        std::uint32_t eqs = mask(_mm_cmpeq_epi8(low, equals)) | mask(_mm_cmpeq_epi8(high, equals)) << 16;
        if (eol)
            eqs &= (eol & (0u - eol)) - 1; // only those before the line's end
        if (eqs && !eq)
            eq = p + std::countr_zero(eqs);
        if (eol)
            return p + std::countr_zero(eol);
    }
#endif
    for (; p < end && *p != '\n' && *p != '\r'; ++p)
        if (*p == '=' && !eq)
            eq = p;
    return p;
}

constexpr unsigned char FoldAscii(unsigned char c)
{
    return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
}

constexpr std::uint64_t Ones = 0x0101010101010101ull;
constexpr std::uint64_t HighBits = 0x8080808080808080ull;

// "A".."Z" to "a".."z" in eight ASCII bytes at once.
constexpr std::uint64_t FoldWord(std::uint64_t w)
{
    const std::uint64_t atLeastA = (w + (0x80 - 'A') * Ones) & HighBits;
    const std::uint64_t aboveZ = (w + (0x80 - 'Z' - 1) * Ones) & HighBits;
    return w | ((atLeastA & ~aboveZ) >> 2);
}

constexpr std::uint64_t Mix(std::uint64_t h, std::uint64_t w)
{
    h = (h ^ w) * 0x9E3779B97F4A7C15ull;
    return h ^ (h >> 29);
}

// Equal for names that differ only in ASCII case. Names of ASCII bytes (all the program's own)
// are hashed a word at a time; others byte by byte, with both bytes of a double-byte character
// taken as they are, since a trail byte may look like a letter.
std::uint32_t NameHash(std::string_view name)
{
    const char* p = name.data();
    const std::size_t n = name.size();
    std::uint64_t h = 0x243F6A8885A308D3ull ^ n;
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t w;
        std::memcpy(&w, p + i, 8);
        if (w & HighBits)
            goto bytes;
        h = Mix(h, FoldWord(w));
    }
    if (i < n) {
        std::uint64_t w = 0;
        std::memcpy(&w, p + i, n - i);
        if (w & HighBits)
            goto bytes;
        h = Mix(h, FoldWord(w));
    }
    return static_cast<std::uint32_t>(h ^ (h >> 32));

bytes:
    h = 0x13198A2E03707344ull ^ n;
    for (i = 0; i < n; ++i) {
        auto c = static_cast<unsigned char>(p[i]);
        if (IsCp932Lead(c) && i + 1 < n) {
            h = Mix(h, c);
            c = static_cast<unsigned char>(p[++i]);
        } else {
            c = FoldAscii(c);
        }
        h = Mix(h, c);
    }
    return static_cast<std::uint32_t>(h ^ (h >> 32));
}

bool SameName(std::string_view a, std::string_view b)
{
    const std::size_t n = a.size();
    if (n != b.size())
        return false;
    if (std::memcmp(a.data(), b.data(), n) == 0)
        return true;
    for (std::size_t i = 0; i < n; ++i) {
        const auto ca = static_cast<unsigned char>(a[i]);
        const auto cb = static_cast<unsigned char>(b[i]);
        if (ca == cb) {
            if (IsCp932Lead(ca) && i + 1 < n) {
                ++i;
                if (a[i] != b[i])
                    return false;
            }
            continue;
        }
        if (FoldAscii(ca) != FoldAscii(cb))
            return false;
    }
    return true;
}

// Reads the whole file. On failure returns false with an errno value in error (ENOENT for a
// missing file, EINVAL for anything but a regular file, EFBIG for one too large).
bool ReadWholeFile(const std::string& path, std::string& out, int& error)
{
    const int result = ReadRegularFile(path, MaxFileSize, out);
    if (result == 0)
        return true;
    error = result == NotARegularFile ? EINVAL : result == FileTooLarge ? EFBIG : result;
    return false;
}

} // namespace

IniWriteError::IniWriteError(const std::string& path, int error)
    : std::runtime_error(Utf8ToCp932(path) + Sjis(" に書き込めません")), m_path(path), m_error(error)
{}

std::optional<std::int32_t> ParseIniInteger(std::string_view text)
{
    if (text.size() == 1 && text[0] >= '0' && text[0] <= '9') // most booleans and indices
        return text[0] - '0';
    std::size_t i = 0;
    const std::size_t n = text.size();
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    bool hex = false;
    if (i < n && text[i] == '$') {
        hex = true;
        ++i;
    } else if (i + 1 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }
    if (i == n)
        return std::nullopt;
    const std::uint64_t limit = hex ? 0xFFFFFFFFull : negative ? 2147483648ull : 2147483647ull;
    const unsigned base = hex ? 16 : 10;
    std::uint64_t value = 0;
    for (; i < n; ++i) {
        const char c = text[i];
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (hex && c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else if (hex && c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else
            return std::nullopt;
        value = value * base + digit;
        if (value > limit)
            return std::nullopt;
    }
    // Hexadecimal wraps to 32 bits as the Windows program reads it; negation wraps likewise.
    auto bits = static_cast<std::uint32_t>(value);
    if (negative)
        bits = 0u - bits;
    return static_cast<std::int32_t>(bits);
}

// ---- parsing

IniFile IniFile::FromText(std::string text)
{
    IniFile ini;
    ini.m_store = std::move(text);
    ini.parse();
    return ini;
}

IniFile IniFile::Read(const std::string& path, std::string* problem)
{
    std::string content;
    const int error = ReadRegularFile(path, MaxFileSize, content);
    if (error != 0) {
        if (problem && error != ENOENT)
            *problem = Utf8ToCp932(path) + Sjis(" を読み込めません: ") + Utf8ToCp932(ReadErrorText(error, MaxFileSize));
        return IniFile();
    }
    if (ConvertUtf8SettingsText(content))
        ReportIniUtf8(path);
    const bool blank = content.find_first_not_of(" \t\r\n") == std::string::npos;
    IniFile ini = FromText(std::move(content));
    // Text without a single section header is no settings file, whatever it is.
    if (problem && !blank && ini.m_sections.size() == 1)
        *problem = Utf8ToCp932(path) + Sjis(" は設定ファイルの形式ではありません (セクションがありません)");
    return ini;
}

void IniFile::RemoveStaleTemporaries(const std::string& path)
{
    RemoveStaleReplacements(path);
}

void IniFile::Update(const std::string& path, const std::function<void(IniFile&)>& change)
{
    std::string content;
    int error = 0;
    // Writing over a file we could not read would drop what others keep in it.
    if (!ReadWholeFile(path, content, error)) {
        if (error != ENOENT)
            throw IniWriteError(path, error);
        content.clear();
    }
    // A file an editor saved in UTF-8 is written back in CP932.
    if (ConvertUtf8SettingsText(content))
        ReportIniUtf8(path);
    // Room for the lines a save writes anew, so the store grows once.
    content.reserve(2 * content.size() + 4096);
    IniFile ini = FromText(std::move(content));
    change(ini);
    ini.Write(path);
}

void IniFile::parse()
{
    m_sections.clear();
    m_sections.emplace_back(); // lines before the first header belong to no section
    m_lastSection = 0;
    m_parsed.clear();
    // Generous: pages that are never touched cost nothing.
    m_parsed.reserve(m_store.size() / 12 + 16);
    const char* const base = m_store.data();
    const char* const end = base + m_store.size();
    const char* p = base;
    // Editors may put a UTF-8 byte-order mark in front of the first section header.
    while (std::string_view(p, static_cast<std::size_t>(end - p)).starts_with("\xEF\xBB\xBF"))
        p += 3;
    Section* current = &m_sections.back();
    while (p < end) {
        const char* const start = p;
        // The line ends at CR LF, LF or a CR alone; its first "=" is found on the way.
        const char* eq;
        p = ScanLine(p, end, eq);
        const std::string_view s(start, static_cast<std::size_t>(p - start));
        if (p < end)
            p += *p == '\r' && p + 1 < end && p[1] == '\n' ? 2 : 1;

        Line line;
        line.Offset = static_cast<std::uint32_t>(start - base);
        line.Size = static_cast<std::uint32_t>(s.size());
        std::size_t first = 0;
        while (first < s.size() && IsBlank(s[first]))
            ++first;
        if (first < s.size() && s[first] == '[') {
            const std::size_t close = s.rfind(']');
            if (close != std::string_view::npos && close > first) {
                const std::string_view name = Trim(s.substr(first + 1, close - first - 1));
                line.KeyBegin = static_cast<std::uint32_t>(name.data() - start);
                line.KeySize = static_cast<std::uint32_t>(name.size());
                Section& section = m_sections.emplace_back();
                section.HasHeader = true;
                section.Header = line;
                section.First = static_cast<std::uint32_t>(m_parsed.size());
                current = &section;
                continue;
            }
        }
        if (eq && first < s.size() && s[first] != ';') {
            const std::size_t at = static_cast<std::size_t>(eq - start);
            const std::string_view key = Trim(s.substr(first, at - first));
            if (!key.empty()) {
                const std::string_view value = Trim(s.substr(at + 1));
                line.KeyBegin = static_cast<std::uint32_t>(key.data() - start);
                line.KeySize = static_cast<std::uint32_t>(key.size());
                line.ValueBegin = static_cast<std::uint32_t>(value.data() - start);
                line.ValueSize = static_cast<std::uint32_t>(value.size());
                ++current->KeyCount; // hashed when the section is first searched
            }
        }
        m_parsed.push_back(line);
        ++current->Count;
    }
}

// ---- lookup

const IniFile::Section* IniFile::findSection(std::string_view name) const
{
    if (m_lastSection < m_sections.size()) {
        const Section& last = m_sections[m_lastSection];
        if (last.HasHeader && SameName(keyOf(last.Header), name))
            return &last;
    }
    // A parsed file starts with the lines before its first header; an empty object has none.
    for (std::size_t i = 0; i < m_sections.size(); ++i) {
        if (m_sections[i].HasHeader && SameName(keyOf(m_sections[i].Header), name)) {
            m_lastSection = i;
            return &m_sections[i];
        }
    }
    return nullptr;
}

IniFile::Section* IniFile::findSection(std::string_view name)
{
    return const_cast<Section*>(static_cast<const IniFile*>(this)->findSection(name));
}

void IniFile::reserveIndex(Section& section) const
{
    const std::size_t needed = 2 * static_cast<std::size_t>(section.KeyCount);
    if (section.KeyCount == 0 || section.Index.size() >= needed)
        return;
    std::size_t size = 16;
    while (size < 2 * needed)
        size *= 2;
    // Entries carry their hashes, so moving them needs no key compared or hashed again.
    std::vector<std::uint64_t> old = std::move(section.Index);
    section.Index.assign(size, 0);
    const std::size_t mask = size - 1;
    for (const std::uint64_t entry : old) {
        if (entry == 0)
            continue;
        std::size_t slot = (entry >> 32) & mask;
        while (section.Index[slot] != 0)
            slot = (slot + 1) & mask;
        section.Index[slot] = entry;
    }
}

void IniFile::indexLine(Section& section, std::uint32_t lineIndex, std::uint64_t hash) const
{
    const Line* lines = linesOf(section);
    const std::string_view key = keyOf(lines[lineIndex]);
    const std::size_t mask = section.Index.size() - 1;
    for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
        const std::uint64_t entry = section.Index[slot];
        if (entry == 0) {
            section.Index[slot] = hash << 32 | (lineIndex + 1);
            return;
        }
        if (entry >> 32 == hash && SameName(keyOf(lines[(entry & 0xFFFFFFFFu) - 1]), key))
            return; // the first line of a key wins
    }
}

const IniFile::Line* IniFile::findKey(const Section& constSection, std::string_view key, std::uint64_t hash) const
{
    if (constSection.KeyCount == 0)
        return nullptr;
    auto& section = const_cast<Section&>(constSection); // the index is a cache
    const std::uint32_t count = lineCount(section);
    const Line* lines = linesOf(section);
    if (section.Indexed < count) {
        reserveIndex(section);
        for (std::uint32_t i = section.Indexed; i < count; ++i)
            if (lines[i].IsKey())
                indexLine(section, i, NameHash(keyOf(lines[i])));
        section.Indexed = count;
    }
    const std::size_t mask = section.Index.size() - 1;
    for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
        const std::uint64_t entry = section.Index[slot];
        if (entry == 0)
            return nullptr;
        const Line& line = lines[(entry & 0xFFFFFFFFu) - 1];
        if (entry >> 32 == hash && SameName(keyOf(line), key))
            return &line;
    }
}

const IniFile::Line* IniFile::findKey(const Section& section, std::string_view key) const
{
    return findKey(section, key, NameHash(key));
}

std::uint32_t IniFile::KeyCount(std::string_view section) const
{
    const Section* s = findSection(section);
    return s ? s->KeyCount : 0;
}

bool IniFile::HasSection(std::string_view section) const
{
    const Section* s = findSection(section);
    return s && s->KeyCount > 0;
}

bool IniFile::HasKey(std::string_view section, std::string_view key) const
{
    const Section* s = findSection(section);
    return s && findKey(*s, key);
}

std::optional<std::string_view> IniFile::Value(std::string_view section, std::string_view key) const
{
    const Section* s = findSection(section);
    if (!s)
        return std::nullopt;
    const Line* line = findKey(*s, key);
    if (!line)
        return std::nullopt;
    return valueOf(*line);
}

std::string IniFile::ReadString(std::string_view section, std::string_view key, std::string_view def) const
{
    const auto value = Value(section, key);
    return std::string(value ? *value : def);
}

std::int32_t IniFile::ReadInteger(std::string_view section, std::string_view key, std::int32_t def) const
{
    const auto value = Value(section, key);
    if (!value)
        return def;
    return ParseIniInteger(*value).value_or(def);
}

bool IniFile::ReadBool(std::string_view section, std::string_view key, bool def) const
{
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

// ---- writing

IniFile::Line IniFile::storeLine(std::string_view first, char separator, std::string_view second)
{
    const std::size_t size = first.size() + (separator ? 1 : 0) + second.size();
    if (m_store.size() + size > std::numeric_limits<std::uint32_t>::max())
        throw std::length_error("settings file too large");
    Line line;
    line.Offset = static_cast<std::uint32_t>(m_store.size());
    line.Size = static_cast<std::uint32_t>(size);
    // No view may point into the store: appending can move it.
    m_store.append(first);
    if (separator)
        m_store.append(1, separator);
    m_store.append(second);
    return line;
}

IniFile::Section& IniFile::sectionForWrite(std::string_view name)
{
    if (Section* found = findSection(name))
        return *found;
    const std::string header = "[" + std::string(name);
    Line line = storeLine(header, ']', {});
    line.KeyBegin = 1;
    line.KeySize = static_cast<std::uint32_t>(name.size());
    Section& section = m_sections.emplace_back();
    section.HasHeader = true;
    section.Header = line;
    m_lastSection = m_sections.size() - 1;
    return section;
}

void IniFile::WriteString(std::string_view sectionName, std::string_view key, std::string_view value)
{
    // A view into our own store (a value read from this file) would move while it is copied.
    const auto inStore = [this](std::string_view text) {
        return !text.empty() && std::less_equal<const char*>()(m_store.data(), text.data()) &&
               std::less<const char*>()(text.data(), m_store.data() + m_store.size());
    };
    std::string ownKey;
    if (inStore(key)) {
        ownKey.assign(key);
        key = ownKey;
    }
    // A line break inside a value would add lines of its own to the file.
    const auto isBreak = [](char c) { return c == '\r' || c == '\n'; };
    std::string cleaned;
    if (inStore(value) || std::any_of(value.begin(), value.end(), isBreak)) {
        cleaned.assign(value);
        std::replace_if(cleaned.begin(), cleaned.end(), isBreak, ' ');
        value = cleaned;
    }

    Section& section = sectionForWrite(sectionName);
    const std::uint64_t hash = NameHash(key);
    if (const Line* found = findKey(section, key, hash)) {
        if (valueOf(*found) == value)
            return; // leaves the line exactly as it was
        const auto index = static_cast<std::size_t>(found - linesOf(section));
        // The key keeps its spelling; copied first, as storing may move the text it is in.
        const std::string spelledKey(keyOf(*found));
        Line line = storeLine(spelledKey, '=', value);
        line.KeyBegin = 0;
        line.KeySize = static_cast<std::uint32_t>(spelledKey.size());
        line.ValueBegin = line.KeySize + 1;
        line.ValueSize = static_cast<std::uint32_t>(value.size());
        linesOf(section)[index] = line;
        return;
    }

    Line line = storeLine(key, '=', value);
    line.KeyBegin = 0;
    line.KeySize = static_cast<std::uint32_t>(key.size());
    line.ValueBegin = line.KeySize + 1;
    line.ValueSize = static_cast<std::uint32_t>(value.size());

    // After the section's last key: blank lines and comments that close the section stay below it.
    const Line* lines = linesOf(section);
    std::size_t position = lineCount(section);
    while (position > 0 && !lines[position - 1].IsKey())
        --position;
    const bool indexed = section.Indexed == lineCount(section);
    if (!section.Detached) {
        section.Own.assign(lines, lines + section.Count);
        section.Detached = true;
    }
    section.Own.insert(section.Own.begin() + static_cast<std::ptrdiff_t>(position), line);
    ++section.KeyCount;
    // Only lines without a key moved, and the index holds key lines only, so it stays valid.
    if (indexed) {
        reserveIndex(section);
        indexLine(section, static_cast<std::uint32_t>(position), hash);
        section.Indexed = lineCount(section);
    } else {
        section.Indexed = std::min(section.Indexed, static_cast<std::uint32_t>(position));
    }
}

void IniFile::WriteInteger(std::string_view section, std::string_view key, std::int32_t value)
{
    char buffer[16];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    WriteString(section, key, std::string_view(buffer, static_cast<std::size_t>(result.ptr - buffer)));
}

void IniFile::EraseSection(std::string_view name)
{
    for (Section& section : m_sections) {
        if (!section.HasHeader || !SameName(keyOf(section.Header), name))
            continue;
        // Blank lines that separate it from the next section stay for the rewritten section.
        const Line* lines = linesOf(section);
        std::uint32_t erased = lineCount(section);
        while (erased > 0 && lineText(lines[erased - 1]).find_first_not_of(" \t") == std::string_view::npos)
            --erased;
        if (section.Detached) {
            section.Own.erase(section.Own.begin(), section.Own.begin() + erased);
        } else {
            section.First += erased;
            section.Count -= erased;
        }
        section.KeyCount = 0;
        section.Index.clear();
        section.Indexed = 0;
        section.Erased = true;
    }
}

std::string IniFile::Text() const
{
    std::size_t lines = 0;
    for (const Section& section : m_sections)
        lines += lineCount(section) + 1;
    std::string out;
    out.reserve(m_store.size() + 2 * lines);
    for (const Section& section : m_sections) {
        if (section.Erased && section.KeyCount == 0)
            continue;
        if (section.HasHeader)
            out.append(lineText(section.Header)).append("\r\n");
        const Line* sectionLines = linesOf(section);
        for (std::uint32_t i = 0, count = lineCount(section); i < count; ++i)
            out.append(lineText(sectionLines[i])).append("\r\n");
    }
    return out;
}

void IniFile::Write(const std::string& path) const
{
    if (const int error = ReplaceRegularFile(path, Text()); error != 0)
        throw IniWriteError(path, error);
}

} // namespace kavo
