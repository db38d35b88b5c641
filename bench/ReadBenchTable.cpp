#include "ReadBenchTable.h"

#include <algorithm>
#include <cstdio>

namespace vskbench {

void CReadBenchTable::Record(ESource source, std::int64_t request, EKind kind, std::int64_t bytes, double seconds)
{
    if (seconds <= 0)
        return;
    double& best = m_best[kind][{source, request}];
    best = std::max(best, static_cast<double>(bytes) / seconds);
}

void CReadBenchTable::Print(const char* title, const char* baselineName) const
{
    std::printf("\n%s\n\n| source | request | converter | %s | ratio |\n|---|---|---|---|---|\n", title, baselineName);
    for (const auto& [key, converter] : m_best[CONVERTER]) {
        const auto baseline = m_best[BASELINE].find(key);
        if (baseline == m_best[BASELINE].end())
            continue;
        const std::int64_t request = key.second;
        std::printf("| %s | %lld %s | %.2f GB/s | %.2f GB/s | %.2fx |\n", SOURCE_NAMES[key.first],
                    static_cast<long long>(request >= (1 << 20) ? request >> 20 : request >> 10),
                    request >= (1 << 20) ? "MiB" : "KiB", converter / 1e9, baseline->second / 1e9,
                    converter / baseline->second);
    }
    std::fflush(stdout);
}

}  // namespace vskbench
