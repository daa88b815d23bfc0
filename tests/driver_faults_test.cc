// Every failure path keeps the promise, proved by making the system fail on purpose: whichever
// call fails, the run says why on standard error and ends with the right status, no temporary
// file is left, and every output is as it was, absent, or whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "doc2Ruxa/doc_converter.h"
#include "driver/driver.h"
#include "driver/output_file.h"
#include "driver/platform.h"
#include "html2Ruxa/html_converter.h"

namespace ruxa {
namespace {

namespace fs = std::filesystem;
using platform::Call;

// Runs the programs in a folder of their own, removed with everything in it at the end.
class Faults : public testing::Test {
 protected:
  Faults()
      : home_(fs::current_path()),
        folder_(fs::temp_directory_path() /
                ("ruxa-faults-" + std::to_string(std::random_device{}()))) {
    fs::create_directory(folder_);
    fs::current_path(folder_);
  }
  ~Faults() override {
    platform::FailCallForTest(Call::kCount, 0);  // whatever is still planned
    fs::current_path(home_);
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  static void Put(const std::string& name, const std::string& bytes) {
    std::ofstream(name, std::ios::binary) << bytes;
  }
  static std::string Get(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static std::set<std::string> Names() {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(".")) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }
  // Runs the program; returns its status, and what it said on standard error in `error`.
  static int Run(const ConverterProfile& profile, const std::vector<std::string>& args,
                 std::string& error) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int status = RunDriver(profile, args);
    testing::internal::GetCapturedStdout();
    error = testing::internal::GetCapturedStderr();
    return status;
  }

 private:
  fs::path home_, folder_;
};

// A page whose output tells it from the old one: large pages (9 MiB) load on a second thread.
std::string Page(bool large) { return "<p>new</p>" + std::string(large ? 9 << 20 : 1000, 'n'); }

enum class Left { Old, Absent, New };

TEST_F(Faults, EachFailingCallKeepsThePromiseInBothModes) {
  struct Row {
    const char* what;
    std::vector<std::pair<Call, int>> faults;  // each call, and which of its kind fails
    bool large;
    bool old_output;  // the output name holds an earlier output
    int status;
    const char* error;  // after "html2Ruxa: "
    Left left;
  };
  const char* const kRead = "cannot read 'p.htm': injected failure\n";
  const char* const kWrite = "cannot write 'p.htx': injected failure\n";
  const std::vector<Row> rows = {
      {"read", {{Call::Read, 1}}, false, true, 1, kRead, Left::Old},
      {"read, on the loading thread", {{Call::Read, 3}}, true, true, 1, kRead, Left::Old},
      {"read, new output", {{Call::Read, 3}}, true, false, 1, kRead, Left::Absent},
      {"write", {{Call::Write, 1}}, false, true, 1, kWrite, Left::Old},
      {"write, on the loading thread", {{Call::Write, 1}}, true, true, 1, kWrite, Left::Old},
      {"close", {{Call::Close, 1}}, false, true, 1, kWrite, Left::Old},
      {"close, new output", {{Call::Close, 1}}, true, false, 1, kWrite, Left::Absent},
      {"rename", {{Call::Rename, 1}}, false, true, 1, kWrite, Left::Old},
      {"link of a new output", {{Call::Link, 1}}, false, false, 1, kWrite, Left::Absent},
      // No second thread: the input is loaded first, and converted as well.
      {"thread start", {{Call::StartThread, 1}}, true, true, 0, "", Left::New},
      // A folder that refuses new files: an existing output is rewritten in place, and opened
      // only once its input has loaded whole.
      {"folder refuses new files", {{Call::Create, 1}}, true, true, 0, "", Left::New},
      {"in place, then read",
       {{Call::Create, 1}, {Call::Read, 1}},
       true,
       true,
       1,
       kRead,
       Left::Old},
  };
  for (const Row& row : rows) {
    for (const bool batch : {false, true}) {
      SCOPED_TRACE(std::string(row.what) + (batch ? ", batch" : ", single"));
      for (const auto& entry : fs::directory_iterator(".")) fs::remove_all(entry.path());
      const std::string page = Page(row.large);
      Put("p.htm", page);
      if (row.old_output) Put("p.htx", "old");
      for (const auto& [call, nth] : row.faults) platform::FailCallForTest(call, nth);
      std::string error;
      const int status = Run(
          kHtmlProfile,
          batch ? std::vector<std::string>{} : std::vector<std::string>{"p.htm", "p.htx"}, error);
      if (row.faults[0].first == Call::Link && platform::FailurePendingForTest()) {
        platform::FailCallForTest(Call::Link, 0);
        continue;  // no files without a name on this system: nothing to link
      }
      EXPECT_FALSE(platform::FailurePendingForTest());
      EXPECT_EQ(status, row.status);
      EXPECT_EQ(error, row.error[0] ? "html2Ruxa: " + std::string(row.error) : "");
      const std::set<std::string> with_output = {"p.htm", "p.htx"};
      EXPECT_EQ(Names(), row.left == Left::Absent ? std::set<std::string>{"p.htm"} : with_output);
      std::string want = row.left == Left::Old ? "old" : "Ruxa000000ffffffnew";
      if (row.left == Left::New) want.append(page, 10);
      if (row.left != Left::Absent) {
        EXPECT_EQ(Get("p.htx"), want);
      }
    }
  }
}

// The verdict on a document comes from its first 2 KiB: the rest of a large file that is none
// is never read (a read planned far into it never comes).
TEST_F(Faults, ARejectedInputStopsItsLoad) {
  {
    std::ofstream big("n.doc", std::ios::binary);
    big << "not a document";
  }
  fs::resize_file("n.doc", std::uintmax_t{1536} << 20);
  platform::FailCallForTest(Call::Read, 1000);
  std::string error;
  EXPECT_EQ(Run(kDocProfile, {"n.doc", "n.dox"}, error), kExitRejected);
  EXPECT_EQ(error, "doc2Ruxa: 'n.doc': not a recognised document\n");
  EXPECT_EQ(Get("n.dox"), "");
}

// After a failure the run waits at the console with nothing else going on: the pages ahead are
// no longer read, and no file is held open. (They are more than the read-ahead's ring holds, so
// its thread would still be there, waiting for room.)
TEST_F(Faults, NothingIsReadAheadWhileTheRunWaitsAtThePause) {
  if (fs::path::preferred_separator != '/' || !fs::exists("/proc/self/task")) {
    GTEST_SKIP() << "counts the threads and open files of a Linux process";
  }
  for (int i = 0; i < 80; ++i) {
    const std::string stem = std::string("p").append(std::to_string(i));
    Put(stem + ".htm", std::string(100000, 'x'));
    fs::create_directory(stem + ".htx");  // no output can be made
  }
  // Counted against the process after the run, with every thread of the run ended: an emulator
  // or a sanitizer may have threads of its own, and start them during the run.
  const auto threads = [] {
    return std::distance(fs::directory_iterator("/proc/self/task"), fs::directory_iterator{});
  };
  // A thread that has been joined may still be listed for a moment while the system (or an
  // emulator) finishes it, so the count at the pause is given up to a second to settle down to
  // the count before the run; a read-ahead thread still waiting for room never leaves.
  const std::ptrdiff_t before = threads();
  std::ptrdiff_t during = 0;
  std::size_t open_pages = 0;
  platform::FailCallForTest(Call::Pause, 1, [&] {
    for (int wait = 0; wait < 1000 && threads() > before; ++wait) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    during = threads();
    for (const auto& fd : fs::directory_iterator("/proc/self/fd")) {
      std::error_code error;
      open_pages += fs::read_symlink(fd.path(), error).extension() == ".htm";
    }
  });
  std::string error;
  EXPECT_EQ(Run(kHtmlProfile, {}, error), kExitFailure);
  EXPECT_FALSE(platform::FailurePendingForTest());
  EXPECT_EQ(during, threads());
  EXPECT_EQ(open_pages, 0u);
}

// An exception that escapes a conversion ends the run with its cleanup: the temporary file
// removed, the old output intact, the console's lines out, a reason and the status 1.
ConvertOutcome Throws(SourceBuffer&, OutputStream& out, OutputStream& console, RunMode) {
  out.Write("half");
  console.Write("said before\n");
  throw std::runtime_error("out of luck");
}

TEST_F(Faults, AnExceptionEndsTheRunWithItsCleanup) {
  ConverterProfile profile = kHtmlProfile;
  profile.convert = Throws;
  Put("p.htm", "<p>new</p>");
  Put("p.htx", "old");
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  EXPECT_EQ(RunDriver(profile, {"p.htm", "p.htx"}), kExitFailure);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "--- Ruxa Beta Bramlink 2005 --- \nSize: 10 \nsaid before\n");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "html2Ruxa: stopped: out of luck\n");
  EXPECT_EQ(Names(), (std::set<std::string>{"p.htm", "p.htx"}));
  EXPECT_EQ(Get("p.htx"), "old");
}

// The file an interrupt removes is named in a fixed buffer (a signal handler cannot allocate):
// it is removed, and a name of any length, too long for the buffer, is never copied past it.
TEST_F(Faults, CleanUpRemovesTheFileItWasGiven) {
  Put("t.tmp", "x");
  platform::SetCleanupFile("t.tmp");
  platform::CleanUp();
  EXPECT_EQ(Names(), std::set<std::string>{});
  for (std::size_t size = 4000; size < 4200; ++size) {  // around the longest path of POSIX systems
    platform::SetCleanupFile(std::string(size, 'x'));
    platform::CleanUp();
  }
}

// The last steps of putting a new file in place, failing, never lose both versions.
TEST_F(Faults, PuttingTheOutputInPlaceKeepsAWholeVersion) {
  const auto write = [](OutputFile& out, const std::string& path) {
    platform::Reason why;
    ASSERT_EQ(out.Create(path, OutputFile::Links::Follow, platform::FileId{}, why),
              OutputFile::Created::Yes)
        << why;
    ASSERT_TRUE(out.Open(why));
    ASSERT_TRUE(out.Write(reinterpret_cast<const std::uint8_t*>("new"), 3, why));
  };
  platform::Reason why;
  {
    // A file appears under the name while a new output is written; the close then fails: the
    // file that appeared stays.
    OutputFile out;
    write(out, "a.htx");
    Put("a.htx", "appeared");
    platform::FailCallForTest(Call::Close, 1);
    EXPECT_FALSE(out.Commit(why));
    EXPECT_EQ(why, "injected failure");
    EXPECT_EQ(Names(), std::set<std::string>{"a.htx"});
    EXPECT_EQ(Get("a.htx"), "appeared");
  }
  {
    // The system removes the old file and then fails to put the new one in its place (as
    // Windows' two-step replacement may): the new file stays, under the name the reason gives.
    Put("b.htx", "old");
    OutputFile out;
    write(out, "b.htx");
    platform::FailCallForTest(Call::Rename, 1, [] { fs::remove("b.htx"); });
    EXPECT_FALSE(out.Commit(why));
    fs::remove("a.htx");
    const std::set<std::string> names = Names();
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(why, "injected failure; the new file is kept as '" + *names.begin() + "'");
    EXPECT_EQ(Get(*names.begin()), "new");
  }
}

}  // namespace
}  // namespace ruxa
