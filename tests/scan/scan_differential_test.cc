// The fast scan against the reference scan, which follows the rules one
// sample at a time: same bytes out, same peaks, same figures and records,
// on random and adversarial frames of every format, for many resolutions
// and interval alignments.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "scan/blocks.h"
#include "scan/kernels.h"
#include "scan/lines.h"
#include "scan/scan.h"
#include "scan/worker.h"
#include "support/wav_builder.h"

namespace ampdots {
namespace {

using testing::Bytes;

// Samples worth the most attention: extremes, top byte 0 or 0xFF, and the
// float zeros, subnormals, infinities and not-a-numbers.
std::uint32_t SpecialSample(std::uint32_t bits, bool isFloat, std::mt19937& random) {
  static constexpr std::uint32_t kFloats[] = {0x00000000, 0x80000000, 0x00000001, 0x807FFFFF,
                                              0x7F800000, 0xFF800000, 0x7FC00000, 0xFFFFFFFF,
                                              0x7F7FFFFF, 0x00800000, 0x3F800000, 0xBF000000};
  static constexpr std::uint32_t kPcm[] = {0x80000000, 0x7FFFFFFF, 0x00FFFFFF, 0x01000000,
                                           0xFFFFFFFF, 0x00000000, 0x0000FFFF, 0x00000001,
                                           0xFF000000, 0x00800000};
  if (isFloat) return kFloats[random() % std::size(kFloats)];
  const std::uint32_t v = kPcm[random() % std::size(kPcm)];
  return v >> (32 - bits) | (v & 0xFF);  // the same shapes at every width
}

// 64-bit floats: mostly levels up to full scale, now and then zeros of
// both signs, the smallest subnormal, infinities, not-a-numbers, the
// largest double and values that overflow when scaled.
Bytes Doubles(std::size_t samples, std::mt19937& random) {
  static constexpr std::uint64_t kSpecial[] = {
      0x0000000000000000, 0x8000000000000000, 0x0000000000000001, 0x7FF0000000000000,
      0xFFF0000000000000, 0x7FF8000000000000, 0xFFFFFFFFFFFFFFFF, 0x7FEFFFFFFFFFFFFF,
      0x3FF0000000000000, 0xBFE0000000000000};
  Bytes bytes;
  std::uniform_real_distribution<double> level(-1.5, 1.5);
  for (std::size_t i = 0; i < samples; ++i) {
    const std::uint64_t v = random() % 256 == 0 ? kSpecial[random() % std::size(kSpecial)]
                                                : std::bit_cast<std::uint64_t>(level(random));
    for (std::uint32_t b = 0; b < 8; ++b) bytes.push_back(static_cast<std::uint8_t>(v >> (8 * b)));
  }
  return bytes;
}

Bytes Frames(std::uint32_t bits, bool isFloat, std::size_t samples, std::mt19937& random) {
  if (bits == 64) return Doubles(samples, random);
  Bytes bytes;
  for (std::size_t i = 0; i < samples; ++i) {
    const auto raw = static_cast<std::uint32_t>(random());
    std::uint32_t v = raw;
    if (isFloat) {
      // Mostly levels up to full scale: huge ones print 32768-dot bars.
      const std::uint32_t pick = raw % 64;
      v = pick == 0   ? SpecialSample(bits, isFloat, random)
          : pick == 1 ? static_cast<std::uint32_t>(random())
                      : (raw & 0x807FFFFF) | ((90 + raw % 38) << 23);
    } else if (raw % 3 == 0) {
      v = SpecialSample(bits, isFloat, random);
    }
    for (std::uint32_t b = 0; b < bits / 8; ++b)
      bytes.push_back(static_cast<std::uint8_t>(v >> (8 * b)));
  }
  return bytes;
}

// What a scan printed, through a file descriptor so that long outputs fit.
struct Scanned {
  std::string text;
  Peaks peaks;
  Stats stats;
};

using ScanFn = Peaks (*)(Source&, const ScanPlan&, Output&, Stats*);

Scanned RunScan(ScanFn scan, Source source, const ScanPlan& plan) {
  static Output out;
  out.fd = memfd_create("scan", 0);
  out.used = 0;
  out.failed = false;
  Stats stats;
  const Peaks peaks = scan(source, plan, out, &stats);
  Flush(out);
  std::string text(static_cast<std::size_t>(lseek(out.fd, 0, SEEK_END)), '\0');
  EXPECT_EQ(pread(out.fd, text.data(), text.size(), 0), static_cast<ssize_t>(text.size()));

  close(out.fd);
  return {text, peaks, stats};
}

// Sums may differ in their last bits, since the fast loops add in another
// order; everything else is exact.
void ExpectClose(double fast, double reference, const char* what) {
  if (std::isnan(reference) || std::isinf(reference)) {
    ASSERT_EQ(std::isnan(fast), std::isnan(reference)) << what;
    if (std::isinf(reference)) {
      ASSERT_EQ(fast, reference) << what;
    }
    return;
  }
  ASSERT_NEAR(fast, reference, 1e-9 * std::max(1.0, std::fabs(reference))) << what;
}

// A line's own peak frame is not shown, and the fast scan looks for it only
// where the line holds the interval's new peak: `lineFigures` lets it be
// unknown, but never wrong.
void ExpectSameStats(const Stats& fast, const Stats& reference, bool lineFigures = false) {
  ASSERT_EQ(fast.frames, reference.frames);
  for (std::uint32_t c = 0; c < kMaxChannels; ++c) {
    const ChannelStats& f = fast.channel[c];
    const ChannelStats& r = reference.channel[c];
    ASSERT_EQ(f.peak, r.peak) << "channel " << c;
    if (!lineFigures || f.peakFrame != kUnknownFrame) {
      ASSERT_EQ(f.peakFrame, r.peakFrame) << "channel " << c;
    }
    ASSERT_EQ(f.clipped, r.clipped) << "channel " << c;
    ASSERT_EQ(f.nan, r.nan) << "channel " << c;
    ASSERT_NO_FATAL_FAILURE(ExpectClose(f.sum, r.sum, "sum")) << "channel " << c;
    ASSERT_NO_FATAL_FAILURE(ExpectClose(f.squares, r.squares, "squares")) << "channel " << c;
  }
}

void ExpectSameScan(const Source& source, const ScanPlan& plan) {
  const Scanned fast = RunScan(ScanInterval, source, plan);
  const Scanned reference = RunScan(ScanIntervalReference, source, plan);
  ASSERT_EQ(fast.text, reference.text);
  for (std::uint32_t c = 0; c < kMaxChannels; ++c) {
    ASSERT_EQ(fast.peaks.channel[c], reference.peaks.channel[c]) << "channel " << c;
  }
  ASSERT_NO_FATAL_FAILURE(ExpectSameStats(fast.stats, reference.stats));
}

// The records, and whether every frame came once, in order, and before
// the record of its line.
class KeptBlocks final : public BlockSink {
 public:
  explicit KeptBlocks(std::uint64_t first) : next(first) {}
  void Block(const BlockRecord& block) override {
    inOrder = inOrder && block.frame + block.frames <= next;
    blocks.push_back(block);
  }
  void Frames(const FrameRun& run) override {
    inOrder = inOrder && run.firstFrame == next && run.stats.frames == run.frames;
    next += run.frames;
  }
  std::vector<BlockRecord> blocks;
  std::uint64_t next;
  bool inOrder = true;
};

// The records: the same blocks with the same bars and figures, and the
// same figures for the interval.
void ExpectSameBlocks(const Source& source, const ScanPlan& plan) {
  Source fastSource = source;
  Source referenceSource = source;
  KeptBlocks fast(plan.startFrame);
  KeptBlocks reference(plan.startFrame);
  Peaks fastPeaks;
  Peaks referencePeaks;
  const Stats fastStats = ScanBlocks(fastSource, plan, fast, &fastPeaks);
  const Stats referenceStats =
      ScanBlocksReference(referenceSource, plan, reference, &referencePeaks);
  ASSERT_TRUE(fast.inOrder);
  ASSERT_TRUE(reference.inOrder);
  ASSERT_EQ(fast.next, reference.next);
  for (std::uint32_t c = 0; c < kMaxChannels; ++c) {
    ASSERT_EQ(fastPeaks.channel[c], referencePeaks.channel[c]) << "channel " << c;
  }
  ASSERT_EQ(fast.blocks.size(), reference.blocks.size());
  for (std::size_t j = 0; j < fast.blocks.size(); ++j) {
    ASSERT_EQ(fast.blocks[j].frame, reference.blocks[j].frame) << "block " << j;
    ASSERT_EQ(fast.blocks[j].frames, reference.blocks[j].frames) << "block " << j;
    ASSERT_EQ(BarDots(fast.blocks[j].length), BarDots(reference.blocks[j].length)) << j;
    ASSERT_NO_FATAL_FAILURE(ExpectSameStats(fast.blocks[j].stats, reference.blocks[j].stats, true))
        << "block " << j;
  }
  ASSERT_NO_FATAL_FAILURE(ExpectSameStats(fastStats, referenceStats));
}

// Records that stand alone, as text: `padding` dots a record make a
// chunk's text too long for the worker's own output, so that the scan's
// thread writes them again in their turn. A line's own peak frame and its
// sums (which may differ in their last bits) are left out.
class WrittenBlocks final : public BlockSink {
 public:
  WrittenBlocks(Output& out, const ScanPlan& plan, std::size_t padding)
      : out_(out), plan_(plan), padding_(padding) {}
  void Block(const BlockRecord& block) override { Write(block, out_); }
  Output* Standalone() override { return &out_; }
  void Write(const BlockRecord& block, Output& text) const override {
    PutF(text, "%llu %u %zu", static_cast<unsigned long long>(block.frame), block.frames,
         BarDots(block.length));
    for (std::uint32_t c = 0; c < plan_.channels; ++c) {
      const ChannelStats& channel = block.stats.channel[c];
      PutF(text, " %.17g %llu %llu", channel.peak, static_cast<unsigned long long>(channel.clipped),
           static_cast<unsigned long long>(channel.nan));
    }
    PutRepeated(text, '.', padding_);
    PutChar(text, '\n');
  }

 private:
  Output& out_;
  const ScanPlan& plan_;
  std::size_t padding_;
};

struct Written {
  std::string text;
  Stats stats;
  Peaks peaks;
  int error = 0;
};

using BlocksFn = Stats (*)(Source&, const ScanPlan&, BlockSink&, Peaks*);

Written WriteBlocks(BlocksFn scan, Source source, const ScanPlan& plan, std::size_t padding) {
  static Output out;
  out.fd = memfd_create("blocks", 0);
  out.used = 0;
  out.failed = false;
  WrittenBlocks sink(out, plan, padding);
  Written written;
  written.stats = scan(source, plan, sink, &written.peaks);
  written.error = source.error;
  Flush(out);
  written.text.resize(static_cast<std::size_t>(lseek(out.fd, 0, SEEK_END)));
  EXPECT_EQ(pread(out.fd, written.text.data(), written.text.size(), 0),
            static_cast<ssize_t>(written.text.size()));
  close(out.fd);
  return written;
}

// Records that stand alone, which the worker writes itself where it runs:
// the same text, peaks and interval figures (each peak's first frame too)
// as the reference's, whichever thread wrote them.
void ExpectSameWrittenBlocks(const Source& source, const ScanPlan& plan, std::size_t padding) {
  const Written fast = WriteBlocks(ScanBlocks, source, plan, padding);
  const Written reference = WriteBlocks(ScanBlocksReference, source, plan, padding);
  ASSERT_EQ(fast.error, reference.error);
  ASSERT_EQ(fast.text, reference.text);
  for (std::uint32_t c = 0; c < kMaxChannels; ++c) {
    ASSERT_EQ(fast.peaks.channel[c], reference.peaks.channel[c]) << "channel " << c;
  }
  ASSERT_NO_FATAL_FAILURE(ExpectSameStats(fast.stats, reference.stats));
}

struct Layout {
  std::uint32_t bits;
  std::uint32_t channels;
  std::uint32_t formatCode;
};

// What the probe would say of a canonical file of that layout.
WavAttributes Attributes(const Layout& layout, std::uint32_t sampleRate) {
  WavAttributes wav;
  wav.sampleRate = sampleRate;
  wav.bytesPerSample = layout.bits / 8;
  wav.channels = layout.channels;
  wav.formatCode = layout.formatCode;
  wav.dataOffset = 44;
  return wav;
}

// Vector loops or portable ones; with the worker taking every other chunk,
// or without.
class ScanDifferential : public ::testing::TestWithParam<std::tuple<bool, bool>> {
 protected:
  void SetUp() override { vector_ = VectorLoopsAvailable() && std::get<0>(GetParam()); }
  // The plan made to scan this way. With the worker, chunks of 24576
  // frames whatever their width, so that narrow frames cross chunk
  // boundaries in these short files too; without it, chunks of 384 KiB, as
  // the tool takes them.
  ScanPlan Tuned(ScanPlan plan) const {
    const bool worker = std::get<1>(GetParam());
    plan.vector = vector_;
    plan.worker = worker ? WorkerUse::kAlways : WorkerUse::kNever;
    if (worker) plan.chunkFrames = kChunkFrames;
    return plan;
  }
  bool vector_ = false;
};

TEST_P(ScanDifferential, FastScanPrintsWhatTheReferencePrints) {
  if (std::get<0>(GetParam()) && !vector_) GTEST_SKIP() << "no vector loops on this processor";
  constexpr std::size_t kFrames = 30000;  // more than one read of the fast scan
  const Layout layouts[] = {{16, 1, 1}, {16, 2, 1}, {24, 1, 1}, {24, 2, 1}, {32, 1, 3}, {32, 2, 3},
                            {32, 1, 1}, {32, 2, 1}, {8, 1, 1},  {8, 2, 1},  {8, 2, 7},  {8, 1, 6},
                            {64, 1, 3}, {64, 2, 3}, {16, 3, 1}, {24, 6, 1}, {16, 8, 1}, {8, 5, 7},
                            {32, 3, 3}, {64, 4, 3}, {32, 7, 1}, {24, 7, 1}};
  const std::uint32_t resolutions[] = {1, 2, 3, 7, 16, 441, 2205, 4096, 24575, 24577, 29999};
  std::mt19937 random(2024);
  for (const Layout& layout : layouts) {
    const bool isFloat = layout.bits >= 32 && layout.formatCode != 1;
    const Bytes data = Frames(layout.bits, isFloat, kFrames * layout.channels, random);
    const Bytes file = testing::CanonicalWav({layout.channels, 8000, layout.bits, 1}, data);
    const std::size_t cuts[] = {file.size(), file.size() - kFrames / 3 * layout.channels - 1};
    for (const std::size_t length : cuts) {
      const Source source = MemorySource(std::span<const std::uint8_t>(file.data(), length));
      for (const std::uint32_t resolution : resolutions) {
        for (const std::uint32_t start : {0u, 1u, 24575u}) {
          const std::uint32_t rate = start == 1 ? 44100 : start == 0 ? 8000 : 7;
          const float magnification = resolution < 441 ? 0.5f : resolution % 2 == 0 ? 1.0f : 255.5f;
          const ScanPlan r = Tuned(MakePlan(Attributes(layout, rate), start,
                                            kFrames - static_cast<std::uint32_t>(random() % 3),
                                            resolution, magnification));
          ASSERT_NO_FATAL_FAILURE(ExpectSameScan(source, r))
              << layout.bits << "-bit x" << layout.channels << " code " << layout.formatCode
              << " resolution " << resolution << " start " << start << " length " << length;
          if (resolution % 2 == 0 || start != 0) continue;  // records on a sample of plans
          ASSERT_NO_FATAL_FAILURE(ExpectSameBlocks(source, r))
              << layout.bits << "-bit x" << layout.channels << " code " << layout.formatCode
              << " resolution " << resolution << " length " << length;
          // Records written aside on fewer plans, whole files: lines of a
          // few frames, of a part of a chunk (too much text for the
          // worker's output), and of a whole chunk.
          if (resolution != 7 && resolution != 441 && resolution != 24575) continue;
          if (length != file.size()) continue;
          const std::size_t padding = resolution == 441 ? 12000 : 0;
          ASSERT_NO_FATAL_FAILURE(ExpectSameWrittenBlocks(source, r, padding))
              << layout.bits << "-bit x" << layout.channels << " code " << layout.formatCode
              << " resolution " << resolution << " length " << length << " padding " << padding;
        }
      }
    }
  }
}

// Peaks come from every chunk, whichever thread took it: a loud sample, in
// each channel, in each of four chunks of an otherwise quiet file; as loud
// again two lines on, where the first still holds the peak's frame.
TEST_P(ScanDifferential, PeakOfEachChunkCounts) {
  if (std::get<0>(GetParam()) && !vector_) GTEST_SKIP() << "no vector loops on this processor";
  constexpr std::uint32_t kFrames = 4 * kChunkFrames;
  for (const std::uint32_t bits : {16u, 32u}) {
    for (std::uint32_t loud = 100; loud < kFrames; loud += kChunkFrames) {
      for (std::uint32_t channel = 0; channel < 2; ++channel) {
        Bytes data(std::size_t{kFrames} * 2 * bits / 8, 0x01);
        for (const std::uint32_t frame : {loud, loud + 5000}) {
          data[(std::size_t{frame} * 2 + channel) * bits / 8 + bits / 8 - 1] = 0x7F;
        }
        const Bytes file = testing::CanonicalWav({2, 48000, bits, bits == 32 ? 3u : 1u}, data);
        const Source source = MemorySource(file);
        const Layout layout{bits, 2, bits == 32 ? 3u : 1u};
        const ScanPlan r = Tuned(MakePlan(Attributes(layout, 48000), 0, kFrames, 2400, 1.0f));
        ASSERT_NO_FATAL_FAILURE(ExpectSameScan(source, r))
            << bits << "-bit, loud frame " << loud << " channel " << channel;
        ASSERT_NO_FATAL_FAILURE(ExpectSameWrittenBlocks(source, r, 0))
            << bits << "-bit, loud frame " << loud << " channel " << channel;
      }
    }
  }
}

// Float records that stand alone: a chunk's peak that only equals an
// earlier chunk's, or one after a chunk of nothing but not-a-numbers,
// still leaves the interval's peak at the first frame that reaches it.
TEST_P(ScanDifferential, PeakFirstReachedInAnEarlierChunk) {
  if (std::get<0>(GetParam()) && !vector_) GTEST_SKIP() << "no vector loops on this processor";
  constexpr std::uint32_t kFrames = 6 * kChunkFrames;
  constexpr float kNan = std::numeric_limits<float>::quiet_NaN();
  struct Loud {
    std::uint32_t frame;
    std::uint32_t channel;
    float value;
  };
  struct Case {
    const char* what;
    float quiet[2];         // every other sample of each channel
    std::uint32_t nanUpTo;  // channel 0 not a number before this frame
    std::vector<Loud> loud;
    std::uint64_t peakFrame[2];
  };
  const Case cases[] = {
      {"equalled in later chunks",
       {0.01f, 0.01f},
       0,
       {{kChunkFrames + 7, 0, 0.75f},
        {2 * kChunkFrames + 7, 0, -0.75f},
        {3 * kChunkFrames + 9, 0, 0.875f},
        {4 * kChunkFrames + 11, 0, -0.875f},
        {5 * kChunkFrames + 11, 0, 0.875f},
        {kChunkFrames + 13, 1, -0.5f},
        {2 * kChunkFrames + 13, 1, 0.5f},
        {3 * kChunkFrames + 13, 1, 0.5f},
        {5 * kChunkFrames + 13, 1, -0.5f}},
       {3 * kChunkFrames + 9, kChunkFrames + 13}},
      {"silence after a chunk of not-a-numbers", {0.0f, 0.0f}, kChunkFrames, {}, {kChunkFrames, 0}},
  };
  for (const Case& c : cases) {
    Bytes data;
    for (std::uint32_t f = 0; f < kFrames; ++f) {
      for (std::uint32_t ch = 0; ch < 2; ++ch) {
        float x = ch == 0 && f < c.nanUpTo ? kNan : c.quiet[ch];
        for (const Loud& l : c.loud) x = l.frame == f && l.channel == ch ? l.value : x;
        testing::PutFloat(data, x);
      }
    }
    const Bytes file = testing::CanonicalWav({2, 48000, 32, 3}, data);
    const Source source = MemorySource(file);
    const ScanPlan r = Tuned(MakePlan(Attributes({32, 2, 3}, 48000), 0, kFrames, 2400, 1.0f));
    const Written written = WriteBlocks(ScanBlocks, source, r, 0);
    for (std::uint32_t ch = 0; ch < 2; ++ch) {
      EXPECT_EQ(written.stats.channel[ch].peakFrame, c.peakFrame[ch]) << c.what << ", " << ch;
    }
    ASSERT_NO_FATAL_FAILURE(ExpectSameWrittenBlocks(source, r, 0)) << c.what;
  }
}

// 32-bit lines of 2^23 samples near full scale, whose sums pass 2^53
// lowest bits (2^29 levels, past which a sum of levels rounds): added
// contribution by contribution in the reference's order, so that the bar's
// length is the reference's to the last bit.
TEST_P(ScanDifferential, LinesTooLongForIntegerSums) {
  if (std::get<0>(GetParam()) && !vector_) GTEST_SKIP() << "no vector loops on this processor";
  // Eight million samples one at a time through an emulator's floating
  // point take many minutes; the sums are the same doubles on every host.
  if (std::string_view(AMPDOTS_EMULATOR).size() > 0) GTEST_SKIP() << "too slow under an emulator";
  constexpr std::uint32_t kResolution = 1u << 23;
  constexpr std::uint32_t kFrames = kResolution + 5;
  std::mt19937 random(7);
  Bytes data;
  data.reserve(std::size_t{kFrames} * 4);
  for (std::uint32_t f = 0; f < kFrames; ++f) {
    // 0x7Fxxxxxx: levels just below 128, with every low bit in play.
    const std::uint32_t v = 0x7F000000u | (static_cast<std::uint32_t>(random()) & 0xFFFFFF);
    for (int b = 0; b < 4; ++b) data.push_back(static_cast<std::uint8_t>(v >> (8 * b)));
  }
  const Bytes file = testing::CanonicalWav({1, 48000, 32, 1}, data);
  const ScanPlan plan =
      Tuned(MakePlan(Attributes({32, 1, 1}, 48000), 0, kFrames, kResolution, 1.0f));
  ASSERT_FALSE(FastLinesAreExact(plan));
  Source fastSource = MemorySource(file);
  Source referenceSource = MemorySource(file);
  KeptBlocks fast(0);
  KeptBlocks reference(0);
  ScanBlocks(fastSource, plan, fast);
  ScanBlocksReference(referenceSource, plan, reference);
  ASSERT_EQ(fast.blocks.size(), 1u);
  ASSERT_EQ(reference.blocks.size(), 1u);
  EXPECT_EQ(fast.blocks[0].length, reference.blocks[0].length);
}

// A disk whose reads end at byte `endAt`: either where the file shrank
// (every byte past it gone), or at a bad byte, with `endError` (the bytes
// past it read again, as past a bad sector). The two threads read at once,
// so both only read these.
std::uint64_t endAt = 0;
int endError = 0;
// Reads by this thread (the scan's own) wait first where it is set, so that
// the worker runs as far ahead of it as it may.
std::thread::id laggingThread;
std::size_t ReadEnding(const Source& source, std::uint64_t offset, std::uint8_t* dst,
                       std::size_t count, int& error) {
  if (std::this_thread::get_id() == laggingThread) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  const bool pastBadByte = endError != 0 && offset > endAt;
  const std::uint64_t end = pastBadByte ? source.length : std::min(endAt, source.length);
  std::size_t n = 0;
  if (offset < end) n = static_cast<std::size_t>(std::min<std::uint64_t>(end - offset, count));
  if (n > 0) std::memcpy(dst, source.data + offset, n);
  if (n < count && offset + n == endAt && endError != 0) error = endError;
  return n;
}

// Each thread reads its own chunk of a pair: whichever read ends, at a
// chunk's first frame or inside it, the scan stops where the reference
// stops, with its lines, peaks and figures, and the same error; the
// worker's chunks past this thread's short one never count, even where
// they came whole from past a bad byte, and whether the worker was a chunk
// ahead or as far as it may be (this thread lagging), early in the scan
// or once its kept chunks' sets have been used again.
TEST_P(ScanDifferential, EitherReaderEndsTheScan) {
  if (std::get<0>(GetParam()) && !vector_) GTEST_SKIP() << "no vector loops on this processor";
  const Layout layouts[] = {{16, 2, 1}, {32, 2, 3}, {24, 6, 1}, {8, 1, 7}};
  constexpr std::uint32_t kResolution = 441;
  std::mt19937 random(23);
  for (const Layout& layout : layouts) {
    const std::uint32_t frameBytes = layout.bits / 8 * layout.channels;
    ScanPlan plan = Tuned(MakePlan(Attributes(layout, 8000), 0, 1, kResolution, 1.0f));
    // The whole lines of a chunk, as the scan cuts them.
    const auto chunk = static_cast<std::uint32_t>(
        std::min<std::size_t>(plan.chunkFrames, kChunkBytes / frameBytes) / kResolution *
        kResolution);
    const std::uint32_t frames = 11 * chunk + 1000;
    const Bytes data = Frames(layout.bits, layout.bits >= 32 && layout.formatCode != 1,
                              std::size_t{frames} * layout.channels, random);
    const Bytes file = testing::CanonicalWav({layout.channels, 8000, layout.bits, 1}, data);
    plan.endFrame = frames;
    // Chunks 2 and 3 are a pair: this thread's, then the worker's; so are
    // 8 and 9.
    for (const std::uint32_t at : {2 * chunk, 2 * chunk + 1000, 3 * chunk, 3 * chunk + 1000,
                                   8 * chunk + 1000, 9 * chunk + 1000}) {
      for (const int error : {0, EIO}) {
        for (const bool lag : {false, true}) {
          if (lag && !std::get<1>(GetParam())) continue;  // no worker: nothing runs ahead
          endAt = 44 + std::uint64_t{at} * frameBytes + frameBytes / 2;  // inside the frame
          endError = error;
          Source source = MemorySource(file);
          source.reader = ReadEnding;
          const std::thread::id lagging = lag ? std::this_thread::get_id() : std::thread::id();
          laggingThread = lagging;
          const Scanned fast = RunScan(ScanInterval, source, plan);
          laggingThread = std::thread::id();
          const Scanned reference = RunScan(ScanIntervalReference, source, plan);
          EXPECT_EQ(fast.text, reference.text);
          for (std::uint32_t c = 0; c < kMaxChannels; ++c) {
            EXPECT_EQ(fast.peaks.channel[c], reference.peaks.channel[c]) << "channel " << c;
          }
          EXPECT_EQ(fast.stats.frames, at);
          EXPECT_NO_FATAL_FAILURE(ExpectSameStats(fast.stats, reference.stats));
          Source fastSource = source;
          Source referenceSource = source;
          KeptBlocks fastBlocks(0);
          KeptBlocks referenceBlocks(0);
          laggingThread = lagging;
          const Stats fastStats = ScanBlocks(fastSource, plan, fastBlocks);
          laggingThread = std::thread::id();
          const Stats referenceStats = ScanBlocksReference(referenceSource, plan, referenceBlocks);
          EXPECT_EQ(fastSource.error, error);
          EXPECT_EQ(referenceSource.error, error);
          EXPECT_TRUE(fastBlocks.inOrder);
          EXPECT_EQ(fastBlocks.next, at);
          EXPECT_EQ(fastBlocks.blocks.size(), referenceBlocks.blocks.size());
          EXPECT_NO_FATAL_FAILURE(ExpectSameStats(fastStats, referenceStats));
          laggingThread = lagging;
          const Written fastWritten = WriteBlocks(ScanBlocks, source, plan, 0);
          laggingThread = std::thread::id();
          const Written referenceWritten = WriteBlocks(ScanBlocksReference, source, plan, 0);
          EXPECT_EQ(fastWritten.error, error);
          EXPECT_EQ(fastWritten.text, referenceWritten.text);
          EXPECT_EQ(fastWritten.stats.frames, at);
          EXPECT_NO_FATAL_FAILURE(ExpectSameStats(fastWritten.stats, referenceWritten.stats));
          if (HasFailure()) {
            FAIL() << layout.bits << "-bit x" << layout.channels << " ends at frame " << at
                   << " error " << error << (lag ? " lagging" : "");
          }
        }
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(VectorAndPortable, ScanDifferential,
                         ::testing::Combine(::testing::Bool(), ::testing::Bool()));

}  // namespace
}  // namespace ampdots
