#pragma once

#include <string>
#include <string_view>

namespace kavo::test {

// "8abf 8e9a" -> the bytes 0x8A 0xBF 0x8E 0x9A; blanks are ignored.
inline std::string Bytes(std::string_view hex)
{
    std::string out;
    int high = -1;
    for (const char c : hex) {
        int value;
        if (c >= '0' && c <= '9')
            value = c - '0';
        else if (c >= 'a' && c <= 'f')
            value = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            value = c - 'A' + 10;
        else
            continue;
        if (high < 0) {
            high = value;
        } else {
            out += static_cast<char>(high * 16 + value);
            high = -1;
        }
    }
    return out;
}

inline std::string Hex(std::string_view bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

} // namespace kavo::test
