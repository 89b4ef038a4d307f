#pragma once

// The rules file, kavo-rules.json: the favorites and the YPs in a versioned UTF-8 JSON document
// that people can read, diff and merge, and that moves between machines. docs/rules-file.md
// describes it and data/schema/kavo-rules.schema.json is its JSON Schema.

#include "core/TkavoFavoriteItem.h"
#include "core/TkavoYpItem.h"

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kavo {

class TkavoSetting;

// The version this program writes, and the newest it reads.
inline constexpr int RulesVersion = 1;
// A larger file is refused unread.
inline constexpr std::size_t MaxRulesFileBytes = std::size_t{32} << 20;

// What a rules file holds. A section the file leaves out is nullopt: an import leaves that part of
// the settings alone, whereas an empty list is a list without entries. Texts are CP932, as the
// settings hold them.
struct RuleSet
{
    std::optional<std::vector<FavoriteFields>> Favorites;
    std::optional<std::vector<YpFields>> Yps;

    bool operator==(const RuleSet&) const = default;
};

// A file that cannot be taken. what() is UTF-8 and starts with the place of the fault, as a path
// into the document ("favorites[12].regex: missing closing parenthesis at offset 3") or a line
// and column for a syntax error.
class RulesError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

enum class RulesFormat {
    Kavo,       // kavo-rules.json
    PeercastYt, // channelFilters.json of peercast-yt's YP page
};

struct RulesReading
{
    RuleSet Rules;
    RulesFormat Format = RulesFormat::Kavo;
    // UTF-8: what a foreign format holds that has no equivalent here, and what became of it.
    std::vector<std::string> Notes;
};

// Reads a rules file, or a peercast-yt filter file (a top-level array), checking every entry: a
// regular expression that does not compile, a text without a Shift-JIS form, an unknown key or a
// value of the wrong kind is an error, and so is a YP URL given twice. Throws RulesError.
RulesReading ParseRules(std::string_view text);

// The document of the rules: keys in a fixed order, two blanks of indent, "\n" line ends, a final
// line end; the same rules always give the same bytes.
std::string RulesText(const RuleSet& rules);

// Both sections of the settings.
RuleSet RulesOf(const TkavoSetting& setting);
// Only the favorites of the list at these lines (every line when lines is empty).
RuleSet FavoriteRules(const TkavoFavoriteList& favorites, const std::vector<int>& lines = {});

// The rules file the settings follow (a relative path is taken from the program folder); "" when
// they follow none.
std::string FollowedRulesFile(const TkavoSetting& setting);

// The bytes of the file; "-" is standard input. Throws RulesError naming the file and the reason.
std::string ReadRulesFile(const std::string& path);
// Writes text over the file in one step; "-" is standard output. Throws RulesError.
void WriteRulesFile(const std::string& path, std::string_view text);

} // namespace kavo
