#include "driver/driver.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <algorithm>
#include <cstring>
#include <string>

#include "driver/name_rules.h"

namespace ruxa {

namespace {

constexpr std::string_view kInvalidFileName = "Error, invalid file name!\n";
constexpr std::string_view kCannotWrite = "Error, cannot write the output file!\n";
constexpr std::string_view kCannotList = "Error, cannot list the directory!\n";
constexpr std::string_view kPausePrompt = "Press Enter to continue . . . ";

// The memory an input is loaded into. It is mapped directly rather than taken from the heap, and
// large buffers ask for huge pages: faulting in a file of hundreds of megabytes four kilobytes at
// a time costs more than reading it.
class ByteStorage {
 public:
  ByteStorage() = default;
  ~ByteStorage() { Release(); }
  ByteStorage(const ByteStorage&) = delete;
  ByteStorage& operator=(const ByteStorage&) = delete;

  std::uint8_t* data() const { return data_; }
  std::size_t capacity() const { return mapped_; }

  // Makes room for at least `capacity` bytes, keeping the bytes already there.
  bool Grow(std::size_t capacity) {
    const std::size_t page = 4096;
    if (capacity > SIZE_MAX - page) return false;
    const std::size_t mapped = std::max(page, (capacity + page - 1) / page * page);
    void* p = data_ == nullptr ? ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE,
                                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)
                               : ::mremap(data_, mapped_, mapped, MREMAP_MAYMOVE);
    if (p == MAP_FAILED) return false;
    constexpr std::size_t kHugePage = std::size_t{2} << 20;
    if (mapped >= kHugePage) ::madvise(p, mapped, MADV_HUGEPAGE);  // a hint; failure is harmless
    data_ = static_cast<std::uint8_t*>(p);
    mapped_ = mapped;
    return true;
  }

  void Release() {
    if (data_ != nullptr) ::munmap(data_, mapped_);
    data_ = nullptr;
    mapped_ = 0;
  }

 private:
  std::uint8_t* data_ = nullptr;
  std::size_t mapped_ = 0;
};

// Closes a descriptor when it goes out of scope.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  // Closes now and reports whether the close succeeded (a delayed write error shows up here).
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

ssize_t ReadRetrying(int fd, std::uint8_t* into, std::size_t size) {
  ssize_t got;
  do {
    got = ::read(fd, into, size);
  } while (got < 0 && errno == EINTR);
  return got;
}

// Reads `fd` to its end into one buffer. For a regular file the buffer is sized from the file's
// length up front, so it is filled by a few large reads with no copy; anything else (a pipe, a
// file that grows meanwhile) makes the buffer grow. Returns false on a read error or when memory
// runs out.
bool LoadWhole(int fd, const struct stat& st, ByteStorage& storage, std::size_t& size) {
  constexpr std::size_t kMaxRead = std::size_t{1} << 30;
  const std::size_t expected = S_ISREG(st.st_mode) ? static_cast<std::size_t>(st.st_size) : 0;
  if (!storage.Grow(std::max<std::size_t>(expected, 64 * 1024))) return false;
  size = 0;
  for (;;) {
    if (size == storage.capacity()) {
      // Full: a small probe tells the end of the file from a file longer than announced.
      std::uint8_t probe[4096];
      const ssize_t got = ReadRetrying(fd, probe, sizeof probe);
      if (got < 0) return false;
      if (got == 0) return true;
      if (!storage.Grow(size * 2)) return false;
      std::memcpy(storage.data() + size, probe, static_cast<std::size_t>(got));
      size += static_cast<std::size_t>(got);
      continue;
    }
    const ssize_t got =
        ReadRetrying(fd, storage.data() + size, std::min(storage.capacity() - size, kMaxRead));
    if (got < 0) return false;
    if (got == 0) return true;
    size += static_cast<std::size_t>(got);
  }
}

enum class FileResult { Converted, Rejected, Skipped, Failed };

class Driver {
 public:
  explicit Driver(const ConverterProfile& profile) : profile_(profile), console_(STDOUT_FILENO) {}

  int Run(int argc, char** argv) {
    int status = argc == 3 ? RunSingle(argv[1], argv[2]) : RunBatch();
    console_.Flush();
    if (status == kExitOk && rejected_) status = kExitRejected;
    return status;
  }

 private:
  int RunSingle(const char* input, const char* output) {
    const Fd in(::open(input, O_RDONLY | O_CLOEXEC));
    struct stat st;
    if (in.get() < 0 || ::fstat(in.get(), &st) != 0 || S_ISDIR(st.st_mode)) {
      return Fail(kInvalidFileName);
    }
    return Convert(in.get(), st, output, RunMode::Single) == FileResult::Failed ? kExitFailure
                                                                                : kExitOk;
  }

  int RunBatch() {
    DIR* dir = ::opendir("./");
    if (dir == nullptr) {
      console_.Write(kCannotList);
      return kExitFailure;
    }
    int status = kExitOk;
    for (;;) {
      errno = 0;
      const dirent* entry = ::readdir(dir);
      if (entry == nullptr) {
        // The end of the listing and a failed listing both come as a null entry; errno tells.
        if (errno != 0) {
          console_.Write(kCannotList);
          status = kExitFailure;
        }
        break;
      }
      const std::string_view name(entry->d_name);
      console_.Write("FICHIER: " + std::to_string(name.size()) + " ");
      console_.Write(name);
      console_.Put('\n');
      if (!profile_.matches_name(name)) continue;
      if (ConvertEntry(name) == FileResult::Failed) {
        status = kExitFailure;
        break;
      }
    }
    ::closedir(dir);
    return status;
  }

  // Converts one directory entry that fits the name rule. Entries that would be converted onto
  // themselves (notes.htx, index..htx, and every file this sweep writes) and entries that are not
  // regular files are left untouched.
  FileResult ConvertEntry(std::string_view name) {
    const std::string output = DeriveOutputName(name, profile_.output_extension);
    if (output == name) return FileResult::Skipped;
    // Non-blocking, so that a FIFO that fits the rule cannot stall the sweep.
    const Fd in(::open(std::string(name).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (in.get() < 0) return FailFile(kInvalidFileName);
    struct stat st;
    if (::fstat(in.get(), &st) != 0) return FailFile(kInvalidFileName);
    if (!S_ISREG(st.st_mode)) return FileResult::Skipped;
    struct stat out_st;
    if (::stat(output.c_str(), &out_st) == 0 && SameFile(st, out_st)) return FileResult::Skipped;
    return Convert(in.get(), st, output.c_str(), RunMode::Batch);
  }

  // Loads the input whole, then creates the output, so a failed load never truncates an output.
  FileResult Convert(int in_fd, const struct stat& in_st, const char* output, RunMode mode) {
    ByteStorage storage;
    std::size_t size = 0;
    if (!LoadWhole(in_fd, in_st, storage, size)) return FailFile(kInvalidFileName);

    const std::string_view create_error =
        mode == RunMode::Single ? kInvalidFileName : profile_.batch_output_error;
    // Opened without O_TRUNC: the output is emptied only once it is known not to be the input.
    Fd out(::open(output, O_WRONLY | O_CREAT | O_CLOEXEC, 0666));
    struct stat out_st;
    if (out.get() < 0 || ::fstat(out.get(), &out_st) != 0 || SameFile(in_st, out_st) ||
        (S_ISREG(out_st.st_mode) && ::ftruncate(out.get(), 0) != 0)) {
      return FailFile(create_error);
    }

    console_.Write(profile_.banner);
    console_.Write("Size: " + std::to_string(size) + " \n");
    SourceBuffer source{storage.data(), size};
    FdOutputStream out_stream(out.get());
    const ConvertOutcome outcome = profile_.convert(source, out_stream, console_, mode);
    storage.Release();
    const bool written = out_stream.Flush();
    if (!out.Close() || !written) return FailFile(kCannotWrite);
    console_.Flush();
    if (outcome == ConvertOutcome::Rejected) {
      rejected_ = true;
      return FileResult::Rejected;
    }
    return FileResult::Converted;
  }

  FileResult FailFile(std::string_view message) {
    Fail(message);
    return FileResult::Failed;
  }

  int Fail(std::string_view message) {
    console_.Write(message);
    Pause();
    return kExitFailure;
  }

  // Waits for Enter, but only when someone is at a terminal to press it: a script, a pipe left
  // open or a closed standard input never blocks the program.
  void Pause() {
    if (!::isatty(STDIN_FILENO)) return;
    console_.Write(kPausePrompt);
    console_.Flush();
    char c;
    while (ReadRetrying(STDIN_FILENO, reinterpret_cast<std::uint8_t*>(&c), 1) == 1 && c != '\n') {
    }
  }

  const ConverterProfile& profile_;
  // Console writes are never checked: if standard output goes away, the files are still written.
  FdOutputStream console_;
  bool rejected_ = false;
};

}  // namespace

int RunDriver(const ConverterProfile& profile, int argc, char** argv) {
  // A closed console must show up as a failed write, not kill the process mid-file.
  std::signal(SIGPIPE, SIG_IGN);
  // Started with a standard stream closed, the next file opened would take its number and
  // console lines could land in it; park such a stream on /dev/null first.
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) < 0) ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
  }
  return Driver(profile).Run(argc, argv);
}

}  // namespace ruxa
