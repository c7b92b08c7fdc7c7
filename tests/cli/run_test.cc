#include "cli/run.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "support/memory_run.h"

namespace ampdots {
namespace {

using testing::Bytes;
using testing::CanonicalWav;
using testing::MemoryFiles;
using testing::Repeat;
using testing::RunInMemory;

constexpr char kBannerLine[] = "Ampdots 1.01 by Velbrand\n";

TEST(Arguments, NumbersAsTheCLibraryReadsThem) {
  EXPECT_EQ(ParseSeconds(" 1.5e0"), 1.5f);
  EXPECT_EQ(ParseSeconds("abc"), 0.0f);
  EXPECT_EQ(ParseSeconds("1e40"), std::numeric_limits<float>::infinity());
  EXPECT_EQ(ParseSeconds("-1e40"), -std::numeric_limits<float>::infinity());
  EXPECT_TRUE(std::isnan(ParseSeconds("nan")));
  EXPECT_EQ(ParseResolution("-1"), 4294967295u);
  EXPECT_EQ(ParseResolution("7x"), 7u);
  EXPECT_EQ(ParseResolution("x7"), 0u);
}

// Read as a 64-bit integer, saturating, then kept by its low 32 bits: the
// same on hosts whose long is 32 bits as on those whose long is 64.
TEST(Arguments, ResolutionPastThirtyTwoBits) {
  const struct {
    const char* text;
    std::uint32_t resolution;
  } cases[] = {
      {"2147483647", 2147483647u},
      {"2147483648", 2147483648u},
      {"-2147483648", 2147483648u},  // 2^32 - 2^31
      {"-2147483649", 2147483647u},  // 2^32 - 2^31 - 1
      {"4294967296", 0u},            // 2^32
      {"4294967297", 1u},
      {"-4294967295", 1u},  // 2^64 - (2^32 - 1), low bits
      {"-4294967296", 0u},
      {"9223372036854775807", 4294967295u},  // 2^63 - 1
      {"9223372036854775808", 4294967295u},  // saturates at 2^63 - 1
      {"99999999999999999999", 4294967295u},
      {"-9223372036854775808", 0u},   // -2^63
      {"-99999999999999999999", 0u},  // saturates at -2^63
      {"  +12", 12u},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseResolution(c.text), c.resolution) << c.text;
}

TEST(Arguments, MagnificationOutOfRangeMeansOne) {
  EXPECT_EQ(ChooseMagnification("300"), 1.0f);  // not 256
  EXPECT_EQ(ChooseMagnification("256"), 256.0f);
  EXPECT_EQ(ChooseMagnification("0"), 1.0f);
  EXPECT_EQ(ChooseMagnification("-2"), 1.0f);
  EXPECT_EQ(ChooseMagnification("words"), 1.0f);
  EXPECT_EQ(ChooseMagnification("0.5"), 0.5f);
  EXPECT_TRUE(std::isnan(ChooseMagnification("nan")));
  // Only as the fifth and last argument.
  const char* five[] = {"f", "0", "1", "10", "2"};
  const char* six[] = {"f", "0", "1", "10", "2", "x"};
  EXPECT_EQ(ParseArguments(5, five).magnification, 2.0f);
  EXPECT_EQ(ParseArguments(6, six).magnification, 1.0f);
  EXPECT_EQ(ParseArguments(6, six).resolution, 10u);
}

TEST(Interval, FramesFromSecondsInSinglePrecision) {
  EXPECT_EQ(FrameAt(44100, 1.0f), 44100u);
  EXPECT_EQ(FrameAt(8000, 0.2f), 1600u);
  EXPECT_EQ(FrameAt(44100, -3.0f), 0u);
  EXPECT_EQ(FrameAt(44100, std::nanf("")), 0u);
  EXPECT_EQ(FrameAt(0, std::numeric_limits<float>::infinity()), 0u);  // 0 x inf
  EXPECT_EQ(FrameAt(44100, 1e30f), 4294967295u);
  EXPECT_EQ(FrameAt(1, 4294967040.0f), 4294967040u);  // the largest float below 2^32
}

TEST(Interval, ResolutionFallsBackToATwentiethOfASecond) {
  Arguments args;
  EXPECT_EQ(ChooseResolution(args, 44100), 2205u);
  EXPECT_EQ(ChooseResolution(args, 48000), 2400u);
  EXPECT_EQ(ChooseResolution(args, 19), 0u);
  args.hasResolution = true;
  const std::uint32_t asked[] = {0, 4294967295u, 44101, 44100, 1};
  const std::uint32_t used[] = {2205, 2205, 2205, 44100, 1};
  for (int i = 0; i < 5; ++i) {
    args.resolution = asked[i];
    EXPECT_EQ(ChooseResolution(args, 44100), used[i]) << asked[i];
  }
}

TEST(Summary, DecibelValues) {
  EXPECT_EQ(std::lround(ThresholdDb(1.0f)), -48);
  EXPECT_EQ(std::lround(ThresholdDb(256.0f)), -96);
  EXPECT_EQ(std::lround(ThresholdDb(0.5f)), -42);
  EXPECT_EQ(PeakDb(128.0), 0.0f);
  EXPECT_EQ(PeakDb(64.0), static_cast<float>(20 * std::log10(0.5)));
  EXPECT_EQ(PeakDb(0.0), -std::numeric_limits<float>::infinity());
}

// Whole runs on files held in memory.
class MemoryRun : public ::testing::Test {
 protected:
  void SetUp() override { MemoryFiles().clear(); }
};

TEST_F(MemoryRun, MessagesAndStatusesInOrder) {
  const auto expect = [](const std::vector<std::string>& args, const std::string& text,
                         int status) {
    const testing::RunResult r = RunInMemory(args);
    EXPECT_EQ(r.out, kBannerLine + text) << args[0];
    EXPECT_EQ(r.status, status) << args[0];
  };
  expect({"missing.wav", "0", "1"}, "The file called missing.wav cannot be found!\n", 2);
  MemoryFiles()["nodata.wav"] = testing::WavBuilder().Fmt({1, 8000, 16, 1}).Finish();
  expect({"nodata.wav", "0", "1"}, "Can't find data block in wave file!\n", 2);
  MemoryFiles()["nothing.wav"] = Bytes(64, 0);
  expect({"nothing.wav", "0", "1"},
         "Can't find format chunk in wave file!\nCan't find data block in wave file!\n", 2);
  MemoryFiles()["zero.wav"] = CanonicalWav({0, 8000, 16, 1}, {});
  expect({"zero.wav", "0", "1"}, "Unrecognized bit or channel configuration\n", 1);
  MemoryFiles()["wide.wav"] = CanonicalWav({9, 8000, 24, 1}, {});
  expect({"wide.wav", "0", "1"}, "Unrecognized bit or channel configuration\n", 1);
  MemoryFiles()["ok.wav"] = CanonicalWav({1, 8000, 16, 1}, {});
  expect({"ok.wav", "1", "1"}, "Stop or start time not set correctly\n", 1);
  expect({"ok.wav", "0", "-1"}, "Stop or start time not set correctly\n", 1);
  // The interval is checked before the frame width.
  expect({"wide.wav", "2", "1"}, "Stop or start time not set correctly\n", 1);
}

TEST_F(MemoryRun, MonoSummaryAndMagnification) {
  // 8000 Hz mono, level 10 throughout: lines of 400 frames, 0.05 s each.
  MemoryFiles()["tone.wav"] = CanonicalWav({1, 8000, 16, 1}, Repeat({0x00, 0x0A}, 800));
  const testing::RunResult r = RunInMemory({"tone.wav", "0", "1", "0", "0.5"});
  EXPECT_EQ(r.out, std::string(kBannerLine) + "0.03\t.....\n0.08\t.....\n" +
                       "Showing values above -42 dB\nPeak over interval -22.1 dB\n");
  EXPECT_EQ(r.status, 0);
}

TEST_F(MemoryRun, StereoSummaryAndFrameIndexColumn) {
  // 8000 Hz stereo, left level 64 (-6.0 dB) and right silent; from 0.2 s, lines of 7 frames.
  MemoryFiles()["st.wav"] = CanonicalWav({2, 8000, 16, 1}, Repeat({0x00, 0x40, 0x00, 0x00}, 1614));
  const testing::RunResult r = RunInMemory({"st.wav", "0.2", "9", "7"});
  EXPECT_EQ(r.out, std::string(kBannerLine) + "0.200\t1604\t" + std::string(32, '.') +
                       "\n0.201\t1611\t" + std::string(32, '.') +
                       "\nShowing values above -48 dB\nPeaks over interval -6.0 L -inf R\n");
}

TEST_F(MemoryRun, StartPastTheDataScansNothing) {
  MemoryFiles()["short.wav"] = CanonicalWav({1, 8000, 16, 1}, Repeat({0x00, 0x0A}, 10));
  const testing::RunResult r = RunInMemory({"short.wav", "5", "6", "1", "nan"});
  EXPECT_EQ(r.out,
            std::string(kBannerLine) + "Showing values above nan dB\nPeak over interval -inf dB\n");
  EXPECT_EQ(r.status, 0);
}

TEST_F(MemoryRun, LayoutsWithoutADecoderAreRefused) {
  // Each would draw only empty bars: refused after the interval check.
  const struct {
    const char* name;
    testing::Format format;
  } rows[] = {
      {"nine_channels", {9, 8000, 16, 1}},   {"nine_float", {9, 8000, 32, 3}},
      {"five_bytes", {1, 8000, 40, 1}},      {"eight_byte_pcm", {1, 8000, 64, 1}},
      {"eight_bit_code_0", {1, 8000, 8, 0}}, {"eight_bit_adpcm", {1, 8000, 8, 2}},
      {"eight_bit_float", {2, 8000, 8, 3}},  {"eight_bit_0x11", {1, 8000, 8, 0x11}},
  };
  for (const auto& row : rows) {
    MemoryFiles()[row.name] = CanonicalWav(row.format, Bytes(64 * 400, 0x7F));
    const testing::RunResult r = RunInMemory({row.name, "0", "1"});
    EXPECT_EQ(r.out, std::string(kBannerLine) + "Unrecognized bit or channel configuration\n")
        << row.name;
    EXPECT_EQ(r.status, 1) << row.name;
    // The interval is checked first.
    EXPECT_EQ(RunInMemory({row.name, "1", "0"}).out,
              std::string(kBannerLine) + "Stop or start time not set correctly\n");
  }
  // 4-bit ADPCM has samples narrower than a byte: refused by the probe.
  MemoryFiles()["adpcm"] = CanonicalWav({1, 8000, 4, 0x11}, Bytes(400, 0x7F));
  EXPECT_EQ(RunInMemory({"adpcm", "1", "0"}).out,
            std::string(kBannerLine) + "Unrecognized bit or channel configuration\n");
}

TEST_F(MemoryRun, MetadataIsNeverReadAsSamples) {
  // A LIST comment whose text spells "data" at an even offset, then a
  // full-scale sample: the walk passes over it to the real data (level 10).
  const Bytes comment = {'d', 'a', 't', 'a', 2, 0, 0, 0, 0xFF, 0x7F};
  MemoryFiles()["meta.wav"] = testing::WavBuilder()
                                  .Fmt({1, 8000, 16, 1})
                                  .Chunk("LIST", comment)
                                  .Data(Repeat({0x00, 0x0A}, 400))
                                  .Finish();
  EXPECT_EQ(RunInMemory({"meta.wav", "0", "1"}).out,
            std::string(kBannerLine) + "0.03\t..........\n" +
                "Showing values above -48 dB\nPeak over interval -22.1 dB\n");
}

TEST_F(MemoryRun, StreamsInAnyPiecesPrintWhatFilesPrint) {
  // Data inside the head, and data past it behind 20000 bytes of JUNK.
  MemoryFiles()["near.wav"] =
      CanonicalWav({2, 8000, 24, 1}, Repeat({0, 0, 0x40, 0, 0, 0xE0}, 9000));
  MemoryFiles()["far.wav"] = testing::WavBuilder()
                                 .Chunk("JUNK", Bytes(20000, 0))
                                 .Fmt({1, 8000, 16, 1})
                                 .Data(Repeat({0x00, 0x0A}, 9000), 0xFFFFFFFF)
                                 .Finish();
  for (const char* name : {"near.wav", "far.wav"}) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{name, "0", "9"}, {name, "0.3", "0.5", "7"}}) {
      testing::StreamPiece() = 0;
      const testing::RunResult file = RunInMemory(args);
      for (const std::size_t piece :
           {std::size_t{1}, std::size_t{7}, std::size_t{4095}, std::size_t{1} << 20}) {
        testing::StreamPiece() = piece;
        const testing::RunResult stream = RunInMemory(args);
        EXPECT_EQ(stream.out, file.out) << name << " in pieces of " << piece;
        EXPECT_EQ(stream.status, file.status) << name << " in pieces of " << piece;
      }
    }
  }
  testing::StreamPiece() = 0;
}

// Opens the memory file the first time only, as if it vanished after the probe.
int openCalls = 0;
bool OpenOnce(const char* path, Source& source) {
  return ++openCalls == 1 && testing::OpenMemoryFile(path, source);
}

TEST_F(MemoryRun, FileGoneBeforeTheScanIsAFileError) {
  MemoryFiles()["gone.wav"] = CanonicalWav({1, 8000, 16, 1}, Bytes(800, 0));
  static Output out;
  static Output err;
  out.used = err.used = 0;
  openCalls = 0;
  const char* argv[] = {"ampdots", "gone.wav", "0", "1"};
  EXPECT_EQ(ampdots::Run(4, argv, out, err, OpenOnce), 2);
  EXPECT_EQ(Text(out), std::string(kBannerLine) + "The file called gone.wav cannot be found!\n");
}

// Opens the memory file with reads failing from byte `FailAt()` on, as a
// failing disk's do.
std::uint64_t& FailAt() {
  static std::uint64_t at = 0;
  return at;
}
std::size_t ReadFailing(const Source& source, std::uint64_t offset, std::uint8_t* dst,
                        std::size_t count, int& error) {
  const std::uint64_t end = std::min(source.length, FailAt());
  const std::size_t n =
      offset < end ? static_cast<std::size_t>(std::min<std::uint64_t>(end - offset, count)) : 0;
  if (n > 0) std::memcpy(dst, source.data + offset, n);
  if (n < count && end < source.length) error = EIO;
  return n;
}
bool OpenFailing(const char* path, Source& source) {
  if (!testing::OpenMemoryFile(path, source)) return false;
  source.reader = ReadFailing;
  return true;
}

TEST_F(MemoryRun, ReadErrorEndsTheRunAsAFileError) {
  // 8000 frames of level 10 in lines of 800 (a tenth of a second each),
  // failing from frame 7900 on, past the bytes the probe reads: nine whole
  // lines were read, they stand, and no summary follows.
  MemoryFiles()["failing.wav"] = CanonicalWav({1, 8000, 16, 1}, Repeat({0x00, 0x0A}, 8000));
  static Output out;
  static Output err;
  out.used = err.used = 0;
  const char* argv[] = {"ampdots", "failing.wav", "0", "1", "800"};
  FailAt() = 44 + 2 * 7900;
  EXPECT_EQ(ampdots::Run(5, argv, out, err, OpenFailing), 2);
  std::string lines = kBannerLine;
  for (const char* stamp :
       {"0.05", "0.15", "0.25", "0.35", "0.45", "0.55", "0.65", "0.75", "0.85"}) {
    lines += std::string(stamp) + "\t..........\n";
  }
  EXPECT_EQ(Text(out), lines);
  EXPECT_EQ(Text(err), "ampdots: cannot read failing.wav: Input/output error\n");
  // The same file read whole: ten lines and the summary.
  const testing::RunResult whole = RunInMemory({"failing.wav", "0", "1", "800"});
  EXPECT_EQ(whole.status, 0);
  EXPECT_EQ(whole.err, "");
}

TEST_F(MemoryRun, ReadErrorInTheHeaderIsAFileErrorToo) {
  // Not a short file: nothing after the banner, the error, status 2.
  MemoryFiles()["failing.wav"] = CanonicalWav({1, 8000, 16, 1}, Repeat({0x00, 0x0A}, 8000));
  static Output out;
  static Output err;
  out.used = err.used = 0;
  const char* argv[] = {"ampdots", "failing.wav", "0", "1"};
  FailAt() = 20;
  EXPECT_EQ(ampdots::Run(4, argv, out, err, OpenFailing), 2);
  EXPECT_EQ(Text(out), std::string(kBannerLine));
  EXPECT_EQ(Text(err), "ampdots: cannot read failing.wav: Input/output error\n");
}

}  // namespace
}  // namespace ampdots
