#include "summary.h"

#include "heap_count.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace vbench {

namespace {

double nanosecondsPer(benchmark::TimeUnit unit)
{
    switch (unit) {
    case benchmark::kNanosecond:
        return 1;
    case benchmark::kMicrosecond:
        return 1e3;
    case benchmark::kMillisecond:
        return 1e6;
    case benchmark::kSecond:
        return 1e9;
    }
    return 1;
}

double counter(const benchmark::UserCounters& counters, const char* name, double fallback)
{
    auto it = counters.find(name);
    return it == counters.end() ? fallback : static_cast<double>(it->second.value);
}

// Which figures each operation is compared with.
struct Line {
    const char* name;
    const char* msgpack; // msgpack-c's operation on the same content
    const char* floor;   // the floor for this operation
};

constexpr Line kLines[] = {
    {"Encode_R", "Msgpack_Encode_R", "Floor_Memcpy_R"},
    {"BuildEncode_R", "Msgpack_Encode_R", nullptr},
    {"Decode_R", "Msgpack_Decode_R", "Floor_Alloc_R"},
    {"Reader_R", "Msgpack_Decode_R", "Floor_Memcpy_R"},
    // A framed stream read block by block, beside the plain reader.
    {"FrameRead_LP_R", nullptr, "Reader_R"},
    {"FrameRead_Cobs_R", nullptr, "Reader_R"},
    {"Frame_LP_R", nullptr, "Floor_Memcpy_R"},
    {"Frame_Cobs_R", nullptr, "Floor_Memcpy_R"},
    {"Writer_R", "Msgpack_Encode_R", "Floor_Memcpy_R"},
    {"Endpoint_T", nullptr, nullptr},
    {"Endpoint_R", nullptr, nullptr},
    {"CheckMessageTags_R", nullptr, nullptr},
    {"ParseVMsg_R", nullptr, nullptr},
    {"Segment_L/256", nullptr, nullptr},
    {"Segment_L/1024", nullptr, nullptr},
    // Joining with the cursor moved between segments, beside not moving it.
    {"Join_Joiner_J", nullptr, nullptr},
    {"Join_Joiner_Cursor_J", nullptr, "Join_Joiner_J"},
    {"Msgpack_Encode_R", nullptr, "Floor_Memcpy_R"},
    {"Msgpack_Decode_R", nullptr, "Floor_Memcpy_R"},
    {"Floor_Memcpy_R", nullptr, nullptr},
    {"Floor_Alloc_R", nullptr, nullptr},
};

// Tags in R and in T, for the allocation budget: 2 per tag, 3 per message.
constexpr double kTagsR = 12;
constexpr double kTagsT = 1;

std::string ratioCell(double value, double reference, const char* referenceName)
{
    if (reference <= 0)
        return "-";
    char cell[64];
    std::snprintf(cell, sizeof cell, "%.2fx %s", value / reference, referenceName);
    return cell;
}

} // namespace

void SummaryReporter::ReportRuns(const std::vector<Run>& runs)
{
    benchmark::ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
        if (run.error_occurred) {
            const std::string name = run.run_name.str();
            if (std::find(mFailed.begin(), mFailed.end(), name) == mFailed.end())
                mFailed.push_back(name);
            continue;
        }
        const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
        if (!median && run.run_type != Run::RT_Iteration)
            continue;
        const std::string name = run.run_name.str();
        auto it = mFigures.find(name);
        if (it == mFigures.end()) {
            mOrder.push_back(name);
            it = mFigures.emplace(name, Figures{}).first;
        } else if (it->second.median && !median) {
            continue; // a median, once there, wins over single runs
        }
        Figures& figures = it->second;
        figures.median = median;
        figures.nsPerOp = run.GetAdjustedCPUTime() * nanosecondsPer(run.time_unit);
        figures.bytesPerSecond = counter(run.counters, "bytes_per_second", 0);
        figures.allocsPerOp = counter(run.counters, "allocs", -1);
    }
}

const SummaryReporter::Figures* SummaryReporter::find(const std::string& name) const
{
    auto it = mFigures.find(name);
    return it == mFigures.end() ? nullptr : &it->second;
}

int SummaryReporter::printSummary(std::ostream& out) const
{
    if (mFigures.empty())
        return 0;
    bool allMedians = true;
    for (const auto& entry : mFigures)
        allMedians = allMedians && entry.second.median;

    char row[256];
    out << "\nSummary (" << (allMedians ? "medians of the repetitions" : "single runs")
        << ", CPU time)\n";
    if (!heapCountingEnabled())
        out << "Allocation counting is off in this build (sanitizers or profiling): times are not "
               "comparable with a Release run.\n";
    std::snprintf(row, sizeof row, "%-20s %11s %10s %9s  %-26s %-22s\n", "operation", "ns/op",
                  "MB/s", "allocs/op", "vs msgpack-c", "vs floor");
    out << row;
    auto printLine = [&](const std::string& name, const char* msgpack, const char* floor) {
        const Figures* f = find(name);
        if (!f)
            return;
        const Figures* m = msgpack ? find(msgpack) : nullptr;
        const Figures* fl = floor ? find(floor) : nullptr;
        char allocs[32] = "-";
        if (f->allocsPerOp >= 0)
            std::snprintf(allocs, sizeof allocs, "%.1f", f->allocsPerOp);
        char rate[32] = "-";
        if (f->bytesPerSecond > 0)
            std::snprintf(rate, sizeof rate, "%.1f", f->bytesPerSecond / 1e6);
        std::snprintf(row, sizeof row, "%-20s %11.1f %10s %9s  %-26s %-22s\n", name.c_str(), f->nsPerOp,
                      rate, allocs, m ? ratioCell(f->nsPerOp, m->nsPerOp, msgpack).c_str() : "-",
                      fl ? ratioCell(f->nsPerOp, fl->nsPerOp, floor).c_str() : "-");
        out << row;
    };
    for (const Line& line : kLines)
        printLine(line.name, line.msgpack, line.floor);
    for (const std::string& name : mOrder) {
        bool listed = false;
        for (const Line& line : kLines)
            listed = listed || name == line.name;
        if (!listed)
            printLine(name, nullptr, nullptr);
    }

    // The targets, each checked only when its figures are there.
    int missed = 0;
    bool header = false;
    auto check = [&](const char* what, double value, const char* relation, double limit) {
        if (!header) {
            out << "\nTargets\n";
            header = true;
        }
        const bool met = std::strcmp(relation, "<") == 0 ? value < limit : value <= limit;
        missed += met ? 0 : 1;
        std::snprintf(row, sizeof row, "  %-52s %9.2f %2s %-8g %s\n", what, value, relation, limit,
                      met ? "met" : "MISSED");
        out << row;
    };
    auto ratio = [&](const char* what, const char* a, const char* b, double limit) {
        const Figures* fa = find(a);
        const Figures* fb = find(b);
        if (fa && fb && fb->nsPerOp > 0)
            check(what, fa->nsPerOp / fb->nsPerOp, "<=", limit);
    };
    ratio("Decode_R / Msgpack_Decode_R (time)", "Decode_R", "Msgpack_Decode_R", 1.0);
    ratio("Encode_R / Msgpack_Encode_R (time)", "Encode_R", "Msgpack_Encode_R", 1.0);
    ratio("Decode_R / Floor_Alloc_R (time)", "Decode_R", "Floor_Alloc_R", 1.3);
    ratio("Reader_R / Msgpack_Decode_R (time)", "Reader_R", "Msgpack_Decode_R", 0.5);
    ratio("Writer_R / Msgpack_Encode_R (time)", "Writer_R", "Msgpack_Encode_R", 1.0);
    ratio("Join_Joiner_Cursor_J / Join_Joiner_J (time)", "Join_Joiner_Cursor_J", "Join_Joiner_J", 1.1);
    if (const Figures* t = find("Endpoint_T"))
        check("Endpoint_T ns/op", t->nsPerOp, "<", 250);
    auto allocBudget = [&](const char* name, double tags) {
        const Figures* f = find(name);
        if (f && f->allocsPerOp >= 0) {
            std::string what = std::string(name) + " allocs/op (2 per tag, 3 per message)";
            check(what.c_str(), f->allocsPerOp, "<=", 2 * tags + 3);
        }
    };
    allocBudget("Decode_R", kTagsR);
    allocBudget("Endpoint_T", kTagsT);
    allocBudget("Endpoint_R", kTagsR);
    auto noAllocation = [&](const char* name) {
        const Figures* f = find(name);
        if (f && f->allocsPerOp >= 0)
            check((std::string(name) + " allocs/op").c_str(), f->allocsPerOp, "<=", 0);
    };
    noAllocation("Reader_R");
    noAllocation("FrameRead_LP_R");
    noAllocation("FrameRead_Cobs_R");
    noAllocation("Writer_R");
    const Figures* s256 = find("Segment_L/256");
    const Figures* s1024 = find("Segment_L/1024");
    if (s256 && s1024 && s256->bytesPerSecond > 0 && s1024->bytesPerSecond > 0)
        check("Segment_L/256 per byte / Segment_L/1024 per byte", s1024->bytesPerSecond / s256->bytesPerSecond,
              "<=", 1.5);
    return missed;
}

} // namespace vbench
