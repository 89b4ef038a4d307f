#include "platform/ProgramFolder.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <pwd.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace kavo {

namespace fs = std::filesystem;

namespace {

std::string Env(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string Normalized(const std::string& folder)
{
    std::error_code ec;
    fs::path path = fs::absolute(fs::path(folder), ec);
    if (ec)
        path = folder;
    std::string text = path.lexically_normal().string();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text;
}

bool IsWritableFolder(const std::string& folder)
{
    std::error_code ec;
    return fs::is_directory(folder, ec) && ::faccessat(AT_FDCWD, folder.c_str(), W_OK, AT_EACCESS) == 0;
}

std::string FolderOf(const std::string& file)
{
    const std::size_t slash = file.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : file.substr(0, slash);
}

std::string PrepareFolder(const std::string& folder, const std::string& dataFolder)
{
    std::string normalized = Normalized(folder);
    std::error_code ec;
    fs::create_directories(normalized, ec);
    SeedProgramFolder(normalized, dataFolder);
    return normalized;
}

struct ProgramIdentity
{
    std::mutex Lock;
    std::string Folder;
    std::string Name = "kavo";
};

ProgramIdentity& Identity()
{
    static ProgramIdentity identity;
    return identity;
}

} // namespace

ProgramFolderSources ProgramFolderSources::FromEnvironment(std::string home, std::string dataFolder)
{
    ProgramFolderSources sources;
    sources.Home = std::move(home);
    sources.KavoHome = Env("KAVO_HOME");
    sources.XdgConfigHome = Env("XDG_CONFIG_HOME");
    sources.UserHome = Env("HOME");
    if (sources.UserHome.empty()) {
        // The reentrant form: another thread may be looking up an account too.
        passwd entry{};
        passwd* account = nullptr;
        std::vector<char> buffer(16384);
        if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &account) == 0 && account && account->pw_dir)
            sources.UserHome = account->pw_dir;
    }
    sources.ExecutablePath = kavo::ExecutablePath();
    sources.ExecutableFolderWritable =
        !sources.ExecutablePath.empty() && IsWritableFolder(FolderOf(sources.ExecutablePath));
    sources.DataFolder = std::move(dataFolder);
    return sources;
}

std::string ResolveProgramFolder(const ProgramFolderSources& sources)
{
    if (!sources.Home.empty())
        return PrepareFolder(sources.Home, sources.DataFolder);
    if (!sources.KavoHome.empty())
        return PrepareFolder(sources.KavoHome, sources.DataFolder);
    if (!sources.ExecutablePath.empty() && sources.ExecutableFolderWritable) {
        const std::string folder = FolderOf(sources.ExecutablePath);
        std::error_code ec;
        for (const char* marker : {PortableMarker, "kavo.ini"})
            if (fs::is_regular_file(fs::path(folder) / marker, ec))
                return Normalized(folder);
    }
    // The XDG rules ignore a relative $XDG_CONFIG_HOME.
    std::string config = sources.XdgConfigHome;
    if (config.empty() || config.front() != '/')
        config = (sources.UserHome.empty() ? std::string(".") : sources.UserHome) + "/.config";
    return PrepareFolder(config + "/kavo", sources.DataFolder);
}

void SeedProgramFolder(const std::string& folder, const std::string& dataFolder)
{
    if (dataFolder.empty())
        return;
    std::error_code ec;
    if (fs::equivalent(folder, dataFolder, ec))
        return;
    for (const char* part : {"templates", "icons"}) {
        const fs::path source = fs::path(dataFolder) / part;
        const fs::path target = fs::path(folder) / part;
        if (!fs::is_directory(source, ec))
            continue;
        fs::create_directories(target, ec);
        fs::recursive_directory_iterator it(source, fs::directory_options::skip_permission_denied, ec);
        for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            const fs::path relative = it->path().lexically_relative(source);
            const fs::path destination = target / relative;
            std::error_code entryError;
            if (it->is_directory(entryError)) {
                fs::create_directories(destination, entryError);
            } else if (it->is_regular_file(entryError) && !fs::exists(destination, entryError)) {
                fs::copy_file(it->path(), destination, fs::copy_options::skip_existing, entryError);
            }
        }
        ec.clear();
    }
}

std::string ProgramFolder()
{
    ProgramIdentity& identity = Identity();
    {
        std::lock_guard lock(identity.Lock);
        if (!identity.Folder.empty())
            return identity.Folder;
    }
    const std::string executable = ExecutablePath();
    return executable.empty() ? Normalized(".") : Normalized(FolderOf(executable));
}

void SetProgramFolder(const std::string& folder)
{
    ProgramIdentity& identity = Identity();
    std::lock_guard lock(identity.Lock);
    identity.Folder = folder.empty() ? std::string() : Normalized(folder);
}

std::string ProgramName()
{
    ProgramIdentity& identity = Identity();
    std::lock_guard lock(identity.Lock);
    return identity.Name;
}

void SetProgramName(const std::string& name)
{
    ProgramIdentity& identity = Identity();
    std::lock_guard lock(identity.Lock);
    identity.Name = name;
}

std::string ExecutablePath()
{
    std::error_code ec;
    const fs::path path = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : path.string();
}

} // namespace kavo
