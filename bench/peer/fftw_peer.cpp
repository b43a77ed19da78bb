// The transforms of the benchmarks done by FFTW 3 (estimate plans), for
// bench/compare.py: complex forward transforms of 2^10 .. 2^22 points and the
// deconvolution's two real forward and one real inverse transform of 2^20
// points with the spectral division. Prints one "name milliseconds" per line:
// the median of five timed runs of repeated calls, in processor time of the
// process, which a busy machine disturbs less than elapsed time.
#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <functional>
#include <vector>

namespace {

double medianMilliseconds(const std::function<void()>& work) {
  auto now = [] {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return 1e3 * static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_nsec);
  };
  std::vector<double> runs;
  for (int r = 0; r < 5; ++r) {
    int count = 0;
    const double start = now();
    double elapsed = 0.0;
    do {
      work();
      ++count;
      elapsed = now() - start;
    } while (elapsed < 200.0);
    runs.push_back(elapsed / count);
  }
  std::sort(runs.begin(), runs.end());
  return runs[2];
}

}  // namespace

int main() {
  for (int p : {10, 16, 20, 22}) {
    const int n = 1 << p;
    fftw_complex* x = fftw_alloc_complex(static_cast<size_t>(n));
    fftw_plan plan = fftw_plan_dft_1d(n, x, x, FFTW_FORWARD, FFTW_ESTIMATE);
    for (int i = 0; i < n; ++i) {
      x[i][0] = (i % 17) / 17.0 - 0.5;
      x[i][1] = 0.0;
    }
    std::printf("fft_%d %.6f\n", p, medianMilliseconds([&] { fftw_execute(plan); }));
    fftw_destroy_plan(plan);
    fftw_free(x);
  }
  // Deconvolution of a 2^20-point recording by a sweep: two r2c, the
  // division of the n/2 + 1 bins, one c2r.
  const int n = 1 << 20, bins = n / 2 + 1;
  double* sweep = fftw_alloc_real(static_cast<size_t>(n));
  double* recording = fftw_alloc_real(static_cast<size_t>(n));
  double* response = fftw_alloc_real(static_cast<size_t>(n));
  fftw_complex* s = fftw_alloc_complex(static_cast<size_t>(bins));
  fftw_complex* r = fftw_alloc_complex(static_cast<size_t>(bins));
  fftw_plan ps = fftw_plan_dft_r2c_1d(n, sweep, s, FFTW_ESTIMATE);
  fftw_plan pr = fftw_plan_dft_r2c_1d(n, recording, r, FFTW_ESTIMATE);
  fftw_plan pi = fftw_plan_dft_c2r_1d(n, r, response, FFTW_ESTIMATE);
  for (int i = 0; i < n; ++i) {
    sweep[i] = i < 480000 ? std::sin(1e-5 * i * i / 48.0) : 0.0;
    recording[i] = i < 500000 ? std::sin(1e-5 * (i + 7) * (i + 7) / 48.0) : 0.0;
  }
  auto deconvolve = [&](bool sweepKept) {
    if (!sweepKept) fftw_execute(ps);
    fftw_execute(pr);
    for (int k = 0; k < bins; ++k) {
      const double d = s[k][0] * s[k][0] + s[k][1] * s[k][1];
      const double re = (s[k][0] * r[k][0] + s[k][1] * r[k][1]) / d;
      r[k][1] = (s[k][0] * r[k][1] - s[k][1] * r[k][0]) / d;
      r[k][0] = re;
    }
    fftw_execute(pi);
  };
  std::printf("deconvolve_2_20 %.6f\n", medianMilliseconds([&] { deconvolve(false); }));
  fftw_destroy_plan(ps);
  fftw_destroy_plan(pr);
  fftw_destroy_plan(pi);
  fftw_free(s);
  fftw_free(r);
  fftw_free(sweep);
  fftw_free(recording);
  fftw_free(response);
  return 0;
}
