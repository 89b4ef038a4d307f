#pragma once

#include <string>

namespace kavo {

// What decides where the program keeps its state.
struct ProgramFolderSources
{
    std::string Home;                      // --home DIR; empty when not given
    std::string KavoHome;                  // $KAVO_HOME
    std::string XdgConfigHome;             // $XDG_CONFIG_HOME
    std::string UserHome;                  // $HOME, else the account's home folder
    std::string ExecutablePath;            // the running program file
    bool ExecutableFolderWritable = false; // whether this user may write the program file's folder
    std::string DataFolder;                // the installed templates/ and icons/; empty: nothing to copy

    // Fills the environment's part and the executable path.
    static ProgramFolderSources FromEnvironment(std::string home, std::string dataFolder);
};

// The first that applies: --home, KAVO_HOME, the executable's folder when it holds a portable
// marker (PortableMarker, or a kavo.ini of a copy carried over as a whole) and is writable, else
// $XDG_CONFIG_HOME/kavo or ~/.config/kavo. A writable folder alone is no reason: a program in
// ~/.local/bin or a build folder must not keep the user's settings there. A folder other than the
// executable's is created when missing and seeded from the data folder. No trailing "/".
inline constexpr const char* PortableMarker = "kavo.portable";
std::string ResolveProgramFolder(const ProgramFolderSources& sources);

// Copies the files of dataFolder/templates and dataFolder/icons that the folder does not have yet;
// files already there are the user's and stay. Failures are ignored: a missing template is
// reported where it is used.
void SeedProgramFolder(const std::string& folder, const std::string& dataFolder);

// The folder of the program's state and the program's name ("kavo"), set by main() at start
// (kavo-list sets "kavo" too, to share the settings file). Until set, or after an empty folder:
// the executable's folder, and "kavo".
std::string ProgramFolder();
void SetProgramFolder(const std::string& folder);
std::string ProgramName();
void SetProgramName(const std::string& name);

// The running program file, from /proc/self/exe; "" when unknown.
std::string ExecutablePath();

} // namespace kavo
