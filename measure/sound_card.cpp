#include "sound_card.h"

#include <fcntl.h>
#include <pa_jack.h>
#include <portaudio.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

#include "measure_error.h"
#include "number_text.h"

namespace tavrix::measure {

namespace {

// A stream whose callback has not advanced for this long has lost its
// server or device. JACK calls back every period (a few ms to 50 ms);
// starting the stream and connecting its ports takes well under a second.
constexpr double kStallSeconds = 2.0;
constexpr auto kPollInterval = std::chrono::milliseconds(50);

// Silences stderr (the file descriptor, since the back ends write there
// from C) while it lives.
class QuietStderr {
 public:
  QuietStderr() {
    std::fflush(stderr);
    saved_ = dup(STDERR_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    if (saved_ >= 0 && null >= 0) dup2(null, STDERR_FILENO);
    if (null >= 0) close(null);
  }
  ~QuietStderr() {
    std::fflush(stderr);
    if (saved_ >= 0) {
      dup2(saved_, STDERR_FILENO);
      close(saved_);
    }
  }
  QuietStderr(const QuietStderr&) = delete;
  QuietStderr& operator=(const QuietStderr&) = delete;

 private:
  int saved_ = -1;
};

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// What the callback and the waiting thread share. Owned by the run, or
// kept for the process's life once a dead stream is left alone (its
// callback might still run).
struct StreamState {
  std::vector<std::vector<float>> play, recorded;
  const std::atomic<bool>* interrupt = nullptr;
  size_t total = 0, meter = 0;
  std::atomic<size_t> position{0};
  std::atomic<float> peak{0};
  std::atomic<int> inputOverflows{0}, outputUnderflows{0};
};

int duplexCallback(const void* input, void* output, unsigned long frames, const PaStreamCallbackTimeInfo*,
                   PaStreamCallbackFlags flags, void* user) {
  auto* s = static_cast<StreamState*>(user);
  if (flags & paInputOverflow) s->inputOverflows.fetch_add(1);
  if (flags & paOutputUnderflow) s->outputUnderflows.fetch_add(1);
  const auto& play = s->play;
  const size_t outs = play.size(), ins = s->recorded.size();
  const size_t at = s->position.load(std::memory_order_relaxed);
  const size_t n = std::min<size_t>(frames, s->total - std::min(at, s->total));
  auto* out = static_cast<float*>(output);
  const auto* in = static_cast<const float*>(input);
  const bool stop = s->interrupt && s->interrupt->load();
  for (size_t i = 0; i < frames; ++i) {
    for (size_t c = 0; c < outs; ++c) out[i * outs + c] = i < n && !stop ? play[c][at + i] : 0.0f;
  }
  float peak = s->peak.load(std::memory_order_relaxed);
  for (size_t i = 0; i < n && in; ++i) {
    for (size_t c = 0; c < ins; ++c) {
      const float v = in[i * ins + c];
      s->recorded[c][at + i] = v;
      if (c == s->meter) peak = std::max(peak, std::fabs(v));
    }
  }
  s->peak.store(peak, std::memory_order_relaxed);
  s->position.store(at + n, std::memory_order_release);
  if (stop) return paAbort;
  return at + n >= s->total ? paComplete : paContinue;
}

[[noreturn]] void deviceFailure(const SoundDevice& d, PaError e, double rate) {
  const std::string who = "'" + d.name + "' (" + d.hostApi + ")";
  if (e == paInvalidSampleRate) {
    fail(TVM_AUDIO_DEVICE,
         who + " does not run at " + fixed(rate, 0) + " Hz" +
             (d.jack ? "; the JACK server runs at " + fixed(d.defaultRate, 0) + " Hz: give --rate " +
                           fixed(d.defaultRate, 0) + " or restart the server at the rate you want"
                     : "; give --rate with a rate it supports, such as " + fixed(d.defaultRate, 0)));
  }
  const std::string busy =
      who + " is busy: another program holds it; close that program or choose another device";
  if (e == paDeviceUnavailable) fail(TVM_AUDIO_DEVICE, busy);
  if (e == paInvalidChannelCount) {
    fail(TVM_AUDIO_DEVICE, who + " cannot open that many channels: it has " + std::to_string(d.inputs) +
                               " inputs and " + std::to_string(d.outputs) + " outputs");
  }
  // ALSA says "busy" through its own error text.
  const PaHostErrorInfo* host = e == paUnanticipatedHostError ? Pa_GetLastHostErrorInfo() : nullptr;
  const std::string detail = host && host->errorText ? host->errorText : Pa_GetErrorText(e);
  if (lower(detail).find("busy") != std::string::npos) fail(TVM_AUDIO_DEVICE, busy);
  fail(TVM_AUDIO_DEVICE, who + " cannot be opened: " + detail);
}

}  // namespace

SoundCard::SoundCard() {
  // Reach a running JACK server, never start one (that would hang or fail
  // slowly on a machine without one), and name the client after the tool.
  setenv("JACK_NO_START_SERVER", "1", 0);
  PaJack_SetClientName("tavrix");
  PaError e;
  {
    const QuietStderr quiet;
    e = Pa_Initialize();
  }
  if (e != paNoError) fail(TVM_AUDIO_DEVICE, std::string("PortAudio cannot start: ") + Pa_GetErrorText(e));
}

SoundCard::~SoundCard() {
  if (abandoned_) return;
  const QuietStderr quiet;
  Pa_Terminate();
}

std::vector<SoundDevice> SoundCard::devices() const {
  std::vector<SoundDevice> list;
  const int count = Pa_GetDeviceCount();
  for (int i = 0; i < count; ++i) {
    const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
    if (!info) continue;
    const PaHostApiInfo* api = Pa_GetHostApiInfo(info->hostApi);
    SoundDevice d;
    d.index = i;
    d.name = info->name ? info->name : "";
    d.hostApi = api && api->name ? api->name : "";
    d.jack = api && api->type == paJACK;
    d.inputs = info->maxInputChannels;
    d.outputs = info->maxOutputChannels;
    d.defaultRate = info->defaultSampleRate;
    d.isDefault =
        api && Pa_HostApiDeviceIndexToDeviceIndex(info->hostApi, 0) >= 0 && api->defaultOutputDevice == i;
    list.push_back(d);
  }
  return list;
}

SoundDevice SoundCard::choose(const std::string& wanted) const {
  const std::vector<SoundDevice> list = devices();
  const auto usable = [](const SoundDevice& d) { return d.inputs > 0 && d.outputs > 0; };
  if (wanted.empty()) {
    // JACK's default device first: with a server running, ALSA's default
    // is a detour through it.
    for (const SoundDevice& d : list)
      if (d.jack && d.isDefault && usable(d)) return d;
    for (const SoundDevice& d : list)
      if (d.jack && usable(d)) return d;
    for (const SoundDevice& d : list)
      if (d.isDefault && usable(d)) return d;
    for (const SoundDevice& d : list)
      if (usable(d)) return d;
    fail(TVM_AUDIO_DEVICE,
         list.empty() ? "no audio server and no sound card found: start the JACK server (jackd) or connect "
                        "a sound card; 'tavrix devices' lists what is seen"
                      : "no device both plays and records: 'tavrix devices' lists the devices; start the "
                        "JACK server or connect a sound card with inputs and outputs");
  }
  if (std::all_of(wanted.begin(), wanted.end(),
                  [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
    const int index = std::atoi(wanted.c_str());
    for (const SoundDevice& d : list)
      if (d.index == index) return d;
    fail(TVM_AUDIO_DEVICE, "there is no device " + wanted + " (" + std::to_string(list.size()) +
                               " devices); 'tavrix devices' lists them");
  }
  // A whole name, then a part of one; JACK's devices before the others.
  for (bool whole : {true, false}) {
    for (bool jack : {true, false}) {
      for (const SoundDevice& d : list) {
        const bool match =
            whole ? lower(d.name) == lower(wanted) : lower(d.name).find(lower(wanted)) != std::string::npos;
        if (match && d.jack == jack) return d;
      }
    }
  }
  fail(TVM_AUDIO_DEVICE,
       "no device is named '" + wanted + "'" +
           (list.empty() ? ", and no audio server or sound card was found: start the "
                           "JACK server (jackd) or connect a sound card"
                         : "; 'tavrix devices' lists the " + std::to_string(list.size()) + " devices seen"));
}

DuplexTake SoundCard::playAndRecord(const SoundDevice& device, const DuplexRequest& request) {
  if (request.play.empty() || request.inputChannels < 1) fail(TVM_BAD_ARGUMENT, "nothing to play or record");
  const size_t total = request.play.front().size();
  for (const auto& c : request.play)
    if (c.size() != total) fail(TVM_BAD_ARGUMENT, "the output channels differ in length");
  if (static_cast<int>(request.play.size()) > device.outputs || request.inputChannels > device.inputs) {
    fail(TVM_AUDIO_DEVICE, "'" + device.name + "' has " + std::to_string(device.outputs) + " outputs and " +
                               std::to_string(device.inputs) + " inputs; the measurement needs " +
                               std::to_string(request.play.size()) + " and " +
                               std::to_string(request.inputChannels));
  }
  DuplexTake take;
  auto state = std::make_unique<StreamState>();
  state->play = request.play;
  state->recorded.assign(static_cast<size_t>(request.inputChannels), std::vector<float>(total, 0.0f));
  state->interrupt = request.interrupt;
  state->total = total;
  state->meter = static_cast<size_t>(std::clamp(request.meterChannel, 0, request.inputChannels - 1));

  PaStreamParameters in{}, out{};
  in.device = out.device = device.index;
  in.channelCount = request.inputChannels;
  out.channelCount = static_cast<int>(request.play.size());
  in.sampleFormat = out.sampleFormat = paFloat32;
  const PaDeviceInfo* info = Pa_GetDeviceInfo(device.index);
  if (!info)
    fail(TVM_AUDIO_DEVICE, "device " + std::to_string(device.index) + " has gone; see 'tavrix devices'");
  in.suggestedLatency = info->defaultHighInputLatency;
  out.suggestedLatency = info->defaultHighOutputLatency;
  if (device.jack && request.rate != device.defaultRate)
    deviceFailure(device, paInvalidSampleRate, request.rate);
  PaStream* stream = nullptr;
  PaError e;
  {
    const QuietStderr quiet;
    e = Pa_IsFormatSupported(&in, &out, request.rate);
    if (e == paFormatIsSupported)
      e = Pa_OpenStream(&stream, &in, &out, request.rate, paFramesPerBufferUnspecified, paClipOff,
                        duplexCallback, state.get());
  }
  if (e != paNoError) deviceFailure(device, e, request.rate);
  e = Pa_StartStream(stream);
  if (e != paNoError) {
    Pa_CloseStream(stream);
    deviceFailure(device, e, request.rate);
  }

  size_t last = 0;
  auto lastMove = std::chrono::steady_clock::now();
  for (;;) {
    std::this_thread::sleep_for(kPollInterval);
    const size_t at = state->position.load(std::memory_order_acquire);
    const auto now = std::chrono::steady_clock::now();
    if (request.progress) request.progress(at, total, state->peak.exchange(0));
    if (at >= total) break;
    if (request.interrupt && request.interrupt->load()) {
      take.interrupted = true;
      break;
    }
    if (at != last) {
      last = at;
      lastMove = now;
    } else if (std::chrono::duration<double>(now - lastMove).count() > kStallSeconds) {
      // Stopping or closing would wait on the dead server for minutes.
      abandoned_ = true;
      // Its callback may still run: the state stays for the process's life.
      static auto* leftAlone = new std::vector<std::unique_ptr<StreamState>>;
      leftAlone->push_back(std::move(state));
      fail(TVM_AUDIO_STREAM, "the audio stream stopped after " +
                                 fixed(static_cast<double>(at) / request.rate, 1) + " s of " +
                                 fixed(static_cast<double>(total) / request.rate, 1) +
                                 " s: the audio server stopped or the device went away; nothing was written");
    }
  }
  {
    const QuietStderr quiet;
    Pa_AbortStream(stream);
    Pa_CloseStream(stream);
  }
  take.recorded = std::move(state->recorded);
  take.inputOverflows = state->inputOverflows.load();
  take.outputUnderflows = state->outputUnderflows.load();
  return take;
}

std::vector<SoundDevice> soundDevices() {
  const SoundCard card;
  return card.devices();
}

}  // namespace tavrix::measure
