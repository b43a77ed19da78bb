#include "library_client.h"

#include "measure_error.h"

namespace tavrix::measure {

std::u16string toLibraryPath(const std::string& utf8) {
  std::u16string out;
  const auto bad = [&] { fail(TVM_BAD_ARGUMENT, utf8 + ": the path is not valid UTF-8; rename the file"); };
  for (size_t i = 0; i < utf8.size();) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    // bad() throws; the values only keep compilers that cannot see it quiet.
    char32_t cp = 0;
    size_t len = 1;
    if (c < 0x80) {
      cp = c;
      len = 1;
    } else if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F;
      len = 2;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F;
      len = 3;
    } else if ((c & 0xF8) == 0xF0) {
      cp = c & 0x07;
      len = 4;
    } else {
      bad();
    }
    if (i + len > utf8.size()) bad();
    for (size_t k = 1; k < len; ++k) {
      const unsigned char cc = static_cast<unsigned char>(utf8[i + k]);
      if ((cc & 0xC0) != 0x80) bad();
      cp = (cp << 6) | (cc & 0x3F);
    }
    // Overlong forms, surrogates and values beyond Unicode are not characters.
    static constexpr char32_t kMinForLength[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMinForLength[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) bad();
    i += len;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

std::recursive_mutex& libraryMutex() {
  static std::recursive_mutex mutex;
  return mutex;
}

LibraryLock lockLibrary() {
  LibraryLock lock(libraryMutex());
  static const bool started = (initTavrix(), true);
  (void)started;
  return lock;
}

}  // namespace tavrix::measure
