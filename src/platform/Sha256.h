#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace kavo {

// SHA-256 of a byte string (FIPS 180-4).
std::array<std::uint8_t, 32> Sha256(std::string_view data);

// Base64 with padding (RFC 4648), as Content-Security-Policy hashes and nonces are written.
std::string Base64(std::string_view data);

} // namespace kavo
