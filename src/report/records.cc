#include "report/records.h"

#include <cmath>
#include <cstdint>

#include "scan/format.h"
#include "scan/sample_formats.h"
#include "scan/scan.h"

namespace ampdots {
namespace {

enum class Style { kJson, kCsv };

// A figure with `decimals` decimals, as printf prints it but for the sign
// of a value that rounds to nothing (-0.00 is 0.00); what is not finite as
// the style has it. Records print many numbers: printf only decides the
// few that the fast digits cannot.
void PutNumber(Output& out, double value, int decimals, Style style) {
  if (std::isfinite(value)) {
    char text[kMaxNumberText];
    std::size_t n = FormatDecimal(value, decimals, text);
    if (n == 0) {
      PutF(out, "%.*f", decimals, value);
      return;
    }
    if (text[0] == '-' &&
        std::string_view(text + 1, n - 1).find_first_not_of("0.") == std::string_view::npos) {
      n = FormatDecimal(0.0, decimals, text);
    }
    Put(out, std::string_view(text, n));
  } else if (style == Style::kJson) {
    Put(out, "null");
  } else if (!std::isnan(value)) {
    Put(out, value > 0 ? "inf" : "-inf");
  }
}

void PutCount(Output& out, std::uint64_t value) {
  char text[kMaxNumberText];
  Put(out, std::string_view(text, FormatInteger(static_cast<std::int64_t>(value), text)));
}

// A JSON array of one figure of each channel.
template <typename Figure>
void PutJsonArray(Output& out, const char* name, const ScanPlan& plan, Figure figure) {
  Put(out, ",\"");
  Put(out, name);
  Put(out, "\":[");
  for (std::uint32_t c = 0; c < plan.channels; ++c) {
    if (c > 0) PutChar(out, ',');
    figure(c);
  }
  PutChar(out, ']');
}

// The length of the valid UTF-8 sequence at text[i], or 0 where there is none.
std::size_t Utf8Length(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) {
    return i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0u;
  };
  const unsigned lead = byte(0);
  const auto follows = [&](std::size_t k, unsigned low, unsigned high) {
    return byte(k) >= low && byte(k) <= high;
  };
  // The second byte's range rules out overlong forms, surrogates and
  // code points past U+10FFFF.
  if (lead >= 0xC2 && lead <= 0xDF) return follows(1, 0x80, 0xBF) ? 2 : 0;
  if (lead >= 0xE0 && lead <= 0xEF) {
    const unsigned low = lead == 0xE0 ? 0xA0 : 0x80;
    const unsigned high = lead == 0xED ? 0x9F : 0xBF;
    return follows(1, low, high) && follows(2, 0x80, 0xBF) ? 3 : 0;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    const unsigned low = lead == 0xF0 ? 0x90 : 0x80;
    const unsigned high = lead == 0xF4 ? 0x8F : 0xBF;
    return follows(1, low, high) && follows(2, 0x80, 0xBF) && follows(3, 0x80, 0xBF) ? 4 : 0;
  }
  return 0;
}

void PutCrLf(Output& out) { Put(out, "\r\n"); }

// The interval's loudness figures as records name them.
struct LoudnessField {
  const char* name;
  double (*value)(const LoudnessFigures&);
};
constexpr LoudnessField kLoudnessFields[] = {
    {"integrated_lufs", [](const LoudnessFigures& f) { return f.integrated; }},
    {"loudness_range_lu", [](const LoudnessFigures& f) { return f.range.range; }},
    {"loudness_range_low_lufs", [](const LoudnessFigures& f) { return f.range.low; }},
    {"loudness_range_high_lufs", [](const LoudnessFigures& f) { return f.range.high; }},
    {"max_momentary_lufs", [](const LoudnessFigures& f) { return f.maxMomentary; }},
    {"max_short_term_lufs", [](const LoudnessFigures& f) { return f.maxShortTerm; }},
};

}  // namespace

std::string_view FormatName(Decoder decoder) {
  return VisitFormat(decoder, [](auto format) { return decltype(format)::kName; });
}

void PutJsonString(Output& out, std::string_view text) {
  PutChar(out, '"');
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      PutChar(out, '\\');
      PutChar(out, static_cast<char>(c));
    } else if (c < 0x20) {
      PutF(out, "\\u%04x", c);
    } else if (c < 0x80) {
      PutChar(out, static_cast<char>(c));
    } else if (const std::size_t n = Utf8Length(text, i); n > 0) {
      Put(out, text.substr(i, n));
      i += n;
      continue;
    } else {
      Put(out, "\\ufffd");
    }
    ++i;
  }
  PutChar(out, '"');
}

void PutJsonFile(Output& out, const RunFacts& run) {
  const ScanPlan& plan = run.plan;
  Put(out, "{\"type\":\"file\",\"path\":");
  PutJsonString(out, run.path);
  PutF(out, ",\"format\":\"%s\"", FormatName(plan.decoder).data());
  PutF(out, ",\"bits\":%u,\"valid_bits\":%u", 8 * plan.bytesPerSample, plan.validBits);
  PutF(out, ",\"channels\":%u,\"rate\":%u", plan.channels, plan.sampleRate);
  PutF(out, ",\"frames\":%u,\"start_frame\":%u,\"end_frame\":%u", run.wav.frameCount,
       plan.startFrame, plan.endFrame);
  PutF(out, ",\"resolution\":%u", plan.resolution);
  if (run.weights != nullptr) {
    PutJsonArray(out, "loudness_weights", plan,
                 [&](std::uint32_t c) { PutF(out, "%g", run.weights->weight[c]); });
  }
  Put(out, "}\n");
}

void JsonBlocks::Write(const BlockRecord& block, Output& out) const {
  Put(out, "{\"type\":\"block\",\"frame\":");
  PutCount(out, block.frame);
  Put(out, ",\"frames\":");
  PutCount(out, block.frames);
  Put(out, ",\"time\":");
  PutNumber(out, static_cast<double>(block.frame) / plan_.sampleRate, 6, Style::kJson);
  Put(out, ",\"bar\":");
  PutCount(out, BarDots(block.length));
  const ChannelFigures figures = FiguresOf(block.stats, plan_);
  PutJsonArray(out, "peak_dbfs", plan_, [&](std::uint32_t c) {
    PutNumber(out, figures.channel[c].peakDb, 2, Style::kJson);
  });
  PutJsonArray(out, "rms_dbfs", plan_,
               [&](std::uint32_t c) { PutNumber(out, figures.channel[c].rmsDb, 2, Style::kJson); });
  PutJsonArray(out, "clipped", plan_,
               [&](std::uint32_t c) { PutCount(out, block.stats.channel[c].clipped); });
  if (loudness_) {
    Put(out, ",\"momentary_lufs\":");
    PutNumber(out, block.momentary, 2, Style::kJson);
    Put(out, ",\"short_term_lufs\":");
    PutNumber(out, block.shortTerm, 2, Style::kJson);
  }
  Put(out, "}\n");
}

void PutJsonSummary(Output& out, const ScanPlan& plan, const Stats& interval,
                    const LoudnessFigures* loudness) {
  PutF(out, "{\"type\":\"summary\",\"frames\":%llu",
       static_cast<unsigned long long>(interval.frames));
  const ChannelFigures figures = FiguresOf(interval, plan);
  const auto number = [&](const char* name, double Figures::*field, int decimals) {
    PutJsonArray(out, name, plan, [&](std::uint32_t c) {
      PutNumber(out, figures.channel[c].*field, decimals, Style::kJson);
    });
  };
  const auto count = [&](const char* name, std::uint64_t Figures::*field) {
    PutJsonArray(out, name, plan,
                 [&](std::uint32_t c) { PutCount(out, figures.channel[c].*field); });
  };
  number("peak_dbfs", &Figures::peakDb, 2);
  number("peak_time", &Figures::peakTime, 6);
  number("rms_dbfs", &Figures::rmsDb, 2);
  number("dc", &Figures::dc, 6);
  number("crest_db", &Figures::crestDb, 2);
  count("clipped", &Figures::clipped);
  count("nan", &Figures::nan);
  if (loudness != nullptr) {
    PutJsonArray(out, "true_peak_dbtp", plan,
                 [&](std::uint32_t c) { PutNumber(out, loudness->truePeak[c], 2, Style::kJson); });
    for (const LoudnessField& field : kLoudnessFields) {
      PutF(out, ",\"%s\":", field.name);
      PutNumber(out, field.value(*loudness), 2, Style::kJson);
    }
  }
  Put(out, "}\n");
}

void PutCsvHeader(Output& out, const ScanPlan& plan, bool loudness) {
  Put(out, "frame,frames,time,bar");
  for (std::uint32_t c = 1; c <= plan.channels; ++c) {
    PutF(out, ",peak_dbfs_%u,rms_dbfs_%u,clipped_%u", c, c, c);
  }
  if (loudness) Put(out, ",momentary_lufs,short_term_lufs");
  PutCrLf(out);
}

void CsvBlocks::Write(const BlockRecord& block, Output& out) const {
  PutCount(out, block.frame);
  PutChar(out, ',');
  PutCount(out, block.frames);
  PutChar(out, ',');
  PutNumber(out, static_cast<double>(block.frame) / plan_.sampleRate, 6, Style::kCsv);
  PutChar(out, ',');
  PutCount(out, BarDots(block.length));
  for (std::uint32_t c = 0; c < plan_.channels; ++c) {
    const Figures f = FiguresOf(block.stats.channel[c], block.stats.frames, plan_.sampleRate);
    PutChar(out, ',');
    PutNumber(out, f.peakDb, 2, Style::kCsv);
    PutChar(out, ',');
    PutNumber(out, f.rmsDb, 2, Style::kCsv);
    PutChar(out, ',');
    PutCount(out, f.clipped);
  }
  if (loudness_) {
    PutChar(out, ',');
    PutNumber(out, block.momentary, 2, Style::kCsv);
    PutChar(out, ',');
    PutNumber(out, block.shortTerm, 2, Style::kCsv);
  }
  PutCrLf(out);
}

void PutCsvSummary(Output& out, const ScanPlan& plan, const Stats& interval,
                   const LoudnessFigures* loudness) {
  Put(out, "channel,frames,peak_dbfs,peak_time,rms_dbfs,dc,crest_db,clipped,nan");
  if (loudness != nullptr) {
    Put(out, ",true_peak_dbtp");
    for (const LoudnessField& field : kLoudnessFields) PutF(out, ",%s", field.name);
  }
  PutCrLf(out);
  for (std::uint32_t c = 0; c < plan.channels; ++c) {
    const Figures f = FiguresOf(interval.channel[c], interval.frames, plan.sampleRate);
    PutF(out, "%u,%llu,", c + 1, static_cast<unsigned long long>(interval.frames));
    const double numbers[] = {f.peakDb, f.peakTime, f.rmsDb, f.dc, f.crestDb};
    const int decimals[] = {2, 6, 2, 6, 2};
    for (std::size_t k = 0; k < std::size(numbers); ++k) {
      PutNumber(out, numbers[k], decimals[k], Style::kCsv);
      PutChar(out, ',');
    }
    PutCount(out, f.clipped);
    PutChar(out, ',');
    PutCount(out, f.nan);
    if (loudness != nullptr) {
      PutChar(out, ',');
      PutNumber(out, loudness->truePeak[c], 2, Style::kCsv);
      for (const LoudnessField& field : kLoudnessFields) {
        PutChar(out, ',');
        PutNumber(out, field.value(*loudness), 2, Style::kCsv);
      }
    }
    PutCrLf(out);
  }
}

}  // namespace ampdots
