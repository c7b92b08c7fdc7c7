#include "scan/scan.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "scan/line_printer.h"
#include "support/wav_builder.h"

namespace ampdots {
namespace {

using testing::Bytes;
using testing::Repeat;

std::string Dots(std::size_t n) { return std::string(n, '.'); }

TEST(CheckPeak, KeepsTheLargestMagnitude) {
  double peak = 2.0;
  CheckPeak(peak, -1.0);
  EXPECT_EQ(peak, 2.0);
  CheckPeak(peak, -3.0);
  EXPECT_EQ(peak, 3.0);
  CheckPeak(peak, 5.0);
  EXPECT_EQ(peak, 5.0);
  CheckPeak(peak, std::nan(""));
  EXPECT_EQ(peak, 5.0);
}

TEST(BarDots, WholePartBoundedByFullScaleAtMostMagnification) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  const struct {
    double length;
    std::size_t dots;
  } rows[] = {{0.99, 0},  {1.0, 1},         {7.9, 7},         {-5.0, 0},      {std::nan(""), 0},
              {-kInf, 0}, {32768.0, 32768}, {32769.5, 32768}, {1e300, 32768}, {kInf, 32768}};
  for (const auto& row : rows) EXPECT_EQ(BarDots(row.length), row.dots) << row.length;
}

std::string Line(std::int64_t t, std::uint32_t rate, double length, double secondsPerLine) {
  static Output out;
  out.used = 0;
  Waveform(t, rate, length, secondsPerLine, out);
  return std::string(Text(out));
}

TEST(Waveform, TimeStampFormDependsOnSecondsPerLineOnly) {
  EXPECT_EQ(Line(1103, 44100, 3.7, 0.05), "0.03\t...\n");
  EXPECT_EQ(Line(1103, 44100, 0.0, 0.025), "0.03\t\n");
  EXPECT_EQ(Line(1103, 44100, 2.0, 0.0249), "0.025\t..\n");
  EXPECT_EQ(Line(1103, 44100, 2.0, 0.00101), "0.025\t..\n");
  EXPECT_EQ(Line(1103, 44100, 2.0, 0.001), "0.025\t1103\t..\n");
  EXPECT_EQ(Line(1, 44100, 1.0, 1.0 / 44100), "0.000\t1\t.\n");
  // Frame indices past 2^31 print as they are.
  EXPECT_EQ(Line(3000000000, 1000000, 0.0, 0.0), "3000.000\t3000000000\t\n");
}

// A printer keeps each stamp for the lines that share it, and for the
// finest resolutions the run of frames that do: every line it prints must
// read as a printer made for that line alone prints it. Runs cross stamp
// changes, and frames past 2^24, where several frames have one float time.
TEST(Waveform, KeptStampsReadAsFreshOnes) {
  struct Run {
    std::int64_t first;
    std::int64_t step;
    std::uint32_t rate;
    double secondsPerLine;
  };
  std::vector<Run> runs = {
      {0, 2400, 48000, 0.05}, {33554400, 3, 7, 3.0 / 7}, {999990, 10, 8000, 10.0 / 8000}};
  for (const std::uint32_t rate : {1u, 7u, 1000u, 8000u, 11025u, 44100u, 48000u, 96000u, 384000u}) {
    for (const std::int64_t first : {std::int64_t{0}, std::int64_t{44090}, std::int64_t{16776700},
                                     std::int64_t{33553900}, std::int64_t{4294966000}}) {
      runs.push_back({first, 1, rate, 1.0 / rate});
    }
  }
  for (const Run& run : runs) {
    constexpr std::size_t kLines = 1000;
    static Output out;
    out.used = 0;
    LinePrinter printer = MakeLinePrinter(run.rate, TimeColumnFor(run.secondsPerLine));
    const std::vector<double> lengths(kLines, 2.0);
    PrintLines(printer, run.first, run.step, lengths.data(), kLines, out);
    const std::string kept(Text(out));
    std::string fresh;
    for (std::size_t i = 0; i < kLines; ++i) {
      fresh += Line(run.first + static_cast<std::int64_t>(i) * run.step, run.rate, 2.0,
                    run.secondsPerLine);
    }
    EXPECT_EQ(kept, fresh) << "from frame " << run.first << " at " << run.rate << " Hz";
  }
}

// A memory file of `frames` after a 44-byte header, scanned with `request`.
struct ScanRun {
  std::string out;
  Peaks peaks;
};

// The layout and the interval to scan; at one frame a second, time stamps
// read as frame indices.
struct Request {
  std::uint32_t bytesPerSample;
  std::uint32_t channels;
  std::uint32_t endFrame;
  std::uint32_t resolution;
  std::uint32_t startFrame = 0;
  std::uint32_t sampleRate = 1;
  float magnification = 1.0f;
};

ScanRun Scan(const Bytes& frames, const Request& request, std::size_t keepBytes = SIZE_MAX,
             std::uint32_t chunkFrames = 0) {
  const Bytes file = testing::CanonicalWav(
      {request.channels, request.sampleRate, request.bytesPerSample * 8, 1}, frames);
  Source source =
      MemorySource(std::span<const std::uint8_t>(file.data(), std::min(keepBytes, file.size())));
  WavAttributes wav;
  wav.sampleRate = request.sampleRate;
  wav.bytesPerSample = request.bytesPerSample;
  wav.channels = request.channels;
  wav.formatCode = request.bytesPerSample == 1 ? 0 : 1;  // one-byte samples with no decoder
  if (request.bytesPerSample == 4) wav.formatCode = 3;
  wav.dataOffset = 44;
  static Output out;
  out.used = 0;
  ScanPlan plan = MakePlan(wav, request.startFrame, request.endFrame, request.resolution,
                           request.magnification);
  if (chunkFrames != 0) plan.chunkFrames = chunkFrames;
  const Peaks peaks = ScanInterval(source, plan, out);
  return {std::string(Text(out)), peaks};
}

TEST(ScanInterval, ConstantBlocksGiveTheirLevelAsBar) {
  // 16-bit level 10 (bytes 00 0A): lines of 4 frames, stamped at frame 3 + 1 - 2.
  const ScanRun run = Scan(Repeat({0x00, 0x0A}, 8), Request{2, 1, 8, 4});
  EXPECT_EQ(run.out, "2.00\t" + Dots(10) + "\n6.00\t" + Dots(10) + "\n");
  EXPECT_EQ(run.peaks.channel[0], 10.0);
  EXPECT_EQ(run.peaks.channel[1], 0.0);
}

TEST(ScanInterval, StereoLineIsHalvedSoItMatchesMono) {
  // 24-bit stereo, left level 20 and right level -20 (both add 20), magnified 1.5.
  Request request{3, 2, 6, 3};
  request.magnification = 1.5f;
  const ScanRun run = Scan(Repeat({0x00, 0x00, 0x14, 0x00, 0x00, 0xEC}, 6), request);
  EXPECT_EQ(run.out, "2.00\t" + Dots(30) + "\n5.00\t" + Dots(30) + "\n");
  EXPECT_EQ(run.peaks.channel[0], 20.0);
  EXPECT_EQ(run.peaks.channel[1], 20.0);
}

TEST(ScanInterval, FloatZerosAndInfinities) {
  // +0.0 is 2^-120 (no dots, a tiny peak); +infinity is 2^135, bounded bar.
  Bytes frames = Repeat({0x00, 0x00, 0x00, 0x00}, 2);
  const Bytes inf = Repeat({0x00, 0x00, 0x80, 0x7F}, 2);
  frames.insert(frames.end(), inf.begin(), inf.end());
  const ScanRun run = Scan(frames, Request{4, 1, 4, 2});
  EXPECT_EQ(run.out, "1.00\t\n3.00\t" + Dots(kMaxDots) + "\n");
  EXPECT_EQ(run.peaks.channel[0], std::ldexp(1.0, 135));
}

TEST(ScanInterval, PartialLastLineCountsOnlyTowardPeaks) {
  Bytes frames = Repeat({0x00, 0x01}, 5);  // level 1
  frames.push_back(0x00);
  frames.push_back(0x50);  // level 80, alone in the unfinished line
  const ScanRun run = Scan(frames, Request{2, 1, 6, 5});
  EXPECT_EQ(run.out, "3.00\t.\n");
  EXPECT_EQ(run.peaks.channel[0], 80.0);
  EXPECT_EQ(Scan(frames, Request{2, 1, 6, 0}).out, "");  // resolution 0: no line at all
}

TEST(ScanInterval, ChunksAreReadFromTheirOwnPositions) {
  // Frames 0 to 4095 hold level 1, 4096 to 8191 level 2, then level 3.
  Bytes frames = Repeat({0x00, 0x01}, 4096);
  const Bytes second = Repeat({0x00, 0x02}, 4096);
  const Bytes third = Repeat({0x00, 0x03}, 1808);
  frames.insert(frames.end(), second.begin(), second.end());
  frames.insert(frames.end(), third.begin(), third.end());
  // Lines of 4096 frames from frame 100: 3996 x 1 + 100 x 2, then 3996 x 2 + 100 x 3.
  Request request{2, 1, 10000, 4096};
  request.startFrame = 100;
  request.sampleRate = 1000;
  request.magnification = 256.0f;
  // Chunks of 4096 frames, as narrow as lines: every line comes from a
  // chunk of its own.
  const ScanRun run = Scan(frames, request, SIZE_MAX, 4096);
  const auto dots = [](double sum) { return Dots(static_cast<std::size_t>(256.0 * (sum / 4096))); };
  EXPECT_EQ(run.out, "2.15\t" + dots(3996 + 200) + "\n6.24\t" + dots(7992 + 300) + "\n");
  EXPECT_EQ(run.peaks.channel[0], 3.0);
}

// The driver refuses a layout without a decoder; given one anyway, the scan
// reads nothing and draws nothing.
TEST(ScanInterval, FormatsWithoutDecoderAreNotScanned) {
  const ScanRun eightBit = Scan(Repeat({0xFF}, 4), Request{1, 1, 4, 2});
  EXPECT_EQ(eightBit.out, "");
  const ScanRun nineChannels = Scan(Repeat({0xFF, 0x7F}, 18), Request{2, 9, 2, 1});
  EXPECT_EQ(nineChannels.out, "");
  for (const double peak : nineChannels.peaks.channel) EXPECT_EQ(peak, 0.0);
}

TEST(ScanInterval, FileThatShrankEndsAtTheFirstFrameNotReadWhole) {
  // 12 frames of level 10, but the file now ends one byte into frame 6.
  const ScanRun cut = Scan(Repeat({0x00, 0x0A}, 12), Request{2, 1, 12, 4}, 44 + 13);
  EXPECT_EQ(cut.out, "2.00\t" + Dots(10) + "\n");
  EXPECT_EQ(cut.peaks.channel[0], 10.0);
  // A second chunk that comes back short must not reuse the first chunk's
  // bytes: 4097 frames remain of 4100, so a line of 4098 never completes.
  const ScanRun stale = Scan(Repeat({0x00, 0x0A}, 4100), Request{2, 1, 4100, 4098}, 44 + 2 * 4097);
  EXPECT_EQ(stale.out, "");
}

}  // namespace
}  // namespace ampdots
