#include "notify/NotifyRules.h"

#include "platform/Cp932.h"
#include "platform/Utf8.h"

#include <array>
#include <charconv>
#include <climits>

namespace kavo {

std::vector<TkavoNotifyItem> BuildChannelNotifications(const TkavoChList& channels, bool favoritesOnly,
                                                       const std::string& title,
                                                       const std::function<std::string(const TkavoChItem&)>& render,
                                                       int maxItems)
{
    std::vector<TkavoNotifyItem> items;
    TkavoNotifyItem current;
    auto flush = [&] {
        current.Title = title;
        current.Kind = static_cast<std::uint8_t>(NotifyKind::Information);
        items.push_back(std::move(current));
        current = TkavoNotifyItem();
    };
    const auto full = [&] { return maxItems > 0 && items.size() >= static_cast<std::size_t>(maxItems); };
    int leftOut = 0;

    for (const TkavoChItem& channel : channels) {
        if (channel.NotNotify || channel.ListDisable)
            continue;
        if (favoritesOnly && !channel.Favorite)
            continue;
        if (full()) {
            ++leftOut;
            continue;
        }
        const std::string piece = render(channel);
        if (!current.Text.empty() && current.Text.size() + piece.size() >= NotifyTextLimit) {
            flush();
            if (full()) {
                ++leftOut;
                continue;
            }
        }
        // A channel whose text came out empty still takes its line.
        if (!current.Text.empty())
            current.Text += "\r\n";
        current.Text += piece;
        if (!channel.FileName.empty())
            current.Sounds.push_back(channel.FileName);
        current.Channels.push_back({channel.Hash, channel.ChannelName, channel.StreamURL, channel.Type});
    }
    if (!current.Text.empty())
        flush();
    if (leftOut > 0) {
        current.Text = Sjis("新着 ") + std::to_string(leftOut) + Sjis("件 ほか");
        flush();
    }
    return items;
}

std::vector<const TkavoChItem*> ChannelsToNotify(std::span<const TkavoChItem* const> rows, int rank2)
{
    std::vector<const TkavoChItem*> chosen;
    for (const TkavoChItem* channel : rows)
        if (static_cast<int>(channel->Diff) == rank2 && !channel->ListDisable)
            chosen.push_back(channel);
    return chosen;
}

int DecimalSetting(std::string_view text, int fallback)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    if (text.size() > 1 && text[0] == '+' && text[1] != '-')
        text.remove_prefix(1);
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return fallback;
    return value;
}

int BalloonMilliseconds(std::string_view ballonTimer)
{
    int seconds = DecimalSetting(ballonTimer, 10);
    if (seconds <= 0)
        seconds = 10;
    return seconds > INT_MAX / 1000 ? INT_MAX / 1000 * 1000 : seconds * 1000;
}

int SpeechSpeed(std::string_view ttsSpeed)
{
    return DecimalSetting(ttsSpeed, 140);
}

namespace {

// Full-width forms of U+FF61..U+FF9F.
constexpr std::array<char32_t, 0x3F> HalfWidthKana = {
    0x3002, 0x300C, 0x300D, 0x3001, 0x30FB, 0x30F2, 0x30A1, 0x30A3, 0x30A5, 0x30A7, 0x30A9, 0x30E3, 0x30E5,
    0x30E7, 0x30C3, 0x30FC, 0x30A2, 0x30A4, 0x30A6, 0x30A8, 0x30AA, 0x30AB, 0x30AD, 0x30AF, 0x30B1, 0x30B3,
    0x30B5, 0x30B7, 0x30B9, 0x30BB, 0x30BD, 0x30BF, 0x30C1, 0x30C4, 0x30C6, 0x30C8, 0x30CA, 0x30CB, 0x30CC,
    0x30CD, 0x30CE, 0x30CF, 0x30D2, 0x30D5, 0x30D8, 0x30DB, 0x30DE, 0x30DF, 0x30E0, 0x30E1, 0x30E2, 0x30E4,
    0x30E6, 0x30E8, 0x30E9, 0x30EA, 0x30EB, 0x30EC, 0x30ED, 0x30EF, 0x30F3, 0x309B, 0x309C,
};

constexpr char32_t HalfVoiced = 0xFF9E;
constexpr char32_t HalfSemiVoiced = 0xFF9F;

// Kana letters that have a voiced form one code point later (and ウ, whose voiced form stands apart).
bool TakesVoicedMark(char32_t c)
{
    const bool kaToChi = c >= 0x30AB && c <= 0x30C1 && (c - 0x30AB) % 2 == 0;
    const bool tsuToTo = c == 0x30C4 || c == 0x30C6 || c == 0x30C8;
    const bool haToHo = c >= 0x30CF && c <= 0x30DB && (c - 0x30CF) % 3 == 0;
    return kaToChi || tsuToTo || haToHo || c == 0x30A6;
}

bool TakesSemiVoicedMark(char32_t c)
{
    return c >= 0x30CF && c <= 0x30DB && (c - 0x30CF) % 3 == 0;
}

char32_t FullWidth(char32_t c)
{
    if (c == U' ')
        return 0x3000;
    if (c >= 0x21 && c <= 0x7E)
        return c - 0x21 + 0xFF01;
    if (c >= 0xFF61 && c <= 0xFF9F)
        return HalfWidthKana[c - 0xFF61];
    return c;
}

// The converter's output is well-formed UTF-8; a stray byte would become U+FFFD.
std::u32string DecodeUtf8(std::string_view text)
{
    std::u32string out;
    out.reserve(text.size());
    for (std::size_t i = 0, length = 0; i < text.size(); i += length) {
        const char32_t c = DecodeUtf8At(text, i, length);
        out.push_back(c == InvalidUtf8 ? char32_t{0xFFFD} : c);
    }
    return out;
}

} // namespace

std::string WidenForSpeech(std::string_view cp932)
{
    const std::u32string text = DecodeUtf8(Cp932ToUtf8(cp932));
    std::u32string wide;
    wide.reserve(text.size());
    for (const char32_t c : text) {
        if (c == HalfVoiced && !wide.empty() && TakesVoicedMark(wide.back())) {
            wide.back() = wide.back() == 0x30A6 ? 0x30F4 : wide.back() + 1;
            continue;
        }
        if (c == HalfSemiVoiced && !wide.empty() && TakesSemiVoicedMark(wide.back())) {
            wide.back() += 2;
            continue;
        }
        wide.push_back(FullWidth(c));
    }
    std::string utf8;
    utf8.reserve(wide.size() * 3);
    for (const char32_t c : wide)
        AppendUtf8(utf8, c);
    return std::string(Cp932Cut(Utf8ToCp932(utf8), SpeechTextLimit));
}

} // namespace kavo
