#include "direct_image.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <tuple>
#include <vector>

#include "library_client.h"
#include "tavrix.h"

namespace tavrix::measure {

namespace {

// The direct sound's image in a band (see energy_parameters.h): the spread
// before the onset is counted until all but this share of an impulse's band
// energy is in, 0.1 % or 0.004 dB of the direct sound. Further back the
// image is weaker than the noise of most measurements.
constexpr double kSpreadResidue = 1e-3;

// The analysis's own image of an ideal direct sound: a unit impulse half a
// second into silence, where the lead-in puts a response's direct sound,
// analysed per band like a response. The band filters are fixed designs
// applied sample by sample, so the image counted in samples is the same for
// every response, at any rate. The images hold everything the analysis does
// to a direct sound: the time-reversed band filter's spread, the analytic
// signal's, and where the onset search puts the onset on the rise. Called
// with the library lock held; the handle is gone before the responses take
// theirs.
std::map<int, DirectImage> directImages(const BandSet& b, bool broadband, int rate) {
  std::map<int, DirectImage> images;
  const size_t at = static_cast<size_t>(std::lround(kLeadInSeconds * rate));
  std::vector<double> impulse(2 * at, 0.0);
  impulse[at] = 1;
  const ReverbHandle h(initReverberation(impulse.data(), static_cast<int32_t>(impulse.size()), rate, 0,
                                         static_cast<double>(impulse.size()) / rate - kLeadInSeconds));
  if (!h.valid() || getMaxImpulseLength(h.get()) < 0 ||
      initReverberationFilter(h.get(), static_cast<int>(b.resolution), b.firstBand, b.lastBand) != 0)
    return images;
  std::vector<int> bands;
  for (int band = b.firstBand; band <= b.lastBand; ++band) bands.push_back(band);
  if (broadband) bands.insert(bands.end(), {kBandA, kBandZ});
  std::vector<double> level(static_cast<size_t>(getMaxImpulseLength(h.get())) + 2), decay(level.size());
  for (int band : bands) {
    int32_t length = 0, onsetOffset = 0;
    double decayEnd = 0, noise = 0, start = 0, peak = 0;
    if (getReverberationDataLevel(h.get(), band, 0, level.data(), &length, decay.data(), &decayEnd, &noise,
                                  &start, &onsetOffset, &peak) == TAVRIX_FAILED)
      continue;
    const size_t n = static_cast<size_t>(std::clamp<int64_t>(length, 0, std::ssize(level)));
    const size_t onset =
        static_cast<size_t>(std::clamp<int64_t>(-int64_t{onsetOffset}, 0, std::ssize(level)));
    double total = 0, moment = 0;
    for (size_t i = 0; i < n; ++i) {
      const double e = std::isfinite(level[i]) ? std::pow(10.0, level[i] / 10) : 0.0;
      total += e;
      moment += (static_cast<double>(i) - static_cast<double>(onset)) * e;
    }
    if (!(total > 0)) continue;
    DirectImage image;
    image.centre = moment / total;
    double early = 0;
    for (size_t i = 0; i < std::min(onset, n); ++i) {
      early += std::isfinite(level[i]) ? std::pow(10.0, level[i] / 10) : 0.0;
      if (early > kSpreadResidue * total) {
        image.spread = onset - i;
        break;
      }
    }
    images[band] = image;
  }
  return images;
}

}  // namespace

// The images depend only on the rate and the bands, and a survey asks for the
// same ones file after file: they are kept. The library lock the caller holds
// also guards the cache. A failure (a full table) is not kept.
std::map<int, DirectImage> cachedDirectImages(const BandSet& b, bool broadband, int rate) {
  static std::map<std::tuple<int, int, int, int, bool>, std::map<int, DirectImage>> cache;
  const auto key = std::make_tuple(rate, static_cast<int>(b.resolution), b.firstBand, b.lastBand, broadband);
  const auto found = cache.find(key);
  if (found != cache.end()) return found->second;
  std::map<int, DirectImage> images = directImages(b, broadband, rate);
  if (!images.empty()) cache.emplace(key, images);
  return images;
}

}  // namespace tavrix::measure
