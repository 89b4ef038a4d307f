#pragma once

#include <cstdint>
#include <string>

namespace kavo::bench {

enum class IndexEncoding {
    Utf8,
    Cp932
};

// A synthetic YP index.txt of `channels` lines, the same for the same seed: Japanese names,
// HTML-escaped texts, about 5% info lines with a zero ID, listener counts from -1 to 500.
std::string GenerateIndex(int channels, IndexEncoding encoding, std::uint32_t seed = 1);

} // namespace kavo::bench
