// Little-endian field assembly, independent of the host's byte order. Every
// byte is widened to 32 bits before it is shifted.
#ifndef AMPDOTS_WAV_BYTES_H_
#define AMPDOTS_WAV_BYTES_H_

#include <cstdint>

namespace ampdots {

constexpr std::uint32_t Assem2(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8);
}

constexpr std::uint32_t Assem4(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
         (static_cast<std::uint32_t>(bytes[2]) << 16) |
         (static_cast<std::uint32_t>(bytes[3]) << 24);
}

}  // namespace ampdots

#endif  // AMPDOTS_WAV_BYTES_H_
