// The one place where the library's status codes become words.
#pragma once

#include <string>

#include "reverb_analysis.h"

namespace tavrix::measure {

// How a band's times were found: "noise-compensated" or "plain backward integration".
const char* methodText(DecayMethod method);

// A short label for tables ("ok", "no decay", ...).
std::string statusLabel(int status);

// One human sentence: what the code means and, where it helps, what to do.
std::string statusSentence(int status);

// The verdict on one band's evaluation: "ok", "doubtful", "plain" (times by
// plain backward integration), "plain, doubtful", or the failure's label.
std::string resultLabel(const BandResult& band);

// The same in one sentence, with the figures behind it: why a band failed,
// why it is doubtful, or that its decay met no noise floor.
std::string resultSentence(const BandResult& band);

}  // namespace tavrix::measure
