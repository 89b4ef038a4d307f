#pragma once

#include "core/Color.h"
#include "core/TkavoData.h"
#include "platform/DateTime.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace kavo {

// A channel's change state; also the index of its icon and of its state text.
enum class TkavoDiff : std::uint8_t {
    None = 0,
    Up = 1,
    Down = 2,
    PreNew = 3,
    New = 4,
    Change = 5,
    Idle = 6,
    Relaying = 7,
    Playing = 8,
};
constexpr int TkavoDiffCount = 9;

// "変化なし", "ランクアップ", ... in CP932.
const std::string& DiffText(TkavoDiff diff);

inline constexpr const char* NoHash = "00000000000000000000000000000000";

// One channel as listed by a YP. Texts are CP932 and stay HTML-escaped as the YP sent them.
struct TkavoChItem : TkavoDataItem
{
    std::int32_t No = 0;
    TkavoDiff Diff = TkavoDiff::None;
    std::string ChannelName;
    std::int32_t Relays = 0;
    std::int32_t Listeners = 0;
    std::string Bitrate;
    std::string Type;
    std::string ChatURL;
    std::string ContactURL;
    std::string StreamURL;
    std::string DirectStreamURL;
    DateTime TimeStamp = 0;
    std::string Hash;
    bool Find = false;
    std::string Playing;
    ColorValue Color = clWindow;
    bool ColorEnabled = false;
    std::int32_t BitrateValue = 0;
    bool ListDisable = false;
    std::string StatisticsURL;
    std::string YpAddr;
    std::string FileName;
    std::string Status = "click";
    std::string Comment;
    bool ContactIsBbs = false;
    std::string Description;
    std::string Genre;
    std::string LocalStatus;
    std::string BroadcastTime;
    bool YpLike = false;
    bool NotNotify = false;
    std::string PrevPlaying;
    std::string PrevComment;
    std::string PrevGenre;
    std::string PrevDescription;
    bool ColorTextEnabled = false;
    ColorValue ColorText = clWindowText;
    bool Visited = false;
    bool Favorite = false;

    void Assign(const TkavoDataItem& source) override;

    // "[Genre - Description]", "[Genre]", "[Description]" or "".
    std::string GenreDescription() const;
    std::string PrevGenreDescription() const;
    // Time on air in days from "m", "h:m" or "d:h:m"; 0 for anything else.
    DateTime BroadcastDuration() const { return DurationOf(BroadcastTime); }
    static DateTime DurationOf(std::string_view broadcastTime);
    bool HasHash() const { return !Hash.empty() && Hash != NoHash; }
};

std::string GenreDescriptionOf(const std::string& genre, const std::string& description);
void AppendGenreDescription(std::string& text, const std::string& genre, const std::string& description);

class TkavoChList : public TypedList<TkavoChItem>
{
public:
    DateTime LastUpdate = 0;
    bool Valid = false;
    // Accept and AddFrom leave out a record whose ID and name the list already holds
    // (Notify/Unique); the list's owner sets it, and Assign keeps the target's own.
    bool Unique = false;

    void Clear() override;
    bool Accept(const TkavoDataItem& record) const override;
    void Assign(const TkavoDataList& source) override;
    void AddFrom(const TkavoDataList& source) override;

    // Sums of 32-bit counts: 64 bits, so that a YP's largest figures cannot wrap around.
    std::int64_t TotalListeners() const;
    std::int64_t TotalRelays() const;
    // Computed on first request and kept until the next Clear.
    const std::string& StatusText() const;
    TkavoChItem* FindByHash(const std::string& hash) const;
    void ClearFind();
    // Counted only when the local server's channel list is read (URL/LocalChInfo).
    std::int64_t TotalConnectBitrate(bool localChInfo) const;
    int TotalConnectCount(bool localChInfo) const;

private:
    mutable std::string m_statusText;
};

} // namespace kavo
