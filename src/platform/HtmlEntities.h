#pragma once

#include <string>
#include <string_view>

namespace kavo {

// Channel texts arrive HTML-escaped and stay that way; plain-text uses decode them with this
// fixed table of six entities: &amp; &lt; &gt; &nbsp; &quot; &#039;.
std::string HtmlEncode(std::string_view text);
// Entities match without regard to letter case; each entity is decoded over the result of the
// one before, so "&amp;lt;" becomes "<".
std::string HtmlDecode(std::string_view text);
// The same into out (its old content replaced), for callers that reuse one buffer; text must not
// lie inside out.
void HtmlDecode(std::string_view text, std::string& out);

} // namespace kavo
