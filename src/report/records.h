// Renderers of a scan's records for programs: JSON Lines and CSV. Numbers
// are written in the C locale; a figure that is not finite is null in JSON,
// and in CSV "-inf" or "inf", or an empty field where there is none.
#ifndef AMPDOTS_REPORT_RECORDS_H_
#define AMPDOTS_REPORT_RECORDS_H_

#include <string_view>

#include "io/output.h"
#include "loudness/meter.h"
#include "scan/blocks.h"
#include "scan/plan.h"
#include "wav/probe.h"

namespace ampdots {

/// `text` as a JSON string, quotes included: quotes, backslashes and
/// control characters escaped, and every byte that is not part of valid
/// UTF-8 written as U+FFFD, so that any path yields valid JSON.
void PutJsonString(Output& out, std::string_view text);

/// What the records say of the file and the run, whatever the mode.
struct RunFacts {
  const char* path;
  const WavAttributes& wav;
  const ScanPlan& plan;
  const ChannelWeights* weights = nullptr;  ///< where loudness is measured
};

/// The JSON Lines of a run: the file record first, a block record per
/// whole line, the summary record last. With `loudness`, blocks carry
/// their momentary and short-term loudness and the summary the figures.
void PutJsonFile(Output& out, const RunFacts& run);
void PutJsonSummary(Output& out, const ScanPlan& plan, const Stats& interval,
                    const LoudnessFigures* loudness = nullptr);

class JsonBlocks final : public BlockSink {
 public:
  JsonBlocks(Output& out, const ScanPlan& plan, bool loudness = false)
      : out_(out), plan_(plan), loudness_(loudness) {}
  void Block(const BlockRecord& block) override { Write(block, out_); }
  bool Failed() const override { return out_.failed; }
  Output* Standalone() override { return &out_; }
  void Write(const BlockRecord& block, Output& text) const override;

 private:
  Output& out_;
  const ScanPlan& plan_;
  bool loudness_;
};

/// CSV (RFC 4180, lines ending in CRLF): a header row, then a row per whole
/// line; or, for the summary, a row per channel.
/// With `loudness`, a block's row ends in its momentary and short-term
/// loudness, and a channel's summary row in its true peak and the
/// interval's loudness figures.
void PutCsvHeader(Output& out, const ScanPlan& plan, bool loudness = false);
void PutCsvSummary(Output& out, const ScanPlan& plan, const Stats& interval,
                   const LoudnessFigures* loudness = nullptr);

class CsvBlocks final : public BlockSink {
 public:
  CsvBlocks(Output& out, const ScanPlan& plan, bool loudness = false)
      : out_(out), plan_(plan), loudness_(loudness) {}
  void Block(const BlockRecord& block) override { Write(block, out_); }
  bool Failed() const override { return out_.failed; }
  Output* Standalone() override { return &out_; }
  void Write(const BlockRecord& block, Output& text) const override;

 private:
  Output& out_;
  const ScanPlan& plan_;
  bool loudness_;
};

/// The picture's summary table: a column per channel, a row per figure.
void PutStatsTable(Output& out, const ScanPlan& plan, const Stats& interval);

/// The name of a plan's sample format: "pcm", "alaw", "mulaw" or "float".
std::string_view FormatName(Decoder decoder);

}  // namespace ampdots

#endif  // AMPDOTS_REPORT_RECORDS_H_
