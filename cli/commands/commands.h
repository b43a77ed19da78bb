// The subcommands. Each registers its options on the application and returns
// the action to run when it was chosen on the command line.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>

namespace tavrix::cli {

using namespace tavrix::measure;

struct Command {
  CLI::App* app;
  std::function<void()> run;
};

Command addDemoCommand(CLI::App& app);
Command addSweepCommand(CLI::App& app);
Command addIrCommand(CLI::App& app);
Command addReverbCommand(CLI::App& app);
Command addStiCommand(CLI::App& app);
Command addSpectrumCommand(CLI::App& app);
Command addCalibrateCommand(CLI::App& app);
Command addSpatialCommand(CLI::App& app);
Command addDevicesCommand(CLI::App& app);
Command addMeasureCommand(CLI::App& app);
Command addSurveyCommand(CLI::App& app);

// The --channel option of commands that read audio files: 1-based, so 0 and
// negative numbers are usage errors (readAudio checks the upper end). Another
// name and help text serve a second file's channel.
void addChannelOption(CLI::App* command, int& channel, const std::string& name = "--channel",
                      const std::string& help = "Channel of a multichannel file (1 = first)");

// Prints what `reverb` prints for these files with its default options and
// the given --format (table, csv, json) and --plot (empty: none).
void reportReverberation(const std::vector<std::string>& files, const std::string& format,
                         const std::string& plot);

// Parses "a,b,c" into numbers; a bad list is a usage error naming the option.
std::vector<double> parseNumberList(const std::string& text, const std::string& option);

}  // namespace tavrix::cli
