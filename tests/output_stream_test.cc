#include "driver/output_stream.h"

#include <gtest/gtest.h>

#include <string>

#include "kernels/kernels.h"
#include "tests/each_kernel.h"

namespace ruxa {
namespace {

class StreamEachKernel : public testing::EachKernel {};
RUXA_FOR_EACH_KERNEL(StreamEachKernel);

TEST_P(StreamEachKernel, WriteNonZeroDropsExactlyTheZeros) {
  std::string text16, mixed;  // 16-bit text, as documents hold it; an irregular mixture
  for (int i = 0; i < 40; ++i) text16 += std::string(1, static_cast<char>('a' + i % 26)) + '\0';
  for (int i = 0; i < 300; ++i) mixed += static_cast<char>(i * 7 % 5 == 0 ? 0 : i);
  const std::string kCases[] = {"", std::string(50, '\0'), std::string(50, 'x'), text16,
                                text16.substr(1), mixed,
                                // Zeros dropped before this buffer first fills (16 KiB), then more.
                                std::string(300, '\0') + std::string(262000, 'y') + mixed};
  for (const std::string& data : kCases) {
    StringOutputStream out;
    const std::size_t kept =
        out.WriteNonZero(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
    std::string expected = data;
    std::erase(expected, '\0');
    EXPECT_EQ(out.str(), expected) << data.size();
    EXPECT_EQ(kept, expected.size());
  }
}

// In place, and into a separate buffer, on every kernel: the bytes kept, and nothing written
// at or past `to + size`. Blocks without zeros, of 16-bit text, of zeros alone, and mixed.
TEST_P(StreamEachKernel, CompactNonZeroStaysWithinItsRange) {
  const auto byte = [](int kind, std::size_t i) -> char {
    switch (kind) {
      case 0:
        return static_cast<char>('a' + i % 26);
      case 1:
        return i % 2 ? 0 : static_cast<char>('a' + i % 26);
      case 2:
        return 0;
      default:
        return i % 3 == 0 ? 0 : static_cast<char>('a' + i % 26);
    }
  };
  const auto compact = ActiveKernels().compact_nonzero;
  for (int kind = 0; kind < 4; ++kind) {
    for (const std::size_t size : {0, 1, 15, 16, 17, 31, 32, 33, 63, 64, 65, 130}) {
      std::string data;
      for (std::size_t i = 0; i < size; ++i) data += byte(kind, i);
      std::string expected = data;
      std::erase(expected, '\0');
      std::string in_place = data + "#";
      const std::size_t kept =
          compact(reinterpret_cast<std::uint8_t*>(in_place.data()),
                  reinterpret_cast<const std::uint8_t*>(in_place.data()), size);
      EXPECT_EQ(in_place.substr(0, kept), expected) << size;
      EXPECT_EQ(in_place.back(), '#') << size;
      std::string apart(size + 1, '#');
      compact(reinterpret_cast<std::uint8_t*>(apart.data()),
              reinterpret_cast<const std::uint8_t*>(data.data()), size);
      EXPECT_EQ(apart.substr(0, kept), expected);
      EXPECT_EQ(apart.back(), '#') << size;
    }
  }
}

}  // namespace
}  // namespace ruxa
