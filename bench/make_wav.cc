// Writes a large WAV for timing runs: a tone and noise under an envelope
// that changes every few seconds, so every line of the picture differs.
//
//   make_wav FORMAT OUTPUT [MIB [CHANNELS [RATE]]]
//   FORMAT: pcm8 | mulaw | alaw | pcm16 | pcm24 | pcm32 | float | double; MIB
//   defaults to 1024, CHANNELS to 2, RATE to 44100 for pcm16, 8000 for the
//   one-byte formats and 48000 otherwise.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

#include "scan/decode.h"

namespace {

struct SampleFormat {
  std::uint32_t bits;
  std::uint32_t formatCode;
};

void Le(std::vector<unsigned char>& b, std::uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

// For each 16-bit value (offset by 32768), the companded byte whose
// expansion lies nearest.
std::vector<unsigned char> Compander(std::int32_t (*expand)(std::uint8_t)) {
  std::vector<unsigned char> nearest(65536);
  for (std::int32_t v = -32768; v < 32768; ++v) {
    int best = 0;
    for (int b = 1; b < 256; ++b) {
      if (std::abs(expand(static_cast<std::uint8_t>(b)) - v) <
          std::abs(expand(static_cast<std::uint8_t>(best)) - v)) {
        best = b;
      }
    }
    nearest[static_cast<std::size_t>(v + 32768)] = static_cast<unsigned char>(best);
  }
  return nearest;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs(
        "usage: make_wav pcm8|mulaw|alaw|pcm16|pcm24|pcm32|float|double OUTPUT [MIB [CHANNELS "
        "[RATE]]]\n",
        stderr);
    return 1;
  }
  const std::string kind = argv[1];
  const struct {
    const char* name;
    SampleFormat sample;
  } kinds[] = {{"pcm8", {8, 1}},   {"mulaw", {8, 7}},  {"alaw", {8, 6}},   {"pcm16", {16, 1}},
               {"pcm24", {24, 1}}, {"pcm32", {32, 1}}, {"float", {32, 3}}, {"double", {64, 3}}};
  SampleFormat sample{0, 0};
  for (const auto& k : kinds) {
    if (kind == k.name) sample = k.sample;
  }
  if (sample.bits == 0) return 1;
  const std::vector<unsigned char> companded =
      sample.formatCode == 7   ? Compander(ampdots::MuLawValue)
      : sample.formatCode == 6 ? Compander(ampdots::ALawValue)
                               : std::vector<unsigned char>();
  const std::uint64_t mib = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 1024;
  const std::uint32_t channels = argc > 4 ? static_cast<std::uint32_t>(std::atoi(argv[4])) : 2;
  const std::uint32_t rate = argc > 5 ? static_cast<std::uint32_t>(std::atoi(argv[5]))
                                      : (sample.bits == 16  ? 44100
                                         : sample.bits == 8 ? 8000
                                                            : 48000);
  const std::uint32_t width = sample.bits / 8;
  const std::uint32_t align = width * channels;
  const std::uint64_t frames = mib * 1024 * 1024 / align;
  const auto dataBytes = static_cast<std::uint32_t>(frames * align);

  std::vector<unsigned char> head;
  head.insert(head.end(), {'R', 'I', 'F', 'F'});
  Le(head, dataBytes + 36, 4);
  head.insert(head.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  Le(head, 16, 4);
  Le(head, sample.formatCode, 2);
  Le(head, channels, 2);
  Le(head, rate, 4);
  Le(head, rate * align, 4);
  Le(head, align, 2);
  Le(head, sample.bits, 2);
  head.insert(head.end(), {'d', 'a', 't', 'a'});
  Le(head, dataBytes, 4);

  std::FILE* out = std::fopen(argv[2], "wb");
  if (out == nullptr) return 1;
  std::fwrite(head.data(), 1, head.size(), out);

  std::vector<double> sine(4096);
  for (std::size_t i = 0; i < sine.size(); ++i)
    sine[i] = std::sin(2 * std::numbers::pi * static_cast<double>(i) / 4096.0);
  std::vector<unsigned char> block;
  std::uint32_t noise = 12345;
  std::uint64_t phase = 0;
  for (std::uint64_t f = 0; f < frames; ++f) {
    const double seconds = static_cast<double>(f) / rate;
    // Envelope: a slow swell and a faster tremolo, silent now and then.
    const double swell = 0.5 + 0.5 * sine[static_cast<std::size_t>(seconds * 4096 / 7.0) % 4096];
    const double tremolo = 0.6 + 0.4 * sine[static_cast<std::size_t>(seconds * 4096 * 3) % 4096];
    const double envelope = static_cast<std::uint64_t>(seconds) % 13 == 12 ? 0.0 : swell * tremolo;
    phase += 4096ull * 440 * 65536 / rate;
    for (std::uint32_t c = 0; c < channels; ++c) {
      noise = noise * 1664525u + 1013904223u;
      const double n = (static_cast<double>(noise >> 8) / 8388608.0 - 1.0) * 0.1;
      const double x = envelope * (0.8 * sine[(phase >> 16) % 4096] * (c == 0 ? 1.0 : 0.7) + n);
      if (sample.bits == 8) {
        const auto v16 = static_cast<std::int32_t>(std::lround(x * 32767));
        block.push_back(sample.formatCode == 1
                            ? static_cast<unsigned char>(128 + std::lround(x * 127))
                            : companded[static_cast<std::size_t>(v16 + 32768)]);
      } else if (sample.bits == 16) {
        Le(block, static_cast<std::uint32_t>(std::lround(x * 32767)), 2);
      } else if (sample.bits == 24) {
        Le(block, static_cast<std::uint32_t>(std::lround(x * 8388607)), 3);
      } else if (sample.formatCode == 1) {
        Le(block, static_cast<std::uint32_t>(std::lround(x * 2147483647.0)), 4);
      } else if (sample.bits == 64) {
        std::uint64_t bits;
        std::memcpy(&bits, &x, 8);
        Le(block, static_cast<std::uint32_t>(bits), 4);
        Le(block, static_cast<std::uint32_t>(bits >> 32), 4);
      } else {
        const float v = static_cast<float>(x);
        std::uint32_t bits;
        std::memcpy(&bits, &v, 4);
        Le(block, bits, 4);
      }
    }
    if (block.size() >= (1u << 20)) {
      std::fwrite(block.data(), 1, block.size(), out);
      block.clear();
    }
  }
  std::fwrite(block.data(), 1, block.size(), out);
  return std::fclose(out) == 0 ? 0 : 1;
}
