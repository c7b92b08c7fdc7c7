// Micro-benchmarks of the scan's inner loops and line printer, each against
// the per-sample path the rules describe, measured in the same run:
// bytes_per_second is the fast path's throughput, "speedup" its ratio to the
// reference path on the same bytes.
#include <benchmark/benchmark.h>

#include <bit>
#include <chrono>
#include <cstdint>
#include <random>
#include <vector>

#include "io/output.h"
#include "scan/decode.h"
#include "scan/kernels.h"
#include "scan/line_printer.h"
#include "scan/scan.h"
#include "stats/stats.h"
#include "wav/probe.h"

namespace ampdots {
namespace {

constexpr std::size_t kSamples = 1 << 16;

std::vector<std::uint8_t> RandomBytes(std::size_t n) {
  std::mt19937 random(5);
  std::vector<std::uint8_t> bytes(n);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
  return bytes;
}

// kSamples 32-bit floats, their exponents within full scale, as in real
// recordings.
std::vector<std::uint8_t> FloatBytes() {
  auto bytes = RandomBytes(4 * kSamples);
  for (std::size_t i = 3; i < bytes.size(); i += 4)
    bytes[i] = static_cast<std::uint8_t>(0x3C | (bytes[i] & 0x80));
  return bytes;
}

// The per-sample decoder's sum and peak of those floats: the yardstick.
void ReferenceFloat(const std::vector<std::uint8_t>& bytes) {
  double sum = 0, peak = 0;
  for (std::size_t i = 0; i < kSamples; ++i) {
    const Level l = DecodeFloat32(&bytes[4 * i]);
    CheckPeak(peak, l.level);
    sum += l.contribution;
  }
  benchmark::DoNotOptimize(sum + peak);
}

// Seconds for one call of `f`, the best of a few.
template <typename F>
double Seconds(F&& f) {
  double best = 1e9;
  for (int i = 0; i < 5; ++i) {
    const auto start = std::chrono::steady_clock::now();
    f();
    best = std::min(
        best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return best;
}

template <typename Fast, typename Reference>
void Compare(benchmark::State& state, std::size_t bytes, Fast fast, Reference reference) {
  for (auto _ : state) fast();
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
  state.counters["speedup"] = Seconds(reference) / Seconds(fast);
}

void Pcm16(benchmark::State& state) {
  const auto bytes = RandomBytes(2 * kSamples);
  Compare(
      state, bytes.size(),
      [&] {
        PcmTotals totals;
        AccumulatePcm16(bytes.data(), kSamples, true, totals, true);
        benchmark::DoNotOptimize(totals);
      },
      [&] {
        double sum = 0, left = 0, right = 0;
        for (std::size_t i = 0; i < kSamples; i += 2) {
          const Level l = DecodePcm16(&bytes[2 * i]);
          const Level r = DecodePcm16(&bytes[2 * i + 2]);
          CheckPeak(left, l.level);
          CheckPeak(right, r.level);
          sum += l.contribution + r.contribution;
        }
        benchmark::DoNotOptimize(sum + left + right);
      });
}
BENCHMARK(Pcm16);

void Pcm24(benchmark::State& state) {
  const auto bytes = RandomBytes(3 * kSamples);
  Compare(
      state, bytes.size(),
      [&] {
        PcmTotals totals;
        AccumulatePcm24(bytes.data(), kSamples, true, totals, true);
        benchmark::DoNotOptimize(totals);
      },
      [&] {
        double sum = 0, peak = 0;
        for (std::size_t i = 0; i < kSamples; ++i) {
          const Level l = DecodePcm24(&bytes[3 * i]);
          CheckPeak(peak, l.level);
          sum += l.contribution;
        }
        benchmark::DoNotOptimize(sum + peak);
      });
}
BENCHMARK(Pcm24);

// The loops of the formats added since: 32-bit integers, and the one-byte
// formats (unsigned 8-bit, mu-law), each against its per-sample decoder.
template <void (*kAccumulate)(const std::uint8_t*, std::size_t, bool, PcmTotals&, bool),
          Level (*kDecode)(const std::uint8_t*), std::size_t kWidth>
void PcmKernel(benchmark::State& state) {
  const auto bytes = RandomBytes(kWidth * kSamples);
  Compare(
      state, bytes.size(),
      [&] {
        PcmTotals totals;
        kAccumulate(bytes.data(), kSamples, true, totals, true);
        benchmark::DoNotOptimize(totals);
      },
      [&] {
        double sum = 0, peak = 0;
        for (std::size_t i = 0; i < kSamples; ++i) {
          const Level l = kDecode(&bytes[kWidth * i]);
          CheckPeak(peak, l.level);
          sum += l.contribution;
        }
        benchmark::DoNotOptimize(sum + peak);
      });
}
BENCHMARK(PcmKernel<AccumulatePcm32, DecodePcm32, 4>)->Name("Pcm32");
BENCHMARK(PcmKernel<AccumulatePcm8, DecodePcm8, 1>)->Name("Pcm8");
BENCHMARK(PcmKernel<AccumulateMuLaw, DecodeMuLaw, 1>)->Name("MuLaw");

// Short lines of one-byte samples, 400 stereo frames each (a twentieth of
// a second at 8 kHz): all of a run's lines in one call, against the loop
// called once a line.
template <Decoder kDecoder,
          void (*kAccumulate)(const std::uint8_t*, std::size_t, bool, PcmTotals&, bool)>
void ByteLines(benchmark::State& state) {
  constexpr std::size_t kPerLine = 800;
  const std::size_t lines = kSamples / kPerLine;
  const auto bytes = RandomBytes(lines * kPerLine);
  std::vector<std::int64_t> sums(lines);
  Compare(
      state, bytes.size(),
      [&] {
        PcmTotals totals;
        PcmLineSums(kDecoder, bytes.data(), lines, kPerLine, true, sums.data(), totals, true);
        benchmark::DoNotOptimize(sums.data());
        benchmark::DoNotOptimize(totals);
      },
      [&] {
        PcmTotals totals;
        for (std::size_t j = 0; j < lines; ++j) {
          totals.sum = 0;
          kAccumulate(bytes.data() + j * kPerLine, kPerLine, true, totals, true);
          sums[j] = totals.sum;
        }
        benchmark::DoNotOptimize(sums.data());
        benchmark::DoNotOptimize(totals);
      });
}
BENCHMARK(ByteLines<Decoder::kMuLaw, AccumulateMuLaw>)->Name("MuLawLines");
BENCHMARK(ByteLines<Decoder::kPcm8, AccumulatePcm8>)->Name("Pcm8Lines");

void Float(benchmark::State& state) {
  const auto bytes = FloatBytes();
  std::vector<double> magnitudes(kSamples);
  Compare(
      state, bytes.size(),
      [&] {
        FloatPeaks peaks;
        FloatMagnitudes(bytes.data(), kSamples, true, magnitudes.data(), peaks, true);
        double sum = 0;
        for (double m : magnitudes) sum += m;
        benchmark::DoNotOptimize(sum);
      },
      [&] { ReferenceFloat(bytes); });
}
BENCHMARK(Float);

// Whole lines of float samples summed from their bits, by the vector loop
// (argument 1) or its portable twin (0): 13 lines of 2400 stereo frames, a
// whole picture's line at 48 kHz (a line length that is not a power of two,
// as in a scan, so that the lines' loads do not all fall in the same cache
// sets).
void FloatLines(benchmark::State& state) {
  constexpr std::size_t kPerLine = 4800;
  std::vector<double> sums(kSamples / kPerLine);
  auto bytes = FloatBytes();
  bytes.resize(4 * kPerLine * sums.size());
  const bool vector = state.range(0) != 0;
  Compare(
      state, bytes.size(),
      [&] {
        FloatPeaks peaks;
        FloatLineSums(bytes.data(), sums.size(), kPerLine, true, sums.data(), peaks, vector);
        benchmark::DoNotOptimize(sums.data());
      },
      [&] { ReferenceFloat(bytes); });
}
BENCHMARK(FloatLines)->Arg(1)->Arg(0);

// Whole lines of 64-bit float samples (full-scale values), by the vector
// loop (argument 1) or its portable twin (0), as FloatLines: 13 lines of
// 2400 stereo frames, against the per-sample decoder.
void Float64Lines(benchmark::State& state) {
  constexpr std::size_t kPerLine = 4800;
  std::vector<double> sums(kSamples / kPerLine);
  std::mt19937 random(5);
  std::uniform_real_distribution<double> value(-1.0, 1.0);
  std::vector<std::uint8_t> bytes(8 * kPerLine * sums.size());
  for (std::size_t i = 0; i < bytes.size(); i += 8) {
    const auto bits = std::bit_cast<std::uint64_t>(value(random));
    for (std::size_t b = 0; b < 8; ++b) bytes[i + b] = static_cast<std::uint8_t>(bits >> (8 * b));
  }
  const bool vector = state.range(0) != 0;
  Compare(
      state, bytes.size(),
      [&] {
        FloatPeaks peaks;
        Float64LineSums(bytes.data(), sums.size(), kPerLine, true, sums.data(), peaks, vector);
        benchmark::DoNotOptimize(sums.data());
      },
      [&] {
        double sum = 0, peak = 0;
        for (std::size_t i = 0; i < bytes.size(); i += 8) {
          const Level l = DecodeFloat64(&bytes[i]);
          CheckPeak(peak, l.level);
          sum += l.contribution;
        }
        benchmark::DoNotOptimize(sum + peak);
      });
}
BENCHMARK(Float64Lines)->Arg(1)->Arg(0);

// The figures of stereo frames (sums, squares, peaks, rails) by the vector
// loops, against the per-sample reference: mu-law (8), 16-bit, 24-bit,
// 32-bit float.
void StereoStats(benchmark::State& state) {
  const auto bits = static_cast<std::uint32_t>(state.range(0));
  const auto bytes = bits == 32 ? FloatBytes() : RandomBytes(4 * kSamples);
  WavAttributes wav;
  wav.sampleRate = 48000;
  wav.bytesPerSample = bits / 8;
  wav.channels = 2;
  wav.formatCode = bits == 32 ? 3 : bits == 8 ? 7 : 1;
  wav.dataOffset = 44;
  const std::size_t frames = bytes.size() / (bits / 8) / 2;
  const ScanPlan plan = MakePlan(wav, 0, static_cast<std::uint32_t>(frames), 2400, 1.0f);
  // Carried from call to call, as a scan carries them: a peak seldom grows,
  // so its frame is seldom looked for.
  Stats stats;
  Compare(
      state, frames * plan.frameBytes,
      [&] {
        AddStats(plan, bytes.data(), frames, 0, stats);
        benchmark::DoNotOptimize(stats);
      },
      [&] {
        Stats stats;
        AddStatsReference(plan, bytes.data(), frames, 0, stats);
        benchmark::DoNotOptimize(stats);
      });
}
BENCHMARK(StereoStats)->Arg(8)->Arg(16)->Arg(24)->Arg(32);

// One line per frame at 44.1 kHz: time, frame index and a short bar.
void Lines(benchmark::State& state) {
  static Output out;
  out.fd = -1;
  constexpr int kLines = 2000;
  std::size_t bytes = 0;
  Compare(
      state, 0,
      [&] {
        out.used = 0;
        LinePrinter printer = MakeLinePrinter(44100, TimeColumnFor(1.0 / 44100));
        for (int t = 1; t <= kLines; ++t) PrintLine(printer, 4410000 + t, t % 40, out);
        bytes = out.used;
      },
      [&] {
        out.used = 0;
        for (int t = 1; t <= kLines; ++t) {
          PutF(out, "%.3f\t%i\t", static_cast<double>(static_cast<float>(4410000 + t) / 44100.0f),
               4410000 + t);
          for (int j = 1; j <= t % 40; ++j) PutChar(out, '.');
          PutChar(out, '\n');
        }
      });
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}
BENCHMARK(Lines);

}  // namespace
}  // namespace ampdots

BENCHMARK_MAIN();
