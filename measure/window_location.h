// Where the library's analysis window lies in the response it was given.
//
// The library fixes the window once per response, from 0.1 s before the
// direct sound's onset to the end of the decay it keeps, and reports every
// band's levels over it with the onset as the only landmark; it never says
// where in the response the window starts. The unfiltered band's level curve
// is the response's own energy envelope over the window, so laying it on the
// envelope of the whole response finds that start to the sample.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace tavrix::measure {

// windowLevelDb: the unfiltered band's level per sample over the window (dB
// re its peak, as the library gives it). response: the samples the analysis
// was created from, at fs Hz. Returns the index of the response's sample at which the
// window's first value lies, or nothing when the curve does not fit inside
// the response.
std::optional<int64_t> locateWindow(const std::vector<double>& windowLevelDb,
                                    const std::vector<double>& response, double fs);

}  // namespace tavrix::measure
