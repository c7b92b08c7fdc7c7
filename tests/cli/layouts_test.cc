// Whole runs on the layouts post-production and science write: 3 to 8
// channels, 64-bit float, and RF64/BW64 whose data size is in ds64. Every
// expectation is worked from constant blocks: one loud channel, one known
// value per line.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "support/memory_run.h"

namespace ampdots {
namespace {

using testing::Bytes;
using testing::CanonicalWav;
using testing::MemoryFiles;
using testing::Repeat;
using testing::RunInMemory;
using testing::WavBuilder;

constexpr char kBannerLine[] = "Ampdots 1.01 by Velbrand\n";
constexpr char kThreshold[] = "Showing values above -48 dB\n";

class Layouts : public ::testing::Test {
 protected:
  void SetUp() override { MemoryFiles().clear(); }
};

// Two lines of 400 frames at 8000 Hz, stamped 0.03 and 0.08.
std::string TwoLines(std::size_t dots) {
  const std::string bar(dots, '.');
  return std::string(kBannerLine) + "0.03\t" + bar + "\n0.08\t" + bar + "\n" + kThreshold;
}

// One loud channel among silent ones: the line's sum is the loud level,
// divided by the channel count; each channel keeps its own peak.
TEST_F(Layouts, ThreeToEightChannelsWithOneLoud) {
  const struct {
    const char* name;
    testing::Format format;  // channels filled in below
    Bytes loud;
    Bytes silent;
    double level;
    const char* loudDb;
    const char* silentDb;
  } formats[] = {
      {"pcm16", {0, 8000, 16, 1}, {0x00, 0x40}, {0x00, 0x00}, 64.0, "-6.0", "-inf"},
      {"pcm24", {0, 8000, 24, 1}, {0x00, 0x00, 0x40}, {0x00, 0x00, 0x00}, 64.0, "-6.0", "-inf"},
      // 0.5, and zeros, which read as 2^-120 (-764.6 dB).
      {"float", {0, 8000, 32, 3}, {0x00, 0x00, 0x00, 0x3F}, {0, 0, 0, 0}, 64.0, "-6.0", "-764.6"},
      // Code 0x80 expands to 32124 (level 125.484375, -0.17 dB), 0xFF to 0.
      {"mulaw", {0, 8000, 8, 7}, {0x80}, {0xFF}, 125.484375, "-0.2", "-inf"},
  };
  for (const std::uint32_t channels : {3u, 4u, 6u, 8u}) {
    for (const auto& f : formats) {
      SCOPED_TRACE(std::string(f.name) + " x" + std::to_string(channels));
      const std::uint32_t loudChannel = channels - 2;
      Bytes frame;
      std::string peaks = "Peaks over interval";
      for (std::uint32_t c = 0; c < channels; ++c) {
        const Bytes& sample = c == loudChannel ? f.loud : f.silent;
        frame.insert(frame.end(), sample.begin(), sample.end());
        peaks += std::string(" ") + (c == loudChannel ? f.loudDb : f.silentDb);
      }
      testing::Format format = f.format;
      format.channels = channels;
      MemoryFiles()["multi.wav"] = CanonicalWav(format, Repeat(frame, 800));
      const testing::RunResult r = RunInMemory({"multi.wav", "0", "1"});
      const auto dots = static_cast<std::size_t>(f.level / channels);
      EXPECT_EQ(r.out, TwoLines(dots) + peaks + " dB\n");
      EXPECT_EQ(r.status, 0);
    }
  }
}

Bytes Doubles(double value, std::size_t count) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  Bytes sample;
  for (int i = 0; i < 8; ++i) sample.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
  return Repeat(sample, count);
}

TEST_F(Layouts, SixtyFourBitFloat) {
  // 1.0 throughout the first line (128 dots), -0.5 through the second (64).
  Bytes data = Doubles(1.0, 400);
  const Bytes second = Doubles(-0.5, 400);
  data.insert(data.end(), second.begin(), second.end());
  const std::string picture = std::string(kBannerLine) + "0.03\t" + std::string(128, '.') +
                              "\n0.08\t" + std::string(64, '.') + "\n" + kThreshold +
                              "Peak over interval 0.0 dB\n";
  for (const bool extensible : {false, true}) {
    MemoryFiles()["f64.wav"] = WavBuilder().Fmt({1, 8000, 64, 3}, extensible).Data(data).Finish();
    const testing::RunResult r = RunInMemory({"f64.wav", "0", "1"});
    EXPECT_EQ(r.out, picture) << extensible;
    EXPECT_EQ(r.status, 0);
  }
  // An infinity makes its line's sum infinite: the longest bar, and an
  // infinite peak. A not-a-number makes its line's sum one: no bar, and it
  // is never the peak.
  Bytes odd = Doubles(1.0, 800);
  const Bytes inf = Doubles(HUGE_VAL, 1);
  const Bytes nan = Doubles(std::nan(""), 1);
  std::copy(inf.begin(), inf.end(), odd.begin() + 8 * 7);
  std::copy(nan.begin(), nan.end(), odd.begin() + 8 * 407);
  MemoryFiles()["odd.wav"] = CanonicalWav({1, 8000, 64, 3}, odd);
  EXPECT_EQ(RunInMemory({"odd.wav", "0", "1"}).out, std::string(kBannerLine) + "0.03\t" +
                                                        std::string(32768, '.') + "\n0.08\t\n" +
                                                        kThreshold + "Peak over interval inf dB\n");
  // Silence is zero, whose peak is -inf dB.
  MemoryFiles()["zero.wav"] = CanonicalWav({2, 8000, 64, 3}, Doubles(0.0, 1600));
  EXPECT_EQ(RunInMemory({"zero.wav", "0", "1"}).out,
            TwoLines(0) + "Peaks over interval -inf L -inf R\n");
}

// An RF64 or BW64 file: ds64 first, whose 64-bit dataSize (file bytes
// 28-35) holds the real size when the data chunk's own says 0xFFFFFFFF.
// 16-bit mono at 8000 Hz, 20 frames of level 10, then a LIST chunk of loud
// bytes written after the audio, which is not audio.
Bytes LongForm(const char* riff, Bytes ds64, std::uint32_t dataField) {
  Bytes file = WavBuilder()
                   .Chunk("ds64", ds64)
                   .Fmt({1, 8000, 16, 1})
                   .Data(Repeat({0x00, 0x0A}, 20), dataField)
                   .Chunk("LIST", Bytes(400, 0x7F))
                   .Finish();
  std::memcpy(file.data(), riff, 4);
  return file;
}

Bytes Ds64(std::uint64_t dataSize, std::size_t size) {
  Bytes payload(size, 0);
  for (int i = 0; i < 8; ++i)
    payload[8 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(dataSize >> (8 * i));
  return payload;
}

TEST_F(Layouts, LongFormDataSizeFromDs64) {
  // Lines of 10 frames: two of ten dots, stamped at frames 5 and 15.
  const std::string audio = std::string(kBannerLine) + "0.001\t..........\n0.002\t..........\n" +
                            kThreshold + "Peak over interval -22.1 dB\n";
  Bytes withTable = Ds64(40, 28 + 12);
  withTable[24] = 1;  // one table entry follows
  const struct {
    const char* name;
    Bytes file;
  } rows[] = {
      {"rf64_ds64_24", LongForm("RF64", Ds64(40, 24), 0xFFFFFFFF)},
      {"bw64_ds64_table", LongForm("BW64", withTable, 0xFFFFFFFF)},
      // The data chunk's own size, when it is no placeholder, is believed.
      {"rf64_own_size", LongForm("RF64", Ds64(1 << 20, 24), 40)},
  };
  for (const auto& row : rows) {
    MemoryFiles()[row.name] = row.file;
    const testing::RunResult r = RunInMemory({row.name, "0", "1", "10"});
    EXPECT_EQ(r.out, audio) << row.name;
    EXPECT_EQ(r.status, 0) << row.name;
  }
  // A ds64 that claims more than the file holds is cut to the file, as a
  // data chunk's own size is: the LIST bytes are then read as frames.
  MemoryFiles()["long.wav"] = LongForm("RF64", Ds64(1 << 20, 24), 0xFFFFFFFF);
  const testing::RunResult r = RunInMemory({"long.wav", "0", "1", "10"});
  EXPECT_NE(r.out.find("Peak over interval -0.0 dB\n"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace ampdots
