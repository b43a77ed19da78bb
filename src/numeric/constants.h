// Library-wide non-finite constants.
#pragma once

namespace tavrix {

// Set by initTavrix; 0.0 before it has run. The reverberation analysis and
// powerChecked use these as their NaN and infinity values, so results of an
// analysis made before start-up differ (as the host would see them behave).
extern double nanValue;       // quiet NaN with the sign bit set, 0xFFF8000000000000
extern double infValue;       // +infinity
extern double minusInfValue;  // -infinity

// Sets the three constants.
void setNonFiniteConstants();

}  // namespace tavrix
