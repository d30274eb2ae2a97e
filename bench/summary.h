// The summary table printed after the benchmark run: one line per
// operation from the medians, ratios to msgpack-c and to the floors, and
// the performance targets checked against those medians.
#ifndef VMSG_BENCH_SUMMARY_H
#define VMSG_BENCH_SUMMARY_H

#include <benchmark/benchmark.h>

#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace vbench {

/// The console reporter, also keeping one figure set per benchmark: the
/// median aggregate when repetitions ran, the single run otherwise.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    using benchmark::ConsoleReporter::ConsoleReporter;

    void ReportRuns(const std::vector<Run>& runs) override;

    /// Prints the table and the target checks for what ran.
    /// @return the number of targets missed.
    int printSummary(std::ostream& out) const;

    /// Names of the benchmarks that reported an error (a failed self-check).
    const std::vector<std::string>& failed() const { return mFailed; }

private:
    struct Figures {
        double nsPerOp = 0;
        double bytesPerSecond = 0;
        double allocsPerOp = -1; // negative: not counted
        bool median = false;
    };

    const Figures* find(const std::string& name) const;

    std::map<std::string, Figures> mFigures;
    std::vector<std::string> mOrder;
    std::vector<std::string> mFailed;
};

} // namespace vbench

#endif
