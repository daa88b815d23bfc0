// The platform interface on POSIX systems. Linux-only calls (mremap, files without a name) have
// portable fallbacks.
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
#include <system_error>

#include "driver/platform.h"

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

}  // namespace

const bool kNamesAreUtf8 = false;

std::vector<std::string> Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv + std::min(argc, 1), argv + argc);
}

std::string ConsoleName(const std::string& name) { return name; }

InputMemory::~InputMemory() {
  if (data_ != nullptr) ::munmap(data_, capacity_);
}

// Input memory is mapped directly rather than taken from the heap, in whole steps of 2 MiB (at
// least one), so that a batch of small pages reads them all into the same few pages of memory,
// faulted in once. It does not ask for huge pages: on a virtual machine that hands its free
// memory back to the host, a huge page comes from memory the host must first give back, and
// loading a large file then took from 1 to 20 times as long, one run in three; small pages cost
// the same on every run.
bool InputMemory::Reserve(std::size_t size, std::size_t keep) {
  if (size <= capacity_ && data_ != nullptr) return true;
  constexpr std::size_t kStep = std::size_t{2} << 20;
  if (size > SIZE_MAX - kStep) return false;
  const std::size_t mapped = std::max(kStep, (size + kStep - 1) / kStep * kStep);
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
  if (Injected(Call::Read, why)) return -1;
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

WritableFile::~WritableFile() {
  if (handle_ != -1) ::close(static_cast<int>(handle_));
}

bool WritableFile::Write(const std::uint8_t* data, std::size_t size, Reason& why) {
  if (Injected(Call::Write, why)) return false;
  int error = 0;
  if (WriteAll(static_cast<int>(handle_), data, size, error)) return true;
  why = Why(error);
  return false;
}

bool WritableFile::Truncate(Reason& why) {
  if (::ftruncate(static_cast<int>(handle_), 0) != 0 ||
      ::lseek(static_cast<int>(handle_), 0, SEEK_SET) < 0) {
    why = Why(errno);
    return false;
  }
  return true;
}

FileInfo WritableFile::Describe() const {
  struct stat st;
  if (::fstat(static_cast<int>(handle_), &st) != 0) return FileInfo{FileKind::Other, {}, 0};
  return InfoOf(st);
}

bool WritableFile::Close(Reason& why) {
  const int fd = static_cast<int>(handle_);
  handle_ = -1;
  if (Injected(Call::Close, why)) {
    ::close(fd);
    return false;
  }
  if (::close(fd) == 0) return true;
  why = Why(errno);
  return false;
}

struct FileAccess {
  static int Fd(const WritableFile& file) { return static_cast<int>(file.handle_); }
  static void Adopt(WritableFile& file, int fd) { file.handle_ = fd; }
};

bool DescribePath(const std::string& path, bool follow_links, FileInfo& info, Reason& why) {
  struct stat st;
  if ((follow_links ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) == 0) {
    info = InfoOf(st);
    return true;
  }
  if (errno != ENOENT) {
    why = Why(errno);
    return false;
  }
  info = FileInfo{};
  return true;
}

// Follows the chain link by link, so that a dangling link gives the name it points to.
bool ResolveLinks(const std::string& path, std::string& target, Reason& why) {
  std::string at = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (::lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
      target = at;
      return true;
    }
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink(at.c_str(), buffer, sizeof buffer);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof buffer) {
      why = Why(length < 0 ? errno : ENAMETOOLONG);
      return false;
    }
    const std::string link(buffer, static_cast<std::size_t>(length));
    const std::size_t slash = at.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : at.substr(0, slash + 1);
    at = link.front() == '/' ? link : (slash == std::string::npos ? link : folder + link);
  }
  why = Why(ELOOP);
  return false;
}

bool IsConsoleFile(const FileId& id) {
  for (const int fd : {STDOUT_FILENO, STDERR_FILENO}) {
    struct stat st;
    if (::fstat(fd, &st) == 0 && InfoOf(st).id == id) return true;
  }
  return false;
}

bool OpenExisting(const std::string& path, bool follow_links, WritableFile& file, Reason& why) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | (follow_links ? 0 : O_NOFOLLOW));
  if (fd < 0) {
    why = Why(errno);
    return false;
  }
  FileAccess::Adopt(file, fd);
  return true;
}

CreateError CreateNew(const std::string& path, WritableFile& file, Reason& why) {
  if (Injected(Call::Create, why)) return CreateError::Refused;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd >= 0) {
    FileAccess::Adopt(file, fd);
    return CreateError::None;
  }
  why = Why(errno);
  switch (errno) {
    case EEXIST:
      return CreateError::Exists;
    case ENAMETOOLONG:
      return CreateError::NameTooLong;
    case EACCES:
    case EPERM:
      return CreateError::Refused;
    default:
      return CreateError::Other;
  }
}

bool CreateUnnamed([[maybe_unused]] const std::string& folder,
                   [[maybe_unused]] WritableFile& file) {
#if defined(O_TMPFILE)
  const int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (fd >= 0) {
    FileAccess::Adopt(file, fd);
    return true;
  }
#endif
  return false;  // file systems without such files: a named temporary file instead
}

CreateError NameUnnamed(WritableFile& file, const std::string& path, Reason& why) {
  if (Injected(Call::Link, why)) return CreateError::Other;
  const int fd = FileAccess::Fd(file);
  // Naming a descriptor directly needs a privilege; through /proc it does not.
#if defined(AT_EMPTY_PATH)
  if (::linkat(fd, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0) return CreateError::None;
#endif
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0) {
    return CreateError::None;
  }
  why = Why(errno);
  return errno == EEXIST         ? CreateError::Exists
         : errno == ENAMETOOLONG ? CreateError::NameTooLong
                                 : CreateError::Other;
}

void CopyPermissions(WritableFile& file, const std::string& like) {
  struct stat st;
  if (::stat(like.c_str(), &st) != 0) return;
  if (::geteuid() == 0) (void)!::fchown(FileAccess::Fd(file), st.st_uid, st.st_gid);
  ::fchmod(FileAccess::Fd(file), st.st_mode & 01777);
}

bool Replace(const std::string& from, const std::string& to, bool /*existing*/, Reason& why) {
  if (Injected(Call::Rename, why)) return false;
  if (::rename(from.c_str(), to.c_str()) == 0) return true;
  why = Why(errno);
  return false;
}

void Remove(const std::string& path) { ::unlink(path.c_str()); }

const std::string_view kPathSeparators = "/";

std::uint64_t NameSeed() {
  return static_cast<std::uint64_t>(::getpid()) * 0x9E3779B97F4A7C15u ^
         static_cast<std::uint64_t>(std::time(nullptr));
}

void SetCleanupFile(const std::string& name) {
  g_have_temporary = 0;
  if (name.empty() || name.size() >= sizeof g_temporary) return;
  std::memcpy(g_temporary, name.c_str(), name.size() + 1);
  g_have_temporary = 1;
}

void CleanUp() {
  if (g_have_temporary) ::unlink(g_temporary);
  g_have_temporary = 0;
}

void WithInterruptsHeld(const std::function<void()>& fn) {
  const SignalsHeld held;
  fn();
}

bool StartThread(std::thread& thread, std::function<void()> body) {
  Reason why;
  if (Injected(Call::StartThread, why)) return false;
  const SignalsHeld held;  // the new thread starts with them held, and keeps them so
  try {
    thread = std::thread(std::move(body));
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

void WriteStandardStream(Stream stream, std::string_view text) {
  int ignored;
  WriteAll(stream == Stream::Output ? STDOUT_FILENO : STDERR_FILENO,
           reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), ignored);
}

void Pause() {
  Reason why;
  if (Injected(Call::Pause, why) || !::isatty(STDIN_FILENO)) return;
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
