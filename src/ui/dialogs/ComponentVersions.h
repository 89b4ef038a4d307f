#pragma once

#include <string>
#include <vector>

namespace kavo {

struct ComponentVersion
{
    std::string Name;
    std::string Version; // "" when the library does not tell
};

// The libraries below the user interface that the program runs with, in a fixed order. Versions
// come from the loaded libraries where they can say (libcurl is loaded for this when no refresh
// has loaded it yet), else from the headers the program was built with.
std::vector<ComponentVersion> EngineComponentVersions();

// "name (version)".
std::string ComponentLine(const ComponentVersion& component);

} // namespace kavo
