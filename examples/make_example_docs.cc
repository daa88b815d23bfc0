// Writes two small word-processor documents into the current directory, one in each layout that
// doc2Ruxa recognises: letter.doc (marker 'D') and MEMO.DOC (marker '6'). Their text is stored
// as 16-bit little-endian characters between stretches of binary filler, the way such documents
// hold it.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kSize = 4096;
constexpr std::size_t kMarker = 2095;

std::vector<std::uint8_t> Filler() {
  std::vector<std::uint8_t> doc(kSize);
  // Arbitrary filler that never holds a signature start (02) or a terminator (04, 14).
  for (std::size_t i = 0; i < kSize; ++i)
    doc[i] = static_cast<std::uint8_t>((i * 37) % 5 == 0 ? 0xFF : 0);
  return doc;
}

void PutRun(std::vector<std::uint8_t>& doc, std::size_t at, std::vector<std::uint8_t> start,
            const std::string& text, std::uint8_t terminator) {
  for (const std::uint8_t b : start) doc[at++] = b;
  for (const char c : text) {
    doc[at++] = static_cast<std::uint8_t>(c);
    doc[at++] = 0;
  }
  doc[at] = terminator;
}

bool Save(const char* name, const std::vector<std::uint8_t>& doc) {
  std::FILE* f = std::fopen(name, "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(doc.data(), 1, doc.size(), f) == doc.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace

int main() {
  std::vector<std::uint8_t> letter = Filler();
  letter[kMarker] = 'D';
  PutRun(letter, 512, {0x02, 0x00, 0xD9, 0x00}, "Dear reader,\n", 0x04);
  PutRun(letter, 2400, {0x02, 0x00, 0xD9, 0x00},
         "this letter was written in layout D: each run starts with 02 ?? D9 and ends at 04.\n",
         0x04);

  std::vector<std::uint8_t> memo = Filler();
  memo[kMarker] = '6';
  // In layout '6' the byte after the signature is erased with it, hence the '*'.
  PutRun(memo, 600, {0x02, 0x00, 0x03, 0x00, 0x01, 0x00, '*', 0x00}, "MEMO\n", 0x14);
  PutRun(memo, 2600, {0x02, 0x00, 0x03, 0x00, 0x01, 0x00, '*', 0x00},
         "Layout 6 runs start with 02 ?? 03 ?? 01 and end at 14.\n", 0x14);

  if (!Save("letter.doc", letter) || !Save("MEMO.DOC", memo)) {
    std::perror("make_example_docs");
    return 1;
  }
  return 0;
}
