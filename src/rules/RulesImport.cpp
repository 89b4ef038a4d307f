#include "rules/RulesImport.h"

#include "platform/Cp932.h"
#include "settings/TkavoSetting.h"

#include <memory>
#include <unordered_map>

namespace kavo {

void ImportFavorites(const std::vector<FavoriteFields>& favorites, ImportMode mode, TkavoFavoriteList& list,
                     ImportSummary& summary)
{
    ImportSummary::Counts& counts = summary.Favorites;
    counts.Present = true;
    summary.Mode = mode;
    if (mode == ImportMode::Replace) {
        counts.Replaced += list.Count();
        list.Clear();
    }
    // Candidates by title and word; the whole record decides, whatever fields it has.
    std::unordered_multimap<std::string, int> known;
    const auto keyOf = [](const FavoriteFields& f) { return f.Title + '\n' + f.Word; };
    if (mode == ImportMode::Add)
        for (int i = 0; i < list.Count(); ++i)
            known.emplace(keyOf(list[i]), i);
    list.Reserve(list.Count() + static_cast<int>(favorites.size()));
    for (const FavoriteFields& favorite : favorites) {
        const std::string key = keyOf(favorite);
        if (mode == ImportMode::Add) {
            const auto [first, last] = known.equal_range(key);
            bool duplicate = false;
            for (auto it = first; it != last && !duplicate; ++it)
                duplicate = static_cast<const FavoriteFields&>(list[it->second]) == favorite;
            if (duplicate) {
                ++counts.Skipped;
                continue;
            }
            known.emplace(key, list.Count());
        }
        auto item = std::make_unique<TkavoFavoriteItem>();
        static_cast<FavoriteFields&>(*item) = favorite;
        list.Add(std::move(item));
        ++counts.Added;
    }
}

void ImportYps(const std::vector<YpFields>& yps, ImportMode mode, TkavoYpList& list, ImportSummary& summary)
{
    ImportSummary::Counts& counts = summary.Yps;
    counts.Present = true;
    summary.Mode = mode;
    if (mode == ImportMode::Replace) {
        counts.Replaced += list.Count();
        list.Clear();
    }
    std::unordered_map<std::string, int> byUrl;
    for (int i = 0; i < list.Count(); ++i)
        byUrl.emplace(list[i].Url, i);
    for (std::size_t i = 0; i < yps.size(); ++i) {
        const YpFields& yp = yps[i];
        // The settings keep one YP per URL.
        if (const auto it = byUrl.find(yp.Url); it != byUrl.end()) {
            ++counts.Skipped;
            if (!(static_cast<const YpFields&>(list[it->second]) == yp))
                summary.Notes.push_back("yps[" + std::to_string(i) + "] (" + Cp932ToUtf8(yp.Url) +
                                        "): this YP is configured already, with other values; they were kept");
            continue;
        }
        byUrl.emplace(yp.Url, list.Count());
        auto item = std::make_unique<TkavoYpItem>();
        static_cast<YpFields&>(*item) = yp;
        list.Add(std::move(item));
        ++counts.Added;
    }
}

ImportSummary ImportRules(const RulesReading& reading, ImportMode mode, TkavoSetting& setting)
{
    ImportSummary summary;
    summary.Mode = mode;
    summary.Notes = reading.Notes;
    if (reading.Rules.Favorites)
        ImportFavorites(*reading.Rules.Favorites, mode, setting.Favorites, summary);
    if (reading.Rules.Yps)
        ImportYps(*reading.Rules.Yps, mode, setting.YpList, summary);
    return summary;
}

} // namespace kavo
