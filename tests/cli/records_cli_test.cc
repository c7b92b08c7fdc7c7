// The built binary with --json and --csv, as scripts run it: the data alone
// on standard output, every message on standard error, from files with
// awkward names and from pipes.
#include <string>

#include "support/json_reader.h"
#include "support/run_tool.h"

namespace ampdots {
namespace {

using testing::Bytes;
using testing::CanonicalWav;
using testing::Json;
using testing::ReadCsv;
using testing::ReadJsonLines;
using testing::Repeat;
using testing::RunTool;
using testing::RunToolPiped;
using testing::ScratchDir;

// 800 mono frames at 8000 Hz of -0.5 (16-bit 0xC000): lines of 400 draw
// 64 dots, and every figure is -6.02 dB.
Bytes HalfScale() { return CanonicalWav({1, 8000, 16, 1}, Repeat({0x00, 0xC0}, 800)); }

TEST(RecordsCli, JsonFromAFileWithAnAwkwardName) {
  const ScratchDir dir;
  const std::string path = dir.Write("take, \"one\"\n\xFF.wav", HalfScale());
  const testing::Ran ran = RunTool({"--json", path, "0", "1", "400"});
  EXPECT_EQ(ran.status, 0);
  EXPECT_EQ(ran.err, "");
  const auto records = ReadJsonLines(ran.out);
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[0]["path"].text, path.substr(0, path.size() - 5) + "\xEF\xBF\xBD.wav");
  EXPECT_EQ(records[1]["bar"].number, 64);
  EXPECT_EQ(records[2]["frame"].number, 400);
  EXPECT_EQ(records[3]["dc"][0].number, -0.5);
  EXPECT_EQ(records[3]["rms_dbfs"][0].number, -6.02);
}

TEST(RecordsCli, CsvFromAPipe) {
  const testing::PipedRun piped = RunToolPiped({"--csv", "-", "0", "1", "400"}, HalfScale());
  EXPECT_EQ(piped.ran.status, 0);
  EXPECT_EQ(piped.ran.err, "");
  const auto rows = ReadCsv(piped.ran.out);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[2],
            (std::vector<std::string>{"400", "400", "0.050000", "64", "-6.02", "-6.02", "0"}));
}

TEST(RecordsCli, MessagesOnStandardErrorOnly) {
  const ScratchDir dir;
  const testing::Ran missing = RunTool({"--json", dir.Path("none.wav"), "0", "1"});
  EXPECT_EQ(missing.out, "");
  EXPECT_EQ(missing.err, "The file called " + dir.Path("none.wav") + " cannot be found!\n");
  EXPECT_EQ(missing.status, 2);
  const testing::Ran refused = RunTool({"--csv", "--wide", "x", "0", "1"});
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(refused.err, "ampdots: unrecognized option '--wide'\nTry 'ampdots --help'.\n");
  EXPECT_EQ(refused.status, 1);
}

}  // namespace
}  // namespace ampdots
