#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace kavo::test {

// A fresh folder under the system's temporary folder, removed with everything in it (the modes a
// test took away are given back first). The path is physical, so tests may compare it with what
// a started process reports as its folder.
class TempFolder
{
public:
    TempFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "kavo-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            std::abort();
        m_path = std::filesystem::canonical(pattern).string();
    }
    ~TempFolder()
    {
        namespace fs = std::filesystem;
        std::error_code ec;
        fs::permissions(m_path, fs::perms::owner_all, fs::perm_options::add, ec);
        for (auto it = fs::recursive_directory_iterator(m_path, ec); !ec && it != fs::recursive_directory_iterator();
             it.increment(ec))
            if (it->is_directory(ec))
                fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(m_path, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }
    std::string operator/(const std::string& name) const { return File(name); }

private:
    std::string m_path;
};

} // namespace kavo::test
