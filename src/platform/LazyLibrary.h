#pragma once

#include "platform/DynamicLibrary.h"

#include <mutex>
#include <string>

namespace kavo {

// A system library the program needs only once its window is up (HTTP, sounds, the visited-URL
// store), opened on first use: loading it and everything it depends on at start-up would hold back
// the first window. Api is a struct of function pointers with a member
// `bool Bind(const DynamicLibrary&, std::string& error)` that fills them all from the library.
template <class Api>
class LazyLibrary
{
public:
    explicit LazyLibrary(const char* file) : m_file(file) {}
    LazyLibrary(const LazyLibrary&) = delete;
    LazyLibrary& operator=(const LazyLibrary&) = delete;

    // The functions, or nullptr when the library cannot be loaded or lacks one of them (Error()
    // then says why). Safe to call from any thread; the library stays loaded for the whole run.
    const Api* Get()
    {
        std::call_once(m_once, [this] {
            if (!m_library.Open(m_file))
                m_error = m_library.Error();
            else if (!m_api.Bind(m_library, m_error))
                m_library.Close();
        });
        return m_library.IsOpen() ? &m_api : nullptr;
    }
    const std::string& Error() const { return m_error; }

private:
    const char* m_file;
    std::once_flag m_once;
    DynamicLibrary m_library;
    Api m_api{};
    std::string m_error;
};

// Fills function from the library's symbol of that name; false with an error text when it is missing.
template <class F>
bool BindFunction(const DynamicLibrary& library, const char* name, F& function, std::string& error)
{
    function = library.Function<F>(name);
    if (!function)
        error = std::string(name) + " is missing from the library";
    return function != nullptr;
}

} // namespace kavo
