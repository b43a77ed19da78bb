// Numbers in the words of results and failures.
#pragma once

#include <string>

namespace tavrix::measure {

// Fixed-point text of a value, or "-" when it is not a finite number.
std::string fixed(double value, int decimals);

// The shortest plain text of a number as %g gives it: "20", "0.25", "1e+05".
std::string general(double value);

// A duration as people read it: "0.700 s", or "0.35 ms" below a tenth of a
// second, so that a cut of a few samples does not read as "0.000 s".
std::string duration(double seconds);

}  // namespace tavrix::measure
