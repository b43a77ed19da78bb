#include "status_messages.h"

#include <cmath>

#include "number_text.h"
#include "tavrix.h"

namespace tavrix::measure {

namespace {

struct StatusText {
  int code;
  const char* label;
  const char* sentence;
};

// Codes the exports return. -1 is the generic refusal of every export; the
// others belong to one family each (file format, decay ranges, decay analysis,
// calibration points per octave).
constexpr StatusText kStatusTexts[] = {
    {0, "ok", "the evaluation succeeded"},
    {TAVRIX_FAILED, "failed",
     "the library refused the request (missing data, an argument out of range, or a file it cannot "
     "use)"},
    {TAVRIX_BAD_POINTS_PER_OCTAVE, "bad resolution",
     "the number of points per octave must be 3, 6, 12 or 24"},
    {TAVRIX_UNSUPPORTED_FORMAT, "unsupported format",
     "the WAV format tag is neither PCM nor IEEE float; save the file as 16-, 24- or 32-bit PCM or "
     "32-bit float mono"},
    {TAVRIX_INVALID_RANGE, "bad range", "a decay range must be 0 (early decay time) or at least 10 dB"},
    {TAVRIX_NO_DECAY, "no decay",
     "the band never stands 10 dB above its background noise, so it holds no usable decay; measure "
     "with more level or a longer sweep"},
    {TAVRIX_NO_CROSSPOINT, "no crosspoint",
     "the point where the decay meets the noise floor could not be found; the band is too noisy or "
     "its decay too short for the window"},
    {TAVRIX_NO_TAIL_FIT, "no tail fit",
     "the late decay could not be fitted, so no reverberation time was evaluated; the band is too "
     "noisy near its noise floor"},
    {TAVRIX_TOO_SHORT, "too short",
     "the first estimate of the band's decay is too slow for its window: the noise analysis needs "
     "ten intervals of that decay and the window holds fewer"},
};

}  // namespace

const char* methodText(DecayMethod method) {
  return method == DecayMethod::Plain ? "plain backward integration" : "noise-compensated";
}

std::string statusLabel(int status) {
  for (const StatusText& t : kStatusTexts) {
    if (t.code == status) return t.label;
  }
  return "status " + std::to_string(status);
}

namespace {

std::string joined(const std::vector<std::string>& parts) {
  std::string text;
  for (const std::string& p : parts) text += (text.empty() ? "" : "; ") + p;
  return text;
}

// What the level curve tells about a band that is too short for the noise
// analysis: a band that falls little before its window ends stands too little
// above its noise, or its decay was cut short.
std::string tooShortCause(const BandResult& b) {
  constexpr double kLittleDecayDb = -25;
  if (!std::isfinite(b.endLevelDb)) return "";
  if (b.endLevelDb > kLittleDecayDb) {
    return "; the band falls only " + fixed(-b.endLevelDb, 1) +
           " dB from its peak to the end of the window, so it stands too little above its noise or its "
           "decay is cut short: measure with more level, or keep more of the decay in the file";
  }
  return "; the band falls " + fixed(-b.endLevelDb, 1) +
         " dB by the end of the window but its early decay is too irregular to estimate";
}

}  // namespace

std::string resultLabel(const BandResult& b) {
  if (!bandEvaluated(b)) return statusLabel(b.status);
  const std::string method = b.method == DecayMethod::Plain ? "plain" : "ok";
  if (b.doubts.empty()) return method;
  return b.method == DecayMethod::Plain ? "plain, doubtful" : "doubtful";
}

std::string resultSentence(const BandResult& b) {
  if (!bandEvaluated(b))
    return statusSentence(b.status) + (b.status == TAVRIX_TOO_SHORT ? tooShortCause(b) : "");
  std::string text = b.method == DecayMethod::Plain
                         ? "no noise floor found (" + statusLabel(b.status) +
                               "), but the decay is clean down to " + fixed(b.endLevelDb, 1) +
                               " dB: times from plain backward integration, ranges that do not end 10 dB "
                               "above that left out"
                         : statusSentence(0);
  if (b.method == DecayMethod::Compensated && !std::isfinite(b.noiseLevelDb)) {
    text += "; the decay meets no noise floor (a noise-free response)";
  }
  if (!b.doubts.empty()) text += "; doubtful: " + joined(b.doubts);
  return text;
}

std::string statusSentence(int status) {
  for (const StatusText& t : kStatusTexts) {
    if (t.code == status) return t.sentence;
  }
  return "the library returned the undocumented status " + std::to_string(status);
}

}  // namespace tavrix::measure
