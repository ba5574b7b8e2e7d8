#include "tools/cp936_text.h"

#include <iconv.h>

#include <cerrno>
#include <cstdio>

namespace {

// Converts as far as it can; stops at the first byte it cannot convert and
// says where through *consumed.
std::string Convert(const char* to, const char* from, const std::string& text, size_t* consumed,
                    bool* clean) {
  std::string out;
  *consumed = 0;
  *clean = false;
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return out;
  char* in = const_cast<char*>(text.data());
  size_t inLeft = text.size();
  char buffer[256];
  for (;;) {
    char* o = buffer;
    size_t oLeft = sizeof buffer;
    size_t r = iconv(cd, inLeft ? &in : nullptr, &inLeft, &o, &oLeft);
    out.append(buffer, sizeof buffer - oLeft);
    if (r != static_cast<size_t>(-1)) {
      if (inLeft == 0) {
        // Flush any shift state.
        o = buffer;
        oLeft = sizeof buffer;
        iconv(cd, nullptr, nullptr, &o, &oLeft);
        out.append(buffer, sizeof buffer - oLeft);
        *clean = true;
        break;
      }
      continue;
    }
    if (errno == E2BIG) continue;
    break;  // EILSEQ or EINVAL: a byte it cannot convert
  }
  *consumed = text.size() - inLeft;
  iconv_close(cd);
  return out;
}

}  // namespace

std::optional<std::string> Utf8ToCp936(const std::string& text) {
  size_t consumed;
  bool clean;
  std::string out = Convert("CP936", "UTF-8", text, &consumed, &clean);
  if (!clean) return std::nullopt;
  return out;
}

namespace {

std::string EscapeLineBreaks(const std::string& utf8) {
  std::string out;
  for (char c : utf8) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\n')
      out += "\\n";
    else if (c == '\r')
      out += "\\r";
    else
      out += c;
  }
  return out;
}

}  // namespace

std::string Cp936Line(const std::string& text) {
  std::string out;
  std::string rest = text;
  while (!rest.empty()) {
    size_t consumed;
    bool clean;
    out += EscapeLineBreaks(Convert("UTF-8", "CP936", rest, &consumed, &clean));
    if (clean) break;
    char escape[8];
    snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned char>(rest[consumed]));
    out += escape;
    rest.erase(0, consumed + 1);
  }
  return out;
}
