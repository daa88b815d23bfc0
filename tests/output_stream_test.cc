#include "driver/output_stream.h"

#include <gtest/gtest.h>

#include <string>

namespace ruxa {
namespace {

std::string WithoutZeros(const std::string& s) {
  std::string out;
  for (const char c : s) {
    if (c != 0) out += c;
  }
  return out;
}

TEST(OutputStream, WriteNonZeroDropsExactlyTheZeros) {
  std::string text16;  // 16-bit text, as documents store it
  for (int i = 0; i < 40; ++i) text16 += std::string(1, static_cast<char>('a' + i % 26)) + '\0';
  std::string mixed;
  for (int i = 0; i < 300; ++i) mixed += static_cast<char>(i * 7 % 5 == 0 ? 0 : i);
  const std::string kCases[] = {
      "", std::string(1, '\0'), "abc", std::string(50, '\0'), std::string(50, 'x'),
      text16, text16.substr(1), std::string(4, '\0') + text16, mixed,
      // Longer than the stream's buffer, so compaction crosses a drain.
      std::string(70000, 'y') + text16 + mixed,
  };
  for (const std::string& data : kCases) {
    StringOutputStream out;
    out.Write("<");
    out.WriteNonZero(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
    out.Write(">");
    EXPECT_EQ(out.str(), std::string("<").append(WithoutZeros(data)).append(">")) << data.size();
  }
}

class FailingStream : public OutputStream {
 protected:
  bool Sink(const std::uint8_t*, std::size_t) override { return false; }
};

TEST(OutputStream, RemembersTheFirstFailure) {
  FailingStream out;
  out.Write("abc");
  EXPECT_TRUE(out.ok());  // still buffered
  EXPECT_FALSE(out.Flush());
  out.Write("more");
  EXPECT_FALSE(out.Flush());
}

}  // namespace
}  // namespace ruxa
