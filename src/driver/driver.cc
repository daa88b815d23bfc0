#include "driver/driver.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "driver/name_rules.h"
#include "driver/platform.h"

#ifndef RUXA_VERSION
#define RUXA_VERSION "unknown"
#endif

namespace ruxa {

namespace {

constexpr std::string_view kInvalidFileName = "Error, invalid file name!\n";
constexpr std::string_view kCannotWrite = "Error, cannot write the output file!\n";
constexpr std::string_view kCannotList = "Error, cannot list the directory!\n";

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

// Reads a regular file into memory on a second thread, chunk by chunk, publishing how much is
// there, so that the converter works on the first bytes while the system copies in the rest.
// Once the file is loaded the thread writes, in order, the stretches of output the converter
// hands over as stable (text gathered in the input's own memory), while the converter goes on.
class BackgroundLoad {
 public:
  BackgroundLoad(platform::InputFile& file, std::uint8_t* into, std::size_t size,
                 platform::OutputFile& out)
      : out_(out), thread_([this, &file, into, size] { Run(file, into, size); }) {}
  ~BackgroundLoad() {
    if (thread_.joinable()) Finish();
  }
  BackgroundLoad(const BackgroundLoad&) = delete;
  BackgroundLoad& operator=(const BackgroundLoad&) = delete;

  const std::atomic<std::size_t>* progress() const { return &loaded_; }

  /// Queues [data, data + size) to be written after what is queued already.
  void Enqueue(const std::uint8_t* data, std::size_t size) {
    const std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back({data, size});
    wake_.notify_all();
  }
  /// Waits until everything queued is written.
  void WaitIdle() {
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait(lock, [this] { return queue_.empty(); });
  }
  /// Writes what is queued, then ends the thread. Sets the reason of a failed read or of a failed
  /// write, and returns false, when either failed.
  bool Finish(platform::Reason& read_why, platform::Reason& write_why) {
    Finish();
    read_why = read_why_;
    write_why = write_why_;
    return read_why_.empty() && write_why_.empty();
  }

 private:
  struct Job {
    const std::uint8_t* data;
    std::size_t size;
  };

  void Finish() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      closing_ = true;
      wake_.notify_all();
    }
    thread_.join();
  }

  void Run(platform::InputFile& file, std::uint8_t* into, std::size_t size) {
    constexpr std::size_t kChunk = std::size_t{1} << 20;
    std::size_t done = 0;
    while (done < size) {
      const std::int64_t got = file.Read(into + done, std::min(kChunk, size - done), read_why_);
      if (got <= 0) {
        if (got == 0) read_why_ = "the file shrank while it was read";
        done = size;  // a failed load still ends: the converter must not wait forever
      } else {
        done += static_cast<std::size_t>(got);
      }
      loaded_.store(done, std::memory_order_release);
      loaded_.notify_all();
    }
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return !queue_.empty() || closing_; });
      if (queue_.empty()) return;
      const Job job = queue_.front();
      lock.unlock();
      platform::Reason why;
      const bool written = !write_why_.empty() || out_.Write(job.data, job.size, why);
      lock.lock();
      if (!written) write_why_ = why;
      queue_.pop_front();  // only now, so that WaitIdle means written
      wake_.notify_all();
    }
  }

  platform::OutputFile& out_;
  std::atomic<std::size_t> loaded_{0};
  platform::Reason read_why_;
  platform::Reason write_why_;  // set by the thread, read after it ended
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Job> queue_;
  bool closing_ = false;
  std::thread thread_;
};

// The output file being written; remembers why the first failed write failed. One serves a
// whole batch, so that its buffer is allocated once. With a background load, stable stretches
// are left to that thread to write, and everything else waits until it has caught up, so the
// bytes reach the file in order.
class FileStream : public OutputStream {
 public:
  void Attach(platform::OutputFile& file, BackgroundLoad* writer) {
    file_ = &file;
    writer_ = writer;
    why_.clear();
    Restart();
  }
  const platform::Reason& why() const { return why_; }

  void WriteStable(const std::uint8_t* data, std::size_t size) override {
    if (writer_ == nullptr) return Write(data, size);
    Flush();
    if (ok() && size > 0) writer_->Enqueue(data, size);
  }

 protected:
  bool Sink(const std::uint8_t* data, std::size_t size) override {
    if (writer_ != nullptr) writer_->WaitIdle();
    return file_->Write(data, size, why_);
  }

 private:
  platform::OutputFile* file_ = nullptr;
  BackgroundLoad* writer_ = nullptr;
  platform::Reason why_;
};

// Below this size a file is read before it is converted: a thread would cost more than it saves.
constexpr std::uint64_t kBackgroundLoadSize = std::uint64_t{8} << 20;

enum class FileResult { Converted, Rejected, Skipped, Failed };

class Driver {
 public:
  explicit Driver(const ConverterProfile& profile) : profile_(profile) {}

  int Run(int argc, char** argv) {
    if (argc == 2) {
      const std::string_view option = argv[1];
      if (option == "--help" || option == "-h") return Help();
      if (option == "--version") return Version();
    }
    int status = argc == 3 ? RunSingle(argv[1], argv[2]) : RunBatch();
    console_.Flush();
    if (status == kExitOk && rejected_) status = kExitRejected;
    return status;
  }

 private:
  int RunSingle(const std::string& input, const std::string& output) {
    platform::InputFile in;
    platform::FileInfo info;
    platform::Reason why;
    if (!in.Open(input, false, why) || !in.Describe(info, why)) {
      return Fail(kInvalidFileName, "cannot open '" + input + "': " + why);
    }
    if (info.kind == platform::FileKind::Directory) {
      return Fail(kInvalidFileName, "cannot open '" + input + "': Is a directory");
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
    for (const std::string& name : names) {
      console_.Write("FICHIER: " + std::to_string(name.size()) + " ");
      console_.Write(name);
      console_.Put('\n');
      if (!profile_.matches_name(name)) continue;
      if (ConvertEntry(name) == FileResult::Failed) return kExitFailure;
    }
    return kExitOk;
  }

  // Converts one folder entry that fits the name rule. Entries that would be converted onto
  // themselves (notes.htx, index..htx, an output that is a link to the entry) and entries that
  // are not regular files are left untouched.
  FileResult ConvertEntry(const std::string& name) {
    const std::string output = DeriveOutputName(name, profile_.output_extension);
    if (output == name) return FileResult::Skipped;
    platform::InputFile in;
    platform::FileInfo info;
    platform::Reason why;
    // Non-blocking, so that a FIFO that fits the rule cannot stall the sweep.
    if (!in.Open(name, true, why) || !in.Describe(info, why)) {
      return FailFile(kInvalidFileName, "cannot open '" + name + "': " + why);
    }
    if (info.kind != platform::FileKind::Regular) return FileResult::Skipped;
    return Convert(in, info, name, output, RunMode::Batch);
  }

  // A small input is loaded whole before the output is created; a large regular file loads
  // while it is converted. Either way the output replaces the old file only once it is complete,
  // so a failed load never touches an output.
  FileResult Convert(platform::InputFile& in, const platform::FileInfo& info,
                     const std::string& input, const std::string& output, RunMode mode) {
    std::size_t size = 0;
    platform::Reason why;
    const bool background = info.kind == platform::FileKind::Regular &&
                            info.size >= kBackgroundLoadSize && info.size <= SIZE_MAX / 2;
    if (background) {
      size = static_cast<std::size_t>(info.size);
      if (!memory_.Reserve(size, 0)) {
        return FailFile(kInvalidFileName, "cannot read '" + input + "': not enough memory");
      }
    } else if (!LoadWhole(in, info, memory_, size, why)) {
      return FailFile(kInvalidFileName, "cannot read '" + input + "': " + why);
    }
    platform::OutputFile out;
    const auto links = mode == RunMode::Single ? platform::OutputFile::Links::Follow
                                               : platform::OutputFile::Links::Replace;
    const platform::OutputFile::Created created = out.Create(output, links, info.id, why);
    // A batch leaves alone an entry whose output is the entry itself (a link to it).
    if (created == platform::OutputFile::Created::IsInput && mode == RunMode::Batch) {
      return FileResult::Skipped;
    }
    if (created != platform::OutputFile::Created::Yes) {
      return FailFile(mode == RunMode::Single ? kInvalidFileName : profile_.batch_output_error,
                      "cannot create '" + output + "': " + why);
    }

    console_.Write(profile_.banner);
    console_.Write("Size: " + std::to_string(size) + " \n");
    SourceBuffer source{memory_.data(), size};
    std::optional<BackgroundLoad> load;
    if (background) source.loaded = load.emplace(in, memory_.data(), size, out).progress();
    FileStream& stream = file_stream_;
    stream.Attach(out, load ? &*load : nullptr);
    const ConvertOutcome outcome = profile_.convert(source, stream, console_, mode);
    const bool flushed = stream.Flush();
    platform::Reason read_why, queued_why;  // of the load, of the writes left to its thread
    if (load) load->Finish(read_why, queued_why);
    if (!read_why.empty()) {
      out.Abandon();
      return FailFile(kInvalidFileName, "cannot read '" + input + "': " + read_why);
    }
    if (!flushed || !queued_why.empty()) {
      out.Abandon();
      return FailFile(kCannotWrite,
                      "cannot write '" + output + "': " + (flushed ? queued_why : stream.why()));
    }
    if (outcome != ConvertOutcome::Converted) out.Discard();
    if (!out.Commit(why)) return FailFile(kCannotWrite, "cannot write '" + output + "': " + why);
    if (outcome == ConvertOutcome::Converted) return FileResult::Converted;
    rejected_ = true;
    Complain("'" + input + "': " +
             (outcome == ConvertOutcome::OverBound ? "output would pass the size bound"
                                                   : "not a recognised document"));
    return FileResult::Rejected;
  }

  FileResult FailFile(std::string_view message, const std::string& complaint) {
    Fail(message, complaint);
    return FileResult::Failed;
  }

  // The console line stays what scripts expect; standard error says what failed and why.
  int Fail(std::string_view message, const std::string& complaint) {
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
                   "Exit status: 0 done; 1 stopped on a failure; 2 some input not recognised.\n"
                   "Manual: man " +
                   name + "\n");
    console_.Flush();
    return kExitOk;
  }

  int Version() {
    console_.Write(std::string(profile_.name) + " " RUXA_VERSION "\n");
    console_.Flush();
    return kExitOk;
  }

  const ConverterProfile& profile_;
  // Console writes are never checked: if standard output goes away, the files are still written.
  ConsoleStream console_;
  platform::InputMemory memory_;  // one input at a time, reused across a batch
  FileStream file_stream_;
  bool rejected_ = false;
};

}  // namespace

int RunDriver(const ConverterProfile& profile, int argc, char** argv) {
  platform::StartProcess();
  return Driver(profile).Run(argc, argv);
}

}  // namespace ruxa
