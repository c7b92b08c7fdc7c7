// libebur128 over a whole WAV file, as a baseline for `ampdots --loudness`:
// integrated loudness, loudness range and true peak (its costliest mode),
// the samples handed over as read, in the widest form the library takes
// for the layout. 16, 24 and 32-bit PCM and 32-bit float.
//
//   ebur128_file FILE
#include <ebur128.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "io/source.h"
#include "wav/probe.h"

int main(int argc, char** argv) {
  using namespace ampdots;
  if (argc != 2) {
    std::fprintf(stderr, "usage: ebur128_file FILE\n");
    return 1;
  }
  Source source;
  const ProbeResult probe = GetAttributes(argv[1], OpenSource, source);
  const WavAttributes& wav = probe.attributes;
  const bool pcm = wav.formatCode == 1 && wav.bytesPerSample >= 2;
  const bool floats = wav.formatCode == 3 && wav.bytesPerSample == 4;
  if (probe.status != ProbeStatus::kOk || !(pcm || floats)) {
    std::fprintf(stderr, "ebur128_file: not a 16, 24 or 32-bit PCM or 32-bit float WAV\n");
    return 1;
  }
  std::FILE* file = std::fopen(argv[1], "rb");
  if (file == nullptr || std::fseek(file, static_cast<long>(wav.dataOffset), SEEK_SET) != 0)
    return 1;
  ebur128_state* state = ebur128_init(wav.channels, wav.sampleRate,
                                      EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_TRUE_PEAK);
  const std::size_t frameBytes = wav.channels * wav.bytesPerSample;
  const std::size_t chunk = 65536;
  std::vector<unsigned char> bytes(chunk * frameBytes);
  std::vector<int> ints(chunk * wav.channels);
  std::vector<float> floatsOut(chunk * wav.channels);
  std::uint64_t left = wav.frameCount;
  while (left > 0) {
    const std::size_t want = left < chunk ? static_cast<std::size_t>(left) : chunk;
    const std::size_t got = std::fread(bytes.data(), frameBytes, want, file);
    if (got == 0) break;
    const std::size_t samples = got * wav.channels;
    if (floats) {
      for (std::size_t i = 0; i < samples; ++i) {
        std::uint32_t bits = 0;
        for (std::size_t k = 0; k < 4; ++k) bits |= std::uint32_t{bytes[4 * i + k]} << (8 * k);
        floatsOut[i] = std::bit_cast<float>(bits);
      }
      ebur128_add_frames_float(state, floatsOut.data(), got);
    } else {
      // Each sample at the top of a 32-bit int, as the library reads ints.
      const std::size_t width = wav.bytesPerSample;
      for (std::size_t i = 0; i < samples; ++i) {
        std::uint32_t value = 0;
        for (std::size_t k = 0; k < width; ++k) {
          value |= std::uint32_t{bytes[width * i + k]} << (8 * (k + 4 - width));
        }
        ints[i] = static_cast<int>(value);
      }
      ebur128_add_frames_int(state, ints.data(), got);
    }
    left -= got;
  }
  double integrated = 0.0;
  double range = 0.0;
  ebur128_loudness_global(state, &integrated);
  ebur128_loudness_range(state, &range);
  std::printf("Integrated loudness %.1f LUFS\nLoudness range %.1f LU\nTrue peak", integrated,
              range);
  for (unsigned c = 0; c < wav.channels; ++c) {
    double peak = 0.0;
    ebur128_true_peak(state, c, &peak);
    std::printf(" %.1f", 20.0 * std::log10(peak));
  }
  std::printf(" dBTP\n");
  ebur128_destroy(&state);
  std::fclose(file);
  return 0;
}
