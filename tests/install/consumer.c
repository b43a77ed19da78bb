/* A client of the installed library: compiled against the installed header,
 * linked to the installed libtavrix.so through find_package or pkg-config. */
#include <stdio.h>
#include <tavrix.h>

int main(void) {
  initTavrix();
  int32_t h = initImpulse();
  int32_t n = generateESS(h, 48000.0, 20.0, 20000.0, 1.0, 1.0);
  double lg = tavrix_log2(8.0);
  printf("sweep of %d samples, log2(8) = %g\n", n, lg);
  return (h >= 0 && n == 48000 && lg > 2.999 && lg < 3.001 && deleteImpulse(h) == 0) ? 0 : 1;
}
