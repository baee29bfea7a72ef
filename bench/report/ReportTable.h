#pragma once

#include <string>
#include <vector>

namespace kx::bench {

// Sorted samples of one measure, for its percentiles.
class Samples {
public:
    void add(double value) { values_.push_back(value); }
    // The value below which `fraction` of the samples lie (0.5: the median).
    double percentile(double fraction);

private:
    std::vector<double> values_;
    bool sorted_ = false;
};

// One table for the whole run: each measure beside the limit the same machine reached in the same
// run, their ratio and the goal, so that the figures mean something on a loaded machine.
class ReportTable {
public:
    enum class Better { lower, higher };

    struct Row {
        std::string measure;
        double result = 0;
        std::string limitName;
        double limit = 0;
        // The figure the goal is about: result / limit unless `added` (then result - limit).
        bool added = false;
        Better better = Better::lower;
        double goal = 0;
        std::string goalText;
    };

    void add(Row row);
    void print() const;

private:
    std::vector<Row> rows_;
};

}  // namespace kx::bench
