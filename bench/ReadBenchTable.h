// The table both converter read benchmarks close with: per source and
// request size the best rate of the converter and of the baseline over all
// rounds, and their ratio (the goal is at least 0.9 for 188-byte and 0.8 for
// time-stamped AVC sources). Best rates, because other work on the machine
// only ever slows a round down.
#pragma once

#include "ReadBenchSources.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <utility>

namespace vskbench {

class CReadBenchTable {
public:
    enum EKind { CONVERTER = 0, BASELINE = 1 };

    // One full pass over the file took `seconds`.
    void Record(ESource source, std::int64_t request, EKind kind, std::int64_t bytes, double seconds);
    // Prints the table under a title naming the baseline.
    void Print(const char* title, const char* baselineName) const;

private:
    std::map<std::pair<int, std::int64_t>, double> m_best[2];  // bytes per second
};

// Seconds a callable takes on the steady clock.
template <typename F>
double Seconds(F work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace vskbench
