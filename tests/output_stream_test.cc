#include "driver/output_stream.h"

#include <gtest/gtest.h>

#include <string>

namespace ruxa {
namespace {

TEST(OutputStream, WriteNonZeroDropsExactlyTheZeros) {
  std::string text16, mixed;  // 16-bit text, as documents hold it; an irregular mixture
  for (int i = 0; i < 40; ++i) text16 += std::string(1, static_cast<char>('a' + i % 26)) + '\0';
  for (int i = 0; i < 300; ++i) mixed += static_cast<char>(i * 7 % 5 == 0 ? 0 : i);
  const std::string kCases[] = {"",
                                std::string(50, '\0'),
                                std::string(50, 'x'),
                                text16,
                                text16.substr(1),
                                mixed,
                                std::string(300000, 'y') + text16 + mixed};  // crosses drains
  for (const std::string& data : kCases) {
    StringOutputStream out;
    out.WriteNonZero(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
    std::string expected = data;
    std::erase(expected, '\0');
    EXPECT_EQ(out.str(), expected) << data.size();
  }
}

}  // namespace
}  // namespace ruxa
