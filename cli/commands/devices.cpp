// `tavrix devices`: the host APIs and devices PortAudio sees, with their
// channels and default rates, as `measure --device` chooses among them.
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "cli_error.h"
#include "commands.h"
#include "output.h"
#include "sound_card.h"

namespace tavrix::cli {

using namespace tavrix::measure;

Command addDevicesCommand(CLI::App& app) {
  CLI::App* sub = app.add_subcommand(
      "devices",
      "List the audio host APIs and devices (JACK, ALSA, ...) with their input and output channels and "
      "default sample rates. 'measure --device' takes the number or the name; without it, measure uses "
      "JACK's default device when a JACK server runs (its rate is the server's), else the system's.");
  return {
      sub, [] {
        std::vector<SoundDevice> list = soundDevices();
        if (list.empty()) {
          processingError(
              "no audio server and no sound card found: start the JACK server (jackd) or connect a "
              "sound card");
        }
        // JACK's devices first: measure prefers them.
        std::stable_sort(list.begin(), list.end(),
                         [](const SoundDevice& a, const SoundDevice& b) { return a.jack && !b.jack; });
        TextTable table({"device", "name", "host API", "inputs", "outputs", "default rate Hz", "default"});
        for (const SoundDevice& d : list) {
          table.add({std::to_string(d.index), d.name, d.hostApi, std::to_string(d.inputs),
                     std::to_string(d.outputs), fixed(d.defaultRate, 0), d.isDefault ? "yes" : ""});
        }
        std::fputs(table.render().c_str(), stdout);
        if (std::none_of(list.begin(), list.end(), [](const SoundDevice& d) { return d.jack; })) {
          const char* server = std::getenv("JACK_DEFAULT_SERVER");
          std::printf("no JACK server answers%s%s%s\n", server ? " (JACK_DEFAULT_SERVER=" : "",
                      server ? server : "", server ? ")" : "");
        }
      }};
}

}  // namespace tavrix::cli
