// The yardstick of the benchmark: a program that does nothing but the unavoidable part of a
// conversion, reading the input whole into one buffer and writing as many bytes as the converter
// wrote to a new file. A converter cannot be faster than this.
//
//   floor INPUT OUTPUT BYTES      read INPUT whole, write BYTES bytes of it to OUTPUT
//   floor --folder IN REF OUT     in the current folder, for every file ending in IN: read it
//                                 whole into one buffer reused from file to file, and write as
//                                 many bytes as the file of the same name ending in REF holds
//                                 to a new file ending in OUT
#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::size_t capacity = 0;
char* buffer = nullptr;

// Reads `path` whole, the way the converters do: one buffer sized from the file, large reads.
std::size_t ReadWhole(const char* path) {
  const int fd = ::open(path, O_RDONLY);
  struct stat st;
  if (fd < 0 || ::fstat(fd, &st) != 0) std::exit(1);
  const std::size_t size = static_cast<std::size_t>(st.st_size);
  if (size > capacity) {
    if (buffer != nullptr) ::munmap(buffer, capacity);
    capacity = size;
    buffer = static_cast<char*>(
        ::mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  }
  std::size_t got = 0;
  while (got < size) {
    const ssize_t n = ::read(fd, buffer + got, size - got);
    if (n <= 0) std::exit(1);
    got += static_cast<std::size_t>(n);
  }
  ::close(fd);
  return size;
}

void WriteNew(const char* path, std::size_t bytes, std::size_t available) {
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC, 0666);
  if (fd < 0) std::exit(1);
  while (bytes > 0) {
    const std::size_t chunk = bytes < available ? bytes : available;
    if (::write(fd, buffer, chunk) != static_cast<ssize_t>(chunk)) std::exit(1);
    bytes -= chunk;
  }
  ::close(fd);
}

bool EndsWith(const std::string& s, const std::string& end) {
  return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "--folder") == 0) {
    const std::string in = argv[2], ref = argv[3], out = argv[4];
    DIR* dir = ::opendir(".");
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (!EndsWith(name, in)) continue;
      const std::string stem = name.substr(0, name.size() - in.size());
      struct stat st;
      if (::stat((stem + ref).c_str(), &st) != 0) continue;
      const std::size_t size = ReadWhole(name.c_str());
      WriteNew((stem + out).c_str(), static_cast<std::size_t>(st.st_size), size ? size : 1);
    }
    ::closedir(dir);
    return 0;
  }
  if (argc != 4) {
    std::fprintf(stderr, "usage: floor INPUT OUTPUT BYTES | floor --folder IN REF OUT\n");
    return 2;
  }
  const std::size_t size = ReadWhole(argv[1]);
  WriteNew(argv[2], std::strtoull(argv[3], nullptr, 10), size ? size : 1);
  return 0;
}
