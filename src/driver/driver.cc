#include "driver/driver.h"

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "driver/load_write_thread.h"
#include "driver/name_rules.h"
#include "driver/output_file.h"
#include "driver/platform.h"
#include "driver/read_ahead.h"

#ifndef RUXA_VERSION
#define RUXA_VERSION "unknown"
#endif
#ifndef RUXA_PACKAGE
#define RUXA_PACKAGE "ruxa-tools"
#endif

namespace ruxa {

namespace {

constexpr std::string_view kInvalidFileName = "Error, invalid file name!\n";
constexpr std::string_view kCannotWrite = "Error, cannot write the output file!\n";
constexpr std::string_view kCannotList = "Error, cannot list the directory!\n";

// What a character of a file name is, for the name rules.
const NameUnits kUnits = platform::kNamesAreUtf8 ? NameUnits::Utf8 : NameUnits::Bytes;

// Standard output, buffered: console lines and the single-mode echo go out in large writes.
class ConsoleStream : public OutputStream {
 protected:
  bool Sink(const std::uint8_t* data, std::size_t size) override {
    platform::WriteStandardStream(platform::Stream::Output,
                                  std::string_view(reinterpret_cast<const char*>(data), size));
    return true;
  }
};

// Reads the whole input into `memory`. A regular file is read to the size it had when opened,
// in a few large reads; anything else (a pipe) is read to its end, the memory growing as needed.
bool LoadWhole(platform::InputFile& file, const platform::FileInfo& info,
               platform::InputMemory& memory, std::size_t& size, platform::Reason& why) {
  const bool regular = info.kind == platform::FileKind::Regular;
  if (regular && info.size > SIZE_MAX / 2) {
    why = "too large for this machine's memory";
    return false;
  }
  const std::size_t expected = regular ? static_cast<std::size_t>(info.size) : 64 * 1024;
  if (!memory.Reserve(expected, 0)) {
    why = "not enough memory";
    return false;
  }
  size = 0;
  for (;;) {
    if (regular && size == expected) return true;
    if (size == memory.capacity() && !memory.Reserve(size * 2, size)) {
      why = "not enough memory";
      return false;
    }
    const std::size_t room = (regular ? expected : memory.capacity()) - size;
    const std::int64_t got = file.Read(memory.data() + size, room, why);
    if (got < 0) return false;
    if (got == 0) return true;  // a regular file that shrank meanwhile: what is there
    size += static_cast<std::size_t>(got);
  }
}

// Below this size a file is read before it is converted: a thread would cost more than it saves.
constexpr std::uint64_t kBackgroundLoadSize = std::uint64_t{8} << 20;

enum class FileResult { Converted, Rejected, Skipped, Failed };

// `name` with its ASCII capitals made small: names that differ only so may be one file.
std::string FoldAscii(std::string name) {
  for (char& c : name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return name;
}

// How a name is quoted in a message on standard error.
std::string Quoted(const std::string& name) {
  std::string quoted(1, '\'');
  quoted += platform::ConsoleName(name);
  quoted += '\'';
  return quoted;
}

class Driver {
 public:
  explicit Driver(const ConverterProfile& profile) : profile_(profile) {}

  int Run(const std::vector<std::string>& args) {
    if (args.size() == 1) {
      if (args[0] == "--help" || args[0] == "-h") return Help();
      if (args[0] == "--version") return Version();
    }
    int status = args.size() == 2 ? RunSingle(args[0], args[1]) : RunBatch();
    console_.Flush();
    if (status == kExitOk && rejected_) status = kExitRejected;
    return status;
  }

  // Ends a run that failed in a way no file can explain; its outputs are already put back.
  int Stop(const std::string& why) {
    read_ahead_.reset();
    Complain("stopped: " + why);
    return kExitFailure;
  }

 private:
  int RunSingle(const std::string& input, const std::string& output) {
    platform::InputFile in;
    platform::FileInfo info;
    platform::Reason why;
    if (!in.Open(input, false, why) || !in.Describe(info, why)) {
      return Fail(kInvalidFileName, "cannot open " + Quoted(input) + ": " + why);
    }
    if (info.kind == platform::FileKind::Directory) {
      return Fail(kInvalidFileName, "cannot open " + Quoted(input) + ": Is a directory");
    }
    return Convert(in, info, input, output, RunMode::Single) == FileResult::Failed ? kExitFailure
                                                                                   : kExitOk;
  }

  // The listing is read whole before anything is converted, so the temporary and new files of
  // this run never show up as its entries.
  int RunBatch() {
    std::vector<std::string> names;
    platform::Reason why;
    if (!platform::ListCurrentFolder(names, why)) {
      console_.Write(kCannotList);
      Complain("cannot list the current folder: " + why);
      return kExitFailure;
    }
    // An output whose name the listing lacks needs no look before it is created. Every output
    // name ends in the output extension, so only names that do are kept for the comparison.
    listed_outputs_.clear();
    for (const std::string& name : names) {
      if (EndsInOutputExtension(name)) listed_outputs_.push_back(FoldAscii(name));
    }
    std::sort(listed_outputs_.begin(), listed_outputs_.end());
    std::vector<std::string> ahead;
    for (const std::string& name : names) {
      if (profile_.matches_name(name, kUnits) && ReadsAhead(name)) {
        ahead.push_back(name);
      }
    }
    if (ahead.size() >= 2) read_ahead_.emplace(std::move(ahead));
    int status = kExitOk;
    for (const std::string& name : names) {
      const std::string shown = platform::ConsoleName(name);
      console_.Write("FICHIER: " + std::to_string(shown.size()) + " ");
      console_.Write(shown);
      console_.Put('\n');
      if (!profile_.matches_name(name, kUnits)) continue;
      if (ConvertEntry(name) == FileResult::Failed) {
        status = kExitFailure;
        break;
      }
    }
    read_ahead_.reset();
    return status;
  }

  // Whether a batch entry that fits the name rule may be read ahead, before the outputs of the
  // entries listed before it are written. Not when it is converted onto itself (it is skipped
  // unread), nor when its name may be another spelling of an output's name (an output's name
  // ends in the extension; the system may ignore the case of its letters, or, on Windows,
  // dots and spaces after it): such an entry may be one of those outputs, and is read when its
  // turn comes, after they are written.
  bool ReadsAhead(const std::string& name) const {
    if (DeriveOutputName(name, profile_.output_extension, kUnits) == name) {
      return false;
    }
    std::string_view trimmed = name;
    while (!trimmed.empty() && (trimmed.back() == '.' || trimmed.back() == ' ')) {
      trimmed.remove_suffix(1);
    }
    return !EndsInOutputExtension(trimmed);
  }

  // Whether `name` ends in the output extension, whatever the case of its ASCII letters.
  bool EndsInOutputExtension(std::string_view name) const {
    const std::string_view extension = profile_.output_extension;
    return name.size() >= extension.size() &&
           FoldAscii(std::string(name.substr(name.size() - extension.size()))) ==
               FoldAscii(std::string(extension));
  }

  // Converts one folder entry that fits the name rule. Entries that would be converted onto
  // themselves (notes.htx, index..htx, an output that is a link to the entry) and entries that
  // are not regular files are left untouched.
  FileResult ConvertEntry(const std::string& name) {
    const std::string output = DeriveOutputName(name, profile_.output_extension, kUnits);
    if (output == name) return FileResult::Skipped;
    if (read_ahead_ && ReadsAhead(name)) {
      const ReadAhead::File file = read_ahead_->Next();
      if (file.state == ReadAhead::State::NotRegular) return FileResult::Skipped;
      if (file.state == ReadAhead::State::Loaded) {
        const FileResult result =
            ConvertBytes(nullptr, file.info, file.data, file.size, name, output, RunMode::Batch);
        if (wrote_existing_file_) read_ahead_.reset();
        return result;
      }
    }
    platform::InputFile in;
    platform::FileInfo info;
    platform::Reason why;
    // Non-blocking, so that a FIFO that fits the rule cannot stall the sweep.
    if (!in.Open(name, true, why) || !in.Describe(info, why)) {
      return FailFile(kInvalidFileName, "cannot open " + Quoted(name) + ": " + why);
    }
    if (info.kind != platform::FileKind::Regular) return FileResult::Skipped;
    const FileResult result = Convert(in, info, name, output, RunMode::Batch);
    if (wrote_existing_file_) read_ahead_.reset();
    return result;
  }

  // One input into one output. A small input is loaded whole before the output is created; a
  // large regular file loads on a second thread while it is converted. Either way the output
  // replaces the old file only once it is complete, so a failed load never touches an output.
  FileResult Convert(platform::InputFile& in, const platform::FileInfo& info,
                     const std::string& input, const std::string& output, RunMode mode) {
    const bool background = info.kind == platform::FileKind::Regular &&
                            info.size >= kBackgroundLoadSize && info.size <= SIZE_MAX / 2;
    std::size_t size = static_cast<std::size_t>(info.size);
    platform::Reason why = "not enough memory";
    if (!(background ? memory_.Reserve(size, 0) : LoadWhole(in, info, memory_, size, why))) {
      return FailFile(kInvalidFileName, "cannot read " + Quoted(input) + ": " + why);
    }
    return ConvertBytes(background ? &in : nullptr, info, memory_.data(), size, input, output,
                        mode);
  }

  // Converts the `size` bytes at `data`, of the file `info`, into `output`; with `loading`, they
  // are still to be read from that file.
  FileResult ConvertBytes(platform::InputFile* loading, const platform::FileInfo& info,
                          std::uint8_t* data, std::size_t size, const std::string& input,
                          const std::string& output, RunMode mode) {
    OutputFile out;
    if (const std::optional<FileResult> refused = CreateOutput(out, output, info.id, mode)) {
      return *refused;
    }
    // Written into a file that exists, the output may be another name (a hard link) of an entry
    // read ahead: the entries after this one are then read in their turn.
    wrote_existing_file_ = wrote_existing_file_ || out.WritesExistingFile();
    // An output written where it is (in place, or a device) is opened only once its input has
    // loaded whole, so that a failed read leaves it as it was; so is every output when no
    // thread can be started for the load.
    std::optional<LoadWriteThread> load;
    platform::Reason why;
    if (loading && !out.WritesExistingFile() && !load.emplace(*loading, data, size, out).Start()) {
      load.reset();
    }
    if (loading && !load) {
      if (!LoadWhole(*loading, info, memory_, size, why)) {
        out.Abandon();
        return FailFile(kInvalidFileName, "cannot read " + Quoted(input) + ": " + why);
      }
      data = memory_.data();
    }
    if (!out.Open(why)) return CannotCreate(output, mode, why);
    console_.Write(profile_.banner);
    console_.Write("Size: " + std::to_string(size) + " \n");

    SourceBuffer source{data, size, load ? &*load : nullptr};
    file_stream_.Attach(out, load ? &*load : nullptr);
    ConvertOutcome outcome = ConvertOutcome::Converted;
    try {
      outcome = profile_.convert(source, file_stream_, console_, mode);
    } catch (const LoadStopped&) {
      // The load failed: it says why.
    }
    // A rejected input needs no more of its bytes.
    if (load && outcome != ConvertOutcome::Converted) load->StopLoading();
    return Complete(out, load, outcome, input, output);
  }

  // Creates the output, or says why not. A batch leaves alone an entry whose output is the
  // entry itself (a link to it).
  std::optional<FileResult> CreateOutput(OutputFile& out, const std::string& output,
                                         const platform::FileId& input, RunMode mode) {
    const auto links =
        mode == RunMode::Single ? OutputFile::Links::Follow : OutputFile::Links::Replace;
    const auto listing =
        mode == RunMode::Batch && !std::binary_search(listed_outputs_.begin(),
                                                      listed_outputs_.end(), FoldAscii(output))
            ? OutputFile::Listing::NotListed
            : OutputFile::Listing::Unknown;
    platform::Reason why;
    const OutputFile::Created created = out.Create(output, links, input, why, listing);
    if (created == OutputFile::Created::Yes) return std::nullopt;
    if (created == OutputFile::Created::IsInput && mode == RunMode::Batch) {
      return FileResult::Skipped;
    }
    return CannotCreate(output, mode, why);
  }

  FileResult CannotCreate(const std::string& output, RunMode mode, const platform::Reason& why) {
    return FailFile(mode == RunMode::Single ? kInvalidFileName : profile_.batch_output_error,
                    "cannot create " + Quoted(output) + ": " + why);
  }

  // Writes out what is left, waits for the second thread, and puts the output in place: empty
  // when the converter rejected the input. A failed read or write leaves the old output.
  FileResult Complete(OutputFile& out, std::optional<LoadWriteThread>& load, ConvertOutcome outcome,
                      const std::string& input, const std::string& output) {
    const bool flushed = file_stream_.Flush();
    platform::Reason read_why, queued_why, why;  // of the load, of its thread's writes, ours
    if (load) load->Finish(read_why, queued_why);
    if (!read_why.empty()) {
      out.Abandon();
      return FailFile(kInvalidFileName, "cannot read " + Quoted(input) + ": " + read_why);
    }
    if (!flushed || !queued_why.empty()) {
      out.Abandon();
      return FailFile(kCannotWrite, "cannot write " + Quoted(output) + ": " +
                                        (flushed ? queued_why : file_stream_.why()));
    }
    if (outcome != ConvertOutcome::Converted) out.Discard();
    if (!out.Commit(why)) {
      return FailFile(kCannotWrite, "cannot write " + Quoted(output) + ": " + why);
    }
    if (outcome == ConvertOutcome::Converted) return FileResult::Converted;
    rejected_ = true;
    Complain(Quoted(input) + ": " +
             (outcome == ConvertOutcome::OverBound ? "output would pass the size bound"
                                                   : "not a recognised document"));
    return FileResult::Rejected;
  }

  FileResult FailFile(std::string_view message, const std::string& complaint) {
    Fail(message, complaint);
    return FileResult::Failed;
  }

  // The console line stays what scripts expect; standard error says what failed and why. The
  // read-ahead stops first: nothing is read, and no file held open, while the run waits.
  int Fail(std::string_view message, const std::string& complaint) {
    read_ahead_.reset();
    console_.Write(message);
    Complain(complaint);
    platform::Pause();
    return kExitFailure;
  }

  void Complain(const std::string& complaint) {
    console_.Flush();
    platform::WriteStandardStream(platform::Stream::Error,
                                  std::string(profile_.name) + ": " + complaint + "\n");
  }

  int Help() {
    const std::string name(profile_.name);
    const std::string ext(profile_.output_extension);
    console_.Write("Usage: " + name + " INPUT OUTPUT\n       " + name + "\n       " + name +
                   " --help | -h | --version\n" + std::string(profile_.summary) +
                   "\n\n"
                   "With two arguments, converts INPUT into OUTPUT, whatever their names.\n"
                   "With any other number of arguments (none, say), lists the current folder\n"
                   "and converts every regular file " +
                   std::string(profile_.name_rule) +
                   ",\n"
                   "naming its output by writing \"" +
                   ext + "\" over the last four bytes of its name.\n\n" +
                   "Safety: each output is written to a temporary file beside it and renamed\n"
                   "over the old one only when complete; a batch replaces a symbolic link at\n"
                   "an output name instead of writing through it; no file is converted onto\n"
                   "itself. Failures are explained on standard error.\n\n"
                   "Exit status: 0 done; 1 stopped on a failure" +
                   (profile_.rejects_inputs ? "; 2 some input not recognised" : "") +
                   ".\nManual: man " + name + "\n");
    console_.Flush();
    return kExitOk;
  }

  int Version() {
    console_.Write(std::string(profile_.name) + " (" RUXA_PACKAGE ") " RUXA_VERSION "\n");
    console_.Flush();
    return kExitOk;
  }

  const ConverterProfile& profile_;
  // Console writes are never checked: if standard output goes away, the files are still written.
  ConsoleStream console_;
  platform::InputMemory memory_;         // one input at a time, reused across a batch
  std::optional<ReadAhead> read_ahead_;  // a batch's small files, read on a second thread
  bool wrote_existing_file_ = false;
  OutputFileStream file_stream_;
  bool rejected_ = false;
  // A batch's folder entries that end in the output extension, by FoldAscii, sorted.
  std::vector<std::string> listed_outputs_;
};

// The program's name, for the last words of a program that cannot go on.
std::string_view g_program;

[[noreturn]] void EndAfterInternalFailure() {
  platform::CleanUp();
  platform::WriteStandardStream(platform::Stream::Error,
                                std::string(g_program) + ": stopped by an internal failure\n");
  std::_Exit(kExitFailure);
}

}  // namespace

// Whatever goes wrong, the run ends with its cleanup: an exception unwinds to here, removing
// every temporary file on the way, and is reported; anything that would end the program without
// unwinding (an exception on another thread) still removes the temporary file and says so.
int RunDriver(const ConverterProfile& profile, const std::vector<std::string>& args) {
  platform::StartProcess();
  g_program = profile.name;
  std::set_terminate(EndAfterInternalFailure);
  Driver driver(profile);
  try {
    return driver.Run(args);
  } catch (const std::bad_alloc&) {
    return driver.Stop("not enough memory");
  } catch (const std::exception& e) {
    return driver.Stop(e.what());
  } catch (...) {
    return driver.Stop("an unexpected failure");
  }
}

int RunDriver(const ConverterProfile& profile, int argc, char** argv) {
  return RunDriver(profile, platform::Arguments(argc, argv));
}

}  // namespace ruxa
