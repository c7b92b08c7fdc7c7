// Writes a large WAV for timing runs: a tone and noise under an envelope
// that changes every few seconds, so every line of the picture differs.
//
//   make_wav FORMAT OUTPUT [MIB [CHANNELS [RATE]]]
//   FORMAT: pcm16 | pcm24 | float; MIB defaults to 1024, CHANNELS to 2,
//   RATE to 44100 for pcm16 and 48000 otherwise.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

namespace {

struct SampleFormat {
  std::uint32_t bits;
  std::uint32_t formatCode;
};

void Le(std::vector<unsigned char>& b, std::uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs("usage: make_wav pcm16|pcm24|float OUTPUT [MIB [CHANNELS [RATE]]]\n", stderr);
    return 1;
  }
  const std::string kind = argv[1];
  const SampleFormat sample = kind == "pcm16"   ? SampleFormat{16, 1}
                              : kind == "pcm24" ? SampleFormat{24, 1}
                                                : SampleFormat{32, 3};
  if (kind != "pcm16" && kind != "pcm24" && kind != "float") return 1;
  const std::uint64_t mib = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 1024;
  const std::uint32_t channels = argc > 4 ? static_cast<std::uint32_t>(std::atoi(argv[4])) : 2;
  const std::uint32_t rate = argc > 5 ? static_cast<std::uint32_t>(std::atoi(argv[5]))
                                      : (sample.bits == 16 ? 44100 : 48000);
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
      if (sample.bits == 16) {
        Le(block, static_cast<std::uint32_t>(std::lround(x * 32767)), 2);
      } else if (sample.bits == 24) {
        Le(block, static_cast<std::uint32_t>(std::lround(x * 8388607)), 3);
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
