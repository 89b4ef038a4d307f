#pragma once

#include <string>

namespace kavo::bench {

// A figure printed after the run: the time of `numerator` divided by the time of `denominator`
// (benchmark run names, e.g. "BM_Parse/10000"), checked against a target.
struct Ratio
{
    std::string Label;
    std::string Numerator;
    std::string Denominator;
    double Target;
    bool AtLeast; // true: the ratio must be >= Target; false: <= Target
};

// Call from a static initialiser: `static const bool r = AddRatio({...});`
bool AddRatio(Ratio ratio);

} // namespace kavo::bench
