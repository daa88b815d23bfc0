#ifndef RUXA_TESTS_GUARD_PAGE_H_
#define RUXA_TESTS_GUARD_PAGE_H_

// Memory whose last byte is followed by a page that cannot be read: data placed at its end turns
// a read one byte too far into a crash of the test. Where the system does not map memory by hand
// (Windows), it is ordinary memory, and the tests that use it check bytes alone.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#if __has_include(<sys/mman.h>)
#include <sys/mman.h>
#include <unistd.h>
#define RUXA_TEST_GUARD_PAGE 1
#endif

namespace ruxa::testing {

class GuardedBytes {
 public:
#if defined(RUXA_TEST_GUARD_PAGE)
  /// Room for `capacity` bytes before the guard page.
  explicit GuardedBytes(std::size_t capacity)
      : page_(static_cast<std::size_t>(::sysconf(_SC_PAGESIZE))),
        size_((capacity + page_ - 1) / page_ * page_ + page_) {
    void* const mapped =
        ::mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) std::abort();
    start_ = static_cast<std::uint8_t*>(mapped);
    if (::mprotect(end(), page_, PROT_NONE) != 0) std::abort();
  }
  ~GuardedBytes() { ::munmap(start_, size_); }
  /// Where the guard page begins.
  std::uint8_t* end() const { return start_ + size_ - page_; }
#else
  explicit GuardedBytes(std::size_t capacity) : plain_(capacity) {}
  std::uint8_t* end() { return plain_.data() + plain_.size(); }
#endif
  GuardedBytes(const GuardedBytes&) = delete;
  GuardedBytes& operator=(const GuardedBytes&) = delete;

  /// Copies `size` bytes so that they end at the guard page; returns where they start.
  std::uint8_t* Place(const void* data, std::size_t size) {
    std::uint8_t* const at = end() - size;
    if (size != 0) std::memcpy(at, data, size);
    return at;
  }

 private:
#if defined(RUXA_TEST_GUARD_PAGE)
  std::size_t page_, size_;
  std::uint8_t* start_;
#else
  std::vector<std::uint8_t> plain_;
#endif
};

}  // namespace ruxa::testing

#endif  // RUXA_TESTS_GUARD_PAGE_H_
