#include "filters/filter_designs.h"

#include <cmath>
#include <complex>
#include <numbers>
#include <utility>
#include <vector>

namespace tavrix {
namespace {

using Complex = std::complex<double>;

constexpr double kFs = kDesignSampleRate;
// Bilinear-transform constant 2 fs: s = c (1 - z^-1) / (1 + z^-1).
constexpr double kBilinear = 2.0 * kFs;
// Base-ten octave ratio 10^(3/10) = 1.99526...
double octaveRatio() { return std::pow(10.0, 0.3); }

// Step delays in samples at 48 kHz, one per band in band-number order: how
// far each band filter delays a signal's onset (close to the peak of its
// impulse-response envelope), used to align time-reversed band filtering.
// They fall roughly as 0.93 s / bandwidth in Hz. Twelve bands per row.
// clang-format off
constexpr std::array<int32_t, 11> kOctaveStepDelays{  // bands 4 to 14
    4024, 2016, 1010, 506, 253, 127, 63, 31, 16, 8, 3,
};
constexpr std::array<int32_t, 32> kThirdOctaveStepDelays{  // bands 12 to 43
    12123, 9623, 7645, 6073, 4824, 3831, 3043, 2417, 1920, 1525, 1211, 962,
    764, 607, 482, 383, 304, 241, 192, 152, 121, 96, 76, 60,
    48, 38, 30, 24, 19, 15, 12, 8,
};
constexpr std::array<int32_t, 126> kTwelfthOctaveStepDelays{  // bands 49 to 174
    46941, 44544, 41858, 39545, 37471, 35377, 33320, 31462, 29719, 28054, 26478, 24991,
    23597, 22277, 21040, 19862, 18747, 17699, 16709, 15772, 14891, 14058, 13272, 12529,
    11828, 11166, 10542, 9952, 9395, 8870, 8374, 7905, 7463, 7045, 6651, 6279,
    5928, 5596, 5283, 4988, 4709, 4445, 4196, 3962, 3740, 3531, 3333, 3147,
    2971, 2805, 2648, 2499, 2360, 2228, 2103, 1985, 1874, 1769, 1670, 1577,
    1489, 1405, 1327, 1252, 1182, 1116, 1054, 995, 939, 887, 837, 790,
    746, 704, 665, 627, 592, 559, 528, 498, 470, 444, 419, 396,
    374, 353, 333, 314, 297, 280, 264, 249, 236, 222, 210, 198,
    187, 176, 167, 157, 148, 140, 132, 125, 118, 111, 105, 99,
    93, 88, 83, 79, 74, 70, 66, 62, 59, 55, 52, 49,
    47, 44, 41, 39, 37, 34,
};
constexpr std::array<int32_t, 237> kTwentyFourthOctaveStepDelays{  // bands 112 to 348
    62388, 60381, 58677, 56932, 55405, 53712, 52050, 50622, 49293, 47886, 46544, 45231,
    43848, 42671, 41445, 40288, 39137, 38045, 36962, 35901, 34895, 33903, 32927, 32007,
    31094, 30213, 29364, 28516, 27714, 26930, 26167, 25422, 24705, 24000, 23317, 22655,
    22014, 21390, 20782, 20192, 19619, 19064, 18523, 17997, 17486, 16990, 16508, 16040,
    15584, 15143, 14713, 14295, 13890, 13496, 13113, 12741, 12379, 12028, 11687, 11355,
    11033, 10720, 10416, 10120, 9833, 9554, 9283, 9020, 8764, 8515, 8273, 8039,
    7811, 7589, 7374, 7164, 6961, 6764, 6572, 6385, 6204, 6028, 5857, 5691,
    5529, 5372, 5220, 5072, 4928, 4788, 4652, 4520, 4392, 4267, 4146, 4029,
    3914, 3803, 3695, 3590, 3489, 3390, 3293, 3200, 3109, 3021, 2935, 2852,
    2771, 2692, 2616, 2542, 2470, 2400, 2331, 2265, 2201, 2139, 2078, 2019,
    1962, 1906, 1852, 1799, 1748, 1699, 1650, 1604, 1558, 1514, 1471, 1429,
    1389, 1349, 1311, 1274, 1237, 1202, 1168, 1135, 1103, 1072, 1041, 1012,
    983, 955, 928, 902, 876, 851, 827, 803, 781, 758, 737, 716,
    696, 676, 657, 638, 620, 602, 585, 569, 552, 537, 522, 507,
    492, 478, 465, 452, 439, 426, 414, 402, 391, 380, 369, 359,
    348, 339, 329, 320, 310, 302, 293, 285, 277, 269, 261, 254,
    247, 240, 233, 226, 220, 213, 207, 201, 196, 190, 185, 179,
    174, 169, 165, 160, 155, 151, 147, 142, 138, 134, 131, 127,
    123, 120, 116, 113, 110, 107, 104, 101, 98, 95, 92, 90,
    87, 85, 82, 80, 78, 75, 73, 71, 69,
};
// clang-format on

const int32_t* stepDelayTable(int32_t resolution) {
  switch (resolution) {
    case 1:
      return kOctaveStepDelays.data();
    case 2:
      return kThirdOctaveStepDelays.data();
    case 3:
      return kTwelfthOctaveStepDelays.data();
    case 4:
      return kTwentyFourthOctaveStepDelays.data();
    default:
      return nullptr;
  }
}

// A real pole of an analog first-order factor (s + omega) mapped through the
// bilinear transform without pre-warping: z = (1 + s/c) / (1 - s/c) at s = -omega.
double bilinearRealPole(double omega) { return (1.0 - omega / kBilinear) / (1.0 + omega / kBilinear); }

// Writes a section b0 b1 b2 1 a1 a2 with denominator (1 - p z^-1)(1 - q z^-1)
// for two real poles p and q.
void setRealPoleSection(double* row, double b1, double p, double q) {
  row[0] = 1.0;
  row[1] = b1;
  row[2] = 1.0;
  row[3] = 1.0;
  row[4] = -(p + q);
  row[5] = p * q;
}

// Corner frequencies of the analog A- and C-weighting curves in Hz.
constexpr double kWeightingF1 = 20.598997;
constexpr double kWeightingF2 = 107.65265;
constexpr double kWeightingF3 = 737.86223;
constexpr double kWeightingF4 = 12194.217;

struct WeightingOmegas {
  double w1, w2, w3, w4;
};
WeightingOmegas weightingOmegas() {
  const double twoPi = 2.0 * std::numbers::pi;
  return {twoPi * kWeightingF1, twoPi * kWeightingF2, twoPi * kWeightingF3, twoPi * kWeightingF4};
}

std::vector<BandPassDesign> designAllBands() {
  std::vector<BandPassDesign> all;
  for (int32_t r = 1; r <= kResolutionCount; ++r) {
    const BandRange& range = kBandRanges[r];
    for (int32_t band = range.firstBand; band <= range.lastBand; ++band)
      all.push_back(designBandPass(bandLowerEdge(range.bandsPerOctave, band),
                                   bandUpperEdge(range.bandsPerOctave, band)));
  }
  return all;
}

}  // namespace

bool bandInRange(int32_t resolution, int32_t band) {
  if (resolution < 1 || resolution > kResolutionCount) return false;
  return band >= kBandRanges[resolution].firstBand && band <= kBandRanges[resolution].lastBand;
}

double bandMidFrequency(int32_t bandsPerOctave, int32_t band) {
  const double b = bandsPerOctave;
  // Octave and third-octave bands have a band centred on 1 kHz; with 12 and 24
  // bands per octave the grid is shifted by half a band.
  const double offset = (bandsPerOctave == 12 || bandsPerOctave == 24) ? 0.5 : 0.0;
  return 1000.0 * std::pow(octaveRatio(), (band - 10.0 * b - offset) / b);
}

double bandLowerEdge(int32_t bandsPerOctave, int32_t band) {
  return bandMidFrequency(bandsPerOctave, band) * std::pow(octaveRatio(), -1.0 / (2.0 * bandsPerOctave));
}

double bandUpperEdge(int32_t bandsPerOctave, int32_t band) {
  return bandMidFrequency(bandsPerOctave, band) * std::pow(octaveRatio(), 1.0 / (2.0 * bandsPerOctave));
}

// Eighth-order Butterworth band-pass: the fourth-order low-pass prototype
// (poles e^(j5pi/8), e^(j7pi/8) and conjugates) is shifted to a band-pass by
// s -> (s^2 + W0^2) / (Bw s) on edges pre-warped so that the digital filter is
// 3 dB down exactly at f1 and f2, then mapped to z by the bilinear transform.
// Each prototype pole p gives two band-pass poles, roots of s^2 - p Bw s + W0^2;
// one lies above and one below the centre frequency, and each becomes a section
// (with its conjugate) whose zeros sit at z = 1 and z = -1.
BandPassDesign designBandPass(double f1, double f2) {
  const double c = kBilinear;
  const double u1 = c * std::tan(std::numbers::pi * f1 / kFs);
  const double u2 = c * std::tan(std::numbers::pi * f2 / kFs);
  const double bw = u2 - u1;
  const double w0Squared = u1 * u2;
  const Complex prototype[2] = {std::polar(1.0, 5.0 * std::numbers::pi / 8.0),
                                std::polar(1.0, 7.0 * std::numbers::pi / 8.0)};

  BandPassDesign design{};
  for (int k = 0; k < 2; ++k) {
    const Complex half = prototype[k] * bw / 2.0;
    const Complex root = std::sqrt(half * half - w0Squared);
    Complex s[2] = {half - root, half + root};
    // The pole in the upper half plane (the upper of the pair) goes first.
    if (s[0].imag() < s[1].imag()) std::swap(s[0], s[1]);
    for (int j = 0; j < 2; ++j) {
      const Complex z = (1.0 + s[j] / c) / (1.0 - s[j] / c);
      double* row = design.sections.data() + 6 * (2 * k + j);
      row[0] = 1.0;
      row[1] = 0.0;
      row[2] = -1.0;
      row[3] = 1.0;
      row[4] = -2.0 * z.real();
      row[5] = std::norm(z);
    }
  }
  // Each pair of sections realises Bw^2 s^2 / D_k(s); the bilinear transform
  // leaves a leading denominator coefficient D_k(c), divided out by the gain.
  for (int k = 0; k < 2; ++k) {
    const double cc = c * c;
    const double d = (cc + w0Squared) * (cc + w0Squared) -
                     2.0 * prototype[k].real() * bw * c * (cc + w0Squared) + bw * bw * cc;
    design.gains[2 * k] = bw * bw * cc / d;
    design.gains[2 * k + 1] = 1.0;
  }
  design.gains[4] = 1.0;
  return design;
}

const BandPassDesign& bandPassDesign(int32_t resolution, int32_t band) {
  // Every band's design, computed by the first call (the initialisation of a
  // function-local static is thread-safe) and constant after: banks built on
  // separate threads read it without further synchronisation.
  static const std::vector<BandPassDesign> designs = designAllBands();
  int32_t row = band - kBandRanges[resolution].firstBand;
  for (int32_t r = 1; r < resolution; ++r) row += kBandRanges[r].lastBand - kBandRanges[r].firstBand + 1;
  return designs[static_cast<size_t>(row)];
}

int32_t bandStepDelay(int32_t resolution, int32_t band) {
  if (!bandInRange(resolution, band)) return -1;
  return stepDelayTable(resolution)[band - kBandRanges[resolution].firstBand];
}

// A-weighting: H(s) = K w4^2 s^4 / ((s + w1)^2 (s + w2) (s + w3) (s + w4)^2),
// K = 10^(1.9997/20) normalising 1 kHz to 0 dB. The bilinear transform turns
// s^4 into four zeros at z = 1 and the two surplus poles of the denominator
// into a double zero at z = -1. Sections: the double pole at F4 with the zeros
// at -1, the poles at F2 and F3, the double pole at F1.
const AWeightingDesign& aWeightingDesign() {
  // Built once, thread-safely, and constant after (as the band designs).
  static const AWeightingDesign design = [] {
    const WeightingOmegas w = weightingOmegas();
    const double c = kBilinear;
    const double p1 = bilinearRealPole(w.w1), p2 = bilinearRealPole(w.w2), p3 = bilinearRealPole(w.w3),
                 p4 = bilinearRealPole(w.w4);
    AWeightingDesign d{};
    setRealPoleSection(d.sections.data(), 2.0, p4, p4);
    setRealPoleSection(d.sections.data() + 6, -2.0, p2, p3);
    setRealPoleSection(d.sections.data() + 12, -2.0, p1, p1);
    const double k = std::pow(10.0, 1.9997 / 20.0);
    const double denominator = (c + w.w1) * (c + w.w1) * (c + w.w2) * (c + w.w3) * (c + w.w4) * (c + w.w4);
    d.gains = {k * w.w4 * w.w4 * std::pow(c, 4) / denominator, 1.0, 1.0, 1.0};
    return d;
  }();
  return design;
}

// C-weighting: H(s) = K w4^2 s^2 / ((s + w1)^2 (s + w4)^2), K = 10^(0.0619/20).
// Sections: the double pole at F4 with zeros at -1, the double pole at F1 with
// zeros at 1.
const CWeightingDesign& cWeightingDesign() {
  // Built once, thread-safely, and constant after (as the band designs).
  static const CWeightingDesign design = [] {
    const WeightingOmegas w = weightingOmegas();
    const double c = kBilinear;
    const double p1 = bilinearRealPole(w.w1), p4 = bilinearRealPole(w.w4);
    CWeightingDesign d{};
    setRealPoleSection(d.sections.data(), 2.0, p4, p4);
    setRealPoleSection(d.sections.data() + 6, -2.0, p1, p1);
    const double k = std::pow(10.0, 0.0619 / 20.0);
    const double denominator = (c + w.w1) * (c + w.w1) * (c + w.w4) * (c + w.w4);
    d.gains = {k * w.w4 * w.w4 * c * c / denominator, 1.0, 1.0};
    return d;
  }();
  return design;
}

}  // namespace tavrix
