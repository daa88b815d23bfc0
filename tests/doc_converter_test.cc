#include "doc2Ruxa/doc_converter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fuzz/reference.h"
#include "fuzz/stepped_load.h"
#include "kernels/kernels.h"
#include "tests/each_kernel.h"
#include "tests/guard_page.h"

namespace ruxa {
namespace {

// A document of `size` bytes of `fill` with `marker` at the layout offset and `bytes` at `at`.
std::vector<std::uint8_t> Doc(std::size_t size, char marker, std::vector<std::uint8_t> bytes = {},
                              std::size_t at = 100, std::uint8_t fill = 0x20) {
  std::vector<std::uint8_t> doc(size, fill);
  if (size > kLayoutMarkerOffset) doc[kLayoutMarkerOffset] = static_cast<std::uint8_t>(marker);
  std::copy(bytes.begin(), bytes.end(), doc.begin() + static_cast<std::ptrdiff_t>(at));
  return doc;
}

class DocEachKernel : public testing::EachKernel {};
RUXA_FOR_EACH_KERNEL(DocEachKernel);

TEST_P(DocEachKernel, OutputFiles) {
  const std::string kInvalid = "Invalid doc file! \n";
  const struct {
    std::vector<std::uint8_t> doc;
    std::string file, console;
  } kCases[] = {
      {Doc(4000, 'D', {2, 0, 0xD9, 0, 'H', 0, 'i', 0, 4}), "Hi", ""},
      {Doc(4000, '6', {2, 0, 3, 0, 1, 0, 'A', 0, 'B', 0, 0x14}), "B", ""},  // p+6 erased
      {Doc(4000, 'D', {2, 0, 0xD9, 0, 'A', 0, 2, 0, 0xD9, 0, 'B', 0, 4}),
       "A\x02\xD9"
       "BB",
       ""},
      {Doc(4000, 'D'), "", ""},
      {Doc(2100, 'D', {2, 'x', 0xD9, 0x14, 'y', 4, 'z'}), "x\x14y", ""},
      {Doc(2100, 'D', {2, 0, 0xD9, 'a'}, 2096), "a", ""},  // no terminator: to the end
      {Doc(2099, 'D', {2, 0x44}, 2097), "", ""},           // signatures cut by the end
      {Doc(2100, '6', {2, 0, 3, 0}, 2096), "", ""},
      {Doc(2101, '6', {2, 0, 3, 0, 1}, 2096), "", ""},  // p+6 past the end
      {Doc(2102, '6', {2, 'a', 3, 'b', 1, 'c'}, 2096), "abc", ""},
      // A run of its own inside a run, whose p+6 is the first byte past the end.
      {Doc(2110, '6', {2, 'a', 3, 'b', 1, 'c', 'x', 'y', 2, 'd', 3, 'e', 1, 'f'}, 2096),
       "abcy\x02"
       "d\x03"
       "e\x01"
       "fdef",
       ""},
      // A run of its own inside a run, starting four bytes before the end.
      {Doc(2104, 'D', {2, 'a', 0xD9, 'b', 2, 'c', 0xD9, 'd'}, 2096),
       "ab\x02"
       "c\xD9"
       "dcd",
       ""},
      {Doc(2200, 'D', {2, 0, 0xD9}, 2090), "  D" + std::string(104, ' '), ""},
      {Doc(4000, '6', {2, 0, 3, 0, 1, 0, 0x14, 'k', 0x14}), "k", ""},  // erased terminator
      {Doc(2096, '6'), "", ""},
      // A later signature erases the terminator (its p+6): runs before it end there, its own
      // run goes on to the next one.
      {Doc(2200, '6', {2, 'a', 3, 'b', 1, 'c', 'd', 2, 'e', 3, 'f', 1, 'g', 0x14, 'h', 0x14}, 2096),
       "abc\x02"
       "e\x03"
       "f\x01"
       "gefgh",
       ""},
      // Nested runs over a long stretch of zeros, each written from the one compaction.
      {Doc(9000, 'D', {2, 'a', 0xD9, 0, 2, 'b', 0xD9, 0, 2, 'c', 0xD9}, 2100, 0),
       "a\x02"
       "b\xD9\x02"
       "c\xD9"
       "b\x02"
       "c\xD9"
       "c",
       ""},
      {{}, "", kInvalid},
      {Doc(2095, 'D', {2, 0, 0xD9, 'a'}, 10), "", kInvalid},
      {Doc(2096, 'd'), "", kInvalid},
  };
  for (const auto& c : kCases) {
    // Each document ends where an unreadable page begins: a signature cut by the end must
    // neither match nor erase anything beyond it.
    testing::GuardedBytes memory(c.doc.size());
    StringOutputStream out, console;
    SourceBuffer source{memory.Place(c.doc.data(), c.doc.size()), c.doc.size()};
    const ConvertOutcome outcome = ConvertDoc(source, out, console, RunMode::Single);
    EXPECT_EQ(out.str(), c.file);
    EXPECT_EQ(console.str(), c.console);
    EXPECT_EQ(outcome,
              c.console.empty() ? ConvertOutcome::Converted : ConvertOutcome::Unrecognised);
  }
}

TEST(DocConverter, OutputBound) {
  // Two nested runs give five bytes: "a 02 b D9" and "b".
  const std::vector<std::uint8_t> nested = Doc(2200, 'D', {2, 'a', 0xD9, 2, 'b', 0xD9, 4}, 2096);
  for (const std::uint64_t bound : {5, 4, 0}) {
    std::vector<std::uint8_t> doc = nested;
    StringOutputStream out, console;
    SourceBuffer source{doc.data(), doc.size()};
    const ConvertOutcome outcome = DocConverter(out, console).Convert(source, bound);
    EXPECT_EQ(outcome, bound >= 5 ? ConvertOutcome::Converted : ConvertOutcome::OverBound);
    EXPECT_EQ(console.str(), bound >= 5 ? "" : "Invalid doc file! \n");
  }
  EXPECT_EQ(DocConverter::OutputBound(1000), 16000u + (64u << 20));
}

// Documents of both layouts made of signatures (nested, cut, overlapping), terminators, zeros
// and text, `size` bytes or a little more each.
std::vector<std::vector<std::uint8_t>> Documents(int count, std::size_t size) {
  const std::vector<std::uint8_t> kPieces[] = {{2, 0, 0xD9, 0},
                                               {2, 'a', 0xD9},
                                               {2, 0, 3, 0, 1, 0, 'x'},
                                               {2, 'b', 3, 'c', 1},
                                               {4},
                                               {0x14},
                                               {'t', 0, 'e', 0, 'x', 0},
                                               {0, 0, 0, 0, 0, 0},
                                               {2, 0, 3, 0, 1, 0, 0x14},
                                               {'w', 'o', 'r', 'd'},
                                               {2},
                                               {0xD9, 3, 1}};
  std::uint32_t seed = 7;
  std::vector<std::vector<std::uint8_t>> docs;
  for (int number = 0; number < count; ++number) {
    std::vector<std::uint8_t> doc = Doc(kLayoutMarkerOffset + 1, number % 2 ? 'D' : '6');
    while (doc.size() < size) {
      seed = seed * 1664525 + 1013904223;
      const auto& piece = kPieces[(seed >> 8) % std::size(kPieces)];
      doc.insert(doc.end(), piece.begin(), piece.end());
    }
    docs.push_back(doc);
  }
  return docs;
}

// A document gives the model's bytes whether loaded whole or still loading, however its bytes
// arrive.
TEST_P(DocEachKernel, LoadingDocumentsGiveTheModelsBytes) {
  std::vector<std::vector<std::uint8_t>> docs = Documents(12, 4000);
  docs.push_back(Documents(1, (std::size_t{1} << 20) + 5000)[0]);
  for (std::size_t number = 0; number < docs.size(); ++number) {
    const reference::Result model = reference::Doc(docs[number]);
    std::vector<std::uint8_t> doc = docs[number];
    StringOutputStream out, console;
    SourceBuffer source{doc.data(), doc.size()};
    ConvertDoc(source, out, console, RunMode::Batch);
    EXPECT_EQ(out.str(), model.file) << number;
    for (const auto& plan : testing::StepPlans(doc.size())) {
      const auto stepped = testing::ConvertStepped(
          docs[number], plan, [](SourceBuffer& source, OutputStream& out, OutputStream& console) {
            ConvertDoc(source, out, console, RunMode::Batch);
          });
      EXPECT_TRUE(stepped == std::make_pair(model.file, model.console)) << number << " " << plan[0];
    }
  }
}

}  // namespace
}  // namespace ruxa
