// The one place where a host's UTF-16 path becomes an open file.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

namespace tavrix {

// UTF-8 form of a null-terminated UTF-16 string; nullopt for a null pointer or
// an unpaired surrogate (such a path names no file on any system).
std::optional<std::string> utf16ToUtf8(const char16_t* path);

// Opens the file named by a UTF-16 path with an fopen mode ("rb", "wb", "ab",
// "r+b"): _wfopen with the code units unchanged on Windows, fopen of the UTF-8
// form elsewhere. nullptr when the path is null or invalid or the open fails.
std::FILE* openFile(const char16_t* path, const char* mode);

// Closes a FILE* when it goes out of scope.
struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f) std::fclose(f);
  }
};

}  // namespace tavrix
