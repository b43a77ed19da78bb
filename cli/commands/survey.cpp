// `tavrix survey`: every audio file of a collection analysed alone (the
// reverberation with its energy parameters and the speech transmission
// index, each at its defaults), one row per file, channel and band, on
// worker processes.
#include "survey.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "audio_discovery.h"
#include "cli_error.h"
#include "commands.h"
#include "measure_error.h"
#include "number_text.h"
#include "survey_report.h"
#include "worker_pool.h"

namespace tavrix::cli {

using namespace tavrix::measure;

namespace {

struct SurveyArgs {
  std::vector<std::string> paths;
  int jobs = 0;
  std::string format = "csv";
  std::string output;
  bool resume = false;
};

int coreCount() {
  const long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<int>(n) : 1;
}

std::string extensionList() {
  std::string s;
  for (const std::string& e : audioExtensions()) {
    if (!s.empty()) s += ", ";
    s += e;
  }
  return s;
}

// "3 min 20 s", "45 s", "1 h 5 min".
std::string clockText(double seconds) {
  const long s = std::lround(seconds);
  if (s >= 3600) return std::to_string(s / 3600) + " h " + std::to_string(s % 3600 / 60) + " min";
  if (s >= 60) return std::to_string(s / 60) + " min " + std::to_string(s % 60) + " s";
  return std::to_string(s) + " s";
}

// The count, the rate and the time left on one line of a terminal,
// rewritten at most a few times a second.
class SurveyProgress {
 public:
  explicit SurveyProgress(size_t total)
      : total_(total), active_(isatty(STDERR_FILENO) == 1), start_(Clock::now()), shown_(start_) {}
  ~SurveyProgress() { clear(); }

  void update(size_t done) {
    if (!active_) return;
    const Clock::time_point now = Clock::now();
    if (done < total_ && now - shown_ < std::chrono::milliseconds(200)) return;
    shown_ = now;
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    std::string line = "surveying: " + std::to_string(done) + "/" + std::to_string(total_) + " files";
    if (done > 0 && elapsed > 0) {
      const double rate = static_cast<double>(done) / elapsed;
      line += ", " + fixed(rate, 1) + " files/s, " + clockText(static_cast<double>(total_ - done) / rate) +
              " left";
    }
    const int width = 30;
    const int filled = total_ > 0 ? static_cast<int>(width * done / total_) : width;
    std::fprintf(stderr, "\r\033[K[%s%s] %s", std::string(static_cast<size_t>(filled), '#').c_str(),
                 std::string(static_cast<size_t>(width - filled), ' ').c_str(), line.c_str());
    std::fflush(stderr);
    drawn_ = true;
  }

  // Clears the line so that a message can be printed; the next update draws it again.
  void clear() {
    if (drawn_) std::fprintf(stderr, "\r\033[K");
    drawn_ = false;
  }

 private:
  using Clock = std::chrono::steady_clock;
  size_t total_;
  bool active_, drawn_ = false;
  Clock::time_point start_, shown_;
};

std::string readWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

Command addSurveyCommand(CLI::App& app) {
  auto a = std::make_shared<SurveyArgs>();
  CLI::App* sub = app.add_subcommand(
      "survey",
      "Reverberation, energy parameters and speech transmission index of every audio file of a "
      "collection, each analysed alone (every channel on its own) as 'reverb --parameters' and 'sti' "
      "analyse it with their defaults: one CSV row per file, channel and band (octave bands 125 Hz to "
      "8 kHz, then A and Z) with the channel's STI on each, or one JSON line per file. Folders are "
      "searched recursively for audio files. Files are analysed in worker processes and written in the "
      "order of their sorted paths as they complete. A file that cannot be analysed is reported with "
      "its reason (a row with the column 'error') and the others go on; the exit status is then 1.");
  sub->add_option("PATH", a->paths, "Audio files and folders")->required();
  sub->add_option("-j,--jobs", a->jobs, "Worker processes (default: the number of cores)")
      ->check(CLI::PositiveNumber);
  sub->add_option("--format", a->format, "csv: one row per file, channel and band; json: one line per file")
      ->check(CLI::IsMember({"csv", "json"}))
      ->capture_default_str();
  sub->add_option("-o,--output", a->output, "Write to this file (default: standard output)");
  sub->add_flag(
      "--resume", a->resume,
      "Append to the output file, skipping the files it already holds (those analysed and "
      "those that failed; the last file of a CSV again, as a stop may have cut its rows); needs --output");
  return {
      sub, [a] {
        if (a->resume && a->output.empty())
          usageError("--resume needs --output: the file whose surveyed files are skipped");
        const bool csv = a->format == "csv";
        const std::vector<std::string> files = findAudioFiles(a->paths);
        if (files.empty())
          usageError("no audio files found; the extensions searched for are " + extensionList());

        // What an interrupted survey already wrote is kept; a half-written
        // last line is cut.
        std::set<std::string> done;
        bool fresh = true;
        if (a->resume && std::filesystem::exists(a->output)) {
          const std::string text = readWhole(a->output);
          size_t complete = 0;
          done = surveyedFiles(text, csv, a->output, complete);
          std::error_code ec;
          if (complete < text.size()) std::filesystem::resize_file(a->output, complete, ec);
          if (ec)
            fail(TVM_WRITE_FAILED,
                 a->output + ": cannot be shortened to its last whole line (" + ec.message() + ")");
          fresh = complete == 0;
        }
        std::FILE* out = stdout;
        std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(nullptr, &std::fclose);
        if (!a->output.empty()) {
          file.reset(std::fopen(a->output.c_str(), a->resume ? "ab" : "wb"));
          if (!file)
            fail(TVM_WRITE_FAILED,
                 a->output + ": cannot be written; check that the folder exists and is writable");
          out = file.get();
        }
        std::vector<size_t> items;
        for (size_t k = 0; k < files.size(); ++k) {
          if (!done.count(files[k])) items.push_back(k);
        }
        SurveyProgress progress(items.size());
        // Rows on a terminal share it with the progress line, which they replace.
        const bool rowsOnTerminal = out == stdout && isatty(STDOUT_FILENO) == 1;
        const auto write = [&](const std::string& text) {
          if (rowsOnTerminal) progress.clear();
          if (std::fwrite(text.data(), 1, text.size(), out) != text.size() || std::fflush(out) != 0)
            fail(TVM_WRITE_FAILED, (a->output.empty() ? std::string("standard output") : a->output) +
                                       ": writing failed; check the free disk space");
        };
        if (csv && fresh) write(surveyCsvHeader());
        if (!done.empty())
          std::fprintf(stderr, "tavrix: %zu of %zu files already in %s\n", files.size() - items.size(),
                       files.size(), a->output.c_str());
        size_t failures = 0;
        WorkerPool pool;
        pool.jobs = a->jobs > 0 ? a->jobs : coreCount();
        const auto format = [csv](const std::string& path, const SurveyTable& t) {
          return csv ? surveyCsvRows(t) : surveyJsonRecord(path, t);
        };
        pool.work = [&files, &format](size_t k) {
          const std::string& path = files[k];
          try {
            return WorkResult{false, format(path, surveyFile(path)), ""};
          } catch (const std::bad_alloc&) {
            return WorkResult{true, "", path + ": out of memory while analysing it"};
          } catch (const std::exception& e) {
            return WorkResult{true, "", e.what()};
          }
        };
        pool.deliver = [&](size_t k, const WorkResult& r) {
          if (!r.failed) return write(r.output);
          ++failures;
          // The layer's sentences name the file; a worker's end does not.
          const std::string error = r.error.rfind(files[k], 0) == 0 ? r.error : files[k] + ": " + r.error;
          progress.clear();
          std::fprintf(stderr, "tavrix: %s\n", error.c_str());
          write(format(files[k], surveyFailure(files[k], error)));
        };
        pool.progress = [&](size_t n) { progress.update(n); };
        progress.update(0);
        pool.run(items);
        progress.clear();
        if (failures > 0)
          processingError(std::to_string(failures) + " of " + std::to_string(items.size()) +
                          " files could not be analysed; their reasons are above and in the column 'error'");
      }};
}

}  // namespace tavrix::cli
