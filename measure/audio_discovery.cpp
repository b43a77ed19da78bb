#include "audio_discovery.h"

#include <sndfile.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "measure_error.h"

namespace tavrix::measure {

namespace {

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return s;
}

std::vector<std::string> sndfileExtensions() {
  std::vector<std::string> all;
  int count = 0;
  sf_command(nullptr, SFC_GET_FORMAT_MAJOR_COUNT, &count, sizeof count);
  for (int k = 0; k < count; ++k) {
    SF_FORMAT_INFO info{};
    info.format = k;
    if (sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &info, sizeof info) != 0 || info.extension == nullptr)
      continue;
    const std::string ext = lower(info.extension);
    // Headerless data cannot be opened without being told its layout, and a
    // .mat file in a folder of responses is far more often some other
    // matrix than the one layout libsndfile reads: name such files
    // explicitly to analyse them.
    if (ext == "raw" || ext == "mat") continue;
    all.push_back(ext);
  }
  // The names files of those formats usually carry besides libsndfile's own
  // ("oga" for Ogg, "m1a" for MPEG audio).
  for (const char* alias : {"wave", "aif", "aifc", "ogg", "opus", "mp2", "mp3"}) all.emplace_back(alias);
  std::sort(all.begin(), all.end());
  all.erase(std::unique(all.begin(), all.end()), all.end());
  return all;
}

bool isAudioName(const std::filesystem::path& p) {
  std::string ext = p.extension().string();
  if (ext.size() < 2) return false;
  ext = lower(ext.substr(1));
  const std::vector<std::string>& known = audioExtensions();
  return std::binary_search(known.begin(), known.end(), ext);
}

}  // namespace

const std::vector<std::string>& audioExtensions() {
  static const std::vector<std::string> extensions = sndfileExtensions();
  return extensions;
}

std::vector<std::string> findAudioFiles(const std::vector<std::string>& paths) {
  namespace fs = std::filesystem;
  std::vector<std::string> found;
  for (const std::string& path : paths) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec || !fs::exists(status)) fail(TVM_NO_FILE, path + ": no such file or folder; check the path");
    if (!fs::is_directory(status)) {
      found.push_back(path);
      continue;
    }
    fs::recursive_directory_iterator it(path, fs::directory_options::skip_permission_denied, ec), end;
    if (ec) fail(TVM_NO_FILE, path + ": the folder cannot be read (" + ec.message() + ")");
    for (; it != end; it.increment(ec)) {
      if (ec) fail(TVM_NO_FILE, path + ": the folder cannot be read (" + ec.message() + ")");
      std::error_code fileError;
      if (it->is_regular_file(fileError) && isAudioName(it->path())) found.push_back(it->path().string());
    }
  }
  std::sort(found.begin(), found.end());
  found.erase(std::unique(found.begin(), found.end()), found.end());
  return found;
}

}  // namespace tavrix::measure
