// The tool's readers on the same contacts: a CSV with the card's property
// names against a vCard 3.0 file of the same contacts, as readers alone and
// as the whole way from the input to each finished card (everything of a
// batch run but writing the cards out, through the same record sources,
// with every check and report). Run:
//   <build>/bench/qvvcard_input_bench --benchmark_repetitions=5
//   --benchmark_report_aggregates_only=true
// Items are contacts; the vCard file must reach at least 80% of the CSV's
// rate in the whole way.
#include <benchmark/benchmark.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "input/card_builder.hpp"
#include "input/csv_reader.hpp"
#include "input/record_source.hpp"
#include "input/vcard_mapping.hpp"
#include "input/vcard_reader.hpp"
#include "output/card_directory.hpp"
#include "output/file_names.hpp"
#include "output/output_file.hpp"

namespace {

constexpr int kContacts = 2000;

// Appends every part to out (the operators + of strings and literals trip
// a false warning of GCC 12).
template <typename... Parts>
void Add(std::string& out, const Parts&... parts) {
  (out.append(parts), ...);
}

struct Contact {
  std::string family, given, org, title, street1, town1, code1, street2, town2, code2;
  std::string cell, work, home, email1, email2, note, url;
  int lat_deg, lat_min, lon_deg, lon_min;
};

Contact Make(int i) {
  static const char* const kFamilies[] = {"Okonkwo-Lind", "Müller", "Castellanos", "Søndergård",
                                          "Nakamura",     "Quispe", "Calloway",    "Adeyemi"};
  static const char* const kGiven[] = {"Mira", "Zoë",   "Inés",   "Åse",
                                       "Kai",  "Amaru", "Renata", "Seun"};
  const std::string n = std::to_string(i);
  Contact c;
  Add(c.family, kFamilies[i % 8], " ", n);
  c.given = kGiven[(i / 8) % 8];
  c.org = "Fernhill Surveys " + n;
  c.title = "Field engineer";
  c.street1 = "Lindenweg " + n;
  c.town1 = "Berlin";
  c.code1 = "10115";
  c.street2 = "Am Teich " + n;
  c.town2 = "Potsdam";
  c.code2 = "14467";
  c.cell = "+49 151 0000 " + n;
  c.work = "+49 30 0000 " + n;
  c.home = "+49 331 0000 " + n;
  c.email1 = "contact" + n + "@fernhill.example";
  c.email2 = "home" + n + "@example.org";
  c.note = "Met at the trade fair; prefers e-mail, not calls before nine.";
  c.url = "https://fernhill.example/staff/" + n;
  c.lat_deg = 52;
  c.lat_min = i % 60;
  c.lon_deg = 13;
  c.lon_min = (i * 7) % 60;
  return c;
}

void AddQuoted(std::string& out, const std::string& s) {
  if (s.find_first_of(",\"") == std::string::npos) return out.append(s), void();
  Add(out, "\"", s, "\"");
}

const std::string& Csv() {
  static const std::string csv = [] {
    std::string out;
    out +=
        "NameFamily,NameGiven,FormatedName,OrgName,Title,Adr1_Street,Adr1_Locality,"
        "Adr1_PostalCode,Adr1_Work,Adr2_Street,Adr2_Locality,Adr2_PostalCode,Adr2_Home,"
        "Tel1_Number,Tel1_Cell,Tel1_Pref,Tel2_Number,Tel2_Work,Tel2_Voice,Tel3_Number,Tel3_Home,"
        "Tel3_Voice,Email1_Value,Email1_Type,Email2_Value,Note,Url,GeoLat,GeoLatDeg,GeoLatMin,"
        "GeoLon,GeoLonDeg,GeoLonMin\r\n";
    for (int i = 0; i < kContacts; ++i) {
      const Contact c = Make(i);
      const std::string fields[] = {c.family,
                                    c.given,
                                    c.given + ' ' + c.family,
                                    c.org,
                                    c.title,
                                    c.street1,
                                    c.town1,
                                    c.code1,
                                    "true",
                                    c.street2,
                                    c.town2,
                                    c.code2,
                                    "true",
                                    c.cell,
                                    "true",
                                    "true",
                                    c.work,
                                    "true",
                                    "true",
                                    c.home,
                                    "true",
                                    "true",
                                    c.email1,
                                    "INTERNET,WORK",
                                    c.email2,
                                    c.note,
                                    c.url,
                                    "N",
                                    std::to_string(c.lat_deg),
                                    std::to_string(c.lat_min),
                                    "E",
                                    std::to_string(c.lon_deg),
                                    std::to_string(c.lon_min)};
      for (std::size_t f = 0; f < std::size(fields); ++f) {
        if (f > 0) out += ',';
        AddQuoted(out, fields[f]);
      }
      out += "\r\n";
    }
    return out;
  }();
  return csv;
}

// The same contacts as an address book exports them: with its PRODID,
// REV and UID lines.
const std::string& Vcf() {
  static const std::string vcf = [] {
    std::string out;
    for (int i = 0; i < kContacts; ++i) {
      const Contact c = Make(i);
      char geo[64];
      std::snprintf(geo, sizeof geo, "%.6f;%.6f", c.lat_deg + c.lat_min / 60.0,
                    c.lon_deg + c.lon_min / 60.0);
      Add(out, "BEGIN:VCARD\r\nVERSION:3.0\r\nPRODID:-//Example//Address Book 3.1//EN\r\n");
      Add(out, "N:", c.family, ";", c.given, ";;;\r\nFN:", c.given, " ", c.family, "\r\n");
      Add(out, "ORG:", c.org, "\r\nTITLE:", c.title, "\r\n");
      Add(out, "ADR;TYPE=WORK:;;", c.street1, ";", c.town1, ";;", c.code1, ";\r\n");
      Add(out, "ADR;TYPE=HOME:;;", c.street2, ";", c.town2, ";;", c.code2, ";\r\n");
      Add(out, "TEL;TYPE=CELL;TYPE=PREF:", c.cell, "\r\nTEL;TYPE=WORK;TYPE=VOICE:", c.work,
          "\r\nTEL;TYPE=HOME;TYPE=VOICE:", c.home, "\r\n");
      Add(out, "EMAIL;TYPE=INTERNET;TYPE=WORK:", c.email1, "\r\nEMAIL;TYPE=INTERNET:", c.email2,
          "\r\n");
      Add(out, "NOTE:Met at the trade fair\\; prefers e-mail\\, not calls before nine.\r\n");
      Add(out, "URL:", c.url, "\r\nGEO:", geo, "\r\n");
      Add(out, "REV:2024-03-01T10:15:00Z\r\nUID:5c1d0e5a-0000-4000-8000-",
          std::to_string(100000 + i), "\r\nEND:VCARD\r\n");
    }
    return out;
  }();
  return vcf;
}

// The contacts as a file, read through the stream's buffer as batch reads
// its inputs (a file in memory, so that the disk does not count).
class File {
 public:
  explicit File(const std::string& bytes) : fd_(memfd_create("qvvcard-bench", MFD_CLOEXEC)) {
    if (fd_ < 0 || write(fd_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
      throw std::runtime_error("cannot make the input file");
    }
  }
  ~File() { close(fd_); }
  // From its start.
  int fd() const {
    lseek(fd_, 0, SEEK_SET);
    return fd_;
  }

 private:
  int fd_;
};
const File& CsvFile() {
  static const File f(Csv());
  return f;
}
const File& VcfFile() {
  static const File f(Vcf());
  return f;
}

void CsvRead(benchmark::State& state) {
  std::size_t records = 0;
  for (auto _ : state) {
    qvvcard::InputStream in(CsvFile().fd());
    qvvcard::CsvReader reader(in);
    qvvcard::CsvRecord rec;
    while (reader.Next(rec)) ++records;
    benchmark::DoNotOptimize(rec.views().size());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(records) - state.iterations());  // no header
}
BENCHMARK(CsvRead)->Unit(benchmark::kMillisecond);

void VcardRead(benchmark::State& state) {
  std::size_t cards = 0;
  for (auto _ : state) {
    qvvcard::InputStream in(VcfFile().fd());
    qvvcard::vcf::Reader reader(in);
    qvvcard::vcf::Card card;
    while (reader.Next(card)) {
      if (!card.error.empty()) state.SkipWithError(card.error.c_str());
      ++cards;
    }
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(cards));
}
BENCHMARK(VcardRead)->Unit(benchmark::kMillisecond);

void VcardReadAndMap(benchmark::State& state) {
  std::size_t cards = 0;
  for (auto _ : state) {
    qvvcard::InputStream in(VcfFile().fd());
    qvvcard::vcf::Reader reader(in);
    qvvcard::vcf::Card card;
    qvvcard::vcf::Mapped m;
    while (reader.Next(card)) {
      qvvcard::vcf::MapCard(card, m);
      benchmark::DoNotOptimize(m.assignments.data());
      ++cards;
    }
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(cards));
}
BENCHMARK(VcardReadAndMap)->Unit(benchmark::kMillisecond);

// From the input to each finished card, as batch makes them; put is given
// each card's text and the builder that holds it.
struct Input {
  const File& file;
  const char* format;
  const char* name;
};
Input CsvInput() { return {CsvFile(), "csv", "bench.csv"}; }
Input VcfInput() { return {VcfFile(), "vcf", "bench.vcf"}; }

template <typename Put>
std::size_t EachCard(benchmark::State& state, const Input& input, Put&& put) {
  const qvvcard::ConvertOptions options;
  qvvcard::InputStream in(input.file.fd());
  auto source = qvvcard::OpenRecords(in, input.format, input.name, options);
  qvvcard::CardBuilder builder(options.rfc_escape);
  std::string text;
  std::size_t cards = 0;
  while (source->Next(builder)) {
    if (!builder.Finish(text)) state.SkipWithError("a record failed");
    put(text, builder);
    ++cards;
  }
  return cards;
}

void ToCards(benchmark::State& state, const Input& input) {
  std::size_t cards = 0;
  for (auto _ : state) {
    cards += EachCard(state, input, [](const std::string& text, qvvcard::CardBuilder&) {
      benchmark::DoNotOptimize(text.data());
    });
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(cards));
}
void CsvToCards(benchmark::State& state) { ToCards(state, CsvInput()); }
BENCHMARK(CsvToCards)->Unit(benchmark::kMillisecond);
void VcardToCards(benchmark::State& state) { ToCards(state, VcfInput()); }
BENCHMARK(VcardToCards)->Unit(benchmark::kMillisecond);

// The whole batch run: each finished card also written into one output
// file (-o FILE), which is replaced when the run is done. Real time: the
// file is written behind the run.
std::string OutputPath() {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/qvvcard-input-bench.vcf";
}

void ToFile(benchmark::State& state, const Input& input) {
  std::size_t cards = 0;
  for (auto _ : state) {
    qvvcard::OutputFile out(qvvcard::Resolve(OutputPath()));
    cards += EachCard(state, input,
                      [&](const std::string& text, qvvcard::CardBuilder&) { out.Put(text, {}); });
    out.Finish();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(cards));
}
void CsvBatch(benchmark::State& state) { ToFile(state, CsvInput()); }
BENCHMARK(CsvBatch)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
void VcardBatch(benchmark::State& state) { ToFile(state, VcfInput()); }
BENCHMARK(VcardBatch)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

// The same with --out-dir: a file per card, named after it, in a folder
// made anew for each run (its removal is not timed).
void ToFolder(benchmark::State& state, const Input& input) {
  const std::string dir = OutputPath() + ".d";
  std::size_t cards = 0;
  for (auto _ : state) {
    {
      qvvcard::CardDirectory out(dir);
      cards += EachCard(state, input, [&](const std::string& text, qvvcard::CardBuilder& b) {
        out.Put(text, qvvcard::ProposedFileName(b.card()));
      });
      out.Finish();
    }
    state.PauseTiming();
    std::filesystem::remove_all(dir);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(cards));
}
void CsvFolder(benchmark::State& state) { ToFolder(state, CsvInput()); }
BENCHMARK(CsvFolder)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();
void VcardFolder(benchmark::State& state) { ToFolder(state, VcfInput()); }
BENCHMARK(VcardFolder)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

}  // namespace

// "--write-inputs DIR" writes the two inputs as contacts.csv and
// contacts.vcf, for timing qvvcard batch on them.
int main(int argc, char** argv) {
  if (argc == 3 && std::string_view(argv[1]) == "--write-inputs") {
    for (const auto& [name, bytes] :
         {std::pair{"/contacts.csv", &Csv()}, {"/contacts.vcf", &Vcf()}}) {
      std::FILE* f = std::fopen((std::string(argv[2]) + name).c_str(), "wb");
      if (f == nullptr || std::fwrite(bytes->data(), 1, bytes->size(), f) != bytes->size())
        return 1;
      std::fclose(f);
    }
    return 0;
  }
  // The inputs are made before any benchmark runs, so that none counts them.
  CsvFile();
  VcfFile();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
