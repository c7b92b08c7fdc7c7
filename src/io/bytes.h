// Little-endian fields and samples, assembled byte by byte whatever the
// host's byte order. Every byte is widened before it is shifted, so no bit
// ever passes through a signed int.
#ifndef AMPDOTS_IO_BYTES_H_
#define AMPDOTS_IO_BYTES_H_

#include <cstdint>

namespace ampdots {

constexpr std::uint32_t Assem2(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8);
}

constexpr std::uint32_t Assem3(const std::uint8_t* bytes) {
  return Assem2(bytes) | (static_cast<std::uint32_t>(bytes[2]) << 16);
}

constexpr std::uint32_t Assem4(const std::uint8_t* bytes) {
  return Assem3(bytes) | (static_cast<std::uint32_t>(bytes[3]) << 24);
}

constexpr std::uint64_t Assem8(const std::uint8_t* bytes) {
  return Assem4(bytes) | (std::uint64_t{Assem4(bytes + 4)} << 32);
}

}  // namespace ampdots

#endif  // AMPDOTS_IO_BYTES_H_
