#pragma once

#include <string>

namespace kavo::bench {

// A figure printed after the run: the time of `numerator` divided by the time of `denominator`
// (benchmark run names, e.g. "BM_Parse/10000"), checked against a target. With Counter, the
// figure is that counter of the numerator's run instead (a ratio the benchmark measured itself),
// and the denominator is not used.
struct Ratio
{
    std::string Label;
    std::string Numerator;
    std::string Denominator;
    double Target;
    bool AtLeast; // true: the ratio must be >= Target; false: <= Target
    std::string Counter = {};
};

// Call from a static initialiser: `static const bool r = AddRatio({...});`
bool AddRatio(Ratio ratio);

} // namespace kavo::bench
