#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "driver/load_write_thread.h"
#include "driver/read_ahead.h"

namespace ruxa {
namespace {

namespace fs = std::filesystem;

// A folder of its own under the temporary folder, removed with everything in it at the end.
class ScratchFolder {
 public:
  ScratchFolder()
      : path_(fs::temp_directory_path() / ("ruxa-load-" + std::to_string(std::random_device{}()))) {
    fs::create_directory(path_);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

// A file that ends before the size it had when opened (cut short by someone else meanwhile)
// ends the load with a reason; a converter waiting for the bytes that never come is stopped,
// never handed what the memory held before. The bytes that were there are loaded.
TEST(LoadWriteThread, AFileThatShrankStopsTheConverterWithAReason) {
  ScratchFolder folder;
  const std::string input = folder.File("page.htm");
  const std::string bytes(1000, 'x');
  std::ofstream(input, std::ios::binary) << bytes;

  platform::Reason why;
  platform::InputFile in;
  ASSERT_TRUE(in.Open(input, false, why)) << why;
  OutputFile out;
  ASSERT_EQ(
      out.Create(folder.File("page.htx"), OutputFile::Links::Replace, platform::FileId{}, why),
      OutputFile::Created::Yes)
      << why;
  std::vector<std::uint8_t> memory(5000, 'o');
  platform::Reason read_why, write_why;
  {
    LoadWriteThread load(in, memory.data(), memory.size(), out);
    ASSERT_TRUE(load.Start());
    EXPECT_EQ(load.WaitFor(1000), 1000u);
    EXPECT_THROW(load.WaitFor(1001), LoadStopped);
    EXPECT_FALSE(load.Finish(read_why, write_why));
  }
  out.Abandon();
  EXPECT_EQ(read_why, "the file shrank while it was read");
  EXPECT_EQ(write_why, "");
  EXPECT_EQ(std::string(memory.begin(), memory.begin() + 1000), bytes);
}

// A follower attached while the file loads, with no converter waiting, is handed every count
// from then on, after it is published, up to the last one; bytes below a count are there.
TEST(LoadWriteThread, AFollowerIsHandedEachCountOnceItIsThere) {
  struct Sum : LoadFollower {
    LoadWriteThread* load = nullptr;
    const std::uint8_t* data = nullptr;
    std::size_t seen = 0, sum = 0;
    bool published = true;  // every count was published before it came
    void Follow(std::size_t loaded) override {
      published = published && load->Now() >= loaded;
      for (; seen < loaded; ++seen) sum += data[seen];
    }
  };
  ScratchFolder folder;
  const std::string input = folder.File("page.htm");
  std::string bytes(5 << 20, 'x');
  for (std::size_t i = 0; i < bytes.size(); i += 4093) bytes[i] = static_cast<char>(i % 251);
  std::ofstream(input, std::ios::binary) << bytes;
  for (const std::size_t claimed : {bytes.size(), bytes.size() + 1}) {  // whole, then cut short
    platform::Reason why, read_why, write_why;
    platform::InputFile in;
    ASSERT_TRUE(in.Open(input, false, why)) << why;
    OutputFile out;
    ASSERT_EQ(
        out.Create(folder.File("page.htx"), OutputFile::Links::Replace, platform::FileId{}, why),
        OutputFile::Created::Yes);
    std::vector<std::uint8_t> memory(claimed);
    LoadWriteThread load(in, memory.data(), memory.size(), out);
    Sum follower;
    follower.load = &load;
    follower.data = memory.data();
    ASSERT_TRUE(load.Start());
    const bool attached = load.Attach(follower);
    EXPECT_EQ(load.Finish(read_why, write_why), claimed == bytes.size());
    EXPECT_FALSE(load.Attach(follower));  // once loaded, nothing is left to follow
    load.Detach();                        // the follower is done with the last count
    if (attached) {
      EXPECT_EQ(follower.seen, bytes.size());
      EXPECT_TRUE(follower.published);
      std::size_t sum = 0;
      for (const char c : bytes) sum += static_cast<std::uint8_t>(c);
      EXPECT_EQ(follower.sum, sum);
    }
    out.Abandon();
  }
}

// Bytes of a file that tell it from the others and from itself shifted.
std::string Pattern(std::size_t index, std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + index * 13) % 251);
  return bytes;
}

// Each kind of entry comes back as what the caller should do with it, in the order given.
TEST(ReadAhead, HandsOutEachEntryInOrderAsLoadedNotRegularOrLeft) {
  ScratchFolder folder;
  constexpr std::size_t kLargest = ReadAhead::kLargest;
  struct Row {
    std::string name;
    std::size_t size;  // of a regular file made for it
    ReadAhead::State state;
  };
  std::vector<Row> rows = {
      {"small.htm", 3, ReadAhead::State::Loaded},
      {"empty.htm", 0, ReadAhead::State::Loaded},
      {"largest.htm", kLargest, ReadAhead::State::Loaded},
      {"larger.htm", kLargest + 1, ReadAhead::State::Left},
      {"folder.htm", 0, ReadAhead::State::NotRegular},
      {"missing.htm", 0, ReadAhead::State::Left},
      {"link.htm", 0, ReadAhead::State::Left},  // to small.htm: followed in its turn
      // A file that ends before its size, as if cut short while read: /sys's files say they
      // hold a page and hold a line.
      {"/sys/devices/system/cpu/online", 0, ReadAhead::State::Left},
      {"after.htm", 5, ReadAhead::State::Loaded},
  };
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const std::string path = folder.File(rows[i].name);
    if (rows[i].name.front() == '/') {
      continue;  // there already (or missing, as on Windows: left all the same)
    } else if (rows[i].name == "folder.htm") {
      fs::create_directory(path);
    } else if (rows[i].name == "link.htm") {
      std::error_code error;  // Windows may not let us make one: then it is missing, as left
      fs::create_symlink(folder.File("small.htm"), path, error);
    } else if (rows[i].name != "missing.htm") {
      std::ofstream(path, std::ios::binary) << Pattern(i, rows[i].size);
    }
  }
  std::vector<std::string> names;
  for (const Row& row : rows) {
    names.push_back(row.name.front() == '/' ? row.name : folder.File(row.name));
  }
  ReadAhead ahead(names);
  ASSERT_TRUE(ahead.started());
  // Taken one right after the other, faster than the thread reads them (the largest after the
  // empty one), then checked: an entry is never handed out before it is there.
  std::vector<std::pair<ReadAhead::File, std::string>> files;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const ReadAhead::File file = ahead.Next();
    files.emplace_back(file, std::string(file.data, file.data + file.size));
  }
  for (std::size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(rows[i].name);
    const auto& [file, bytes] = files[i];
    ASSERT_EQ(file.state, rows[i].state);
    if (file.state == ReadAhead::State::Loaded) {
      EXPECT_EQ(file.info.kind, platform::FileKind::Regular);
      EXPECT_EQ(file.info.size, rows[i].size);
      EXPECT_EQ(bytes, Pattern(i, rows[i].size));
    }
  }
  EXPECT_EQ(ahead.Next().state, ReadAhead::State::Left);  // past the end of the list
}

// Far more than the ring holds: the thread waits for room, the ring wraps, and every file
// comes back whole although the caller rewrites each one it is handed, as a converter does.
// The ring's positions start just below 2^32 and pass it, as after 4 GiB read in a batch.
// Stopped early, with the thread waiting for room, the read-ahead ends at once.
TEST(ReadAhead, EveryFileComesBackWholeThroughAFullRing) {
  ScratchFolder folder;
  std::vector<std::string> names;
  std::vector<std::size_t> sizes;
  std::minstd_rand random(7);
  std::size_t total = 0;
  for (std::size_t i = 0; total < 5 * ReadAhead::kRing; ++i) {
    sizes.push_back(i % 5 == 0 ? ReadAhead::kLargest : random() % (ReadAhead::kLargest / 2));
    total += sizes.back();
    names.push_back(folder.File("page" + std::to_string(i) + ".htm"));
    std::ofstream(names.back(), std::ios::binary) << Pattern(i, sizes.back());
  }
  {
    ReadAhead ahead(names, (std::uint64_t{1} << 32) - 3 * ReadAhead::kRing / 2 - 7);
    for (std::size_t i = 0; i < names.size(); ++i) {
      const ReadAhead::File file = ahead.Next();
      ASSERT_EQ(file.state, ReadAhead::State::Loaded) << i;
      ASSERT_EQ(std::string(file.data, file.data + file.size), Pattern(i, sizes[i])) << i;
      std::fill(file.data, file.data + file.size, std::uint8_t{0});
    }
  }
  ReadAhead stopped(names);
  ASSERT_EQ(stopped.Next().state, ReadAhead::State::Loaded);
}

}  // namespace
}  // namespace ruxa
