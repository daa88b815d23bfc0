#ifndef RUXA_DRIVER_PLATFORM_H_
#define RUXA_DRIVER_PLATFORM_H_

// Everything the programs ask of the operating system. The driver and the converters use only
// this interface; platform_posix.cc and platform_windows.cc implement it, one of them chosen at
// build time. Files and the console are written in the platform's text mode: on Windows each LF
// byte is stored as CR LF, elsewhere bytes go out as they are. Inputs are always read as bytes.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace ruxa::platform {

/// File names, in and out of every call here, are the system's own bytes on POSIX systems and
/// UTF-8 on Windows, whose wide-character names may hold any script (a name that is not valid
/// UTF-16 still comes back unchanged: its lone surrogates are encoded like characters). So the
/// name rules count bytes on POSIX systems and UTF-8 characters on Windows.
extern const bool kNamesAreUtf8;

/// The program's arguments after its name. On Windows they come from the wide command line,
/// not from `argv`, whose code page cannot hold every name.
std::vector<std::string> Arguments(int argc, char** argv);

/// `name` as the console shows it. On Windows: in the code page of the narrow functions, every
/// character it lacks rendered the way the system renders it (a look-alike, or '?'); a name
/// of that code page keeps the bytes it always had there. Elsewhere: the name itself.
std::string ConsoleName(const std::string& name);

/// Why a call failed, in the system's own words ("No such file or directory").
using Reason = std::string;

/// What identifies a file whatever the path used to reach it (device and inode, or volume
/// serial number and file index).
struct FileId {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  bool operator==(const FileId&) const = default;
};

enum class FileKind { Missing, Regular, Directory, Link, Other };

struct FileInfo {
  FileKind kind = FileKind::Missing;
  FileId id;
  std::uint64_t size = 0;  ///< bytes, for a regular file
};

/// Memory for one input at a time, kept across a batch and grown as inputs need.
class InputMemory {
 public:
  InputMemory() = default;
  ~InputMemory();
  InputMemory(const InputMemory&) = delete;
  InputMemory& operator=(const InputMemory&) = delete;

  std::uint8_t* data() const { return data_; }
  std::size_t capacity() const { return capacity_; }
  /// Makes room for at least `size` bytes, keeping the first `keep` bytes; false when memory
  /// runs out.
  bool Reserve(std::size_t size, std::size_t keep);

 private:
  std::uint8_t* data_ = nullptr;
  std::size_t capacity_ = 0;
};

/// An input file opened for reading, as bytes.
class InputFile {
 public:
  InputFile() = default;
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  /// Opens `path`. With `nonblocking`, opening or reading a FIFO never waits for a writer.
  /// Without `follow_links`, a symbolic link at `path` is not followed: it fails to open, or
  /// opens as itself and is described as a link.
  bool Open(const std::string& path, bool nonblocking, Reason& why, bool follow_links = true);
  /// What the open file is (its kind, identity and size).
  bool Describe(FileInfo& info, Reason& why) const;
  /// Reads up to `size` bytes into `into`; returns the count, 0 at the end, or -1 and the reason.
  std::int64_t Read(std::uint8_t* into, std::size_t size, Reason& why);

 private:
  std::intptr_t handle_ = -1;
  /// Opened without following links (where a link opens as itself, on Windows).
  [[maybe_unused]] bool opened_link_ = false;
};

/// A file open for writing, in the platform's text mode. Closed when it goes, if not before.
class WritableFile {
 public:
  WritableFile() = default;
  ~WritableFile();
  WritableFile(const WritableFile&) = delete;
  WritableFile& operator=(const WritableFile&) = delete;

  bool is_open() const { return handle_ != -1; }
  /// Writes `data` in text mode.
  bool Write(const std::uint8_t* data, std::size_t size, Reason& why);
  /// Empties the file; the next write goes to its start.
  bool Truncate(Reason& why);
  /// What the open file is.
  FileInfo Describe() const;
  /// Closes the file; false when the system says its bytes may not all be stored.
  bool Close(Reason& why);

 private:
  friend struct FileAccess;  // the platform's own functions reach the handle
  std::intptr_t handle_ = -1;
};

/// Describes what is at `path`, following symbolic links unless `follow_links` is false (a link
/// is then described itself). Nothing there gives kind Missing and true; any other failure
/// gives false and the reason.
bool DescribePath(const std::string& path, bool follow_links, FileInfo& info, Reason& why);
/// The name that the chain of symbolic links at `path` leads to, `path` itself when it is no
/// link; that name may not exist (a dangling link).
bool ResolveLinks(const std::string& path, std::string& target, Reason& why);
/// Whether standard output or standard error goes to the file `id`.
bool IsConsoleFile(const FileId& id);

/// Why a new file could not be made.
enum class CreateError { None, Exists, NameTooLong, Refused, Other };

/// Opens the existing `path` for writing as it is, not emptied. Without `follow_links`, a link
/// at `path` is not written through.
bool OpenExisting(const std::string& path, bool follow_links, WritableFile& file, Reason& why);
/// Creates the new file `path`: never opens an existing file, never follows a link. `Refused`
/// when the folder does not let us add a file.
CreateError CreateNew(const std::string& path, WritableFile& file, Reason& why);
/// Creates a file without a name in `folder`, which vanishes by itself unless it is named;
/// false where the system has no such files.
bool CreateUnnamed(const std::string& folder, WritableFile& file);
/// Gives the unnamed `file` the name `path`, which must not exist yet (else `Exists`).
CreateError NameUnnamed(WritableFile& file, const std::string& path, Reason& why);
/// Gives the new `file` the permission bits of the file `like`, and its owner where we may.
/// Nothing where `Replace` keeps them itself.
void CopyPermissions(WritableFile& file, const std::string& like);
/// Puts the closed file `from` in place of `to`, replacing what is there: a link itself, never
/// its target. With `existing`, `to` is a regular file whose attributes the new one takes.
bool Replace(const std::string& from, const std::string& to, bool existing, Reason& why);
/// Removes the file `path`.
void Remove(const std::string& path);

/// The characters that end a folder in a path.
extern const std::string_view kPathSeparators;
/// A number that differs between processes and runs, to start the temporary names from.
std::uint64_t NameSeed();

/// Names the file that an interrupt, or `CleanUp`, removes before the process ends (empty: none).
/// Called with the interrupts held, so that the name is always that of a file this run owns.
void SetCleanupFile(const std::string& name);
/// Removes the file named by `SetCleanupFile`, if any; for a program about to end abnormally.
void CleanUp();
/// Calls `fn` with the interrupt signals held on this thread: an interrupt that comes meanwhile
/// is handled once `fn` returns.
void WithInterruptsHeld(const std::function<void()>& fn);
/// Starts `thread` running `body`. The new thread never takes the interrupt signals: they always
/// reach the main thread, whose handler removes the temporary file. False when the system
/// cannot start a thread.
bool StartThread(std::thread& thread, std::function<void()> body);

enum class Stream { Output, Error };

/// Writes to standard output or standard error, in text mode. Failures are ignored: the files
/// being converted matter more than the console.
void WriteStandardStream(Stream stream, std::string_view text);

/// After a failure, waits for a key press, but only when a person is at the console: standard
/// input from a file, a pipe or the null device never makes the program wait.
void Pause();

/// Reads the names in the current folder, as the system lists them ("." and ".." included).
bool ListCurrentFolder(std::vector<std::string>& names, Reason& why);

/// Prepares the process: a console that goes away must not kill it, a standard stream closed at
/// start must never receive a file's bytes, and an interrupted run removes its temporary file.
void StartProcess();

/// Calls that tests make fail on purpose, to see each failure path keep its promise: a thread
/// that cannot start, a read or a write that fails, a close that reports lost bytes, a rename
/// or a link that fails, and a folder that refuses new files (`Create`). `Pause` stands for the
/// wait at the console: made to "fail", it returns at once.
enum class Call { StartThread, Read, Write, Close, Rename, Link, Create, Pause, kCount };

/// Makes the `nth` next call of kind `call` (counting from 1) fail once, with the reason
/// "injected failure"; `then`, if given, runs at that moment, on the thread of the call. `nth`
/// 0 cancels what was planned for `call` (for every kind, with `Call::kCount`). For tests only:
/// the programs never call it, and until it is called every check is one load.
void FailCallForTest(Call call, int nth = 1, std::function<void()> then = {});
/// Whether a failure set up by `FailCallForTest` is still to come.
bool FailurePendingForTest();
/// Whether this call is to fail now (then `why` says so); the platform's functions ask first.
bool Injected(Call call, Reason& why);

}  // namespace ruxa::platform

#endif  // RUXA_DRIVER_PLATFORM_H_
