#include "driver/load_write_thread.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

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
// ends the load with a reason instead of leaving the converter waiting for bytes that never
// come; the bytes that were there are loaded.
TEST(LoadWriteThread, AFileThatShrankEndsTheLoadWithAReason) {
  ScratchFolder folder;
  const std::string input = folder.File("page.htm");
  const std::string bytes(1000, 'x');
  std::ofstream(input, std::ios::binary) << bytes;

  platform::Reason why;
  platform::InputFile in;
  ASSERT_TRUE(in.Open(input, false, why)) << why;
  platform::OutputFile out;
  ASSERT_EQ(out.Create(folder.File("page.htx"), platform::OutputFile::Links::Replace,
                       platform::FileId{}, why),
            platform::OutputFile::Created::Yes)
      << why;
  std::vector<std::uint8_t> memory(5000);
  platform::Reason read_why, write_why;
  {
    LoadWriteThread load(in, memory.data(), memory.size(), out);
    EXPECT_EQ(load.WaitFor(memory.size()), memory.size());
    EXPECT_FALSE(load.Finish(read_why, write_why));
  }
  out.Abandon();
  EXPECT_EQ(read_why, "the file shrank while it was read");
  EXPECT_EQ(write_why, "");
  EXPECT_EQ(std::string(memory.begin(), memory.begin() + 1000), bytes);
}

}  // namespace
}  // namespace ruxa
