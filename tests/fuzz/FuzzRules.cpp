// A rules file from anywhere: what is taken is written back as a text that reads the same, and
// survives the settings file unchanged, which is why a reader refuses what kavo.ini cannot keep.
#include "FuzzSupport.h"

#include "rules/RulesFile.h"
#include "rules/RulesImport.h"
#include "settings/IniFile.h"
#include "settings/TkavoSetting.h"

using namespace kavo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    RulesReading reading;
    try {
        reading = ParseRules(fuzz::Text(data, size));
    } catch (const RulesError& error) {
        FUZZ_CHECK(*error.what() != '\0');
        return 0;
    }
    const std::string text = RulesText(reading.Rules);
    const RulesReading again = ParseRules(text);
    FUZZ_CHECK(again.Rules == reading.Rules);
    FUZZ_CHECK(again.Notes.empty());

    // Made once: a new object looks for programs on PATH for its defaults.
    static TkavoSetting settings;
    settings.Favorites.Clear();
    settings.YpList.Clear();
    ImportRules(reading, ImportMode::Replace, settings);
    IniFile ini;
    settings.SaveTo(ini);
    settings.LoadFrom(IniFile::FromText(ini.Text()));
    RuleSet stored = RulesOf(settings);
    if (!reading.Rules.Favorites)
        stored.Favorites.reset();
    if (!reading.Rules.Yps)
        stored.Yps.reset();
    FUZZ_CHECK(RulesText(stored) == text);
    return 0;
}
