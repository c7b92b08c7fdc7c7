// --loudness from end to end, on recordings whose loudness is worked by
// hand: a 997 Hz tone reads its own peak level in stereo and 3.01 LU less in
// mono; silence reads -inf; too little signal reads -inf for what needs a
// window; and the records carry the same figures.
#include "report/loudness.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>

#include "support/json_reader.h"
#include "support/memory_run.h"

namespace ampdots {
namespace {

using testing::Bytes;
using testing::MemoryFiles;
using testing::PutLe16;
using testing::ReadCsv;
using testing::ReadJsonLines;
using testing::RunInMemory;
using testing::WavBuilder;

// 16-bit frames of a 997 Hz sine of peak `db` dBFS in every channel.
Bytes Tone(double seconds, double db, std::uint32_t channels, std::uint32_t rate = 48000,
           std::uint32_t mask = 0) {
  Bytes frames;
  const auto count = static_cast<int>(seconds * rate);
  const double amplitude = std::pow(10.0, db / 20.0) * 32768.0;
  for (int i = 0; i < count; ++i) {
    const double x = amplitude * std::sin(2.0 * std::numbers::pi * 997.0 * i / rate);
    const auto value = static_cast<std::int32_t>(std::lround(x));
    for (std::uint32_t c = 0; c < channels; ++c)
      PutLe16(frames, static_cast<std::uint32_t>(value) & 0xFFFF);
  }
  return WavBuilder().Fmt({channels, rate, 16, 1, mask}, mask != 0).Data(frames).Finish();
}

std::string Tail(const std::string& text, const std::string& from) {
  const std::size_t at = text.find(from);
  return at == std::string::npos ? "(no '" + from + "' in:\n" + text + ")" : text.substr(at);
}

TEST(LoudnessLines, AToneReadsItsPeakLevelInStereoAndThreeLessInMono) {
  MemoryFiles()["stereo.wav"] = Tone(5.0, -20.0, 2);
  MemoryFiles()["mono.wav"] = Tone(5.0, -20.0, 1);
  const testing::RunResult stereo = RunInMemory({"--loudness", "stereo.wav", "0", "5"});
  EXPECT_EQ(stereo.status, 0);
  EXPECT_EQ(Tail(stereo.out, "Integrated"),
            "Integrated loudness -20.0 LUFS\n"
            "Loudness range 0.0 LU (-20.0 to -20.0 LUFS)\n"
            "Maximum momentary loudness -20.0 LUFS\n"
            "Maximum short-term loudness -20.0 LUFS\n"
            "True peak -20.0 L -20.0 R dBTP\n");
  // The plain picture stands as it was, to the byte, before the figures.
  const std::string plain = RunInMemory({"stereo.wav", "0", "5"}).out;
  EXPECT_EQ(stereo.out.substr(0, plain.size()), plain);

  const std::string mono = RunInMemory({"--loudness", "mono.wav", "0", "5"}).out;
  EXPECT_EQ(Tail(mono, "Integrated"),
            "Integrated loudness -23.0 LUFS\n"
            "Loudness range 0.0 LU (-23.0 to -23.0 LUFS)\n"
            "Maximum momentary loudness -23.0 LUFS\n"
            "Maximum short-term loudness -23.0 LUFS\n"
            "True peak -20.0 dBTP\n");
  const std::string dual = RunInMemory({"--loudness", "--dual-mono", "mono.wav", "0", "5"}).out;
  EXPECT_NE(dual.find("Integrated loudness -20.0 LUFS\n"), std::string::npos);
  // After the summary table, when there is one.
  const std::string table = RunInMemory({"--summary", "--loudness", "stereo.wav", "0", "5"}).out;
  EXPECT_LT(table.find("Crest"), table.find("Integrated"));
}

TEST(LoudnessLines, SilenceAndTooLittleSignalReadMinusInfinity) {
  MemoryFiles()["silence.wav"] = testing::CanonicalWav({1, 48000, 16, 1}, Bytes(2 * 96000, 0));
  EXPECT_EQ(Tail(RunInMemory({"--loudness", "silence.wav", "0", "2"}).out, "Integrated"),
            "Integrated loudness -inf LUFS\n"
            "Loudness range - LU (- to - LUFS)\n"
            "Maximum momentary loudness -inf LUFS\n"
            "Maximum short-term loudness -inf LUFS\n"
            "True peak -inf dBTP\n");
  // 300 ms: no 400 ms window, so no integrated or momentary loudness; the
  // true peak needs none.
  MemoryFiles()["short.wav"] = Tone(0.3, -20.0, 1);
  EXPECT_EQ(Tail(RunInMemory({"--loudness", "short.wav", "0", "1"}).out, "Integrated"),
            "Integrated loudness -inf LUFS\n"
            "Loudness range - LU (- to - LUFS)\n"
            "Maximum momentary loudness -inf LUFS\n"
            "Maximum short-term loudness -inf LUFS\n"
            "True peak -20.0 dBTP\n");
}

// Bars of loudness: (LUFS - FLOOR) dots, none while the window is not full.
TEST(LoudnessLines, BarsOfShortTermLoudness) {
  MemoryFiles()["stereo.wav"] = Tone(4.0, -20.0, 2);
  const std::string bar = std::string(39, '.');
  EXPECT_EQ(RunInMemory({"--level=short-term", "--db=-59.5", "stereo.wav", "0", "4", "48000"}).out,
            std::string(kBanner) + "\n0.50\t\n1.50\t\n2.50\t" + bar + "\n3.50\t" + bar +
                "\nShowing values above -59.5 LUFS\nPeaks over interval -20.0 L -20.0 R\n");
  const std::string momentary =
      RunInMemory({"--level=momentary", "--db=-59.5", "stereo.wav", "0", "1", "9600"}).out;
  EXPECT_EQ(momentary,
            std::string(kBanner) + "\n0.10\t\n0.30\t" + bar + "\n0.50\t" + bar + "\n0.70\t" + bar +
                "\n0.90\t" + bar +
                "\nShowing values above -59.5 LUFS\nPeaks over interval -20.0 L -20.0 R\n");
}

TEST(LoudnessRecords, JsonAndCsvCarryTheSameFigures) {
  MemoryFiles()["stereo.wav"] = Tone(4.0, -20.0, 2);
  const testing::RunResult json =
      RunInMemory({"--json", "--loudness", "stereo.wav", "0", "4", "48000"});
  EXPECT_EQ(json.err, "");
  const auto records = ReadJsonLines(json.out);
  ASSERT_EQ(records.size(), 6u);
  EXPECT_EQ(records[0]["loudness_weights"][1].number, 1.0);
  EXPECT_EQ(records[1]["momentary_lufs"].number, -20.0);
  EXPECT_EQ(records[1]["short_term_lufs"].kind, testing::Json::kNull);  // not full yet
  EXPECT_EQ(records[3]["short_term_lufs"].number, -20.0);
  const testing::Json& summary = records[5];
  EXPECT_EQ(summary["integrated_lufs"].number, -20.0);
  EXPECT_EQ(summary["loudness_range_lu"].number, 0.0);
  EXPECT_EQ(summary["max_momentary_lufs"].number, -20.0);
  EXPECT_EQ(summary["max_short_term_lufs"].number, -20.0);
  EXPECT_NEAR(summary["true_peak_dbtp"][1].number, -20.0, 0.011);
  // Without --loudness the records are as they were.
  EXPECT_FALSE(
      ReadJsonLines(RunInMemory({"--json", "stereo.wav", "0", "4"}).out)[1].Has("momentary_lufs"));

  const auto rows =
      ReadCsv(RunInMemory({"--csv", "--loudness", "stereo.wav", "0", "4", "48000"}).out);
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[0][10], "momentary_lufs");
  EXPECT_EQ(rows[0][11], "short_term_lufs");
  EXPECT_EQ(rows[1][11], "-inf");
  EXPECT_EQ(rows[4][11], "-20.00");
  const auto summaryRows =
      ReadCsv(RunInMemory({"--csv", "--summary", "--loudness", "stereo.wav", "0", "4"}).out);
  ASSERT_EQ(summaryRows.size(), 3u);
  EXPECT_EQ(summaryRows[0][10], "integrated_lufs");
  EXPECT_EQ(summaryRows[2][10], "-20.00");
}

TEST(LoudnessRecords, AStreamReadsAsTheFileDoes) {
  MemoryFiles()["stereo.wav"] = Tone(4.0, -20.0, 2);
  const std::vector<std::string> args = {"--json", "--loudness", "stereo.wav", "0", "4", "7000"};
  const std::string file = RunInMemory(args).out;
  testing::StreamPiece() = 1001;
  const std::string stream = RunInMemory(args).out;
  testing::StreamPiece() = 0;
  EXPECT_EQ(stream, file);
}

TEST(LoudnessRecords, WeightsFromTheChannelMask) {
  // 5.1 with its surrounds at the back: the LFE weighs nothing, the
  // surrounds 1.41 (+1.5 dB).
  MemoryFiles()["five.wav"] = Tone(0.5, -20.0, 6, 48000, 0x3F);
  const auto records =
      ReadJsonLines(RunInMemory({"--json", "--loudness", "five.wav", "0", "1"}).out);
  ASSERT_FALSE(records.empty());
  const double expected[] = {1, 1, 1, 0, 1.41, 1.41};
  for (std::size_t c = 0; c < 6; ++c) {
    EXPECT_EQ(records[0]["loudness_weights"][c].number, expected[c]);
  }
}

TEST(LoudnessRecords, RunsThatCannotBeMeasured) {
  MemoryFiles()["stereo.wav"] = Tone(0.5, -20.0, 2);
  MemoryFiles()["slow.wav"] = Tone(0.5, -20.0, 1, 4000);
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"--loudness", "slow.wav", "0", "1"},
       "ampdots: loudness is measured at sample rates from 8000 to 384000 Hz\n"},
      {{"--loudness", "--dual-mono", "stereo.wav", "0", "1"},
       "ampdots: --dual-mono is for a file of one channel\n"},
      {{"--dual-mono", "stereo.wav", "0", "1"},
       "ampdots: --dual-mono weighs loudness: it needs --loudness or a loudness --level\n"
       "Try 'ampdots --help'.\n"},
      {{"--level=momentary", "--split", "stereo.wav", "0", "1"},
       "ampdots: a loudness is of all channels together: it cannot be split: '--split'\n"
       "Try 'ampdots --help'.\n"},
      {{"--json", "--level=short-term", "stereo.wav", "0", "1"},
       "ampdots: this option shapes the picture, not --json or --csv: '--level=short-term'\n"
       "Try 'ampdots --help'.\n"},
  };
  for (const auto& c : cases) {
    const testing::RunResult r = RunInMemory(c.args);
    EXPECT_EQ(r.status, 1) << c.err;
    EXPECT_EQ(r.err, c.err);
  }
}

}  // namespace
}  // namespace ampdots
