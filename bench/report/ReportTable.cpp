#include "bench/report/ReportTable.h"

#include <algorithm>
#include <cstdio>

#include "bench/Percentile.h"

namespace kx::bench {

double Samples::percentile(double fraction) {
    if (!sorted_) std::sort(values_.begin(), values_.end());
    sorted_ = true;
    return percentileOfSorted(values_, fraction);
}

void ReportTable::add(Row row) {
    rows_.push_back(std::move(row));
}

void ReportTable::print() const {
    std::printf("%-44s %11s  %-34s %11s  %9s  %-22s %s\n", "measure", "result", "limit (same run)", "", "ratio", "goal",
                "met");
    for (const Row& row : rows_) {
        double figure = row.added ? row.result - row.limit : (row.limit > 0 ? row.result / row.limit : row.result);
        bool met = row.better == Better::lower ? figure <= row.goal : figure >= row.goal;
        char ratio[32];
        if (row.limitName.empty())
            std::snprintf(ratio, sizeof ratio, "%s", "-");
        else if (row.added)
            std::snprintf(ratio, sizeof ratio, "+%.1f", figure);
        else
            std::snprintf(ratio, sizeof ratio, "%.2fx", figure);
        char limit[32] = "-";
        if (!row.limitName.empty()) std::snprintf(limit, sizeof limit, "%.1f", row.limit);
        // A row without a goal ("(...)") only helps to read the others.
        const char* verdict = row.goalText.starts_with('(') ? "-" : met ? "yes" : "NO";
        std::printf("%-44s %11.1f  %-34s %11s  %9s  %-22s %s\n", row.measure.c_str(), row.result, row.limitName.c_str(),
                    limit, ratio, row.goalText.c_str(), verdict);
    }
}

}  // namespace kx::bench
