// Shared main of the benchmarks.  Benchmarks come in pairs named
// "<case>/library" and "<case>/baseline"; after the usual console report this
// prints, for each pair, library time / baseline time (<= 1.0: no slower):
// CPU time, or wall-clock time for cases that use real or manual time.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>

namespace {

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(OO_None) {}

  void ReportRuns(const std::vector<Run> &runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run &run : runs) {
      // With repetitions the median stands for the case.
      bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if ((run.run_type != Run::RT_Iteration && !median) || run.error_occurred) continue;
      // Cases timed by the clock on the wall (work done by other processes)
      // are compared by that time, under their name without the suffix.
      benchmark::BenchmarkName name = run.run_name;
      bool wallClock = !name.time_type.empty();
      name.time_type.clear();
      if (!median && medians_.count(name.str())) continue;
      if (median) medians_.insert(name.str());
      times_[name.str()] = wallClock ? run.GetAdjustedRealTime() : run.GetAdjustedCPUTime();
    }
  }

  void PrintRatios() const {
    printf("\n%-50s %10s\n", "case", "ratio");
    for (const auto &[name, time] : times_) {
      static const std::string kLibrary = "/library";
      if (name.size() < kLibrary.size() || name.compare(name.size() - kLibrary.size(), kLibrary.size(), kLibrary) != 0)
        continue;
      std::string stem = name.substr(0, name.size() - kLibrary.size());
      auto baseline = times_.find(stem + "/baseline");
      if (baseline != times_.end() && baseline->second > 0)
        printf("%-50s %10.3f\n", stem.c_str(), time / baseline->second);
    }
  }

 private:
  std::map<std::string, double> times_;
  std::set<std::string> medians_;
};

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}
