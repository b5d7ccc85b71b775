// The `p`-th quantile (0 to 1) of `values`, between the two nearest values;
// 0 for none.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

inline double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const double pos = p * (values.size() - 1);
    const std::size_t i = static_cast<std::size_t>(pos);
    const double fraction = pos - i;
    return i + 1 < values.size() ? values[i] * (1 - fraction) + values[i + 1] * fraction : values[i];
}
