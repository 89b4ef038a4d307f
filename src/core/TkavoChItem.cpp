#include "core/TkavoChItem.h"

#include "core/ChannelKey.h"
#include "platform/Cp932.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <string_view>
#include <vector>

namespace kavo {

const std::string& DiffText(TkavoDiff diff)
{
    static const std::array<std::string, TkavoDiffCount> texts = {
        Sjis("変化なし"),
        Sjis("ランクアップ"),
        Sjis("ランクダウン"),
        Sjis("新着(前回)"),
        Sjis("新着"),
        "Change",
        "Idle",
        "Relaying",
        "Playing",
    };
    return texts.at(static_cast<std::size_t>(diff));
}

void TkavoChItem::Assign(const TkavoDataItem& source)
{
    // Every field is a value, so the member-wise copy is the deep copy.
    if (const auto* channel = dynamic_cast<const TkavoChItem*>(&source))
        *this = *channel;
    else
        TkavoDataItem::Assign(source);
}

std::string GenreDescriptionOf(const std::string& genre, const std::string& description)
{
    std::string text;
    AppendGenreDescription(text, genre, description);
    return text;
}

void AppendGenreDescription(std::string& text, const std::string& genre, const std::string& description)
{
    if (genre.empty() && description.empty())
        return;
    text += '[';
    text += genre;
    if (!genre.empty() && !description.empty())
        text += " - ";
    text += description;
    text += ']';
}

std::string TkavoChItem::GenreDescription() const
{
    return GenreDescriptionOf(Genre, Description);
}

std::string TkavoChItem::PrevGenreDescription() const
{
    return GenreDescriptionOf(PrevGenre, PrevDescription);
}

DateTime TkavoChItem::DurationOf(std::string_view broadcastTime)
{
    // Read for every channel of every refresh. The usual "h:mm" in one pass; signs, long numbers
    // and empty pieces below.
    std::array<long long, 3> plain{};
    std::size_t count = 0;
    int digits = 0;
    for (const char c : broadcastTime) {
        if (c >= '0' && c <= '9' && digits < 9) {
            plain[count] = plain[count] * 10 + (c - '0');
            ++digits;
        } else if (c == ':' && digits > 0 && count < 2) {
            ++count;
            digits = 0;
        } else {
            digits = -1;
            break;
        }
    }
    if (digits > 0) {
        ++count;
        std::array<long long, 3> values{};
        std::copy_n(plain.begin(), count, values.end() - static_cast<std::ptrdiff_t>(count));
        return static_cast<double>(values[0]) + static_cast<double>(values[1]) / 24.0 +
               static_cast<double>(values[2]) / MinutesPerDay;
    }

    // A fourth piece may only be the empty one after a trailing colon.
    std::array<std::string_view, 4> pieces;
    count = 0;
    std::string_view rest = broadcastTime;
    while (true) {
        if (count == pieces.size())
            return 0;
        const std::size_t colon = rest.find(':');
        pieces[count++] = rest.substr(0, colon);
        if (colon == std::string_view::npos)
            break;
        rest.remove_prefix(colon + 1);
    }
    if (pieces[count - 1].empty())
        --count;
    if (count == 0 || count > 3)
        return 0;

    std::array<long long, 3> values{};
    for (std::size_t i = 0; i < count; ++i) {
        std::string_view piece = pieces[i];
        if (piece.starts_with('+'))
            piece.remove_prefix(1);
        long long value = 0;
        const auto [end, error] = std::from_chars(piece.data(), piece.data() + piece.size(), value);
        if (piece.empty() || error != std::errc() || end != piece.data() + piece.size())
            return 0;
        values[3 - count + i] = value;
    }
    const auto& [days, hours, minutes] = values;
    return static_cast<double>(days) + static_cast<double>(hours) / 24.0 + static_cast<double>(minutes) / MinutesPerDay;
}

void TkavoChList::Clear()
{
    TkavoDataList::Clear();
    m_statusText.clear();
}

bool TkavoChList::Accept(const TkavoDataItem& record) const
{
    if (!Unique)
        return true;
    const auto* channel = dynamic_cast<const TkavoChItem*>(&record);
    if (!channel)
        return false;
    const ChannelKey key(*channel);
    for (const TkavoChItem& held : *this)
        if (ChannelKey(held) == key)
            return false;
    return true;
}

// The same rule as Accept, with the held keys in a set so that merging n channels costs O(n).
void TkavoChList::AddFrom(const TkavoDataList& source)
{
    if (!Unique) {
        TkavoDataList::AddFrom(source);
        return;
    }
    const int count = source.Count();
    ChannelKeySet held(static_cast<std::size_t>(Count() + count));
    for (const TkavoChItem& channel : *this)
        held.Insert(channel);
    Reserve(Count() + count);
    for (int i = 0; i < count; ++i) {
        const auto* channel = dynamic_cast<const TkavoChItem*>(&source.Item(i));
        if (!channel || !held.Insert(*channel))
            continue;
        auto copy = CreateItem();
        copy->Assign(*channel);
        TkavoDataList::Add(std::move(copy));
    }
}

void TkavoChList::Assign(const TkavoDataList& source)
{
    if (&source == this)
        return;
    TkavoDataList::Assign(source);
    if (const auto* list = dynamic_cast<const TkavoChList*>(&source)) {
        LastUpdate = list->LastUpdate;
        Valid = list->Valid;
    }
}

std::int64_t TkavoChList::TotalListeners() const
{
    std::int64_t total = 0;
    for (const TkavoChItem& channel : *this)
        if (channel.Listeners > 0)
            total += channel.Listeners;
    return total;
}

std::int64_t TkavoChList::TotalRelays() const
{
    std::int64_t total = 0;
    for (const TkavoChItem& channel : *this)
        if (channel.Relays > 0)
            total += channel.Relays;
    return total;
}

const std::string& TkavoChList::StatusText() const
{
    if (m_statusText.empty()) {
        char text[160];
        std::snprintf(text, sizeof text, "Results: %d channels, %lld listeners, %lld relays, Last update: ** sec",
                      Count(), static_cast<long long>(TotalListeners()), static_cast<long long>(TotalRelays()));
        m_statusText = text;
    }
    return m_statusText;
}

TkavoChItem* TkavoChList::FindByHash(const std::string& hash) const
{
    for (TkavoChItem& channel : *this)
        if (channel.Hash == hash)
            return &channel;
    return nullptr;
}

void TkavoChList::ClearFind()
{
    for (TkavoChItem& channel : *this)
        channel.Find = false;
}

namespace {
bool IsConnected(const TkavoChItem& channel)
{
    return !channel.LocalStatus.empty() && channel.LocalStatus != "IDLE";
}
} // namespace

std::int64_t TkavoChList::TotalConnectBitrate(bool localChInfo) const
{
    if (!localChInfo)
        return 0;
    std::int64_t total = 0;
    for (const TkavoChItem& channel : *this)
        if (IsConnected(channel))
            total += channel.BitrateValue;
    return total;
}

int TkavoChList::TotalConnectCount(bool localChInfo) const
{
    if (!localChInfo)
        return 0;
    int count = 0;
    for (const TkavoChItem& channel : *this)
        if (IsConnected(channel))
            ++count;
    return count;
}

} // namespace kavo
