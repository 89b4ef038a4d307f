#pragma once

// Taking the rules of a file into the settings: added to what is there, or in place of it.

#include "rules/RulesFile.h"

#include <string>
#include <vector>

namespace kavo {

class TkavoSetting;

enum class ImportMode {
    Add,     // append what is not there yet
    Replace, // the file's sections take the place of the settings' ones
};

// What an import did, per section; a section the file leaves out counts nothing.
struct ImportSummary
{
    ImportMode Mode = ImportMode::Add;
    struct Counts
    {
        bool Present = false; // the file has the section
        int Added = 0;        // entries taken on
        int Skipped = 0;      // entries already there (Add)
        int Replaced = 0;     // entries the section had before (Replace)
    };
    Counts Favorites;
    Counts Yps;
    // UTF-8: the reading's notes, then what the import left out and why.
    std::vector<std::string> Notes;
};

// Favorites equal in every field to one already there (or one added before from the same file)
// are skipped; a YP whose URL is there already is skipped, with a note when its other values
// differ. Replace takes the file's entries as they are.
void ImportFavorites(const std::vector<FavoriteFields>& favorites, ImportMode mode, TkavoFavoriteList& list,
                     ImportSummary& summary);
void ImportYps(const std::vector<YpFields>& yps, ImportMode mode, TkavoYpList& list, ImportSummary& summary);
// Both sections of the reading, as far as the file has them, with its notes.
ImportSummary ImportRules(const RulesReading& reading, ImportMode mode, TkavoSetting& setting);

} // namespace kavo
