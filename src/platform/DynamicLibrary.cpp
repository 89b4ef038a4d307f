#include "platform/DynamicLibrary.h"

#include <dlfcn.h>
#include <utility>

namespace kavo {

DynamicLibrary::~DynamicLibrary()
{
    Close();
}

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept
    : m_handle(std::exchange(other.m_handle, nullptr)), m_error(std::move(other.m_error))
{}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept
{
    if (this != &other) {
        Close();
        m_handle = std::exchange(other.m_handle, nullptr);
        m_error = std::move(other.m_error);
    }
    return *this;
}

bool DynamicLibrary::Open(const std::string& file)
{
    Close();
    m_error.clear();
    // Local symbols: a plug-in's names must not stand in for the program's or another library's.
    m_handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m_handle) {
        const char* error = ::dlerror();
        m_error = error ? error : "cannot load " + file;
    }
    return m_handle != nullptr;
}

void DynamicLibrary::Close()
{
    if (m_handle)
        ::dlclose(m_handle);
    m_handle = nullptr;
}

void* DynamicLibrary::Symbol(const char* name) const
{
    return m_handle ? ::dlsym(m_handle, name) : nullptr;
}

} // namespace kavo
