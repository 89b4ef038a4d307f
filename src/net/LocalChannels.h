#pragma once

#include "core/TkavoChItem.h"
#include "core/TkavoYpItem.h"

#include <string>
#include <string_view>

namespace kavo {

class HttpClient;
class RegularExpression;

// The value of name="..." in text when the attribute occurs exactly once, else "".
std::string AttributeValue(std::string_view name, std::string_view text, RegularExpression& regExp);

// Reads the local server's status document (UTF-8, as served) into list: one record per relayed
// channel with Hash, Listeners, Relays and LocalStatus. An empty document leaves list as it was
// and returns false, so that the channels of an earlier read keep marking.
bool ParseLocalChannels(std::string_view document, RegularExpression& regExp, TkavoChList& list);

// Reads the local server's status page at address into list when enabled; empties list when not.
// An unreachable server, a failed request or an empty answer leaves list as it was. Nothing of
// this is reported, as the local information is an extra; true when the server answered.
bool ReadLocalChannels(bool enabled, const std::string& address, HttpClient& http, RegularExpression& regExp,
                       TkavoChList& list);

// The relay of this local status gets its stream from a source: it receives or broadcasts. A bump
// without one leaves the server waiting to drop the next viewer.
bool HasSourceConnection(std::string_view localStatus);

// Copies the local server's status into the YP's channels with the same ID and marks them
// Playing, Idle or Relaying; a Change mark survives everything but Playing.
void MarkLocal(YpRecord& yp, const TkavoChList& local);

} // namespace kavo
