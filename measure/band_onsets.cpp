#include "band_onsets.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <limits>

#include "direct_image.h"
#include "fft_convolution.h"
#include "library_client.h"
#include "measure_error.h"
#include "plain_decay.h"
#include "tavrix.h"

namespace tavrix::measure {

namespace {

// The library reports its onset relative to its analysis window, which
// starts wherever its peak search put it. The window is found in the
// response by matching the unfiltered level curve (the analytic signal's
// energy) with the same energy formed here, over this many samples either
// side of the peak and this many samples either side of the peak's own
// offset: both peaks lie on one sample or on neighbours.
constexpr int64_t kMatchHalfWidth = 256, kMatchSearch = 4;
// Samples more than 60 dB below the peak say nothing about the alignment.
constexpr double kMatchFloorDb = -60;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A response ends on its noise floor when its last tenth lies within this
// much of it (noise scatters by a decibel or two in that stretch; a decay
// that goes on falls far below).
constexpr double kFloorToleranceDb = 6;

// |analytic signal|^2 of x: x^2 plus the square of its Hilbert transform,
// zero-padded so that the transform does not wrap around.
std::vector<double> analyticEnergy(const std::vector<double>& x) {
  size_t n = 2;
  while (n < 2 * x.size()) n <<= 1;
  std::vector<std::complex<double>> X = realForward(x.data(), x.size(), n);
  // The Hilbert transform: -j X at positive frequencies, nothing at 0 and n / 2.
  for (size_t k = 1; k + 1 < X.size(); ++k) X[k] *= std::complex<double>(0, -1);
  X.front() = X.back() = 0;
  const std::vector<double> h = realInverse(X, n);
  std::vector<double> e(x.size());
  for (size_t i = 0; i < x.size(); ++i) e[i] = x[i] * x[i] + h[i] * h[i];
  return e;
}

// The position in y of the first value of levelDb, the library's unfiltered
// level curve of y (dB re its largest value).
int64_t windowStart(const std::vector<double>& y, const std::vector<double>& levelDb) {
  const std::vector<double> e = analyticEnergy(y);
  const int64_t ours = std::max_element(e.begin(), e.end()) - e.begin();
  int64_t theirs = 0;
  for (int64_t i = 1; i < std::ssize(levelDb); ++i) {
    if (levelDb[static_cast<size_t>(i)] > levelDb[static_cast<size_t>(theirs)]) theirs = i;
  }
  // The offset at which the two curves differ by the most constant number of
  // dB.
  int64_t best = ours - theirs;
  double bestSpread = std::numeric_limits<double>::infinity();
  for (int64_t start = ours - theirs - kMatchSearch; start <= ours - theirs + kMatchSearch; ++start) {
    double sum = 0, square = 0, count = 0;
    for (int64_t i = theirs - kMatchHalfWidth; i <= theirs + kMatchHalfWidth; ++i) {
      if (i < 0 || i >= std::ssize(levelDb) || start + i < 0 || start + i >= std::ssize(e)) continue;
      const double a = levelDb[static_cast<size_t>(i)];
      const double b = e[static_cast<size_t>(start + i)];
      if (!(a > kMatchFloorDb) || !(b > 0)) continue;
      const double d = a - 10 * std::log10(b);
      sum += d;
      square += d * d;
      count += 1;
    }
    if (count < 1) continue;
    const double spread = square / count - (sum / count) * (sum / count);
    if (spread < bestSpread) {
      bestSpread = spread;
      best = start;
    }
  }
  return best;
}

}  // namespace

size_t BandOnset::after(double seconds, double fs) const {
  const double n = static_cast<double>(onset) + std::round(seconds * fs + centre);
  return n > 0 ? static_cast<size_t>(n) : 0;
}

std::vector<BandOnset> bandOnsets(const std::vector<double>& x, int rate, const BandSet& bands,
                                  const std::string& name) {
  const double fs = rate;
  // The lead-in the reverberation analysis gives an early direct sound.
  size_t peak = 0;
  for (size_t i = 1; i < x.size(); ++i) {
    if (std::fabs(x[i]) > std::fabs(x[peak])) peak = i;
  }
  const size_t leadIn = static_cast<size_t>(std::lround(kLeadInSeconds * fs));
  const size_t lead = peak < leadIn ? leadIn : 0;
  if (x.size() + lead > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
    fail(TVM_BAD_ARGUMENT, name + ": too long for the analysis (2^31 - 1 samples); shorten the file");
  std::vector<double> y(lead + x.size(), 0.0);
  std::copy(x.begin(), x.end(), y.begin() + static_cast<std::ptrdiff_t>(lead));

  const LibraryLock lock = lockLibrary();
  const std::map<int, DirectImage> images = cachedDirectImages(bands, false, rate);
  const ReverbHandle h(initReverberation(y.data(), static_cast<int32_t>(y.size()), fs, 0,
                                         std::max(0.0, static_cast<double>(y.size()) / fs - kLeadInSeconds)));
  if (!h.valid()) fail(TVM_TABLE_FULL, name + ": the library has no free reverberation slot left");
  if (getMaxImpulseLength(h.get()) < 0) {
    fail(TVM_NO_DIRECT_SOUND,
         name +
             ": no distinct direct sound found (the energy never rises clearly above what precedes it); "
             "check that the file is an impulse response");
  }
  if (initReverberationFilter(h.get(), static_cast<int>(bands.resolution), bands.firstBand, bands.lastBand) !=
      0)
    fail(TVM_LIBRARY_REFUSED, name + ": the library refused the filter bank");
  std::vector<double> level(static_cast<size_t>(getMaxImpulseLength(h.get())) + 2), decay(level.size());
  int32_t length = 0, onsetOffset = 0;
  double decayEnd = 0, noise = 0, start = 0, peakDb = 0;
  const auto levels = [&](int band) {
    return getReverberationDataLevel(h.get(), band, 0, level.data(), &length, decay.data(), &decayEnd, &noise,
                                     &start, &onsetOffset, &peakDb);
  };
  if (levels(TAVRIX_BAND_UNFILTERED) == TAVRIX_FAILED)
    fail(TVM_NO_DIRECT_SOUND, name +
                                  ": the direct sound could not be located; check that the file is an "
                                  "impulse response");
  const std::vector<double> unfiltered(
      level.begin(), level.begin() + std::clamp<std::ptrdiff_t>(length, 0, std::ssize(level)));
  const int64_t onsetInY = windowStart(y, unfiltered) - onsetOffset;
  const int64_t onset = std::clamp<int64_t>(onsetInY - static_cast<int64_t>(lead), 0, std::ssize(x));

  std::vector<BandOnset> out;
  for (int band = bands.firstBand; band <= bands.lastBand; ++band) {
    BandOnset b;
    b.band = band;
    b.onset = static_cast<size_t>(onset);
    const auto found = images.find(band);
    if (found != images.end()) {
      b.centre = found->second.centre;
      b.first = b.onset - std::min(b.onset, found->second.spread);
    } else {
      b.first = b.onset;
    }
    const int32_t status = levels(band);
    b.decayEnd = x.size();
    // The crosspoint is trusted where the response does end on the floor the
    // analysis found: a noise-free response (a simulation) can make it take
    // a dip of the decay for a floor, and the end of the response then lies
    // far below that "floor".
    const size_t n = static_cast<size_t>(std::clamp<int64_t>(length, 0, std::ssize(level)));
    const size_t onsetIndex =
        static_cast<size_t>(std::clamp<int64_t>(-int64_t{onsetOffset}, 0, std::ssize(level)));
    const double endDb =
        onsetIndex < n
            ? lastTenthLevelDb(std::vector<double>(level.begin() + static_cast<std::ptrdiff_t>(onsetIndex),
                                                   level.begin() + static_cast<std::ptrdiff_t>(n)))
            : kNaN;
    if (status == 0 && std::isfinite(decayEnd) && decayEnd >= 0 && endDb > noise - kFloorToleranceDb) {
      // The decay curve runs from the onset to one sample short of the crosspoint.
      b.decayEnd = std::min(x.size(), b.onset + static_cast<size_t>(decayEnd) + 2);
    }
    out.push_back(b);
  }
  return out;
}

}  // namespace tavrix::measure
