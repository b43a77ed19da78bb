// Playing and recording through a sound card or an audio server, with
// PortAudio: the devices it sees, the choice of one, and one full-duplex
// stream that plays a buffer and records at the same time.
//
// When a JACK server runs, its host API is chosen explicitly: ALSA's "jack"
// device reaches the same server as two clients, in stereo, with extra
// latency. A stream runs at the server's own rate. The latencies PortAudio
// reports are not used: recordings are aligned by deconvolution.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace tavrix::measure {

struct SoundDevice {
  int index = -1;       // PortAudio's device number, the one `tavrix devices` shows
  std::string name;     // for JACK, the client whose ports it reaches ("system")
  std::string hostApi;  // "JACK Audio Connection Kit", "ALSA", ...
  bool jack = false;    // reached through a JACK server
  int inputs = 0, outputs = 0;
  double defaultRate = 0;  // Hz; for JACK, the server's rate
  bool isDefault = false;  // the host API's default output device
};

// What one full-duplex run plays and how it reports.
struct DuplexRequest {
  double rate = 48000;
  // One buffer per output channel from the first; equal lengths. The run
  // records as many frames as they hold.
  std::vector<std::vector<float>> play;
  int inputChannels = 1;  // recorded from the first
  // Called on the waiting thread about ten times a second: frames done,
  // frames in all, and the largest magnitude of input meterChannel (from 0)
  // since the last call.
  std::function<void(size_t, size_t, double)> progress;
  int meterChannel = 0;
  // Set (by a signal handler) to stop the run at once.
  const std::atomic<bool>* interrupt = nullptr;
};

struct DuplexTake {
  std::vector<std::vector<float>> recorded;  // one buffer per input channel
  // Periods the stream lost: PortAudio's input overflow and output underflow
  // flags (JACK's xruns arrive as both).
  int inputOverflows = 0, outputUnderflows = 0;
  bool interrupted = false;  // stopped by the interrupt flag; `recorded` is partial
  bool dropouts() const { return inputOverflows > 0 || outputUnderflows > 0; }
};

// PortAudio for the object's life. Its start prints the probing of every
// ALSA and JACK back end to stderr; that is kept off the terminal.
class SoundCard {
 public:
  SoundCard();
  ~SoundCard();
  SoundCard(const SoundCard&) = delete;
  SoundCard& operator=(const SoundCard&) = delete;

  std::vector<SoundDevice> devices() const;

  // The device to measure with: a number from `tavrix devices`, a name (or
  // a unique part of one; JACK's devices first), or "" for JACK's default
  // device when a server runs, else the system's default. Fails with
  // TVM_AUDIO_DEVICE and a sentence.
  SoundDevice choose(const std::string& wanted) const;

  // Plays and records in one stream at request.rate on the device. Fails
  // with TVM_AUDIO_DEVICE when the stream cannot open (busy device, rate
  // the device or server does not run at, too many channels) and with
  // TVM_AUDIO_STREAM when it stops delivering (the server died, the device
  // went away): the stream is then left alone, since stopping it would wait
  // on the dead server, and PortAudio is not shut down.
  DuplexTake playAndRecord(const SoundDevice& device, const DuplexRequest& request);

 private:
  bool abandoned_ = false;
};

// The same device list without keeping PortAudio open.
std::vector<SoundDevice> soundDevices();

}  // namespace tavrix::measure
