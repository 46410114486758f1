#pragma once
// The median of a bench's repeated measurements (0 for none): the middle
// value, or the mean of the two middle values for an even count.

#include <algorithm>
#include <vector>

namespace opd::bench {

inline double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

} // namespace opd::bench
