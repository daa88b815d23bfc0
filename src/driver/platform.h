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
#include <vector>

#include "driver/name_rules.h"

namespace ruxa::platform {

/// File names, in and out of every call here, are the system's own bytes on POSIX systems and
/// UTF-8 on Windows, whose wide-character names may hold any script (a name that is not valid
/// UTF-16 still comes back unchanged: its lone surrogates are encoded like characters).
extern const NameUnits kNameUnits;

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
  bool opened_link_ = false;  ///< opened without following links (where a link opens as itself)
};

/// Where a converted file goes. A regular file, or a name that does not exist yet, is written to
/// a new temporary file in the same folder, which `Commit` renames over the name once it is
/// complete: until then the old file stays as it was, and a failure or a signal leaves no
/// temporary file behind. Anything else (a device, a pipe, the console) is written directly.
/// So is an existing file in a folder that refuses new files but lets that file be written:
/// it is emptied and written in place, and an interrupted run leaves it cut off.
class OutputFile {
 public:
  /// What to do when the output name is a symbolic link. `Follow`: the user named it, so the
  /// link's target is replaced. `Replace`: the link itself is replaced and its target is never
  /// opened; so is anything else that is not a regular file or a folder.
  enum class Links { Follow, Replace };

  OutputFile() = default;
  ~OutputFile() { Abandon(); }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  /// What the caller knows of the output's name. `NotListed`: a listing of its folder, taken
  /// before the run wrote anything, had no entry of that name (whatever the case of its ASCII
  /// letters). With `Links::Replace` the name is then not looked up: should a file of that name
  /// have appeared since, `Commit` replaces it as it replaces a link, never writing through it.
  enum class Listing { Unknown, NotListed };

  enum class Created { Yes, IsInput, No };
  /// Prepares to write `path`. Answers IsInput when it is the file `input` (by any name, a link
  /// followed included), and No (with the reason) when it is a folder or cannot be created.
  Created Create(const std::string& path, Links links, const FileId& input, Reason& why,
                 Listing listing = Listing::Unknown);
  /// Writes `data` in text mode.
  bool Write(const std::uint8_t* data, std::size_t size, Reason& why);
  /// Drops what was written so far, so that the output ends up empty: every file this run
  /// created, emptied or is replacing. A device or a pipe keeps what it was given.
  void Discard();
  /// Whether the output is written into a file that already exists (a device, or a file
  /// emptied and rewritten in place) rather than into a new file put in place by Commit. Asked
  /// between Create and Commit.
  bool WritesExistingFile() const { return way_ == Way::Direct || way_ == Way::InPlace; }
  /// Closes the output and, for a temporary file, puts it in place of the output name.
  bool Commit(Reason& why);
  /// Closes the output and removes the temporary file, if any; the old file stays as it was.
  void Abandon();

 private:
  /// How the output is being written.
  enum class Way {
    Direct,     ///< to a device, a pipe or the console, as named
    InPlace,    ///< to the output file itself, emptied first
    Unnamed,    ///< to a new file without a name yet, named by Commit
    Temporary,  ///< to a temporary file beside the output, renamed over it by Commit
  };
  bool NameUnnamed(int fd, Reason& why);
  bool OpenInPlace(Reason& why);

  std::intptr_t handle_ = -1;
  Way way_ = Way::Direct;
  std::string temporary_;          ///< the temporary file's name, with Way::Temporary
  std::string target_;             ///< the output's name, links resolved where followed
  bool replace_existing_ = false;  ///< whether a regular file of that name is being replaced
};

enum class Stream { Output, Error };

/// Writes to standard output or standard error, in text mode. Failures are ignored: the files
/// being converted matter more than the console.
void WriteStandardStream(Stream stream, std::string_view text);

/// After a failure, waits for a key press, but only when a person is at the console: standard
/// input from a file, a pipe or the null device never makes the program wait.
void Pause();

/// Reads the names in the current folder, as the system lists them ("." and ".." included).
bool ListCurrentFolder(std::vector<std::string>& names, Reason& why);

/// Calls `start`, which starts a thread, with the interrupt signals held on the calling thread,
/// so that the new thread never takes them: they always reach the main thread, whose handler
/// removes the temporary file, and which holds them while it names one.
void StartThreadWithoutSignals(const std::function<void()>& start);

/// Prepares the process: a console that goes away must not kill it, a standard stream closed at
/// start must never receive a file's bytes, and an interrupted run removes its temporary file.
void StartProcess();

}  // namespace ruxa::platform

#endif  // RUXA_DRIVER_PLATFORM_H_
