// Which files of a folder tree are audio files to analyse: the extensions of
// the formats libsndfile reads.
#pragma once

#include <string>
#include <vector>

namespace tavrix::measure {

// Lower-case extensions without the dot ("wav", "flac", ...).
const std::vector<std::string>& audioExtensions();

// The files named, and the audio files found in the folders named (searched
// recursively, symbolic links to files followed, to folders not), as one
// sorted list without repeats. A named file is taken whatever its extension.
// A path that names nothing is a TVM_NO_FILE naming it.
std::vector<std::string> findAudioFiles(const std::vector<std::string>& paths);

}  // namespace tavrix::measure
