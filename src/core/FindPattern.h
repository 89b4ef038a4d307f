#pragma once

#include <string>
#include <string_view>

namespace kavo {

// The search pattern of a find input (CP932): blanks and control characters trimmed, every white
// space and ideographic space turned into "|" (so the words are alternatives), then HTML-escaped
// as the channel texts are held. "" for an empty input.
std::string FindPatternFromInput(std::string_view input);

// The text a find pattern is tried on: the channel name, then "[genre - description]".
std::string FindSubject(const std::string& channelName, const std::string& genre, const std::string& description);

} // namespace kavo
