// tavrix: room-acoustic measurement from the shell, through the library's C
// interface only.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "cli_error.h"
#include "commands.h"
#include "library_client.h"
#include "measure_error.h"

using namespace tavrix::cli;

int main(int argc, char** argv) {
  CLI::App app(
      "tavrix: measure a room with an exponential sine sweep. Make the sweep, turn its recording into an "
      "impulse response, and get reverberation times and the speech transmission index per band.\n"
      "Start with 'tavrix demo', which runs a whole simulated measurement.",
      "tavrix");
  app.set_version_flag("--version", std::string("tavrix ") + TAVRIX_VERSION);
  app.require_subcommand(1);
  app.fallthrough(false);
  std::vector<Command> commands{addDemoCommand(app),      addSweepCommand(app),   addIrCommand(app),
                                addReverbCommand(app),    addStiCommand(app),     addSpectrumCommand(app),
                                addCalibrateCommand(app), addSpatialCommand(app), addDevicesCommand(app),
                                addMeasureCommand(app),   addSurveyCommand(app)};
  if (argc < 2) {
    std::fputs(app.help().c_str(), stderr);
    return kExitUsage;
  }
  // An unknown first word would only be reported as a missing command.
  const std::string first = argv[1];
  if (first.empty() || first[0] != '-') {
    bool known = false;
    for (const Command& c : commands) known = known || c.app->get_name() == first;
    if (!known) {
      std::fprintf(stderr, "tavrix: '%s' is not a command; run 'tavrix --help' for the commands\n",
                   first.c_str());
      return kExitUsage;
    }
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    // One line: which command, what was wrong, where to look.
    std::string where = "tavrix";
    for (const Command& c : commands) {
      if (c.app->parsed()) where += " " + c.app->get_name();
    }
    std::fprintf(stderr, "%s: %s; run '%s --help' for the options\n", where.c_str(), e.what(), where.c_str());
    return kExitUsage;
  }
  try {
    // The tool runs its commands on one thread; the lock only starts the library.
    { const auto started = tavrix::measure::lockLibrary(); }
    for (const Command& c : commands) {
      if (c.app->parsed()) c.run();
    }
  } catch (const CliError& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "tavrix: %s\n", e.what());
    return e.exitCode;
  } catch (const tavrix::measure::MeasureError& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "tavrix: %s\n", e.what());
    return exitStatusOf(e);
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "tavrix: out of memory; analyse a shorter file\n");
    return kExitProcessing;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tavrix: %s\n", e.what());
    return kExitProcessing;
  }
  return 0;
}
