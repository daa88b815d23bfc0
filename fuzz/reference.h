// Straightforward byte-by-byte models of both converters: each rule applied at each position, the
// buffer rewritten in place exactly as the format describes it. They are slow and obviously
// right; the fuzz targets check that the real converters give the same bytes.
#ifndef RUXA_FUZZ_REFERENCE_H_
#define RUXA_FUZZ_REFERENCE_H_

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace ruxa::reference {

struct Result {
  std::string file;        // everything written to the output
  std::string console;     // everything printed
  std::size_t header = 0;  // html: bytes of magic and colour fields at the start of `file`
};

inline bool At(const std::vector<std::uint8_t>& b, std::size_t i, const char* s) {
  const std::size_t len = std::strlen(s);
  return i + len <= b.size() && std::memcmp(b.data() + i, s, len) == 0;
}

inline Result Html(std::vector<std::uint8_t> b, bool batch) {
  Result r;
  const std::size_t n = b.size();
  int state = 0;
  r.file = "Ruxa";
  for (std::size_t i = 0; i < n; ++i) {
    if (!At(b, i, "<bo")) continue;
    for (std::size_t j = 0; j < 100; ++j) {
      const std::size_t p = i + j;
      if (p + 10 >= n) break;
      if (At(b, p, "xt=\"#")) {
        r.file.append(reinterpret_cast<const char*>(&b[p + 5]), 6);
        state = 2;
      }
      if (At(b, p, "or=\"#")) {
        if (state != 2) r.file += "000000";
        r.file.append(reinterpret_cast<const char*>(&b[p + 5]), 6);
        state = 2;
      }
    }
  }
  if (state != 2) r.file += "000000ffffff";
  r.header = r.file.size();
  if (batch) {
    for (std::size_t i = 0; i < n; ++i) {
      const char* forms[] = {"<br>", "</br>", "<br/>", "<br />"};
      for (const char* f : forms) {
        if (At(b, i, f)) {
          b[i] = '\\';
          b[i + 1] = 'n';
          for (std::size_t k = 2; k < std::strlen(f); ++k) b[i + k] = 0;
        }
      }
    }
  }
  for (std::size_t i = 0; i < n; ++i) {
    if (At(b, i, "<he")) {
      r.console += "removing the head";
      if (state != 6) {
        for (std::size_t k = 0; i + k < n; ++k) {
          b[i + k] = 0;
          if (i + k + 2 < n && b[i + k + 1] == '/' && b[i + k + 2] == 'h') {
            state = 6;
            for (std::size_t z = 1; z <= 5 && i + k + z < n; ++z) b[i + k + z] = 0;
            break;
          }
        }
      }
    }
    if (b[i] == '<') {
      for (std::size_t k = i; k < n && b[k] != '>'; ++k) b[k] = 0;
    }
    if (b[i] == '>') b[i] = 0;
    if (b[i] == '&') {
      const struct {
        const char* name;
        std::uint8_t byte;
      } entities[] = {{"&lt;", 0x3C},     {"&gt;", 0x3E},     {"&amp;", 0x26},
                      {"&quot;", 0x22},   {"&eacute;", 0xE9}, {"&egrave;", 0xE8},
                      {"&agrave;", 0xE0}, {"&ccedil;", 0xE7}};
      for (const auto& e : entities) {
        if (At(b, i, e.name)) {
          b[i] = e.byte;
          for (std::size_t k = 1; k < std::strlen(e.name); ++k) b[i + k] = 0;
        }
      }
    }
    if (b[i] != 0) {
      r.file += static_cast<char>(b[i]);
      if (!batch) r.console += static_cast<char>(b[i]);
    }
  }
  return r;
}

inline Result Doc(std::vector<std::uint8_t> b) {
  Result r;
  const std::size_t n = b.size();
  if (n < 2096 || (b[2095] != 'D' && b[2095] != '6')) {
    r.console = "Invalid doc file! \n";
    return r;
  }
  const bool d = b[2095] == 'D';
  const std::uint8_t terminator = d ? 0x04 : 0x14;
  for (std::size_t p = 0; p < n; ++p) {
    const bool signature = d ? (p + 2 < n && b[p] == 2 && b[p + 2] == 0xD9)
                             : (p + 4 < n && b[p] == 2 && b[p + 2] == 3 && b[p + 4] == 1);
    if (!signature) continue;
    for (std::size_t k = 0; k <= (d ? 2u : 6u); k += 2) {
      if (p + k < n) b[p + k] = 0;
    }
    for (std::size_t q = p; q < n && b[q] != terminator; ++q) {
      if (b[q] != 0) r.file += static_cast<char>(b[q]);
    }
  }
  return r;
}

}  // namespace ruxa::reference

#endif  // RUXA_FUZZ_REFERENCE_H_
