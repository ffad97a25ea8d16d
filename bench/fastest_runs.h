// A console reporter that also keeps, for the summary a benchmark prints after its run, the
// fastest repetition of each benchmark: on a busy machine the slower ones measure the neighbours.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace zavbench {

class FastestRuns : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            if (!run.error_occurred && run.run_type == Run::RT_Iteration) {
                Keep(m_cpu, run.run_name.function_name, run.GetAdjustedCPUTime());
                Keep(m_real, run.run_name.function_name, run.GetAdjustedRealTime());
            }
        }
    }

  protected:
    // The fastest CPU and real times by the benchmark's function name.
    std::map<std::string, double> m_cpu;
    std::map<std::string, double> m_real;

  private:
    static void Keep(std::map<std::string, double> &times, const std::string &name, double time) {
        const auto known = times.find(name);
        if (known == times.end() || time < known->second) {
            times[name] = time;
        }
    }
};

}  // namespace zavbench
