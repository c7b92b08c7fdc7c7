// Whole runs with the options, in memory: the records, the CSV and the
// summary table of files whose figures are worked out by hand, read back by
// a strict JSON reader and an RFC 4180 CSV reader; where messages go; and
// what the options refuse.
#include "report/records.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/json_reader.h"
#include "support/memory_run.h"

namespace ampdots {
namespace {

using testing::Bytes;
using testing::CanonicalWav;
using testing::Json;
using testing::MemoryFiles;
using testing::ReadCsv;
using testing::ReadJsonLines;
using testing::RunInMemory;

// 1000 stereo frames at 8000 Hz: the left channel holds 16384 (x = 0.5,
// level 64, added to the line sum), the right one silence. In lines of 400
// a line's bar is (64 x 400) x 0.5 / 400 = 32 dots; the last 200 frames
// make no line but count in the summary.
Bytes HalfLeft() {
  Bytes frames;
  for (int f = 0; f < 1000; ++f) frames.insert(frames.end(), {0x00, 0x40, 0x00, 0x00});
  return CanonicalWav({2, 8000, 16, 1}, frames);
}

class Records : public ::testing::Test {
 protected:
  void SetUp() override {
    MemoryFiles().clear();
    testing::StreamPiece() = 0;
    MemoryFiles()["half.wav"] = HalfLeft();
  }
  void TearDown() override { testing::StreamPiece() = 0; }
};

TEST_F(Records, JsonLinesOfAHandWorkedFile) {
  const testing::RunResult r = RunInMemory({"--json", "half.wav", "0", "1", "400"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  const std::vector<Json> records = ReadJsonLines(r.out);
  ASSERT_EQ(records.size(), 4u);
  const Json& file = records[0];
  EXPECT_EQ(file["type"].text, "file");
  EXPECT_EQ(file["path"].text, "half.wav");
  EXPECT_EQ(file["format"].text, "pcm");
  EXPECT_EQ(file["bits"].number, 16);
  EXPECT_EQ(file["channels"].number, 2);
  EXPECT_EQ(file["rate"].number, 8000);
  EXPECT_EQ(file["frames"].number, 1000);
  EXPECT_EQ(file["start_frame"].number, 0);
  EXPECT_EQ(file["end_frame"].number, 1000);
  EXPECT_EQ(file["resolution"].number, 400);
  for (int j = 0; j < 2; ++j) {
    const Json& block = records[1 + static_cast<std::size_t>(j)];
    EXPECT_EQ(block["type"].text, "block");
    EXPECT_EQ(block["frame"].number, 400 * j);
    EXPECT_EQ(block["frames"].number, 400);
    EXPECT_EQ(block["time"].number, 0.05 * j);
    EXPECT_EQ(block["bar"].number, 32);
    EXPECT_EQ(block["peak_dbfs"][0].number, -6.02);
    EXPECT_EQ(block["peak_dbfs"][1].kind, Json::kNull);  // -inf
    EXPECT_EQ(block["rms_dbfs"][0].number, -6.02);
    EXPECT_EQ(block["clipped"][1].number, 0);
  }
  const Json& summary = records[3];
  EXPECT_EQ(summary["type"].text, "summary");
  EXPECT_EQ(summary["frames"].number, 1000);
  EXPECT_EQ(summary["peak_dbfs"][0].number, -6.02);
  EXPECT_EQ(summary["peak_time"][0].number, 0);
  EXPECT_EQ(summary["rms_dbfs"][0].number, -6.02);
  EXPECT_EQ(summary["rms_dbfs"][1].kind, Json::kNull);
  EXPECT_EQ(summary["dc"][0].number, 0.5);
  EXPECT_EQ(summary["crest_db"][0].number, 0);
  EXPECT_EQ(summary["crest_db"][1].kind, Json::kNull);  // silence has no crest
  EXPECT_EQ(summary["nan"][1].number, 0);
}

TEST_F(Records, CsvRowsAndSummary) {
  const testing::RunResult r = RunInMemory({"--csv", "half.wav", "0", "1", "400"});
  EXPECT_EQ(r.status, 0);
  const auto rows = ReadCsv(r.out);
  const std::vector<std::vector<std::string>> expected = {
      {"frame", "frames", "time", "bar", "peak_dbfs_1", "rms_dbfs_1", "clipped_1", "peak_dbfs_2",
       "rms_dbfs_2", "clipped_2"},
      {"0", "400", "0.000000", "32", "-6.02", "-6.02", "0", "-inf", "-inf", "0"},
      {"400", "400", "0.050000", "32", "-6.02", "-6.02", "0", "-inf", "-inf", "0"}};
  EXPECT_EQ(rows, expected);

  const testing::RunResult s = RunInMemory({"--csv", "--summary", "half.wav", "0", "1", "400"});
  const std::vector<std::vector<std::string>> summary = {
      {"channel", "frames", "peak_dbfs", "peak_time", "rms_dbfs", "dc", "crest_db", "clipped",
       "nan"},
      {"1", "1000", "-6.02", "0.000000", "-6.02", "0.500000", "0.00", "0", "0"},
      {"2", "1000", "-inf", "0.000000", "-inf", "0.000000", "", "0", "0"}};
  EXPECT_EQ(ReadCsv(s.out), summary);
}

TEST_F(Records, SummaryTableFollowsThePicture) {
  const testing::RunResult r = RunInMemory({"--summary", "half.wav", "0", "1", "400"});
  EXPECT_EQ(r.status, 0);
  const std::string dots(32, '.');
  EXPECT_EQ(r.out,
            "Ampdots 1.01 by Velbrand\n"
            "0.03\t" +
                dots + "\n0.08\t" + dots +
                "\n"
                "Showing values above -48 dB\n"
                "Peaks over interval -6.0 L -inf R\n"
                "Channel            1         2\n"
                "Peak dBFS      -6.02      -inf\n"
                "Peak time   0.000000  0.000000\n"
                "RMS dBFS       -6.02      -inf\n"
                "Crest dB        0.00         -\n"
                "DC          0.500000  0.000000\n"
                "Clipped            0         0\n");
}

// Figures as wide as their column stay apart: 110.5 s of stereo at 8000 Hz
// whose only sounds are 16384 on the left at frame 800000 (100 s) and -8192
// on the right at frame 880000 (110 s), so that both peak times take ten
// characters, "100.000000" and "110.000000".
TEST_F(Records, WideFiguresStayApartInTheTable) {
  Bytes frames(884000 * 4, 0);
  frames[800000 * 4 + 1] = 0x40;  // left: 0x4000
  frames[880000 * 4 + 3] = 0xE0;  // right: 0xE000 = -8192
  MemoryFiles()["long.wav"] = CanonicalWav({2, 8000, 16, 1}, frames);
  const testing::RunResult r = RunInMemory({"--summary", "long.wav", "0", "111", "80000"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("\nChannel            1         2\n"
                       "Peak dBFS      -6.02    -12.04\n"
                       "Peak time  100.000000 110.000000\n"),
            std::string::npos)
      << r.out;
}

// The same records from a stream, read in small pieces.
TEST_F(Records, StreamsGiveTheSameRecords) {
  const testing::RunResult file = RunInMemory({"--json", "half.wav", "0", "1", "7"});
  testing::StreamPiece() = 5;
  const testing::RunResult stream = RunInMemory({"--json", "half.wav", "0", "1", "7"});
  EXPECT_EQ(stream.status, 0);
  EXPECT_EQ(stream.out, file.out);
  EXPECT_EQ(ReadJsonLines(file.out).size(), 1u + 142u + 1u);  // 1000 / 7 = 142 lines
}

// A path with a comma, a quote, a newline, a control character and a byte
// that is no UTF-8 still gives valid JSON, the byte read as U+FFFD; CSV
// carries no path.
TEST_F(Records, AnyPathIsValidJson) {
  const std::string path = "a,b\"c\nd\x01\xFFz\xC3\xA9.wav";
  MemoryFiles()[path] = HalfLeft();
  const testing::RunResult r = RunInMemory({"--json", path, "0", "1"});
  const std::vector<Json> records = ReadJsonLines(r.out);
  ASSERT_FALSE(records.empty());
  EXPECT_EQ(records[0]["path"].text, "a,b\"c\nd\x01\xEF\xBF\xBDz\xC3\xA9.wav");
  EXPECT_EQ(ReadCsv(RunInMemory({"--csv", path, "0", "1"}).out).size(), 1u + 2u);
}

TEST(JsonString, EscapesAndReplacesWhatJsonCannotHold) {
  static Output out;
  const auto json = [](std::string_view text) {
    out.fd = -1;
    out.used = 0;
    PutJsonString(out, text);
    return std::string(Text(out));
  };
  EXPECT_EQ(json("plain"), "\"plain\"");
  EXPECT_EQ(json("q\"b\\"), "\"q\\\"b\\\\\"");
  EXPECT_EQ(json("\t\x1F\x7F"), "\"\\u0009\\u001f\x7F\"");
  EXPECT_EQ(json("\xE2\x82\xAC\xF0\x9F\x8E\xB5"), "\"\xE2\x82\xAC\xF0\x9F\x8E\xB5\"");
  // Overlong forms, surrogates, past U+10FFFF, cut sequences, lone
  // continuation bytes: each bad byte is one U+FFFD.
  EXPECT_EQ(json("\xC0\xAF"), "\"\\ufffd\\ufffd\"");
  EXPECT_EQ(json("\xED\xA0\x80"), "\"\\ufffd\\ufffd\\ufffd\"");
  EXPECT_EQ(json("\xF4\x90\x80\x80"), "\"\\ufffd\\ufffd\\ufffd\\ufffd\"");
  EXPECT_EQ(json("\xE2\x82"), "\"\\ufffd\\ufffd\"");
  EXPECT_EQ(json("\x80x"), "\"\\ufffdx\"");
}

// With --json and --csv every message goes to standard error, standard
// output stays empty, and the statuses are the picture's.
TEST_F(Records, MessagesGoToStandardError) {
  MemoryFiles()["nodata.wav"] = Bytes(100, 0);
  const struct {
    std::vector<std::string> args;
    std::string err;
    int status;
  } cases[] = {
      {{"--json", "missing.wav", "0", "1"}, "The file called missing.wav cannot be found!\n", 2},
      {{"--csv", "nodata.wav", "0", "1"},
       "Can't find format chunk in wave file!\nCan't find data block in wave file!\n",
       2},
      {{"--json", "half.wav", "1", "0.5"}, "Stop or start time not set correctly\n", 1},
      {{"--csv", "half.wav"},
       "ampdots: FILE, START and STOP are needed\nTry 'ampdots --help'.\n",
       1},
  };
  for (const auto& c : cases) {
    const testing::RunResult r = RunInMemory(c.args);
    EXPECT_EQ(r.out, "") << c.args[0];
    EXPECT_EQ(r.err, c.err) << c.args[0];
    EXPECT_EQ(r.status, c.status) << c.args[0];
  }
}

TEST_F(Records, OptionsRefusedWithTheirReason) {
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"--loud", "half.wav", "0", "1"}, "ampdots: unrecognized option '--loud'\n"},
      {{"--json=yes", "half.wav", "0", "1"}, "ampdots: this option takes no value: '--json=yes'\n"},
      {{"--json", "--csv", "half.wav", "0", "1"}, "ampdots: --json and --csv cannot be combined\n"},
  };
  for (const auto& c : cases) {
    const testing::RunResult r = RunInMemory(c.args);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err + "Try 'ampdots --help'.\n");
    EXPECT_EQ(r.status, 1);
  }
}

TEST_F(Records, HelpVersionAndTheEndOfOptions) {
  const testing::RunResult help = RunInMemory({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.err, "");
  for (const char* option : {"--summary", "--json", "--csv", "--help", "--version"}) {
    EXPECT_NE(help.out.find(std::string("  ") + option), std::string::npos) << option;
  }
  const testing::RunResult version = RunInMemory({"--version"});
  EXPECT_EQ(version.out, "Ampdots 1.01 by Velbrand\n");
  EXPECT_EQ(version.status, 0);
  // After "--" a word that starts with "--" is FILE; so is "-" without it.
  MemoryFiles()["--odd.wav"] = HalfLeft();
  const testing::RunResult odd = RunInMemory({"--csv", "--", "--odd.wav", "0", "1", "400"});
  EXPECT_EQ(odd.status, 0);
  EXPECT_EQ(ReadCsv(odd.out).size(), 3u);
  // With no option, the run is today's: a FILE that starts with "-" alone.
  EXPECT_EQ(RunInMemory({"-", "0", "1"}).out,
            "Ampdots 1.01 by Velbrand\nThe file called - cannot be found!\n");
}

}  // namespace
}  // namespace ampdots
