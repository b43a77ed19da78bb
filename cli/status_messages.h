// The one place where the library's status codes become words.
#pragma once

#include <string>

namespace tavrix::cli {

// A short label for tables ("ok", "no decay", ...).
std::string statusLabel(int status);

// One human sentence: what the code means and, where it helps, what to do.
std::string statusSentence(int status);

}  // namespace tavrix::cli
