#pragma once

#include "core/TkavoChItem.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kavo {

// Every tag a template may hold. Path tags come first, then list tags, channel tags and the tag
// only commands know.
enum class Tag : std::uint8_t {
    TemplatePath, // <templatepath/>, <skinpath/>
    ExePath,
    ExeName,
    PeerCastPath,
    PeerCastName,
    BrowserPath,
    BrowserName,
    FindValue2,

    ListResults, // <results/> of a list: always removed
    TotalResults,
    LastUpdate,
    TotalConnectBitrate,
    TotalConnectCount,

    ChannelName,
    Description,
    Playing,
    Contact,
    Listener,
    Chat,
    Statistics,
    Type,
    Stream,
    DirectStream,
    No,   // <no/>, <num/>
    Diff, // <diff/>, <rank/>
    Bitrate,
    TimeStamp,
    Hash,
    Results, // <results/> of a channel: removed, or kept when the channel belongs to no list
    YpAddr,
    Color,
    ColorText,
    BroadcastTime,
    KyasukoStatus,
    Comment,
    Find,
    FindValue,
    PlayHint, // a mark with the reason a channel will probably not play; on the page, a tip on it

    InputBox,

    // Marks of the YP-style page, placed when its templates are loaded; no template can name them.
    ScriptNonce, // the nonce attribute of a <script> element of the template
    PagePolicy,  // the page's Content-Security-Policy, in its head
};

// Whether a tag's value is text from outside kavo: what a YP sent or a user typed. The YP-style
// page makes such values safe for HTML; kavo's own values (numbers, colours, state texts, paths)
// go in as they are.
bool FromOutside(Tag tag);

// Which tags a template is expanded with.
enum class TagSet : std::uint8_t {
    Path,
    List,    // path tags, then list tags
    Channel, // path tags, then channel tags
    Command, // path tags, channel tags and <inputbox/>
};

// How a tag was written: "<hash/>", "$ee{<hash/>}" (backslashes of the value become "/") or
// "$es{<hash/>}" (backslashes doubled).
enum class TagForm : std::uint8_t {
    Plain,
    Ee,
    Es,
};

// The values of tags that come neither from a channel nor from a list.
class TagEnvironment
{
public:
    virtual ~TagEnvironment() = default;
    // Value of a path tag (Tag::TemplatePath .. Tag::FindValue2), CP932.
    virtual std::string PathTagValue(Tag tag) const = 0;
    // The find dialog's search value, for channels it marked.
    virtual std::string FindValue() const = 0;
};

// The marks of one build of the YP-style page.
struct PageMarks
{
    std::string Nonce;  // lets the template's own <script> elements run
    std::string Policy; // the Content-Security-Policy that names it
};

// What one expansion takes its values from.
struct TagValues
{
    const TagEnvironment* Environment = nullptr; // nullptr: path tags and <findvalue/> give ""
    const TkavoChItem* Channel = nullptr;        // nullptr: the values of a new, empty record
    const TkavoChList* List = nullptr;           // nullptr: an empty list
    std::string_view InputAnswer;                // for <inputbox/>
    bool LocalChInfo = false;                    // URL/LocalChInfo: the totals of connected channels count
    int LocalIPFamily = 0;                       // URL/LocalIPFamily, for <playhint/>
    // Set for the YP-style page: values from outside are made safe for HTML, and the page's marks
    // are written. Unset, every value goes in as it is.
    const PageMarks* Page = nullptr;
};

// A template split once into literal pieces and tag slots. Expansion writes every piece in one pass,
// so a value is never scanned for tags again: a channel named "$ee{<hash/>}" stays as it is.
//
// For a tag the form chosen is the one of step-by-step replacement: when the text holds the ee
// form, only ee forms are replaced and plain occurrences stay as written; else the es form; else
// the plain one. Tags match without regard to ASCII case.
class CompiledTemplate
{
public:
    CompiledTemplate() = default;
    CompiledTemplate(std::string source, TagSet set);

    const std::string& Text() const { return m_text; }
    TagSet Set() const { return m_set; }
    bool Uses(Tag tag) const;

    // The pieces in order: literal text, or a tag slot with the tag as written.
    struct PieceView
    {
        bool IsSlot;
        Tag SlotTag;
        TagForm Form;
        std::string_view Text;
    };
    std::vector<PieceView> Pieces() const;

    // For a piece of the YP-style page: a nonce mark in every <script> start tag the template
    // itself holds, and with `policy` the page's policy mark at the start of its head.
    void MarkPageScripts(bool policy);
    // The inline event handlers ("onclick=...") and javascript: URLs the template itself holds, as
    // the browser reads them (entities decoded, UTF-8). One that holds a tag is left out: its text
    // changes with the values.
    std::vector<std::string> InlineScripts() const;

    void ExpandTo(std::string& out, const TagValues& values) const;
    std::string Expand(const TagValues& values) const
    {
        std::string out;
        ExpandTo(out, values);
        return out;
    }

private:
    struct Piece
    {
        std::uint32_t Offset = 0; // into m_text; for a slot the tag as written
        std::uint32_t Size = 0;
        bool IsSlot = false;
        Tag SlotTag = Tag::TemplatePath;
        TagForm Form = TagForm::Plain;
    };

    bool insideSlot(std::size_t begin, std::size_t end) const;
    void insertMark(std::size_t offset, Tag mark);

    std::string m_text;
    TagSet m_set = TagSet::Path;
    std::vector<Piece> m_pieces;
};

// The tag a name stands for in a set ("channelname", "NUM"), or false.
bool LookupTag(std::string_view name, TagSet set, Tag& tag);

// "#RRGGBB" of a stored colour, or "#" + fallback when the colour is off. A system colour has no
// RGB value of its own, so it gives the fallback as well.
std::string HtmlColor(ColorValue color, bool enabled, std::string_view fallback);

// Value transforms of the escape forms; trail bytes of double-byte characters are left alone.
std::string BackslashesToSlashes(std::string_view value);
std::string DoubleBackslashes(std::string_view value);

// Template files are split at CR LF, lone CR and lone LF; a final line break adds no empty line.
std::vector<std::string> SplitLines(std::string_view text);
// Every line followed by CR LF.
std::string JoinLines(const std::vector<std::string>& lines);

// Finishing steps of the text recipes, applied to an expanded template.
// Notification: each line decoded, cut to cutBytes when longer (cutBytes < 0: no cut) without
// splitting a double-byte character and marked "...", right-trimmed, empty lines dropped; joined
// with CR LF.
std::string FinishNotifyText(std::string_view expanded, int cutBytes);
// Pop-up tip and clipboard: decoded, right-trimmed, empty lines dropped; joined with CR LF.
std::string FinishPlainText(std::string_view expanded);
// Notify/CutLongStringRange as a byte count: a text that is not a decimal integer counts as 60, a
// negative one as 0.
int CutRange(std::string_view setting);

} // namespace kavo
