#include "common/Templates.h"

#include "core/PlayHint.h"

#include "platform/Cp932.h"
#include "platform/HtmlEntities.h"
#include "platform/IntegerText.h"
#include "platform/Utf8.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace kavo {

namespace {

constexpr std::size_t TagCount = static_cast<std::size_t>(Tag::PagePolicy) + 1;

struct TagName
{
    const char* Name;
    Tag Value;
};

// Lower-case names; the alternations of a tag are separate rows.
constexpr std::array<TagName, 8> PathTagNames = {{
    {"templatepath", Tag::TemplatePath},
    {"skinpath", Tag::TemplatePath},
    {"exepath", Tag::ExePath},
    {"exename", Tag::ExeName},
    {"peercastpath", Tag::PeerCastPath},
    {"peercastname", Tag::PeerCastName},
    {"browserpath", Tag::BrowserPath},
    {"browsername", Tag::BrowserName},
}};
constexpr TagName FindValue2Name = {"findvalue2", Tag::FindValue2};

constexpr std::array<TagName, 5> ListTagNames = {{
    {"results", Tag::ListResults},
    {"totalresults", Tag::TotalResults},
    {"lastupdate", Tag::LastUpdate},
    {"totalconnectbitrate", Tag::TotalConnectBitrate},
    {"totalconnectcount", Tag::TotalConnectCount},
}};

constexpr std::array<TagName, 27> ChannelTagNames = {{
    {"channelname", Tag::ChannelName},
    {"description", Tag::Description},
    {"playing", Tag::Playing},
    {"contact", Tag::Contact},
    {"listener", Tag::Listener},
    {"chat", Tag::Chat},
    {"statistics", Tag::Statistics},
    {"type", Tag::Type},
    {"stream", Tag::Stream},
    {"directstream", Tag::DirectStream},
    {"no", Tag::No},
    {"num", Tag::No},
    {"diff", Tag::Diff},
    {"rank", Tag::Diff},
    {"bitrate", Tag::Bitrate},
    {"timestamp", Tag::TimeStamp},
    {"hash", Tag::Hash},
    {"results", Tag::Results},
    {"ypaddr", Tag::YpAddr},
    {"color", Tag::Color},
    {"colortext", Tag::ColorText},
    {"broadcasttime", Tag::BroadcastTime},
    {"kyasukostatus", Tag::KyasukoStatus},
    {"comment", Tag::Comment},
    {"find", Tag::Find},
    {"findvalue", Tag::FindValue},
    {"playhint", Tag::PlayHint},
}};

constexpr TagName InputBoxName = {"inputbox", Tag::InputBox};

constexpr char LowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

constexpr bool IsAsciiAlnum(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

template <std::size_t N>
bool Find(const std::array<TagName, N>& names, std::string_view name, Tag& tag)
{
    for (const TagName& entry : names)
        if (name == entry.Name) {
            tag = entry.Value;
            return true;
        }
    return false;
}

// A tag "<name/>" starting at text[pos] ('<'); end receives the position after "/>".
bool ParseTag(std::string_view text, std::size_t pos, TagSet set, Tag& tag, std::size_t& end)
{
    constexpr std::size_t LongestName = 24;
    std::size_t i = pos + 1;
    while (i < text.size() && IsAsciiAlnum(text[i]))
        ++i;
    const std::size_t length = i - pos - 1;
    if (length == 0 || length > LongestName || i + 1 >= text.size() || text[i] != '/' || text[i + 1] != '>')
        return false;
    std::array<char, LongestName> lower{};
    for (std::size_t k = 0; k < length; ++k)
        lower[k] = LowerAscii(text[pos + 1 + k]);
    end = i + 2;
    return LookupTag(std::string_view(lower.data(), length), set, tag);
}

// Collects the pieces of an expansion and copies them into the output in one step: growing the
// output once per batch instead of once per piece is what keeps a page near the speed of copying.
class PieceWriter
{
public:
    explicit PieceWriter(std::string& out) : m_out(out) {}
    ~PieceWriter() { Flush(); }
    PieceWriter(const PieceWriter&) = delete;
    PieceWriter& operator=(const PieceWriter&) = delete;

    // The text must stay valid until the next Flush.
    void Add(std::string_view text)
    {
        if (text.empty())
            return;
        if (m_count == MaxPieces)
            Flush();
        m_pieces[m_count++] = {text.data(), text.size()};
        m_total += text.size();
    }

    // Room for a formatted value of at most size bytes, valid until the next Flush.
    char* Scratch(std::size_t size)
    {
        if (m_used + size > sizeof m_scratch || m_count + 4 > MaxPieces)
            Flush();
        char* room = m_scratch + m_used;
        m_used += size;
        return room;
    }

    // A value that lives only now.
    void AddOwned(std::string_view text)
    {
        Flush();
        m_out.append(text);
    }

    void Flush()
    {
        if (m_count != 0) {
            const std::size_t start = m_out.size();
            m_out.resize(start + m_total);
            char* to = m_out.data() + start;
            for (std::size_t i = 0; i < m_count; ++i) {
                copy(to, m_pieces[i].Data, m_pieces[i].Size);
                to += m_pieces[i].Size;
            }
        }
        m_count = 0;
        m_total = 0;
        m_used = 0;
    }

private:
    // Most pieces are a few bytes long; fixed-size moves beat a call to memcpy for them.
    static void copy(char* to, const char* from, std::size_t size)
    {
        if (size >= 8 && size <= 16) {
            std::memcpy(to, from, 8);
            std::memcpy(to + size - 8, from + size - 8, 8);
        } else if (size >= 4 && size < 8) {
            std::memcpy(to, from, 4);
            std::memcpy(to + size - 4, from + size - 4, 4);
        } else if (size < 4) {
            for (std::size_t i = 0; i < size; ++i)
                to[i] = from[i];
        } else {
            std::memcpy(to, from, size);
        }
    }

    static constexpr std::size_t MaxPieces = 64;
    struct Span
    {
        const char* Data;
        std::size_t Size;
    };

    std::string& m_out;
    std::size_t m_count = 0;
    std::size_t m_total = 0;
    std::size_t m_used = 0;
    // Left uninitialised: clearing them would cost as much as copying a block.
    Span m_pieces[MaxPieces];
    char m_scratch[256];
};

void AddNumber(PieceWriter& writer, long long value)
{
    char* room = writer.Scratch(20);
    const auto result = std::to_chars(room, room + 20, value);
    writer.Add(std::string_view(room, static_cast<std::size_t>(result.ptr - room)));
}

void FormatHtmlColor(char* room, ColorValue color, bool enabled, std::string_view fallback)
{
    room[0] = '#';
    if (!enabled || IsSystemColor(color)) {
        std::memcpy(room + 1, fallback.data(), std::min<std::size_t>(fallback.size(), 6));
        return;
    }
    static constexpr char Digits[] = "0123456789ABCDEF";
    const auto value = static_cast<std::uint32_t>(color);
    for (int i = 0; i < 3; ++i) { // red is the lowest byte
        const auto byte = (value >> (8 * i)) & 0xFFu;
        room[1 + 2 * i] = Digits[byte >> 4];
        room[2 + 2 * i] = Digits[byte & 15];
    }
}

void AddHtmlColor(PieceWriter& writer, ColorValue color, bool enabled, std::string_view fallback)
{
    char* room = writer.Scratch(7);
    FormatHtmlColor(room, color, enabled, fallback);
    writer.Add(std::string_view(room, 7));
}

const TkavoChItem& EmptyChannel()
{
    static const TkavoChItem channel;
    return channel;
}

const TkavoChList& EmptyList()
{
    static const TkavoChList list;
    return list;
}

// A text value; made safe for HTML when asked to.
void AddText(PieceWriter& writer, std::string_view text, bool safe)
{
    if (safe && NeedsHtmlSafe(text))
        writer.AddOwned(HtmlSafe(text));
    else
        writer.Add(text);
}

void AddPolicy(PieceWriter& writer, const PageMarks& marks)
{
    writer.Add(R"(<meta http-equiv="Content-Security-Policy" content=")");
    writer.Add(marks.Policy);
    writer.Add(R"(">)");
}

// The value of a tag. Channel tags read values.Channel, list tags values.List.
void AddValue(PieceWriter& writer, Tag tag, const TagValues& values)
{
    const TkavoChItem& channel = values.Channel ? *values.Channel : EmptyChannel();
    const bool safe = values.Page != nullptr && FromOutside(tag);
    switch (tag) {
    case Tag::TemplatePath:
    case Tag::ExePath:
    case Tag::ExeName:
    case Tag::PeerCastPath:
    case Tag::PeerCastName:
    case Tag::BrowserPath:
    case Tag::BrowserName:
    case Tag::FindValue2:
        if (values.Environment) {
            const std::string value = values.Environment->PathTagValue(tag);
            writer.AddOwned(safe ? HtmlSafe(value) : value);
        }
        return;
    case Tag::ListResults:
        return;
    case Tag::TotalResults:
        writer.Add((values.List ? *values.List : EmptyList()).StatusText());
        return;
    case Tag::LastUpdate:
        writer.AddOwned(FormatMonthDayTime(values.List ? values.List->LastUpdate : 0));
        return;
    case Tag::TotalConnectBitrate:
        AddNumber(writer, values.List ? values.List->TotalConnectBitrate(values.LocalChInfo) : 0);
        return;
    case Tag::TotalConnectCount:
        AddNumber(writer, values.List ? values.List->TotalConnectCount(values.LocalChInfo) : 0);
        return;
    case Tag::ChannelName:
        AddText(writer, channel.ChannelName, safe);
        return;
    case Tag::Description:
        if (channel.Genre.empty() && channel.Description.empty())
            return;
        writer.Add("[");
        AddText(writer, channel.Genre, safe);
        if (!channel.Genre.empty() && !channel.Description.empty())
            writer.Add(" - ");
        AddText(writer, channel.Description, safe);
        writer.Add("]");
        return;
    case Tag::Playing:
        AddText(writer, channel.Playing, safe);
        return;
    case Tag::Contact:
        AddText(writer, channel.ContactURL, safe);
        return;
    case Tag::Listener:
        AddNumber(writer, channel.Listeners);
        writer.Add(" / ");
        AddNumber(writer, channel.Relays);
        return;
    case Tag::Chat:
        AddText(writer, channel.ChatURL, safe);
        return;
    case Tag::Statistics:
        AddText(writer, channel.StatisticsURL, safe);
        return;
    case Tag::Type:
        AddText(writer, channel.Type, safe);
        return;
    case Tag::Stream:
        AddText(writer, channel.StreamURL, safe);
        return;
    case Tag::DirectStream:
        AddText(writer, channel.DirectStreamURL, safe);
        return;
    case Tag::No:
        AddNumber(writer, channel.No);
        return;
    case Tag::Diff:
        writer.Add(DiffText(static_cast<unsigned>(channel.Diff) < TkavoDiffCount ? channel.Diff : TkavoDiff::None));
        return;
    case Tag::Bitrate:
        AddText(writer, channel.Bitrate, safe);
        return;
    case Tag::TimeStamp:
        writer.AddOwned(FormatMonthDayTime(channel.TimeStamp));
        return;
    case Tag::Hash:
        AddText(writer, channel.Hash, safe);
        return;
    case Tag::Results: // kept in the text by the caller when the channel belongs to no list
        return;
    case Tag::YpAddr:
        AddText(writer, channel.YpAddr, safe);
        return;
    case Tag::Color:
        AddHtmlColor(writer, channel.Color, channel.ColorEnabled, "FFECC4");
        return;
    case Tag::ColorText:
        AddHtmlColor(writer, channel.ColorText, channel.ColorTextEnabled, "000000");
        return;
    case Tag::BroadcastTime:
        AddText(writer, channel.BroadcastTime, safe);
        return;
    case Tag::KyasukoStatus:
        AddText(writer, channel.Status, safe);
        return;
    case Tag::Comment:
        AddText(writer, channel.Comment, safe);
        return;
    case Tag::Find:
        writer.Add(channel.Find ? "True" : "False");
        return;
    case Tag::FindValue:
        if (channel.Find && values.Environment) {
            const std::string value = values.Environment->FindValue();
            writer.AddOwned(safe ? HtmlSafe(value) : value);
        }
        return;
    case Tag::PlayHint: {
        const PlayHint hint = PlayHintOf(channel, IpFamiliesOf(values.LocalIPFamily));
        if (hint == PlayHint::None)
            return;
        if (!values.Page) {
            writer.AddOwned(PlayHintTip(hint));
            return;
        }
        // Our own text, yet made safe like every value on the page.
        writer.AddOwned("<span class=\"playhint\" title=\"" + HtmlSafe(PlayHintTip(hint)) + "\">" + Sjis("※") +
                        "</span>");
        return;
    }
    case Tag::InputBox:
        writer.Add(values.InputAnswer);
        return;
    case Tag::ScriptNonce:
        if (values.Page && !values.Page->Nonce.empty()) {
            writer.Add(R"( nonce=")");
            writer.Add(values.Page->Nonce);
            writer.Add(R"(")");
        }
        return;
    case Tag::PagePolicy:
        if (values.Page)
            AddPolicy(writer, *values.Page);
        return;
    }
}

bool IsBlankOrControl(char c)
{
    return static_cast<unsigned char>(c) <= 0x20;
}

std::string_view TrimRight(std::string_view line)
{
    while (!line.empty() && IsBlankOrControl(line.back()))
        line.remove_suffix(1);
    return line;
}

void AppendLine(std::string& out, std::string_view line)
{
    if (!out.empty())
        out += "\r\n";
    out += line;
}

bool IsHtmlSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f';
}

// Whether text[pos] starts the word, without regard to ASCII case.
bool StartsWithWord(std::string_view text, std::size_t pos, std::string_view lowerWord)
{
    if (text.size() - pos < lowerWord.size())
        return false;
    for (std::size_t i = 0; i < lowerWord.size(); ++i)
        if (LowerAscii(text[pos + i]) != lowerWord[i])
            return false;
    return true;
}

// A start tag "<name" at pos: followed by a blank, "/" or ">".
bool StartsTag(std::string_view text, std::size_t pos, std::string_view lowerName)
{
    const std::size_t after = pos + 1 + lowerName.size();
    return text[pos] == '<' && StartsWithWord(text, pos + 1, lowerName) && after < text.size() &&
           (IsHtmlSpace(text[after]) || text[after] == '/' || text[after] == '>');
}

// A referenced character; NUL, surrogates and values past U+10FFFF become U+FFFD, as browsers do.
void AppendReferenced(std::string& out, char32_t c)
{
    AppendUtf8(out, c == 0 || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF) ? char32_t{0xFFFD} : c);
}

// An attribute value as the browser reads it, from UTF-8: numeric references and the common named
// ones decoded. Another named reference stays as written.
std::string AttributeText(std::string_view utf8)
{
    static constexpr std::pair<std::string_view, char32_t> Named[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}, {"&nbsp;", 0xA0},
    };
    std::string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const std::size_t length = utf8[i] == '&' ? CharacterReferenceLength(utf8, i) : 0;
        if (length == 0) {
            out += utf8[i++];
            continue;
        }
        const std::string_view reference = utf8.substr(i, length);
        bool decoded = false;
        if (reference[1] == '#') {
            const bool hex = reference[2] == 'x' || reference[2] == 'X';
            const std::string_view digits = reference.substr(hex ? 3 : 2, length - (hex ? 4 : 3));
            std::uint64_t value = 0;
            for (const char d : digits) {
                const unsigned digit =
                    d <= '9' ? static_cast<unsigned>(d - '0') : static_cast<unsigned>(LowerAscii(d) - 'a' + 10);
                value = std::min<std::uint64_t>(value * (hex ? 16 : 10) + digit, 0x110000);
            }
            AppendReferenced(out, static_cast<char32_t>(value));
            decoded = true;
        } else {
            for (const auto& [name, character] : Named)
                if (reference == name) {
                    AppendReferenced(out, character);
                    decoded = true;
                }
        }
        if (!decoded)
            out += reference;
        i += length;
    }
    return out;
}

bool IsHandlerName(std::string_view name)
{
    if (name.size() < 3 || LowerAscii(name[0]) != 'o' || LowerAscii(name[1]) != 'n')
        return false;
    return std::all_of(name.begin() + 2, name.end(), [](char c) { return IsAsciiAlnum(c) && !(c >= '0' && c <= '9'); });
}

bool IsUrlAttribute(std::string_view name)
{
    std::string lower;
    for (const char c : name)
        lower += LowerAscii(c);
    return lower == "href" || lower == "src" || lower == "action" || lower == "formaction";
}

bool IsJavaScriptUrl(std::string_view value)
{
    while (!value.empty() && static_cast<unsigned char>(value.front()) <= ' ')
        value.remove_prefix(1);
    return StartsWithWord(value, 0, "javascript:");
}

} // namespace

bool FromOutside(Tag tag)
{
    switch (tag) {
    case Tag::FindValue2:
    case Tag::ChannelName:
    case Tag::Description:
    case Tag::Playing:
    case Tag::Contact:
    case Tag::Chat:
    case Tag::Statistics:
    case Tag::Type:
    case Tag::Stream:
    case Tag::DirectStream:
    case Tag::Bitrate:
    case Tag::Hash:
    case Tag::YpAddr:
    case Tag::BroadcastTime:
    case Tag::KyasukoStatus:
    case Tag::Comment:
    case Tag::FindValue:
    case Tag::InputBox:
        return true;
    default:
        return false;
    }
}

bool LookupTag(std::string_view name, TagSet set, Tag& tag)
{
    if (set == TagSet::Command && name == InputBoxName.Name) {
        tag = InputBoxName.Value;
        return true;
    }
    if (Find(PathTagNames, name, tag))
        return true;
    if (name == FindValue2Name.Name) {
        tag = FindValue2Name.Value;
        return true;
    }
    switch (set) {
    case TagSet::Path:
        return false;
    case TagSet::List:
        return Find(ListTagNames, name, tag);
    case TagSet::Channel:
    case TagSet::Command:
        return Find(ChannelTagNames, name, tag);
    }
    return false;
}

CompiledTemplate::CompiledTemplate(std::string source, TagSet set) : m_text(std::move(source)), m_set(set)
{
    if (m_text.size() > std::numeric_limits<std::uint32_t>::max())
        throw std::length_error("template too long");

    struct Occurrence
    {
        std::size_t Begin;
        std::size_t End;
        Tag SlotTag;
        TagForm Form;
    };
    std::vector<Occurrence> found;
    std::array<bool, TagCount> hasEe{};
    std::array<bool, TagCount> hasEs{};

    const std::string_view text = m_text;
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        Tag tag{};
        std::size_t end = 0;
        if (c == '<' && ParseTag(text, i, set, tag, end)) {
            found.push_back({i, end, tag, TagForm::Plain});
            i = end;
            continue;
        }
        // "$ee{<tag/>}" and "$es{<tag/>}"; <inputbox/> knows no escape form.
        if (c == '$' && i + 4 < text.size() && LowerAscii(text[i + 1]) == 'e' && text[i + 3] == '{' &&
            (LowerAscii(text[i + 2]) == 'e' || LowerAscii(text[i + 2]) == 's') &&
            ParseTag(text, i + 4, set, tag, end) && tag != Tag::InputBox && end < text.size() && text[end] == '}') {
            const bool ee = LowerAscii(text[i + 2]) == 'e';
            (ee ? hasEe : hasEs)[static_cast<std::size_t>(tag)] = true;
            found.push_back({i, end + 1, tag, ee ? TagForm::Ee : TagForm::Es});
            i = end + 1;
            continue;
        }
        i += Cp932CharLength(text, i);
    }

    std::size_t literalStart = 0;
    auto flushLiteral = [&](std::size_t upTo) {
        if (upTo > literalStart)
            m_pieces.push_back({static_cast<std::uint32_t>(literalStart),
                                static_cast<std::uint32_t>(upTo - literalStart), false, Tag{}, TagForm::Plain});
    };
    for (const Occurrence& occurrence : found) {
        const auto index = static_cast<std::size_t>(occurrence.SlotTag);
        const TagForm active = hasEe[index] ? TagForm::Ee : hasEs[index] ? TagForm::Es : TagForm::Plain;
        if (occurrence.Form != active)
            continue; // stays in the text as written
        flushLiteral(occurrence.Begin);
        m_pieces.push_back({static_cast<std::uint32_t>(occurrence.Begin),
                            static_cast<std::uint32_t>(occurrence.End - occurrence.Begin), true, occurrence.SlotTag,
                            occurrence.Form});
        literalStart = occurrence.End;
    }
    flushLiteral(text.size());
}

bool CompiledTemplate::Uses(Tag tag) const
{
    for (const Piece& piece : m_pieces)
        if (piece.IsSlot && piece.SlotTag == tag)
            return true;
    return false;
}

bool CompiledTemplate::insideSlot(std::size_t begin, std::size_t end) const
{
    for (const Piece& piece : m_pieces)
        if (piece.IsSlot && piece.Size != 0 && piece.Offset < end && begin < piece.Offset + piece.Size)
            return true;
    return false;
}

void CompiledTemplate::insertMark(std::size_t offset, Tag mark)
{
    const Piece slot{static_cast<std::uint32_t>(offset), 0, true, mark, TagForm::Plain};
    for (std::size_t i = 0; i < m_pieces.size(); ++i) {
        const Piece piece = m_pieces[i];
        if (piece.Offset >= offset) {
            m_pieces.insert(m_pieces.begin() + static_cast<std::ptrdiff_t>(i), slot);
            return;
        }
        if (!piece.IsSlot && offset < piece.Offset + piece.Size) {
            const auto head = static_cast<std::uint32_t>(offset - piece.Offset);
            m_pieces[i].Size = head;
            m_pieces.insert(
                m_pieces.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                {slot, {static_cast<std::uint32_t>(offset), piece.Size - head, false, Tag{}, TagForm::Plain}});
            return;
        }
    }
    m_pieces.push_back(slot);
}

void CompiledTemplate::MarkPageScripts(bool policy)
{
    const std::string_view text = m_text;
    std::vector<std::pair<std::size_t, Tag>> marks;
    for (const Piece& piece : m_pieces) {
        if (piece.IsSlot)
            continue;
        const std::size_t end = piece.Offset + piece.Size;
        for (std::size_t i = piece.Offset; i < end; i += Cp932CharLength(text, i))
            if (text[i] == '<' && end - i > 7 && StartsTag(text, i, "script"))
                marks.emplace_back(i + 7, Tag::ScriptNonce);
    }
    if (policy) {
        // Where the browser still reads it: at the start of the head, or after the doctype and the
        // html start tag; a meta element before the doctype would change the page's mode.
        const auto tagEnd = [&](std::size_t start) -> std::size_t {
            const std::size_t close = text.find('>', start);
            return close == std::string_view::npos || insideSlot(start, close + 1) ? 0 : close + 1;
        };
        std::size_t at = 0;
        for (std::size_t i = 0; i < text.size() && at == 0; i += Cp932CharLength(text, i))
            if (text[i] == '<' && StartsTag(text, i, "head"))
                at = tagEnd(i);
        if (at == 0) {
            std::size_t i = 0;
            const auto skipBlanks = [&] {
                while (i < text.size() && IsHtmlSpace(text[i]))
                    ++i;
            };
            skipBlanks();
            if (StartsWithWord(text, i, "<!doctype") && (i = tagEnd(i)) != 0) {
                at = i;
                skipBlanks();
            }
            if (i < text.size() && StartsTag(text, i, "html") && (i = tagEnd(i)) != 0)
                at = i;
        }
        marks.emplace_back(at, Tag::PagePolicy);
    }
    // From the back, so that every offset still lies in the piece it was found in.
    std::sort(marks.begin(), marks.end());
    for (auto mark = marks.rbegin(); mark != marks.rend(); ++mark)
        insertMark(mark->first, mark->second);
}

std::vector<std::string> CompiledTemplate::InlineScripts() const
{
    std::vector<std::string> scripts;
    const std::string_view text = m_text;
    const auto skipBlanks = [&](std::size_t& j) {
        while (j < text.size() && IsHtmlSpace(text[j]))
            ++j;
    };
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] != '<' || i + 1 >= text.size() || !IsAsciiAlnum(text[i + 1]) ||
            (text[i + 1] >= '0' && text[i + 1] <= '9')) {
            i += Cp932CharLength(text, i);
            continue;
        }
        std::size_t j = i + 1;
        while (j < text.size() && (IsAsciiAlnum(text[j]) || text[j] == '-'))
            ++j;
        while (true) {
            while (j < text.size() && (IsHtmlSpace(text[j]) || text[j] == '/'))
                ++j;
            if (j >= text.size() || text[j] == '>' || text[j] == '<')
                break;
            const std::size_t nameStart = j;
            while (j < text.size() && !IsHtmlSpace(text[j]) && text[j] != '=' && text[j] != '>' && text[j] != '/' &&
                   text[j] != '<')
                ++j;
            const std::string_view name = text.substr(nameStart, j - nameStart);
            skipBlanks(j);
            if (j >= text.size() || text[j] != '=')
                continue;
            ++j;
            skipBlanks(j);
            std::size_t valueStart = j;
            std::size_t valueEnd = j;
            if (j < text.size() && (text[j] == '"' || text[j] == '\'')) {
                valueStart = j + 1;
                valueEnd = std::min(text.find(text[j], valueStart), text.size());
                j = std::min(valueEnd + 1, text.size());
            } else {
                while (j < text.size() && !IsHtmlSpace(text[j]) && text[j] != '>')
                    j += Cp932CharLength(text, j);
                valueEnd = j;
            }
            const std::string_view value = text.substr(valueStart, valueEnd - valueStart);
            if (!(IsHandlerName(name) || (IsUrlAttribute(name) && IsJavaScriptUrl(value))) ||
                insideSlot(valueStart, valueEnd))
                continue;
            std::vector<std::string> forms = {AttributeText(Cp932ToUtf8(value))};
            // A template saved in UTF-8 is read as UTF-8 by the browser.
            if (IsValidUtf8(value))
                forms.push_back(AttributeText(value));
            for (std::string& form : forms) {
                if (std::find(scripts.begin(), scripts.end(), form) == scripts.end())
                    scripts.push_back(std::move(form));
            }
        }
        i = j;
    }
    return scripts;
}

std::vector<CompiledTemplate::PieceView> CompiledTemplate::Pieces() const
{
    std::vector<PieceView> pieces;
    for (const Piece& piece : m_pieces)
        pieces.push_back(
            {piece.IsSlot, piece.SlotTag, piece.Form, std::string_view(m_text).substr(piece.Offset, piece.Size)});
    return pieces;
}

void CompiledTemplate::ExpandTo(std::string& out, const TagValues& values) const
{
    const bool keepResults = !values.Channel || !values.Channel->List;
    PieceWriter writer(out);
    for (const Piece& piece : m_pieces) {
        if (!piece.IsSlot || (piece.SlotTag == Tag::Results && keepResults)) {
            writer.Add(std::string_view(m_text.data() + piece.Offset, piece.Size));
        } else if (piece.Form == TagForm::Plain) {
            AddValue(writer, piece.SlotTag, values);
        } else {
            std::string value;
            {
                PieceWriter valueWriter(value);
                AddValue(valueWriter, piece.SlotTag, values);
            }
            writer.AddOwned(piece.Form == TagForm::Ee ? BackslashesToSlashes(value) : DoubleBackslashes(value));
        }
    }
}

std::string HtmlColor(ColorValue color, bool enabled, std::string_view fallback)
{
    std::string out(7, '0');
    FormatHtmlColor(out.data(), color, enabled, fallback);
    return out;
}

std::string BackslashesToSlashes(std::string_view value)
{
    std::string out(value);
    for (std::size_t i = 0; i < out.size(); i += Cp932CharLength(out, i))
        if (out[i] == '\\')
            out[i] = '/';
    return out;
}

std::string DoubleBackslashes(std::string_view value)
{
    std::string out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size();) {
        const std::size_t length = Cp932CharLength(value, i);
        out.append(value.substr(i, length));
        if (value[i] == '\\')
            out += '\\';
        i += length;
    }
    return out;
}

std::vector<std::string> SplitLines(std::string_view text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n')
            continue;
        lines.emplace_back(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines.emplace_back(text.substr(start));
    return lines;
}

std::string JoinLines(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

std::string FinishNotifyText(std::string_view expanded, int cutBytes)
{
    std::string out;
    for (const std::string& line : SplitLines(expanded)) {
        std::string decoded = HtmlDecode(line);
        if (cutBytes >= 0 && decoded.size() > static_cast<std::size_t>(cutBytes)) {
            decoded = std::string(Cp932Cut(decoded, static_cast<std::size_t>(cutBytes)));
            decoded += "...";
        }
        const std::string_view trimmed = TrimRight(decoded);
        if (!trimmed.empty())
            AppendLine(out, trimmed);
    }
    return out;
}

std::string FinishPlainText(std::string_view expanded)
{
    std::string out;
    for (const std::string& line : SplitLines(HtmlDecode(expanded))) {
        const std::string_view trimmed = TrimRight(line);
        if (!trimmed.empty())
            AppendLine(out, trimmed);
    }
    return out;
}

int CutRange(std::string_view setting)
{
    return std::max(0, ParseIniInteger(setting, IntegerForm::Decimal).value_or(60));
}

} // namespace kavo
