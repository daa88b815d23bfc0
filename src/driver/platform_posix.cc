// The platform interface on POSIX systems. Linux-only calls (mremap, huge pages) have portable
// fallbacks.
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <ctime>

#include "driver/platform.h"
#include "driver/temporary_name.h"

namespace ruxa::platform {

namespace {

Reason Why(int error) { return std::strerror(error); }

FileInfo InfoOf(const struct stat& st) {
  FileInfo info;
  info.kind = S_ISREG(st.st_mode)   ? FileKind::Regular
              : S_ISDIR(st.st_mode) ? FileKind::Directory
              : S_ISLNK(st.st_mode) ? FileKind::Link
                                    : FileKind::Other;
  info.id = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
  info.size = static_cast<std::uint64_t>(st.st_size);
  return info;
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size, int& error) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, std::min<std::size_t>(size, std::size_t{1} << 30));
    if (written < 0) {
      if (errno == EINTR) continue;
      error = errno;
      return false;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

// The temporary file being written, removed by the signal handler if the run is interrupted.
// Only async-signal-safe calls touch it there.
char g_temporary[PATH_MAX + 1];
volatile std::sig_atomic_t g_have_temporary = 0;
constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void RemoveTemporaryAndDie(int signal_number) {
  if (g_have_temporary) ::unlink(g_temporary);
  ::signal(signal_number, SIG_DFL);
  ::raise(signal_number);
}

// Holds back the cleanup signals on this thread while a temporary file is created or put in
// place, so that the name the handler removes is always the name of a file this run owns. The
// program's second threads start while they are held and keep them held for good, so the
// signals only ever reach the thread that names the files.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t held;
    sigemptyset(&held);
    for (const int s : kCleanupSignals) sigaddset(&held, s);
    pthread_sigmask(SIG_BLOCK, &held, &old_);
  }
  ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t old_;
};

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The name a chain of symbolic links finally leads to (itself when `path` is no link); that name
// may not exist yet (a dangling link).
bool FollowLinks(std::string path, std::string& target, Reason& why) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
      target = path;
      return true;
    }
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink(path.c_str(), buffer, sizeof buffer);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof buffer) {
      why = Why(length < 0 ? errno : ENAMETOOLONG);
      return false;
    }
    const std::string link(buffer, static_cast<std::size_t>(length));
    path = link.front() == '/' ? link : FolderOf(path) + "/" + link;
  }
  why = Why(ELOOP);
  return false;
}

bool SameAsStandardStream(const FileId& id) {
  for (const int fd : {STDOUT_FILENO, STDERR_FILENO}) {
    struct stat st;
    if (::fstat(fd, &st) == 0 && InfoOf(st).id == id) return true;
  }
  return false;
}

// The seed of this process's temporary names.
std::uint64_t& NameSeed() {
  static std::uint64_t seed = static_cast<std::uint64_t>(::getpid()) * 0x9E3779B97F4A7C15u ^
                              static_cast<std::uint64_t>(std::time(nullptr));
  return seed;
}

}  // namespace

const NameUnits kNameUnits = NameUnits::Bytes;

std::vector<std::string> Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv + std::min(argc, 1), argv + argc);
}

std::string ConsoleName(const std::string& name) { return name; }

InputMemory::~InputMemory() {
  if (data_ != nullptr) ::munmap(data_, capacity_);
}

// Input memory is mapped directly rather than taken from the heap, in whole huge pages of 2 MiB
// (at least one), and asks for them to be huge. A page faulted in costs far more than the bytes
// read into it, and more again where the page was faulted in by the read and is first touched
// afterwards by the converter (several microseconds each on a virtual machine): a batch of small
// pages then reads them all into the same one or two huge pages, and a large file faults in
// 512 times fewer pages.
bool InputMemory::Reserve(std::size_t size, std::size_t keep) {
  if (size <= capacity_ && data_ != nullptr) return true;
  constexpr std::size_t kHugePage = std::size_t{2} << 20;
  if (size > SIZE_MAX - kHugePage) return false;
  const std::size_t mapped = std::max(kHugePage, (size + kHugePage - 1) / kHugePage * kHugePage);
  void* p = MAP_FAILED;
#if defined(__linux__)
  if (data_ != nullptr && keep > 0) p = ::mremap(data_, capacity_, mapped, MREMAP_MAYMOVE);
#endif
  if (p == MAP_FAILED) {
    p = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return false;
    if (data_ != nullptr) {
      std::memcpy(p, data_, std::min(keep, capacity_));
      ::munmap(data_, capacity_);
    }
  }
#if defined(MADV_HUGEPAGE)
  ::madvise(p, mapped, MADV_HUGEPAGE);  // only a hint
#endif
  data_ = static_cast<std::uint8_t*>(p);
  capacity_ = mapped;
  return true;
}

InputFile::~InputFile() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

bool InputFile::Open(const std::string& path, bool nonblocking, Reason& why, bool follow_links) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | (nonblocking ? O_NONBLOCK : 0) |
                                          (follow_links ? 0 : O_NOFOLLOW));
  if (fd < 0) {
    why = Why(errno);
    return false;
  }
  handle_ = fd;
  return true;
}

bool InputFile::Describe(FileInfo& info, Reason& why) const {
  struct stat st;
  if (::fstat(static_cast<int>(handle_), &st) != 0) {
    why = Why(errno);
    return false;
  }
  info = InfoOf(st);
  return true;
}

std::int64_t InputFile::Read(std::uint8_t* into, std::size_t size, Reason& why) {
  for (;;) {
    const ssize_t got =
        ::read(static_cast<int>(handle_), into, std::min<std::size_t>(size, std::size_t{1} << 30));
    if (got >= 0) return got;
    if (errno != EINTR) {
      why = Why(errno);
      return -1;
    }
  }
}

OutputFile::Created OutputFile::Create(const std::string& path, Links links, const FileId& input,
                                       Reason& why, Listing listing) {
  struct stat st {};
  const bool follow = links == Links::Follow;
  // A name the folder's listing did not have is taken to be new: the output starts without a
  // name, and should that name exist after all by the time it is given, the file there is
  // replaced by a rename, which never follows a link.
  const bool unlisted = !follow && listing == Listing::NotListed;
  errno = ENOENT;
  const bool exists =
      !unlisted && (follow ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) == 0;
  if (!exists && errno != ENOENT) {
    why = Why(errno);
    return Created::No;
  }
  target_ = path;
  if (exists) {
    const FileInfo info = InfoOf(st);
    if (S_ISDIR(st.st_mode)) {
      why = Why(EISDIR);
      return Created::No;
    }
    struct stat linked;
    if (info.id == input ||
        (S_ISLNK(st.st_mode) && ::stat(path.c_str(), &linked) == 0 && InfoOf(linked).id == input)) {
      why = "it is the input file";
      return Created::IsInput;
    }
    // A device, a pipe, or the file the console itself goes to: written directly, as named.
    if (follow && (!S_ISREG(st.st_mode) || SameAsStandardStream(info.id))) {
      const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
      if (fd < 0 || (S_ISREG(st.st_mode) && ::ftruncate(fd, 0) != 0)) {
        why = Why(errno);
        if (fd >= 0) ::close(fd);
        return Created::No;
      }
      handle_ = fd;
      way_ = Way::Direct;
      return Created::Yes;
    }
  }
  // The old file is replaced by renaming over its name, so a name reached through links must
  // be resolved to the file the links lead to. A name that only looks like a link (/proc's
  // descriptors) does not lead back to the same file; such an output is written directly.
  if (follow && !FollowLinks(path, target_, why)) return Created::No;
  if (follow && exists) {
    struct stat resolved;
    if (::stat(target_.c_str(), &resolved) != 0 || InfoOf(resolved).id != InfoOf(st).id) {
      target_ = path;
      const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
      if (fd < 0) {
        why = Why(errno);
        return Created::No;
      }
      handle_ = fd;
      way_ = Way::Direct;
      return Created::Yes;
    }
  }

#if defined(O_TMPFILE)
  // A new output starts as a file without a name, which vanishes by itself if the run ends
  // before it is complete; Commit gives it its name. File systems without such files fall back
  // to a named temporary file.
  if (!exists) {
    const int fd = ::open(FolderOf(target_).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd >= 0) {
      handle_ = fd;
      way_ = Way::Unnamed;
      return Created::Yes;
    }
  }
#endif
  const SignalsHeld held;
  int fd = -1;
  for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
    temporary_ = TemporaryName(target_, "/", attempt % 2 == 1, NameSeed());
    fd = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST && errno != ENAMETOOLONG) break;
  }
  if (fd < 0) {
    const int error = errno;
    temporary_.clear();
    // A folder that refuses new files may still let its files be written: an existing output
    // is then emptied and written in place, as it is.
    if ((error == EACCES || error == EPERM) && exists && S_ISREG(st.st_mode)) {
      return OpenInPlace(why) ? Created::Yes : Created::No;
    }
    why = Why(error);
    return Created::No;
  }
  handle_ = fd;
  way_ = Way::Temporary;
  if (temporary_.size() < sizeof g_temporary) {
    std::memcpy(g_temporary, temporary_.c_str(), temporary_.size() + 1);
    g_have_temporary = 1;
  }
  // A replaced file keeps its permission bits (and, where we may, its owner).
  replace_existing_ = exists && S_ISREG(st.st_mode);
  if (replace_existing_) {
    if (::geteuid() == 0) (void)!::fchown(fd, st.st_uid, st.st_gid);
    ::fchmod(fd, st.st_mode & 01777);
  }
  return Created::Yes;
}

bool OutputFile::Write(const std::uint8_t* data, std::size_t size, Reason& why) {
  int error = 0;
  if (WriteAll(static_cast<int>(handle_), data, size, error)) return true;
  why = Why(error);
  return false;
}

// Opens the existing regular file target_ to be rewritten where it is. O_NOFOLLOW: a link put
// there since it was looked at is not written through.
bool OutputFile::OpenInPlace(Reason& why) {
  const int fd = ::open(target_.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    why = Why(errno);
    return false;
  }
  handle_ = fd;
  way_ = Way::InPlace;
  return true;
}

void OutputFile::Discard() {
  const int fd = static_cast<int>(handle_);
  struct stat st;
  // Written directly: only a regular file that is not the console's own (whose lines would go
  // too) is emptied.
  if (way_ == Way::Direct &&
      (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || SameAsStandardStream(InfoOf(st).id))) {
    return;
  }
  (void)!::ftruncate(fd, 0);
  ::lseek(fd, 0, SEEK_SET);
}

bool OutputFile::Commit(Reason& why) {
  const int fd = static_cast<int>(handle_);
  if (way_ == Way::Unnamed) {
    way_ = Way::Direct;
    if (!NameUnnamed(fd, why)) {
      Abandon();
      return false;
    }
    handle_ = -1;
    if (::close(fd) != 0) {
      why = Why(errno);
      ::unlink(target_.c_str());  // there was no file of that name before
      return false;
    }
    return true;
  }
  handle_ = -1;
  if (::close(fd) != 0) {
    why = Why(errno);
    Abandon();
    return false;
  }
  if (temporary_.empty()) return true;
  const SignalsHeld held;
  if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
    why = Why(errno);
    Abandon();
    return false;
  }
  g_have_temporary = 0;
  temporary_.clear();
  return true;
}

// Gives the complete unnamed file `fd` the output's name. Should a file of that name have
// appeared meanwhile, the new one is named as a temporary file first and renamed over it.
bool OutputFile::NameUnnamed(int fd, Reason& why) {
  const auto link = [fd](const std::string& name) {
  // Naming a descriptor directly needs a privilege; through /proc it does not.
#if defined(AT_EMPTY_PATH)
    if (::linkat(fd, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0) return true;
#endif
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
  };
  if (link(target_)) return true;
  if (errno != EEXIST) {
    why = Why(errno);
    return false;
  }
  const SignalsHeld held;
  const std::string temporary = TemporaryName(target_, "/", false, NameSeed());
  if (!link(temporary)) {
    why = Why(errno);
    return false;
  }
  if (::rename(temporary.c_str(), target_.c_str()) != 0) {
    why = Why(errno);
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

void OutputFile::Abandon() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
  handle_ = -1;
  if (!temporary_.empty()) {
    const SignalsHeld held;
    ::unlink(temporary_.c_str());
    g_have_temporary = 0;
    temporary_.clear();
  }
}

void WriteStandardStream(Stream stream, std::string_view text) {
  int ignored;
  WriteAll(stream == Stream::Output ? STDOUT_FILENO : STDERR_FILENO,
           reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), ignored);
}

void Pause() {
  if (!::isatty(STDIN_FILENO)) return;
  WriteStandardStream(Stream::Output, "Press Enter to continue . . . ");
  char c;
  for (;;) {
    const ssize_t got = ::read(STDIN_FILENO, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got != 1 || c == '\n') return;
  }
}

bool ListCurrentFolder(std::vector<std::string>& names, Reason& why) {
  DIR* dir = ::opendir("./");
  if (dir == nullptr) {
    why = Why(errno);
    return false;
  }
  for (;;) {
    // The end of the listing and a failed listing both come as a null entry; errno tells.
    errno = 0;
    const dirent* entry = ::readdir(dir);
    if (entry == nullptr) break;
    names.emplace_back(entry->d_name);
  }
  const int error = errno;
  ::closedir(dir);
  if (error != 0) why = Why(error);
  return error == 0;
}

void StartThreadWithoutSignals(const std::function<void()>& start) {
  const SignalsHeld held;
  start();
}

void StartProcess() {
  // A console that goes away, or a file that passes the size limit (ulimit -f), must show up as
  // a failed write, not kill the process mid-file with its temporary file left behind.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  // Started with a standard stream closed, the next file opened would take its number and
  // console lines could land in it; park such a stream on /dev/null first.
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) < 0) ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
  }
  struct sigaction action {};
  action.sa_handler = RemoveTemporaryAndDie;
  sigemptyset(&action.sa_mask);
  for (const int s : kCleanupSignals) {
    struct sigaction old {};
    // A signal the caller chose to ignore (nohup) stays ignored.
    if (::sigaction(s, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    ::sigaction(s, &action, nullptr);
  }
}

}  // namespace ruxa::platform
