/* A simulated room as a JACK client, for the live tests of `tavrix measure`.
 *
 * What arrives at in_1 (the loudspeaker) leaves at out_1 (the microphone)
 * convolved with a known impulse response, delayed, scaled, and with white
 * noise added. in_2 is looped straight back to out_2, as a cable from an
 * output to an input would be. The convolution is uniformly partitioned
 * overlap-save: the response is cut into blocks of one period, each block's
 * spectrum is kept, and every period the spectra of the last inputs are
 * multiplied with them and summed, so the cost per period grows with the
 * response's length over the period, not with its length squared.
 *
 * room NAME RESPONSE.f32 [--delay-ms D] [--gain-db G] [--noise-db N]
 *      [--unwired] [--xrun-every S] [--ready FILE]
 * RESPONSE.f32 holds raw 32-bit floats in the machine's byte order. The
 * client runs until SIGTERM or SIGINT. */
#define _DEFAULT_SOURCE /* usleep, nanosleep, M_PI */
#include <jack/jack.h>
#include <math.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

typedef struct {
  double re, im;
} cpx;

static jack_port_t *in1, *in2, *out1, *out2;
static size_t block;         /* B: the period */
static size_t fftSize;       /* 2B */
static size_t partitions;    /* blocks of the response */
static cpx* responseSpectra; /* partitions x (B + 1) bins */
static cpx* inputSpectra;    /* the same, a ring of the last inputs */
static size_t newest;        /* ring position of the newest input spectrum */
static double* lastInputs;   /* the previous and the current period, 2B */
static cpx *work, *twiddles, *sum;
static double gainFactor = 1, noiseAmplitude = 0;
static int unwired = 0;
static double xrunEvery = 0; /* s of audio between stalls; 0: none */
static jack_nframes_t rate;
static unsigned long long framesDone, nextStall;
static unsigned long long noiseState = 0x9e3779b97f4a7c15ull;
static volatile sig_atomic_t quit = 0;

static void onSignal(int sig) {
  (void)sig;
  quit = 1;
}

/* The server went away: nothing left to play. */
static void onShutdown(void* arg) {
  (void)arg;
  quit = 1;
}

/* In place, radix 2, n a power of two; inverse when sign > 0 (unscaled). */
static void fft(cpx* x, size_t n, int sign) {
  for (size_t i = 1, j = 0; i < n; ++i) {
    size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) {
      cpx t = x[i];
      x[i] = x[j];
      x[j] = t;
    }
  }
  for (size_t len = 2; len <= n; len <<= 1) {
    size_t step = n / len;
    for (size_t i = 0; i < n; i += len) {
      for (size_t k = 0; k < len / 2; ++k) {
        cpx w = twiddles[k * step];
        if (sign > 0) w.im = -w.im;
        cpx a = x[i + k], b = x[i + k + len / 2];
        cpx t = {b.re * w.re - b.im * w.im, b.re * w.im + b.im * w.re};
        x[i + k] = (cpx){a.re + t.re, a.im + t.im};
        x[i + k + len / 2] = (cpx){a.re - t.re, a.im - t.im};
      }
    }
  }
}

/* Gaussian white noise of unit variance: xorshift64* and Box-Muller. */
static double uniform(void) {
  noiseState ^= noiseState >> 12;
  noiseState ^= noiseState << 25;
  noiseState ^= noiseState >> 27;
  return ((noiseState * 2685821657736338717ull) >> 11) * (1.0 / 9007199254740992.0) + 1e-300;
}
static double gaussian(void) { return sqrt(-2 * log(uniform())) * cos(2 * M_PI * uniform()); }

static int process(jack_nframes_t n, void* arg) {
  (void)arg;
  const float* x = jack_port_get_buffer(in1, n);
  const float* ref = jack_port_get_buffer(in2, n);
  float* y = jack_port_get_buffer(out1, n);
  float* loop = jack_port_get_buffer(out2, n);
  if (n != block) { /* the period changed: stay silent rather than wrong */
    memset(y, 0, n * sizeof *y);
    memset(loop, 0, n * sizeof *loop);
    return 0;
  }
  memmove(lastInputs, lastInputs + block, block * sizeof *lastInputs);
  for (size_t i = 0; i < block; ++i) lastInputs[block + i] = x[i];
  for (size_t i = 0; i < fftSize; ++i) work[i] = (cpx){lastInputs[i], 0};
  fft(work, fftSize, -1);
  newest = (newest + partitions - 1) % partitions;
  const size_t bins = block + 1;
  memcpy(inputSpectra + newest * bins, work, bins * sizeof *work);
  memset(sum, 0, bins * sizeof *sum);
  for (size_t p = 0; p < partitions; ++p) {
    const cpx* X = inputSpectra + ((newest + p) % partitions) * bins;
    const cpx* H = responseSpectra + p * bins;
    for (size_t k = 0; k < bins; ++k) {
      sum[k].re += X[k].re * H[k].re - X[k].im * H[k].im;
      sum[k].im += X[k].re * H[k].im + X[k].im * H[k].re;
    }
  }
  for (size_t k = 0; k < bins; ++k) work[k] = sum[k];
  for (size_t k = bins; k < fftSize; ++k) work[k] = (cpx){sum[fftSize - k].re, -sum[fftSize - k].im};
  fft(work, fftSize, 1);
  for (size_t i = 0; i < block; ++i) {
    const double wet = unwired ? 0 : gainFactor * work[block + i].re / (double)fftSize;
    y[i] = (float)(wet + noiseAmplitude * gaussian());
    loop[i] = ref[i];
  }
  framesDone += n;
  if (xrunEvery > 0 && framesDone >= nextStall) {
    /* Three periods late: the server misses its deadline, an xrun. */
    nextStall = framesDone + (unsigned long long)(xrunEvery * rate);
    struct timespec t = {0, (long)(3e9 * block / rate)};
    nanosleep(&t, NULL);
  }
  return 0;
}

static float* readResponse(const char* path, size_t* length) {
  FILE* f = fopen(path, "rb");
  if (!f) return NULL;
  fseek(f, 0, SEEK_END);
  long bytes = ftell(f);
  fseek(f, 0, SEEK_SET);
  *length = bytes > 0 ? (size_t)bytes / sizeof(float) : 0;
  float* h = malloc((*length + 1) * sizeof *h);
  if (h && fread(h, sizeof *h, *length, f) != *length) {
    free(h);
    h = NULL;
  }
  fclose(f);
  return h;
}

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: room NAME RESPONSE.f32 [options]\n");
    return 2;
  }
  double delayMs = 0, gainDb = 0, noiseDb = -200;
  const char* ready = NULL;
  for (int i = 3; i < argc; ++i) {
    if (!strcmp(argv[i], "--unwired"))
      unwired = 1;
    else if (i + 1 < argc && !strcmp(argv[i], "--delay-ms"))
      delayMs = atof(argv[++i]);
    else if (i + 1 < argc && !strcmp(argv[i], "--gain-db"))
      gainDb = atof(argv[++i]);
    else if (i + 1 < argc && !strcmp(argv[i], "--noise-db"))
      noiseDb = atof(argv[++i]);
    else if (i + 1 < argc && !strcmp(argv[i], "--xrun-every"))
      xrunEvery = atof(argv[++i]);
    else if (i + 1 < argc && !strcmp(argv[i], "--ready"))
      ready = argv[++i];
    else {
      fprintf(stderr, "room: unknown option %s\n", argv[i]);
      return 2;
    }
  }
  gainFactor = pow(10, gainDb / 20);
  noiseAmplitude = noiseDb > -200 ? pow(10, noiseDb / 20) : 0;
  size_t length = 0;
  float* h = readResponse(argv[2], &length);
  if (!h || length == 0) {
    fprintf(stderr, "room: cannot read %s\n", argv[2]);
    return 1;
  }

  /* The server may still be starting: try for 10 s. */
  jack_client_t* client = NULL;
  for (int tries = 0; !client && tries < 100; ++tries) {
    client = jack_client_open(argv[1], JackNoStartServer, NULL);
    if (!client) usleep(100000);
  }
  if (!client) {
    fprintf(stderr, "room: no JACK server\n");
    return 1;
  }
  rate = jack_get_sample_rate(client);
  block = jack_get_buffer_size(client);
  fftSize = 2 * block;
  const size_t delay = (size_t)llround(delayMs * 1e-3 * rate);
  const size_t total = delay + length;
  partitions = (total + block - 1) / block;
  const size_t bins = block + 1;
  responseSpectra = calloc(partitions * bins, sizeof *responseSpectra);
  inputSpectra = calloc(partitions * bins, sizeof *inputSpectra);
  lastInputs = calloc(fftSize, sizeof *lastInputs);
  work = calloc(fftSize, sizeof *work);
  sum = calloc(bins, sizeof *sum);
  twiddles = calloc(fftSize / 2, sizeof *twiddles);
  for (size_t k = 0; k < fftSize / 2; ++k)
    twiddles[k] = (cpx){cos(2 * M_PI * k / fftSize), -sin(2 * M_PI * k / fftSize)};
  /* Overlap-save: each block of the (delayed) response in the first half of
   * a 2B transform. */
  for (size_t p = 0; p < partitions; ++p) {
    for (size_t i = 0; i < fftSize; ++i) {
      const size_t t = p * block + i;
      work[i] = (cpx){i < block && t >= delay && t - delay < length ? h[t - delay] : 0, 0};
    }
    fft(work, fftSize, -1);
    memcpy(responseSpectra + p * bins, work, bins * sizeof *work);
  }
  free(h);
  nextStall = (unsigned long long)(xrunEvery * rate);

  in1 = jack_port_register(client, "in_1", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
  in2 = jack_port_register(client, "in_2", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
  out1 = jack_port_register(client, "out_1", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
  out2 = jack_port_register(client, "out_2", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
  signal(SIGTERM, onSignal);
  signal(SIGINT, onSignal);
  jack_on_shutdown(client, onShutdown, NULL);
  if (!in1 || !in2 || !out1 || !out2 || jack_set_process_callback(client, process, NULL) ||
      jack_activate(client)) {
    fprintf(stderr, "room: cannot start the JACK client\n");
    jack_client_close(client);
    return 1;
  }
  if (ready) {
    FILE* f = fopen(ready, "w");
    if (f) fclose(f);
  }
  while (!quit) usleep(20000);
  jack_client_close(client); /* after a shutdown it only frees */
  return 0;
}
