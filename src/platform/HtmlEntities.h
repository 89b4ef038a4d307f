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

// Makes a text from outside safe to put into an HTML page, as text or as a quoted attribute value:
// "<", ">", '"' and "'" become character references, and an "&" that does not start one becomes
// "&amp;". References the text already holds ("&amp;", "&#039;", "&hearts;") stay as they are, so a
// text its sender escaped shows as it was meant to.
void AppendHtmlSafe(std::string& out, std::string_view text);
std::string HtmlSafe(std::string_view text);
// Whether HtmlSafe would change the text.
bool NeedsHtmlSafe(std::string_view text);
// The length of the character reference ("&name;", "&#123;", "&#x7B;") at text[pos], which must be
// an "&"; 0 when none starts there.
std::size_t CharacterReferenceLength(std::string_view text, std::size_t pos);

} // namespace kavo
