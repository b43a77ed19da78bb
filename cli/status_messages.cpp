#include "status_messages.h"

namespace tavrix::cli {

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
    {-1, "failed",
     "the library refused the request (missing data, an argument out of range, or a file it cannot "
     "use)"},
    {-2, "bad resolution", "the number of points per octave must be 3, 6, 12 or 24"},
    {-10, "unsupported format",
     "the WAV format tag is neither PCM nor IEEE float; save the file as 16-, 24- or 32-bit PCM or "
     "32-bit float mono"},
    {-11, "bad range", "a decay range must be 0 (early decay time) or at least 10 dB"},
    {-30, "no decay",
     "the band never stands 10 dB above its background noise, so it holds no usable decay; measure "
     "with more level or a longer sweep"},
    {-31, "no crosspoint",
     "the point where the decay meets the noise floor could not be found; the band is too noisy or "
     "its decay too short for the window"},
    {-32, "no tail fit",
     "the late decay could not be fitted, so no reverberation time was evaluated; the band is too "
     "noisy near its noise floor"},
    {-33, "too short",
     "the decay is too short for the noise analysis to split it into enough intervals; use a longer "
     "response or a longer tail"},
};

}  // namespace

std::string statusLabel(int status) {
  for (const StatusText& t : kStatusTexts) {
    if (t.code == status) return t.label;
  }
  return "status " + std::to_string(status);
}

std::string statusSentence(int status) {
  for (const StatusText& t : kStatusTexts) {
    if (t.code == status) return t.sentence;
  }
  return "the library returned the undocumented status " + std::to_string(status);
}

}  // namespace tavrix::cli
