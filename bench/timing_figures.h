#pragma once

// The figures a timing benchmark prints of its samples.

#include <algorithm>
#include <vector>

namespace korvanel::bench {

inline double median(std::vector<double> values) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

inline double maximum(const std::vector<double>& values) {
    return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

}  // namespace korvanel::bench
