// An input that loads in chosen steps, without a thread, for tests and fuzzers: each time a
// converter waits for more, the next step's bytes are copied in. Until then the buffer holds
// bytes that would change the output if a converter read them, or were overwritten by the copy
// if it wrote them, so that looking one byte too far ahead gives other output.
#ifndef RUXA_FUZZ_STEPPED_LOAD_H_
#define RUXA_FUZZ_STEPPED_LOAD_H_

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "driver/output_stream.h"
#include "driver/source_buffer.h"

namespace ruxa::testing {

class SteppedLoad : public LoadCount {
 public:
  /// Loads `input` into `buffer` (resized to fit) in steps of the sizes in `steps`, in turn, the
  /// last one repeated.
  SteppedLoad(const std::vector<std::uint8_t>& input, std::vector<std::uint8_t>& buffer,
              std::vector<std::size_t> steps)
      : input_(input), buffer_(buffer), steps_(std::move(steps)) {
    // Markup, entity, signature and terminator bytes, in an order that makes no pattern.
    static constexpr std::uint8_t kNotYet[] = {'<', 'a', 0, '>',  2,   '&', 0xD9, 4,  'h',
                                               '/', 3,   1, 0x14, 'b', 'r', 'o',  ' '};
    buffer_.resize(input.size());
    for (std::size_t i = 0; i < buffer_.size(); ++i) buffer_[i] = kNotYet[i % sizeof kNotYet];
  }

  std::size_t Now() override { return count_; }
  std::size_t WaitFor(std::size_t want) override {
    while (count_ < want) Step();
    return count_;
  }
  bool Attach(LoadFollower& follower) override {
    if (count_ >= input_.size()) return false;
    follower_ = &follower;
    return true;
  }
  void Detach() override { follower_ = nullptr; }

 private:
  // Copies in the next step's bytes, and hands every other count to the follower, if there
  // is one, as a loading thread does when the converter is busy now and then.
  void Step() {
    const std::size_t step = steps_[std::min(next_, steps_.size() - 1)];
    ++next_;
    const std::size_t end = std::min(input_.size(), count_ + std::max<std::size_t>(step, 1));
    std::memcpy(buffer_.data() + count_, input_.data() + count_, end - count_);
    count_ = end;
    if (follower_ != nullptr && next_ % 2 == 0) follower_->Follow(count_);
  }

  const std::vector<std::uint8_t>& input_;
  std::vector<std::uint8_t>& buffer_;
  const std::vector<std::size_t> steps_;
  std::size_t next_ = 0;
  std::size_t count_ = 0;
  LoadFollower* follower_ = nullptr;
};

/// What a converter operation writes and prints for `input` loaded in `steps`.
template <class Convert>
std::pair<std::string, std::string> ConvertStepped(const std::vector<std::uint8_t>& input,
                                                   std::vector<std::size_t> steps,
                                                   Convert convert) {
  std::vector<std::uint8_t> buffer;
  SteppedLoad load(input, buffer, std::move(steps));
  SourceBuffer source{buffer.data(), buffer.size(), &load};
  StringOutputStream out, console;
  convert(source, out, console);
  return {out.str(), console.str()};
}

/// Step plans worth trying on an input of `size` bytes: a byte at a time, steps just under, at
/// and just over a block, and a long stall before the last few bytes; past a few blocks, a
/// megabyte at a time, as a loading thread hands them out.
inline std::vector<std::vector<std::size_t>> StepPlans(std::size_t size) {
  if (size > 5000) return {{std::size_t{1} << 20}};
  return {{1}, {63}, {64}, {65}, {size > 5 ? size - 5 : 1, 1}};
}

}  // namespace ruxa::testing

#endif  // RUXA_FUZZ_STEPPED_LOAD_H_
