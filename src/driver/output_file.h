#ifndef RUXA_DRIVER_OUTPUT_FILE_H_
#define RUXA_DRIVER_OUTPUT_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "driver/platform.h"

namespace ruxa {

/// Where a converted file goes, and how it gets there so that no file is ever lost.
///
/// A regular file, or a name that does not exist yet, is written to a new file in the same
/// folder (without a name where the system has such files, else under a hidden temporary name),
/// which `Commit` puts in place of the output once it is complete: until then the old file stays
/// as it was, and a failure or an interrupt leaves no temporary file behind. Anything else (a
/// device, a pipe, the file the console goes to) is written directly. So is an existing file in
/// a folder that refuses new files but lets that file be written: it is emptied and written in
/// place, and an interrupted run leaves it cut off. Those two ways write into a file that
/// exists, and `Open` opens them only when the caller is ready to write (its input loaded whole),
/// so that a failure before then leaves them as they were.
class OutputFile {
 public:
  /// What to do when the output name is a symbolic link. `Follow`: the user named it, so the
  /// link's target is replaced. `Replace`: the link itself is replaced and its target is never
  /// opened; so is anything else that is not a regular file or a folder.
  enum class Links { Follow, Replace };

  /// What the caller knows of the output's name. `NotListed`: a listing of its folder, taken
  /// before the run wrote anything, had no entry of that name (whatever the case of its ASCII
  /// letters). With `Links::Replace` the name is then not looked up: should a file of that name
  /// have appeared since, `Commit` replaces it as it replaces a link, never writing through it.
  enum class Listing { Unknown, NotListed };

  OutputFile() = default;
  ~OutputFile() { Abandon(); }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  enum class Created { Yes, IsInput, No };
  /// Prepares to write `path`. Answers IsInput when it is the file `input` (by any name, a link
  /// followed included), and No (with the reason) when it is a folder or cannot be created.
  Created Create(const std::string& path, Links links, const platform::FileId& input,
                 platform::Reason& why, Listing listing = Listing::Unknown);
  /// Whether the output is written into a file that already exists (a device, or a file
  /// emptied and rewritten in place) rather than into a new file put in place by `Commit`.
  /// Asked between `Create` and `Commit`.
  bool WritesExistingFile() const { return way_ == Way::Direct || way_ == Way::InPlace; }
  /// Opens an output that `WritesExistingFile`, emptying a regular file; nothing to do for the
  /// others. Called once, after `Create`, before the first write.
  bool Open(platform::Reason& why);
  /// Writes `data` in text mode.
  bool Write(const std::uint8_t* data, std::size_t size, platform::Reason& why);
  /// Drops what was written so far, so that the output ends up empty: every file this run
  /// created, emptied or is replacing. A device or a pipe keeps what it was given.
  void Discard();
  /// Closes the output and puts a new file in place of the output name. On failure the old file
  /// stays (or, should the system have removed it on the way, the new one is kept under its
  /// temporary name, which the reason gives).
  bool Commit(platform::Reason& why);
  /// Closes the output and removes the new file, if any; the old file stays as it was.
  void Abandon();

 private:
  /// How the output is being written.
  enum class Way {
    Direct,     ///< to a device, a pipe or the console, as named
    InPlace,    ///< to the output file itself, emptied first
    Unnamed,    ///< to a new file without a name yet, named by Commit
    Temporary,  ///< to a temporary file beside the output, put in its place by Commit
  };
  Created CreateNewFile(bool exists, bool regular, platform::Reason& why);
  /// Names the open file as a fresh temporary file beside the output: with `unnamed`, by naming
  /// the unnamed file, else by creating it.
  platform::CreateError NameTemporary(bool unnamed, platform::Reason& why);
  bool PutInPlace(platform::Reason& why);

  platform::WritableFile file_;
  Way way_ = Way::Direct;
  std::string temporary_;          ///< the temporary file's name, with Way::Temporary
  std::string target_;             ///< the output's name, links resolved where followed
  bool replace_existing_ = false;  ///< whether a regular file of that name is being replaced
};

}  // namespace ruxa

#endif  // RUXA_DRIVER_OUTPUT_FILE_H_
