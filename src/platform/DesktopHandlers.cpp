#include "platform/DesktopHandlers.h"

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <vector>

namespace kavo {

namespace {

std::vector<std::string> Folders(const char* variable, const std::string& fallback, bool list)
{
    const char* value = std::getenv(variable);
    std::string text = value && *value ? value : fallback;
    std::vector<std::string> folders;
    if (!list) {
        folders.push_back(text);
        return folders;
    }
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find(':', start), text.size());
        if (end > start)
            folders.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return folders;
}

std::string Home()
{
    const char* home = std::getenv("HOME");
    return home ? home : "";
}

// A line "x-scheme-handler/peercast=some.desktop;" names a program; "...=" with nothing does not.
bool FileNamesHandler(const std::filesystem::path& file, const std::string& key)
{
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, key.size(), key) != 0)
            continue;
        std::string_view rest = std::string_view(line).substr(key.size());
        while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t'))
            rest.remove_prefix(1);
        if (rest.empty() || rest.front() != '=')
            continue;
        rest.remove_prefix(1);
        if (rest.find_first_not_of(" ;\t\r") != std::string_view::npos)
            return true;
    }
    return false;
}

// A desktop entry whose MimeType lists the scheme's type.
bool EntryHandles(const std::filesystem::path& file, const std::string& type)
{
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("MimeType=", 0) == 0 && (";" + line.substr(9) + ";").find(";" + type + ";") != std::string::npos)
            return true;
    return false;
}

} // namespace

std::string UrlScheme(const std::string& target)
{
    const std::size_t colon = target.find(':');
    if (colon == std::string::npos || colon == 0 || !std::isalpha(static_cast<unsigned char>(target[0])))
        return {};
    for (std::size_t i = 0; i < colon; ++i) {
        const auto c = static_cast<unsigned char>(target[i]);
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.')
            return {};
    }
    std::string scheme = target.substr(0, colon);
    for (char& c : scheme)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return scheme;
}

bool HasSchemeHandler(const std::string& scheme)
{
    namespace fs = std::filesystem;
    const std::string type = "x-scheme-handler/" + scheme;
    std::vector<std::string> config = Folders("XDG_CONFIG_HOME", Home() + "/.config", false);
    for (const std::string& folder : Folders("XDG_CONFIG_DIRS", "/etc/xdg", true))
        config.push_back(folder);
    std::vector<std::string> data = Folders("XDG_DATA_HOME", Home() + "/.local/share", false);
    for (const std::string& folder : Folders("XDG_DATA_DIRS", "/usr/local/share:/usr/share", true))
        data.push_back(folder);
    for (const std::string& folder : config)
        if (FileNamesHandler(fs::path(folder) / "mimeapps.list", type))
            return true;
    std::error_code error;
    for (const std::string& folder : data) {
        const fs::path applications = fs::path(folder) / "applications";
        if (FileNamesHandler(applications / "mimeapps.list", type) ||
            FileNamesHandler(applications / "mimeinfo.cache", type))
            return true;
        // An entry installed without updating the cache still counts.
        for (fs::directory_iterator it(applications, error), end; !error && it != end; it.increment(error))
            if (it->path().extension() == ".desktop" && EntryHandles(it->path(), type))
                return true;
    }
    return false;
}

} // namespace kavo
