// Throughput of the property-list readers and writers on generated preference files:
// mixed nested content of about 1 MB and 10 MB (XML size), and a "wide" file holding a
// single dictionary of 200,000 short keys. Bytes per second count the file in the format
// read or written. Reading fills a plist::Document and writing serialises one, as the tool
// does with a preference file.
//
//   plist_bench [benchmark flags]     run the benchmarks
//   plist_bench --dump_dir=DIR        write each document as DIR/NAME.xml and DIR/NAME.bplist
//                                     (the inputs of plistlib_bench.py) and exit
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "plist/plist.h"
#include "text/bytes.h"

namespace {

// splitmix64: the same documents on every platform and standard library.
class Rng {
 public:
  uint64_t next() {
    uint64_t z = (state += 0x9e3779b97f4a7c15u);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
    return z ^ (z >> 31);
  }
  uint64_t below(uint64_t n) { return next() % n; }
  bool chance(unsigned percent) { return below(100) < percent; }

 private:
  uint64_t state = 2001;
};

const char* const kWords[] = {"Report", "Budget", "Notes",     "Holiday", "Invoice",
                              "Draft",  "Résumé", "Übersicht", "プラン",  "Archive"};

std::string Word(Rng* rng) { return kWords[rng->below(sizeof kWords / sizeof kWords[0])]; }

plist::Value Path(Rng* rng) {
  return "/Users/user" + std::to_string(rng->below(50)) + "/Documents/" + Word(rng) + " " +
         std::to_string(rng->below(1000)) + ".txt";
}

plist::Data Bytes(Rng* rng, size_t n) {
  plist::Data data(n);
  for (uint8_t& byte : data) byte = static_cast<uint8_t>(rng->next());
  return data;
}

// One application's settings: every kind a preference file holds, nested two deep.
plist::Value Domain(Rng* rng) {
  plist::Dictionary toolbar;
  plist::Array items;
  for (uint64_t i = 0, n = rng->below(8); i < n; ++i) items.push_back(Word(rng));
  toolbar.append("Items", std::move(items));
  toolbar.append("Visible", rng->chance(70));
  toolbar.append("IconSize", plist::Value::fromInteger(static_cast<int64_t>(16 + rng->below(48))));

  plist::Array recent;
  for (uint64_t i = 0, n = rng->below(9); i < n; ++i) recent.push_back(Path(rng));

  plist::Dictionary domain;
  domain.append("Enabled", rng->chance(50));
  domain.append("LaunchCount", plist::Value::fromInteger(static_cast<int64_t>(rng->below(100000))));
  domain.append("LastOpened", plist::Date{6e8 + static_cast<double>(rng->below(200000000))});
  domain.append("DisplayName", Word(rng) + " " + std::to_string(rng->below(100)));
  domain.append("WindowFrame", "{{" + std::to_string(rng->below(1000)) + ", " +
                                   std::to_string(rng->below(800)) + "}, {1280, 800}}");
  domain.append("Scale", plist::Value::fromReal(static_cast<double>(rng->below(400)) / 100.0));
  domain.append("RecentDocuments", std::move(recent));
  domain.append("Bookmark", Bytes(rng, 16 + rng->below(180)));
  domain.append("Toolbar", std::move(toolbar));
  if (rng->chance(10))
    domain.append("Offset", plist::Value::fromInteger(-static_cast<int64_t>(rng->below(1000))));
  return domain;
}

plist::Value Mixed(size_t domains) {
  Rng rng;
  plist::Dictionary root;
  root.reserve(domains);
  for (size_t i = 0; i < domains; ++i) {
    root.append("com.example.app" + std::to_string(i), Domain(&rng));
  }
  return root;
}

plist::Value Wide(size_t keys) {
  plist::Dictionary root;
  root.reserve(keys);
  for (size_t i = 0; i < keys; ++i) {
    std::string key = "k" + std::to_string(i);
    switch (i % 3) {
      case 0:
        root.append(std::move(key), plist::Value::fromInteger(static_cast<int64_t>(i)));
        break;
      case 1:
        root.append(std::move(key), i % 2 == 0);
        break;
      default:
        root.append(std::move(key), "v" + std::to_string(i % 1000));
    }
  }
  return root;
}

// One generated document and its text in both formats.
struct Sample {
  std::string name;
  plist::Document document;
  std::string xml;
  std::string binary;
};

bool MakeSample(std::string name, const plist::Value& value, std::vector<Sample>* samples) {
  Sample sample{std::move(name), plist::Document::fromValue(value), "", ""};
  plist::Error error;
  if (!plist::Write(sample.document, plist::Format::kXml, &sample.xml, &error) ||
      !plist::Write(sample.document, plist::Format::kBinary, &sample.binary, &error)) {
    std::fprintf(stderr, "plist_bench: cannot write %s: %s\n", sample.name.c_str(),
                 plist::ErrorCodeName(error.code));
    return false;
  }
  samples->push_back(std::move(sample));
  return true;
}

// Mixed documents are sized by their XML text: a probe of 200 domains measures the bytes
// per domain.
bool MakeSamples(std::vector<Sample>* samples) {
  std::vector<Sample> probe;
  if (!MakeSample("probe", Mixed(200), &probe)) return false;
  const size_t perDomain = probe.front().xml.size() / 200;
  return MakeSample("mixed-1MB", Mixed((1u << 20) / perDomain), samples) &&
         MakeSample("mixed-10MB", Mixed((10u << 20) / perDomain), samples) &&
         MakeSample("wide", Wide(200000), samples);
}

bool WriteFile(const std::string& path, const std::string& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && ok;
}

// The tool hands the buffer it read the file into over to the document, so the copy of
// the input that each read takes over is made with the clock stopped (a pause and its
// resumption cost under a microsecond, against the milliseconds of a read).
void Read(benchmark::State& state, const std::string* bytes) {
  for (auto _ : state) {
    state.PauseTiming();
    text::Bytes input = text::Bytes::CopyOf(*bytes);
    plist::Document document;
    state.ResumeTiming();
    plist::Error error;
    if (!plist::Read(std::move(input), &document, &error)) {
      state.SkipWithError(plist::ErrorCodeName(error.code));
      break;
    }
    benchmark::DoNotOptimize(document.root());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes->size()));
}

void Write(benchmark::State& state, const plist::Document* document, plist::Format format) {
  // The tool streams the pieces into the file; one string here measures the writer.
  size_t size = 0;
  for (auto _ : state) {
    std::string bytes;
    plist::Error error;
    if (!plist::Write(*document, format, &bytes, &error)) {
      state.SkipWithError(plist::ErrorCodeName(error.code));
      break;
    }
    size = bytes.size();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

}  // namespace

int main(int argc, char** argv) {
  const std::string dumpFlag = "--dump_dir=";
  std::string dumpDir;
  if (argc > 1 && std::string(argv[1]).rfind(dumpFlag, 0) == 0) {
    dumpDir = std::string(argv[1]).substr(dumpFlag.size());
  }
  static std::vector<Sample> docs;
  if (!MakeSamples(&docs)) return 1;

  if (!dumpDir.empty()) {
    for (const Sample& doc : docs) {
      const std::string base = dumpDir + "/" + doc.name;
      if (!WriteFile(base + ".xml", doc.xml) || !WriteFile(base + ".bplist", doc.binary)) {
        std::perror(("plist_bench: " + base).c_str());
        return 1;
      }
      std::printf("%s.xml %zu bytes, %s.bplist %zu bytes\n", base.c_str(), doc.xml.size(),
                  base.c_str(), doc.binary.size());
    }
    return 0;
  }

  for (const Sample& doc : docs) {
    benchmark::RegisterBenchmark(("read/xml/" + doc.name).c_str(), Read, &doc.xml)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("write/xml/" + doc.name).c_str(), Write, &doc.document,
                                 plist::Format::kXml)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("read/binary/" + doc.name).c_str(), Read, &doc.binary)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("write/binary/" + doc.name).c_str(), Write, &doc.document,
                                 plist::Format::kBinary)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
