// Cost of a card read, of each line builder, of the file name, the GUID and
// the revision stamp, each set against the copy floor: copying a finished
// card's UTF-16 text into a buffer that is reused from copy to copy.
//
// After the run a summary prints every result as a multiple of its floor:
// a card read against the floor of its own text, everything else against
// the floor of the typical card.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "bridge/utf.hpp"
#include "card/internals.hpp"
#include "modules/modCreateGUID.hpp"
#include "sample_cards.hpp"

namespace {

using qv_VCard::Property;
using qv_VCard::qvVCard;
using qv_VCard::Status;
using qv_VCard::Text;
using qv_VCard::detail::Internals;

struct Sample {
  const char* name;
  void (*fill)(qvVCard&);
};

constexpr Sample kSamples[] = {
    {"new", [](qvVCard&) {}},
    {"typical", qv_bench::FillTypical},
    {"full", qv_bench::FillFull},
};

qvVCard MakeCard(const Sample& s) {
  qvVCard c;  // the system clock and GUID source
  s.fill(c);
  return c;
}

void Check(benchmark::State& state, Status s) {
  if (qv_VCard::Failed(s)) state.SkipWithError("a read failed");
}

void CopyFloor(benchmark::State& state, const Sample& sample) {
  const qvVCard c = MakeCard(sample);
  Text card;
  Check(state, c.get_vCard(card));
  Text buffer;
  buffer.reserve(card.size());
  for (auto _ : state) {
    buffer.assign(card);
    benchmark::DoNotOptimize(buffer.data());
    benchmark::ClobberMemory();
  }
  state.counters["chars"] = static_cast<double>(card.size());
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(card.size() * 2));
}

// A clock and identifiers that cost next to nothing, to show what writing
// the card costs apart from the system's clock and random source.
class StillClock final : public qv_VCard::Clock {
 public:
  Status Now(qv_VCard::CalendarTime& out) noexcept override {
    out = {2026, 12, 6, 0, 56, 18};
    return qv_VCard::kOk;
  }
};
class CountingGuids final : public qv_VCard::GuidSource {
 public:
  Status Create(qv_VCard::Guid& out) noexcept override {
    out.data1 = ++count_;
    return qv_VCard::kOk;
  }

 private:
  std::uint32_t count_ = 0;
};

void CardReadWithoutSystemSources(benchmark::State& state, const Sample& sample) {
  StillClock clock;
  CountingGuids guids;
  qvVCard c(clock, guids);
  sample.fill(c);
  Text card;
  Check(state, c.get_vCard(card));
  for (auto _ : state) {
    const Status s = c.get_vCard(card);
    benchmark::DoNotOptimize(s);
    benchmark::DoNotOptimize(card.data());
    benchmark::ClobberMemory();
  }
}

void CardRead(benchmark::State& state, const Sample& sample) {
  const qvVCard c = MakeCard(sample);
  Text card;
  Check(state, c.get_vCard(card));  // warm-up: buffers reach their size
  for (auto _ : state) {
    const Status s = c.get_vCard(card);
    benchmark::DoNotOptimize(s);
    benchmark::DoNotOptimize(card.data());
    benchmark::ClobberMemory();
  }
  state.counters["chars"] = static_cast<double>(card.size());
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(card.size() * 2));
}

// One builder appending to a buffer that is emptied before every call, on
// the full card so that every line is written.
template <typename Build>
void Line(benchmark::State& state, Build build) {
  qvVCard c;
  qv_bench::FillFull(c);
  Text storage;
  qv_VCard::writer::CardText line(storage);
  Check(state, build(c, line));
  for (auto _ : state) {
    line.clear();
    const Status s = build(c, line);
    benchmark::DoNotOptimize(s);
    benchmark::DoNotOptimize(line.view().data());
    benchmark::ClobberMemory();
  }
  state.counters["chars"] = static_cast<double>(line.view().size());
}

void FileName(benchmark::State& state) {
  qvVCard c;
  qv_bench::FillTypical(c);
  qv_bench::Put(c, Property::FormatedName, u"Dr. Maria Lindqvist: Research/Uppsala");
  Text name;
  Check(state, c.get_vCardFileName(name));
  for (auto _ : state) {
    const Status s = c.get_vCardFileName(name);
    benchmark::DoNotOptimize(s);
    benchmark::DoNotOptimize(name.data());
    benchmark::ClobberMemory();
  }
}

void CreateGuid(benchmark::State& state) {
  char16_t text[qv_VCard::modules::kGuidTextLength];
  for (auto _ : state) {
    const Status s = qv_VCard::modules::CreateGUID(qv_VCard::SystemGuidSource(), text);
    benchmark::DoNotOptimize(s);
    benchmark::DoNotOptimize(text);
    benchmark::ClobberMemory();
  }
}

// The text of a GUID alone, without a source.
void GuidText(benchmark::State& state) {
  qv_VCard::Guid g{0x01234567, 0x89AB, 0xCDEF, {0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10}};
  char16_t text[qv_VCard::modules::kGuidTextLength + 1];
  for (auto _ : state) {
    ++g.data1;
    benchmark::DoNotOptimize(g);
    const int n = qv_VCard::modules::StringFromGUID2(g, text, static_cast<int>(std::size(text)));
    benchmark::DoNotOptimize(n);
    benchmark::DoNotOptimize(text);
    benchmark::ClobberMemory();
  }
}

// The typical card's text to UTF-8, as the tool writes it, and back, as
// values come in.
void CardToUtf8(benchmark::State& state) {
  qvVCard c;
  qv_bench::FillTypical(c);
  Text card;
  Check(state, c.get_vCard(card));
  std::string utf8;
  for (auto _ : state) {
    const bool ok = qv_VCard::bridge::TextToUtf8(card, utf8);
    benchmark::DoNotOptimize(ok);
    benchmark::DoNotOptimize(utf8.data());
    benchmark::ClobberMemory();
  }
  state.counters["chars"] = static_cast<double>(card.size());
}

void Utf8ToCard(benchmark::State& state) {
  qvVCard c;
  qv_bench::FillTypical(c);
  Text card;
  Check(state, c.get_vCard(card));
  std::string utf8;
  if (!qv_VCard::bridge::TextToUtf8(card, utf8)) state.SkipWithError("no UTF-8");
  Text back;
  for (auto _ : state) {
    const bool ok = qv_VCard::bridge::Utf8ToText(utf8, back);
    benchmark::DoNotOptimize(ok);
    benchmark::DoNotOptimize(back.data());
    benchmark::ClobberMemory();
  }
  state.counters["bytes"] = static_cast<double>(utf8.size());
}

void GuidSourceAlone(benchmark::State& state) {
  qv_VCard::Guid g;
  for (auto _ : state) {
    const Status s = qv_VCard::SystemGuidSource().Create(g);
    benchmark::DoNotOptimize(s);
    benchmark::DoNotOptimize(g);
  }
}

void ClockAlone(benchmark::State& state) {
  qv_VCard::CalendarTime t;
  for (auto _ : state) {
    const Status s = qv_VCard::SystemClock().Now(t);
    benchmark::DoNotOptimize(s);
    benchmark::DoNotOptimize(t);
  }
}

void RegisterAll() {
  for (const Sample& s : kSamples) {
    benchmark::RegisterBenchmark((std::string("CopyFloor/") + s.name).c_str(), CopyFloor, s);
    benchmark::RegisterBenchmark((std::string("vCard/") + s.name).c_str(), CardRead, s);
  }
  for (const Sample& s : kSamples) {
    benchmark::RegisterBenchmark((std::string("vCardStillSources/") + s.name).c_str(),
                                 CardReadWithoutSystemSources, s);
  }
  const auto line = [](const char* name, auto build) {
    benchmark::RegisterBenchmark((std::string("Line/") + name).c_str(),
                                 [build](benchmark::State& st) { Line(st, build); });
  };
  line("N", Internals::NameLine);
  line("FN", Internals::FormattedNameLine);
  line("SORT-STRING", [](const qvVCard& c, Internals::CardText& out) {
    return Internals::TextLine(c, Property::SortString, out);
  });
  line("BDAY", Internals::BirthdayLine);
  line("ADR", [](const qvVCard& c, Internals::CardText& out) {
    return Internals::AddressLine(c, 1, out);
  });
  line("TEL", [](const qvVCard& c, Internals::CardText& out) {
    return Internals::TelephoneLine(c, 1, out);
  });
  line("EMAIL",
       [](const qvVCard& c, Internals::CardText& out) { return Internals::EmailLine(c, 1, out); });
  line("GEO", Internals::GeoLine);
  line("ORG", Internals::OrganizationLine);
  line("NOTE", [](const qvVCard& c, Internals::CardText& out) {
    return Internals::TextLine(c, Property::Note, out);
  });
  line("REV", Internals::RevisionLine);
  line("UID", Internals::UidLine);
  line("PRODID", Internals::ProductIdLine);
  benchmark::RegisterBenchmark("vCardFileName", FileName);
  benchmark::RegisterBenchmark("CreateGUID", CreateGuid);
  benchmark::RegisterBenchmark("GuidText", GuidText);
  benchmark::RegisterBenchmark("SystemGuidSource", GuidSourceAlone);
  benchmark::RegisterBenchmark("SystemClock", ClockAlone);
  benchmark::RegisterBenchmark("TextToUtf8/typical", CardToUtf8);
  benchmark::RegisterBenchmark("Utf8ToText/typical", Utf8ToCard);
}

// The console report, followed by the ratio of each result to its floor.
// With repetitions the median is used.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      if (r.error_occurred) continue;
      const std::string& name = r.run_name.function_name;
      if (std::find(order_.begin(), order_.end(), name) == order_.end()) order_.push_back(name);
      const double ns =
          r.GetAdjustedCPUTime() * 1e9 / benchmark::GetTimeUnitMultiplier(r.time_unit);
      if (r.run_type == Run::RT_Aggregate) {
        if (r.aggregate_name == "median") medians_[name] = ns;
      } else {
        samples_[name].push_back(ns);
      }
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    std::FILE* out = stdout;
    std::fflush(out);
    std::fprintf(out, "\nRatio to the copy floor (CPU time%s)\n",
                 repeated() ? ", median of repetitions" : "");
    std::fprintf(out, "%-28s %10s  %-18s %10s  %s\n", "benchmark", "ns", "floor", "ratio", "goal");
    for (const std::string& name : order_) {
      const double ns = Time(name);
      if (ns < 0) continue;
      std::string floor = "CopyFloor/typical";
      const char* goal = "";
      double limit = 0;
      if (name.rfind("vCardStillSources/", 0) == 0) {
        floor = "CopyFloor/" + name.substr(18);
      } else if (name.rfind("vCard/", 0) == 0) {
        floor = "CopyFloor/" + name.substr(6);
        if (name == "vCard/typical") limit = 10;
        if (name == "vCard/full") limit = 15;
      }
      const double f = Time(floor);
      if (f <= 0) {  // the floor was filtered out
        std::fprintf(out, "%-28s %10.1f  %-18s %10s\n", name.c_str(), ns, floor.c_str(), "-");
        continue;
      }
      const double ratio = ns / f;
      char goal_text[32] = "";
      if (limit > 0) {
        std::snprintf(goal_text, sizeof goal_text, "<= %.0fx %s", limit,
                      ratio <= limit ? "met" : "MISSED");
        goal = goal_text;
      }
      std::fprintf(out, "%-28s %10.1f  %-18s %9.2fx  %s\n", name.c_str(), ns, floor.c_str(), ratio,
                   goal);
    }
    std::fflush(out);
  }

 private:
  bool repeated() const {
    if (!medians_.empty()) return true;
    for (const auto& [name, v] : samples_) {
      if (v.size() > 1) return true;
    }
    return false;
  }

  // Median CPU time of a benchmark in nanoseconds, or -1 when it did not run.
  double Time(const std::string& name) const {
    if (auto m = medians_.find(name); m != medians_.end()) return m->second;
    auto s = samples_.find(name);
    if (s == samples_.end() || s->second.empty()) return -1;
    std::vector<double> v = s->second;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
  }

  std::map<std::string, double> medians_;
  std::map<std::string, std::vector<double>> samples_;
  std::vector<std::string> order_;  // as first reported
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RegisterAll();
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
