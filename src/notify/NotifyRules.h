#pragma once

#include "core/TkavoChItem.h"
#include "notify/TkavoNotifyItem.h"

#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kavo {

// A channel notification collects channel texts up to this many bytes.
inline constexpr std::size_t NotifyTextLimit = 256;
// Speech gets at most this many bytes of (widened) text.
inline constexpr std::size_t SpeechTextLimit = 1024;

// The channel notifications of a list, in list order: channels marked NotNotify or ListDisable are
// left out, and so are channels that are no favorite when favoritesOnly is set. render gives a
// channel's text (CP932); the texts are joined by CR LF while the joined text stays under
// NotifyTextLimit bytes, and each item carries the favorite sounds of its channels and the
// channels themselves.
//
// maxItems > 0 caps a flood: past that many items the channels left are not rendered, and one
// last item counts them ("新着 866件 ほか"), without sounds.
std::vector<TkavoNotifyItem> BuildChannelNotifications(const TkavoChList& channels, bool favoritesOnly,
                                                       const std::string& title,
                                                       const std::function<std::string(const TkavoChItem&)>& render,
                                                       int maxItems = 0);

// The channels a refresh announces, from the on-air view's rows in their display order: those whose
// change state is rank2 (Notify/Rank2) and that the favorites do not hide.
std::vector<const TkavoChItem*> ChannelsToNotify(std::span<const TkavoChItem* const> rows, int rank2);

// A decimal integer setting with blanks around it and an optional sign; fallback for anything else.
int DecimalSetting(std::string_view text, int fallback);

// The display time of a balloon in milliseconds from Notify/BallonTimer seconds. A value that is no
// integer counts as 10 seconds, and so does one of 0 or less: a balloon that never ends would hold
// the queue for good.
int BalloonMilliseconds(std::string_view ballonTimer);

// The speech speed of Notify/TTSSpeed: 140 when it is no integer.
int SpeechSpeed(std::string_view ttsSpeed);

// The text as it is read aloud: half-width characters (ASCII and katakana, voiced marks joined to
// their letter) in their full-width forms, cut to SpeechTextLimit bytes. CP932 in and out.
std::string WidenForSpeech(std::string_view cp932);

} // namespace kavo
