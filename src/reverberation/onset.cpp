#include "reverberation/onset.h"

#include <algorithm>
#include <cmath>

#include "numeric/scalar_rules.h"

namespace tavrix {

namespace {

// The stored segment starts half a second before the peak: enough background
// before the direct sound for the rise search.
constexpr double kSegmentLeadSeconds = 0.5;
// The rise search compares 10 ms blocks with the mean of the blocks before
// them; a block carrying more than twice that mean marks the arrival.
constexpr double kRiseBlockSeconds = 0.01;
constexpr double kRiseFactor = 2.0;
// The onset lies within the last 0.1 s before the peak, and the analysis
// window opens 0.1 s before the onset.
constexpr double kOnsetSearchSeconds = 0.1;
constexpr double kWindowLeadSeconds = 0.1;
// The onset threshold below the peak relaxes as the peak stands less clearly
// above the background: 20 dB below it for a margin of 30 dB or more, 10 dB
// below for 20 to 30 dB, 5 dB below for less.
constexpr double kClearMarginDb = 30.0;
constexpr double kModerateMarginDb = 20.0;
constexpr double kClearThresholdDb = -20.0;
constexpr double kModerateThresholdDb = -10.0;
constexpr double kWeakThresholdDb = -5.0;

double thresholdBelowPeakDb(double peakToNoiseDb) {
  if (peakToNoiseDb < kModerateMarginDb) return kWeakThresholdDb;
  if (peakToNoiseDb < kClearMarginDb) return kModerateThresholdDb;
  return kClearThresholdDb;  // also for a NaN margin
}

}  // namespace

OnsetResult detectOnset(const double* s, int32_t length, double fs) {
  OnsetResult result;
  result.status = kOnsetNoRise;
  // A stretch shorter than one block has a single block and so nothing to
  // rise from; a block of no samples (rates below 50 Hz) measures nothing.
  const double blockLength = roundHalfAway(kRiseBlockSeconds * fs);
  if (s == nullptr || length < 1 || !(blockLength >= 1.0) || blockLength > length) return result;
  const int32_t b = static_cast<int32_t>(blockLength);

  int32_t pk = 1;
  double peak = s[0];
  if (length >= 2) {
    const IndexedValue max = indexOfFirstMax(s, length);
    pk = max.position;
    peak = max.value;
  }

  // Blocks k = 0 .. nb-1 cover positions k*b + 1 .. (k+1)*b; the last may
  // reach past the peak, and is cut at the end of the stretch.
  const int32_t blockCount = static_cast<int32_t>((static_cast<int64_t>(pk) + b - 1) / b);
  const OneBased at{s};
  auto blockMean = [&](int32_t k) {
    const int32_t start = k * b;  // below pk, so within int32
    return meanOf(at.from(start + 1), std::min(b, length - start));
  };

  double sum = blockMean(0);
  double noise = 0.0;
  bool rose = false;
  for (int32_t k = 0; k + 1 < blockCount; ++k) {
    const double next = blockMean(k + 1);
    if (static_cast<double>(k + 1) * next > kRiseFactor * sum) {
      noise = sum / static_cast<double>(k + 1);
      rose = true;
      break;
    }
    sum += next;
  }
  if (!rose) return result;

  const double peakToNoiseDb = 10.0 * std::log10(peak / noise);
  const double threshold = peak * powerChecked(10.0, thresholdBelowPeakDb(peakToNoiseDb) / 10.0);

  // First position above the threshold strictly after pk - 0.1 s; the peak
  // itself when none is.
  const double earliest = static_cast<double>(pk) - kOnsetSearchSeconds * fs;
  const int32_t from = earliest < 1.0 ? 1 : static_cast<int32_t>(std::floor(earliest)) + 1;
  double onset = pk;
  for (int32_t i = from; i <= pk; ++i) {
    if (std::fabs(at(i)) > threshold) {
      onset = i;
      break;
    }
  }

  result.status = 0;
  result.onsetPos = onset;
  result.peakToNoiseDb = peakToNoiseDb;
  return result;
}

int32_t locateImpulse(const double* energy, int32_t n, double fs, double sweepDuration, double span,
                      ImpulseLocation& location) {
  location = ImpulseLocation{};
  location.segmentEnd = span > n ? static_cast<double>(n) : span;
  double half = 0.5 * span;
  if (half > n) half = n;
  const double first = roundHalfAway(kPeakSearchStartSeconds * fs);
  if (!(first >= 1.0) || !std::isfinite(span) || !std::isfinite(sweepDuration)) return kOnsetNoSearch;

  double peakPos = first;
  if (first <= half) {
    const int32_t from = static_cast<int32_t>(first);
    const int32_t to = truncateToInt(half);
    peakPos = first - 1.0 + indexOfFirstMax(OneBased{energy}.from(from), to - from + 1).position;
  }

  location.segmentStart = std::max(roundHalfAway(peakPos + 1.0 - kSegmentLeadSeconds * fs), 1.0);
  const int32_t start = truncateToInt(location.segmentStart);
  const int32_t length = location.segmentStart > half ? 0 : truncateToInt(half) - start + 1;
  const OnsetResult onset = detectOnset(length > 0 ? OneBased{energy}.from(start) : nullptr, length, fs);
  if (onset.status < 0) return onset.status;

  location.onset = onset.onsetPos;
  location.peakToNoise = onset.peakToNoiseDb;
  location.windowStart = std::max(location.onset - kWindowLeadSeconds * fs, 1.0);
  location.windowEnd = span - roundHalfAway(sweepDuration * fs) - location.onset;
  location.windowEnd = std::min(location.windowEnd, location.segmentEnd - location.segmentStart);
  return 0;
}

}  // namespace tavrix
