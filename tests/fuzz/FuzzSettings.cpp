// A settings file as a user may leave it: the image keeps every line, and the settings loaded from
// it, saved and loaded again, come to a text that stays.
#include "FuzzSupport.h"

#include "settings/IniFile.h"
#include "settings/TkavoSetting.h"

using namespace kavo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input = fuzz::Text(data, size);
    const IniFile ini = IniFile::FromText(std::string(input));
    const std::string text = ini.Text();
    FUZZ_CHECK(text.size() <= 2 * input.size() + 2);
    FUZZ_CHECK(IniFile::FromText(text).Text() == text);

    // A value the reader trims (a tool title before an "=" of the command, with a blank in front of
    // it) may change once; after that, loading and saving is a fixed point.
    const auto resave = [](const IniFile& from) {
        // Made once: a new object looks for programs on PATH for its defaults. LoadFrom replaces
        // everything the file names.
        static TkavoSetting settings;
        settings.LoadFrom(from);
        IniFile saved;
        settings.SaveTo(saved);
        return saved.Text();
    };
    const std::string once = resave(ini);
    const std::string twice = resave(IniFile::FromText(once));
    FUZZ_CHECK(resave(IniFile::FromText(twice)) == twice);

    // A value written is read back, without the line breaks it cannot hold.
    IniFile edited = IniFile::FromText(std::string(input));
    const std::string value(input.substr(0, 64));
    edited.WriteString("Fuzz", "Key", value);
    std::string expected = value;
    for (char& c : expected)
        if (c == '\r' || c == '\n')
            c = ' ';
    const IniFile reread = IniFile::FromText(edited.Text());
    const auto read = reread.Value("Fuzz", "Key");
    const std::string trimmed(expected.erase(0, expected.find_first_not_of(" \t"))
                                  .substr(0, expected.find_last_not_of(" \t") == std::string::npos
                                                 ? 0
                                                 : expected.find_last_not_of(" \t") + 1));
    FUZZ_CHECK(read && *read == trimmed);
    return 0;
}
