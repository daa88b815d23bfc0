#include "kernels/kernels.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "html2Ruxa/block_walk.h"
#include "tests/each_kernel.h"
#include "tests/guard_page.h"

namespace ruxa {
namespace {

class Kernel : public testing::EachKernel {
 protected:
  const HtmlBlocks& html_ = HtmlBlocksFor(GetParam());
};
RUXA_FOR_EACH_KERNEL(Kernel);

// The programs use the widest kernel the processor runs; the tests of the converters run every
// one of them against the byte-by-byte model, so every one must be on the list.
TEST(Kernels, EveryKernelOfThisProcessorIsListed) {
  const std::vector<VectorKernel> kernels = AvailableVectorKernels();
  ASSERT_FALSE(kernels.empty());
  EXPECT_EQ(kernels.front(), VectorKernel::Portable);
  EXPECT_EQ(ActiveVectorKernel(), kernels.back());
#if defined(__aarch64__)
  EXPECT_EQ(kernels.back(), VectorKernel::Neon);  // part of every AArch64 processor
#elif defined(__x86_64__)
  EXPECT_GE(kernels.size(), 2u);  // SSE2 is part of every x86-64 processor
#endif
  for (const VectorKernel kernel : kernels) {
    EXPECT_EQ(AvailableKernelNamed(KernelName(kernel)), kernel);
    const ScopedVectorKernel use(kernel);
    EXPECT_EQ(ActiveVectorKernel(), kernel);
  }
  EXPECT_EQ(ActiveVectorKernel(), kernels.back());
}

// `find_markup` stops at each of its four bytes wherever it lies in a vector, or at the end.
TEST_P(Kernel, FindMarkupStopsAtTheFirstMarkupByte) {
  for (const std::uint8_t byte : {'<', '>', '&', '\0'}) {
    for (const std::size_t at : {0, 15, 16, 31, 32, 63, 64, 100, 127, 129}) {
      std::uint8_t b[130];
      std::memset(b, 'x', sizeof b);
      b[at] = byte;
      EXPECT_EQ(html_.find_markup(b, 0, sizeof b), at) << at;
      EXPECT_EQ(html_.find_markup(b, at + 1, sizeof b), sizeof b);
      EXPECT_EQ(html_.find_markup(b, 0, at), at);
    }
  }
}

// `find_pattern` finds where a pattern first lies whole in its range, as a look at each position
// does: over bytes where whole patterns, parts of them, or neither abound, from starts and to
// ends around the vector steps.
TEST_P(Kernel, FindPatternFindsTheFirstWholePattern) {
  const BytePattern patterns[] = {
      {{'/', 'h', 'h'}, {0, 1, 1}}, {{'/', 'h', 'h'}, {0, 2, 2}}, {{'/', 'h', 'k'}, {0, 2, 4}}};
  std::minstd_rand random(1);
  for (const BytePattern& t : patterns) {
    for (const unsigned odds : {2, 9, 400}) {  // of a byte other than '/'
      std::uint8_t b[200];
      for (std::uint8_t& c : b) c = random() % odds != 0 ? '/' : "hk"[random() % 2];
      const auto lies_at = [&](std::size_t p) {
        return b[p] == t.byte[0] && b[p + t.at[1]] == t.byte[1] && b[p + t.at[2]] == t.byte[2];
      };
      for (const std::size_t i : {0, 1, 63, 64, 100}) {
        for (std::size_t n = i; n <= sizeof b; ++n) {
          std::size_t p = i;
          while (p + t.at[2] < n && !lies_at(p)) ++p;
          EXPECT_EQ(k_.find_pattern(b, i, n, t), p + t.at[2] < n ? p : n) << i << " " << n;
        }
      }
    }
  }
}

// Which bytes of a block lie inside tags, from its '<' and '>' and whether it starts in one: a
// tag runs from a '<' met outside a tag to the first '>' after it ('<' inside a tag and '>'
// outside one change nothing). Blocks written as strings, one bit per character.
TEST(InsideTags, FollowsEachTagFromItsOpenToItsClose) {
  struct Case {
    const char* bytes;
    bool in_tag;
    const char* inside;  // 'x' for a byte inside a tag
  } const cases[] = {
      {"a<b>c", false, ".xx.."},        {"a<b>c", true, "xxx.."},
      {"ab>c<d", true, "xx..xx"},       {"a<b<c>d>e", false, ".xxxx...."},
      {"a>b<c>d", false, "...xx.."},    {"<<>>", true, "xx.."},
  };
  for (const Case& c : cases) {
    std::uint64_t open = 0, close = 0, expected = 0;
    const std::size_t size = std::strlen(c.bytes);
    for (std::size_t k = 0; k < size; ++k) {
      open |= std::uint64_t{c.bytes[k] == '<'} << k;
      close |= std::uint64_t{c.bytes[k] == '>'} << k;
      expected |= std::uint64_t{c.inside[k] == 'x'} << k;
    }
    const std::uint64_t inside = InsideTags(open, close, c.in_tag);
    const std::uint64_t shown = (std::uint64_t{1} << size) - 1;
    EXPECT_EQ(inside & shown, expected) << c.bytes << " " << c.in_tag;
    // A tag still open at the block's last byte runs on to the end of the block.
    EXPECT_EQ(inside >> 63, (inside >> (size - 1) & 1) && c.bytes[size - 1] != '>') << c.bytes;
  }
}

#if defined(RUXA_TEST_GUARD_PAGE)
// Every kernel reads no byte past what its contract allows: the data ends where an unreadable
// page begins, so one byte too far ends the test.
TEST_P(Kernel, ReadsNothingPastItsData) {
  testing::GuardedBytes memory(4096);
  std::uint8_t* const end = memory.end();
  for (std::size_t i = 1; i <= 4096; ++i) {
    end[-static_cast<std::ptrdiff_t>(i)] = "<br />&amp;x\0"[i % 13];
  }
  html_.scan(end - 64);
  // Colour windows that run into the end: those that fit are searched a vector at a time.
  SourceBuffer tail{end - 300, 300};
  for (std::size_t k = 0; k < tail.size; ++k) tail.data[k] = "<bo or=\"#"[k % 9];
  StringOutputStream fields;
  ColourScanner(html_.find_colours, tail, fields).Finish();
  EXPECT_EQ(fields.str().size(), 1788u);  // 297 fields of six digits, and the default text
  html_.tags(end - 67);
  for (const std::size_t size : {1, 15, 16, 17, 31, 32, 33, 63, 64, 65, 100}) {
    // (The compaction of the step before may leave any bytes past those it kept.)
    std::memset(end - size, 'y', size);
    EXPECT_EQ(k_.find_either(end - size, 0, size, 0xF0, 0xF1), size);
    std::memset(end - size, 'x', size);
    EXPECT_EQ(html_.find_markup(end - size, 0, size), size);
    std::memset(end - size, '/', size);
    EXPECT_EQ(k_.find_pattern(end - size, 0, size, {{'/', '/', 'h'}, {0, 2, 4}}), size);
    std::memset(end - size, 0, size);
    EXPECT_EQ(k_.skip_zeros(end - size, 0, size), size);
    EXPECT_EQ(k_.compact_nonzero(end - size, end - size, size), 0u);
  }
}
#endif

}  // namespace
}  // namespace ruxa
