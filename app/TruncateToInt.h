#pragma once
// The configuration's "(int)" conversions truncate toward zero. A fraction in
// config.xml can be anything, and converting a double beyond the int range is
// undefined, so such values saturate at the range's ends (NaN gives 0).
#include <climits>
#include <cmath>

inline int TruncateToInt(double value)
{
    if (std::isnan(value)) return 0;
    if (value >= static_cast<double>(INT_MAX)) return INT_MAX;
    if (value <= static_cast<double>(INT_MIN)) return INT_MIN;
    return static_cast<int>(value);
}
