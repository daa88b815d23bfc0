#include "doc2Ruxa/doc_converter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ruxa {
namespace {

// A document of `size` bytes of 0x20 with `marker` at the layout offset and `bytes` at `at`.
std::vector<std::uint8_t> Document(std::size_t size, char marker,
                                   std::vector<std::uint8_t> bytes = {}, std::size_t at = 100) {
  std::vector<std::uint8_t> doc(size, 0x20);
  if (size > kLayoutMarkerOffset) doc[kLayoutMarkerOffset] = static_cast<std::uint8_t>(marker);
  std::copy(bytes.begin(), bytes.end(), doc.begin() + static_cast<std::ptrdiff_t>(at));
  return doc;
}

struct Converted {
  ConvertOutcome outcome;
  std::string file;
  std::string console;
};

Converted Convert(std::vector<std::uint8_t> doc) {
  StringOutputStream out, console;
  SourceBuffer source{doc.data(), doc.size()};
  const ConvertOutcome outcome = ConvertDoc(source, out, console, RunMode::Batch);
  return {outcome, out.str(), console.str()};
}

TEST(DocConverter, Runs) {
  const std::size_t kEnd = 4000;
  const struct {
    std::vector<std::uint8_t> doc;
    std::string file;
  } kCases[] = {
      {Document(kEnd, 'D', {2, 0, 0xD9, 0, 'H', 0, 'i', 0, 4}), "Hi"},
      // Layout '6' also erases the byte at p+6.
      {Document(kEnd, '6', {2, 0, 3, 0, 1, 0, 'A', 0, 'B', 0, 0x14}), "B"},
      // An inner signature is written by the outer run, then starts its own.
      {Document(kEnd, 'D', {2, 0, 0xD9, 0, 'A', 0, 2, 0, 0xD9, 0, 'B', 0, 4}),
       "A\x02\xD9" "BB"},
      {Document(kEnd, 'D'), ""},
      // The other layout's terminator does not end a run.
      {Document(2100, 'D', {2, 'x', 0xD9, 0x14, 'y', 4, 'z'}), "x\x14y"},
      // Without a terminator a run goes to the last byte.
      {Document(2100, 'D', {2, 0, 0xD9, 'a'}, 2096), "a"},
      // Signatures cut off by the end of the data start nothing.
      {Document(2099, 'D', {2, 0x44}, 2097), ""},
      {Document(2100, '6', {2, 0, 3, 0}, 2096), ""},
      // A '6' signature whose p+6 lies past the end still starts a run.
      {Document(2101, '6', {2, 0, 3, 0, 1}, 2096), ""},
      {Document(2102, '6', {2, 'a', 3, 'b', 1, 'c'}, 2096), "abc"},
      // The marker itself is a text byte when a run passes over it.
      {Document(2200, 'D', {2, 0, 0xD9}, 2090), "  D" + std::string(104, ' ')},
      // A terminator erased as byte p+6 of a '6' signature does not end that run.
      {Document(kEnd, '6', {2, 0, 3, 0, 1, 0, 0x14, 'k', 0x14}), "k"},
  };
  for (const auto& c : kCases) {
    const Converted converted = Convert(c.doc);
    EXPECT_EQ(converted.outcome, ConvertOutcome::Converted);
    EXPECT_EQ(converted.file, c.file);
    EXPECT_EQ(converted.console, "");
  }
}

TEST(DocConverter, RejectsShortOrUnmarkedBuffers) {
  const std::vector<std::uint8_t> kCases[] = {
      {}, Document(2095, 'D'), Document(2096, 'd'), Document(4000, 'X'),
      Document(2095, 'D', {2, 0, 0xD9, 'a'}, 10),
  };
  for (const auto& doc : kCases) {
    const Converted converted = Convert(doc);
    EXPECT_EQ(converted.outcome, ConvertOutcome::Rejected);
    EXPECT_EQ(converted.file, "");
    EXPECT_EQ(converted.console, "Invalid doc file! \n");
  }
  EXPECT_EQ(Convert(Document(2096, 'D')).outcome, ConvertOutcome::Converted);
  EXPECT_EQ(Convert(Document(2096, '6')).outcome, ConvertOutcome::Converted);
}

}  // namespace
}  // namespace ruxa
