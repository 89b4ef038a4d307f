#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

// Shared by the libFuzzer harnesses: a broken property is a finding, just like a crash.
namespace kavo::fuzz {

[[noreturn]] inline void Fail(const char* property, const char* file, int line)
{
    std::fprintf(stderr, "%s:%d: property broken: %s\n", file, line, property);
    std::abort();
}

#define FUZZ_CHECK(condition)                                                                                          \
    do {                                                                                                               \
        if (!(condition))                                                                                              \
            ::kavo::fuzz::Fail(#condition, __FILE__, __LINE__);                                                        \
    } while (false)

inline std::string_view Text(const std::uint8_t* data, std::size_t size)
{
    return {reinterpret_cast<const char*>(data), size};
}

// Takes the first byte as a small number for the harness to choose with; 0 when there is none.
inline unsigned TakeByte(std::string_view& text)
{
    if (text.empty())
        return 0;
    const auto value = static_cast<unsigned char>(text.front());
    text.remove_prefix(1);
    return value;
}

// Whether text is well-formed UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF).
inline bool IsUtf8(std::string_view text)
{
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t length = c < 0x80                ? 1
                             : c >= 0xC2 && c < 0xE0 ? 2
                             : c >= 0xE0 && c < 0xF0 ? 3
                             : c >= 0xF0 && c < 0xF5 ? 4
                                                     : 0;
        if (length == 0 || i + length > text.size())
            return false;
        std::uint32_t code = length == 1 ? c : c & (0xFF >> (length + 1));
        for (std::size_t k = 1; k < length; ++k) {
            const auto t = static_cast<unsigned char>(text[i + k]);
            if ((t & 0xC0) != 0x80)
                return false;
            code = code << 6 | (t & 0x3F);
        }
        if ((length == 3 && code < 0x800) || (length == 4 && (code < 0x10000 || code > 0x10FFFF)) ||
            (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

} // namespace kavo::fuzz
