#include "fileio/file_path.h"

#include <cstdint>

#ifdef _WIN32
#include <wchar.h>
#endif

namespace tavrix {
namespace {

bool isHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool isLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// True when every surrogate in the string is part of a pair.
bool wellFormed(const char16_t* s) {
  for (; *s; ++s) {
    if (isHighSurrogate(*s)) {
      if (!isLowSurrogate(s[1])) return false;
      ++s;
    } else if (isLowSurrogate(*s)) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::optional<std::string> utf16ToUtf8(const char16_t* path) {
  if (!path || !wellFormed(path)) return std::nullopt;
  std::string out;
  for (const char16_t* s = path; *s; ++s) {
    uint32_t c = *s;
    if (isHighSurrogate(*s)) {
      c = 0x10000u + ((c - 0xD800u) << 10) + (static_cast<uint32_t>(s[1]) - 0xDC00u);
      ++s;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::FILE* openFile(const char16_t* path, const char* mode) {
  if (!path || !mode || !wellFormed(path)) return nullptr;
#ifdef _WIN32
  static_assert(sizeof(wchar_t) == sizeof(char16_t));
  std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
  return _wfopen(reinterpret_cast<const wchar_t*>(path), wideMode.c_str());
#else
  const auto utf8 = utf16ToUtf8(path);
  if (!utf8 || utf8->empty()) return nullptr;
  return std::fopen(utf8->c_str(), mode);
#endif
}

}  // namespace tavrix
