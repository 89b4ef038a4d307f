#pragma once

#include <string>

namespace kavo {

// A shared library loaded at run time, unloaded when the object goes. Move-only.
class DynamicLibrary
{
public:
    DynamicLibrary() = default;
    ~DynamicLibrary();
    DynamicLibrary(DynamicLibrary&& other) noexcept;
    DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    // A name with a "/" is that file; a bare name is looked for along the system's library path.
    // False when it cannot be loaded; Error() then says why. An open library is closed first.
    bool Open(const std::string& file);
    void Close();
    bool IsOpen() const { return m_handle != nullptr; }
    const std::string& Error() const { return m_error; }

    // The address of an exported symbol; nullptr when the library has none of that name.
    void* Symbol(const char* name) const;
    // The same as a function pointer of type F.
    template <class F>
    F Function(const char* name) const
    {
        return reinterpret_cast<F>(Symbol(name));
    }

private:
    void* m_handle = nullptr;
    std::string m_error;
};

} // namespace kavo
