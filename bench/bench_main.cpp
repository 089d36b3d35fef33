// Shared main of the benchmarks.  Benchmarks are named "<case>/library"
// beside one or more peers "<case>/<peer>" ("baseline" being the usual
// one).  After the usual console report this prints, for each case,
// library time / baseline time (<= 1.0: no slower) and, when a case has
// other peers too, every peer's time and the library's ratio against it.
// Times are CPU time, or wall-clock time for cases that use real or manual
// time; with --benchmark_repetitions they are the medians of the
// repetitions.  With HYX_BENCH_PAIRS set, every library/peer pair is also
// printed as one tab-separated line, "pair", case, peer, library time, peer
// time, unit, for bench/report (on stdout: a program inside the sandbox may
// have no writable path shared with the outside).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

namespace {

const std::string kLibrary = "library";
const std::string kBaseline = "baseline";

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(OO_None) {}

  void ReportRuns(const std::vector<Run> &runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run &run : runs) {
      if (run.error_occurred) continue;
      bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (run.run_type != Run::RT_Iteration && !median) continue;
      // Cases timed by the clock on the wall (work done by other processes)
      // are compared by that time, under their name without the suffix.
      benchmark::BenchmarkName name = run.run_name;
      bool wallClock = !name.time_type.empty();
      name.time_type.clear();
      std::string full = name.str();
      size_t slash = full.rfind('/');
      if (slash == std::string::npos) continue;
      Entry &e = cases_[full.substr(0, slash)][full.substr(slash + 1)];
      if (median || !e.median) {
        e.time = wallClock ? run.GetAdjustedRealTime() : run.GetAdjustedCPUTime();
        e.median = median;
        e.unit = benchmark::GetTimeUnitString(run.time_unit);
      }
    }
  }

  void PrintPairs() const {
    for (const auto &[stem, members] : cases_) {
      auto library = members.find(kLibrary);
      if (library == members.end()) continue;
      for (const auto &[peer, e] : members)
        if (peer != kLibrary && e.time > 0)
          printf("pair\t%s\t%s\t%.6g\t%.6g\t%s\n", stem.c_str(), peer.c_str(), library->second.time, e.time,
                 e.unit.c_str());
    }
  }

  void PrintRatios() const {
    printf("\n%-50s %10s\n", "case", "ratio");
    bool peers = false;
    for (const auto &[stem, members] : cases_) {
      auto library = members.find(kLibrary), baseline = members.find(kBaseline);
      if (library == members.end()) continue;
      peers = peers || members.size() > 2 || (members.size() == 2 && baseline == members.end());
      if (baseline != members.end() && baseline->second.time > 0)
        printf("%-50s %10.3f\n", stem.c_str(), library->second.time / baseline->second.time);
    }
    if (!peers) return;
    printf("\n%-32s %-12s %12s %16s\n", "case", "peer", "time", "library/peer");
    for (const auto &[stem, members] : cases_) {
      auto library = members.find(kLibrary);
      if (library == members.end()) continue;
      printf("%-32s %-12s %9.1f %-2s\n", stem.c_str(), kLibrary.c_str(), library->second.time,
             library->second.unit.c_str());
      for (const auto &[peer, e] : members)
        if (peer != kLibrary && e.time > 0)
          printf("%-32s %-12s %9.1f %-2s %16.3f\n", "", peer.c_str(), e.time, e.unit.c_str(),
                 library->second.time / e.time);
    }
  }

 private:
  struct Entry {
    double time = 0;
    bool median = false;
    std::string unit;
  };
  std::map<std::string, std::map<std::string, Entry>> cases_;
};

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  if (getenv("HYX_BENCH_PAIRS") != nullptr) reporter.PrintPairs();
  benchmark::Shutdown();
  return 0;
}
