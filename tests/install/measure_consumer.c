/* A client of the installed measurement layer: a decaying noise written as a
 * float WAV file, read back and analysed through tavrix_measure.h alone. */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <tavrix_measure.h>

int main(int argc, char** argv) {
  enum { kRate = 48000, kLength = 2 * kRate };
  static double x[kLength];
  unsigned seed = 1;
  for (int i = 0; i < kLength; ++i) {
    seed = seed * 1103515245u + 12345u;
    const double noise = ((seed >> 8) & 0xFFFF) / 32768.0 - 1.0;
    /* T60 = 0.8 s: the energy falls 60 dB in 0.8 s. */
    x[i] = 0.5 * noise * pow(10.0, -3.0 * i / (0.8 * kRate)) + 1e-5 * noise;
  }
  x[0] = 1.0;
  const char* path = argc > 1 ? argv[1] : "measure_consumer.wav";
  tvm_audio* audio = NULL;
  tvm_reverb_report* report = NULL;
  if (tvm_write_float_wav(path, x, kLength, kRate) != TVM_OK || tvm_read_audio(path, 0, &audio) != TVM_OK) {
    printf("%s\n", tvm_last_error());
    return 1;
  }
  const tvm_response r = {"consumer", audio->samples, audio->frames,  audio->sample_rate,
                          0,          audio->channel, audio->channels};
  const int32_t status = tvm_analyse_reverb(&r, 1, NULL, &report);
  tvm_free_audio(audio);
  if (status != TVM_OK) {
    printf("%s\n", tvm_last_error());
    return 1;
  }
  const tvm_band_result* b = &report->positions[0].bands[3]; /* 1 kHz */
  printf("%s T30 %.2f s (%s)\n", b->label, b->times_s[3], b->result);
  const int ok = fabs(b->times_s[3] - 0.8) < 0.05;
  tvm_free_reverb_report(report);
  return ok ? 0 : 1;
}
