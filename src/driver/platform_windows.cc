// The platform interface on Windows. Files and the console are written in text mode, as the
// C runtime's "w" streams would: each LF byte is stored as CR LF. Inputs are read as bytes.
#include <windows.h>

#include <algorithm>
#include <cstring>

#include "driver/platform.h"
#include "driver/temporary_name.h"

namespace ruxa::platform {

namespace {

Reason Why(DWORD error) {
  char* text = nullptr;
  const DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  Reason why = length > 0 ? std::string(text, length) : "error " + std::to_string(error);
  if (text != nullptr) ::LocalFree(text);
  // The system's messages end in a full stop and a line end; the caller adds its own.
  while (!why.empty() &&
         (why.back() == '\n' || why.back() == '\r' || why.back() == '.' || why.back() == ' ')) {
    why.pop_back();
  }
  return why;
}

Reason LastWhy() { return Why(::GetLastError()); }

HANDLE AsHandle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
std::intptr_t FromHandle(HANDLE handle) { return reinterpret_cast<std::intptr_t>(handle); }
const std::intptr_t kNoHandle = FromHandle(INVALID_HANDLE_VALUE);

bool IsMissing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Describes an open handle. Only files on a disk have an identity; anything else (the null
// device, a console, a pipe) gets one of its own that matches nothing.
FileInfo InfoOf(HANDLE handle, bool link) {
  static std::uint64_t next_other = 0;
  FileInfo info;
  BY_HANDLE_FILE_INFORMATION data;
  if (::GetFileType(handle) != FILE_TYPE_DISK || !::GetFileInformationByHandle(handle, &data)) {
    info.kind = FileKind::Other;
    info.id = {UINT64_MAX, next_other++};
    return info;
  }
  info.kind = link                                                 ? FileKind::Link
              : (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? FileKind::Directory
                                                                   : FileKind::Regular;
  info.id = {data.dwVolumeSerialNumber,
             (std::uint64_t{data.nFileIndexHigh} << 32) | data.nFileIndexLow};
  info.size = (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
  return info;
}

// Opens `path` only to ask what it is; folders open too.
HANDLE OpenToDescribe(const std::string& path, bool follow_links) {
  return ::CreateFileA(
      path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | (follow_links ? 0 : FILE_FLAG_OPEN_REPARSE_POINT),
      nullptr);
}

bool WriteRaw(HANDLE handle, const char* data, std::size_t size) {
  while (size > 0) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, DWORD{1} << 30));
    if (!::WriteFile(handle, data, chunk, &written, nullptr)) return false;
    data += written;
    size -= written;
  }
  return true;
}

// Text mode: each LF goes out as CR LF. The bytes are staged so that a text of many short lines
// still goes out in large writes.
bool WriteText(HANDLE handle, const std::uint8_t* data, std::size_t size) {
  char staged[64 * 1024];
  std::size_t used = 0;
  for (std::size_t i = 0; i < size;) {
    const void* lf = std::memchr(data + i, '\n', size - i);
    const std::size_t line_end = lf ? static_cast<const std::uint8_t*>(lf) - data : size;
    while (i < line_end) {
      if (used == sizeof staged) {
        if (!WriteRaw(handle, staged, used)) return false;
        used = 0;
      }
      const std::size_t take = std::min(line_end - i, sizeof staged - used);
      std::memcpy(staged + used, data + i, take);
      used += take;
      i += take;
    }
    if (i < size) {
      if (used + 2 > sizeof staged) {
        if (!WriteRaw(handle, staged, used)) return false;
        used = 0;
      }
      staged[used++] = '\r';
      staged[used++] = '\n';
      ++i;
    }
  }
  return WriteRaw(handle, staged, used);
}

// The temporary file being written; a console interrupt removes it before the process ends.
CRITICAL_SECTION g_temporary_lock;
std::string* g_temporary = nullptr;

void SetTemporary(const std::string& name) {
  ::EnterCriticalSection(&g_temporary_lock);
  if (g_temporary != nullptr) *g_temporary = name;
  ::LeaveCriticalSection(&g_temporary_lock);
}

BOOL WINAPI RemoveTemporaryOnInterrupt(DWORD) {
  ::EnterCriticalSection(&g_temporary_lock);
  // The file is open with delete sharing, so it goes as soon as the process ends.
  if (g_temporary != nullptr && !g_temporary->empty()) ::DeleteFileA(g_temporary->c_str());
  return FALSE;  // then the default handler ends the process (lock and all)
}

// The seed of this process's temporary names.
std::uint64_t& NameSeed() {
  static std::uint64_t seed =
      std::uint64_t{::GetCurrentProcessId()} * 0x9E3779B97F4A7C15u ^ ::GetTickCount64();
  return seed;
}

}  // namespace

bool Describe(const std::string& path, bool follow_links, FileInfo& info, Reason& why) {
  const HANDLE handle = OpenToDescribe(path, follow_links);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (!IsMissing(error)) {
      why = Why(error);
      return false;
    }
    info = FileInfo{};
    return true;
  }
  bool link = false;
  if (!follow_links) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    link = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
  }
  info = InfoOf(handle, link);
  ::CloseHandle(handle);
  return true;
}

InputMemory::~InputMemory() {
  if (data_ != nullptr) ::VirtualFree(data_, 0, MEM_RELEASE);
}

bool InputMemory::Reserve(std::size_t size, std::size_t keep) {
  if (size <= capacity_ && data_ != nullptr) return true;
  constexpr std::size_t kPage = 4096;
  if (size > SIZE_MAX - kPage) return false;
  const std::size_t capacity = std::max(kPage, (size + kPage - 1) / kPage * kPage);
  void* p = ::VirtualAlloc(nullptr, capacity, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  if (p == nullptr) return false;
  if (data_ != nullptr) {
    std::memcpy(p, data_, std::min(keep, capacity_));
    ::VirtualFree(data_, 0, MEM_RELEASE);
  }
  data_ = static_cast<std::uint8_t*>(p);
  capacity_ = capacity;
  return true;
}

InputFile::~InputFile() {
  if (handle_ != kNoHandle) ::CloseHandle(AsHandle(handle_));
}

bool InputFile::Open(const std::string& path, bool /*nonblocking*/, Reason& why) {
  // Folders open too, so that they can be told apart from files that cannot be opened.
  const HANDLE handle = ::CreateFileA(
      path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    why = LastWhy();
    return false;
  }
  handle_ = FromHandle(handle);
  return true;
}

bool InputFile::Describe(FileInfo& info, Reason& /*why*/) const {
  info = InfoOf(AsHandle(handle_), false);
  return true;
}

std::int64_t InputFile::Read(std::uint8_t* into, std::size_t size, Reason& why) {
  DWORD got = 0;
  const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, DWORD{1} << 30));
  if (!::ReadFile(AsHandle(handle_), into, chunk, &got, nullptr)) {
    if (::GetLastError() == ERROR_BROKEN_PIPE) return 0;  // a pipe whose writer is done
    why = LastWhy();
    return -1;
  }
  return got;
}

OutputFile::Created OutputFile::Create(const std::string& path, Links links, const FileId& input,
                                       Reason& why) {
  const bool follow = links == Links::Follow;
  FileInfo info;
  if (!platform::Describe(path, follow, info, why)) return Created::No;
  target_ = path;
  if (info.kind == FileKind::Directory) {
    why = "Is a directory";
    return Created::No;
  }
  FileInfo linked;
  if ((info.kind != FileKind::Missing && info.id == input) ||
      (info.kind == FileKind::Link && platform::Describe(path, true, linked, why) &&
       linked.kind != FileKind::Missing && linked.id == input)) {
    why = "it is the input file";
    return Created::IsInput;
  }
  if (info.kind == FileKind::Other && follow) {
    // The null device, the console, a pipe: written directly, as named.
    const HANDLE handle =
        ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      why = LastWhy();
      return Created::No;
    }
    handle_ = FromHandle(handle);
    return Created::Yes;
  }
  if (follow && info.kind == FileKind::Regular) {
    // A name reached through links is replaced where the links lead.
    const HANDLE handle = OpenToDescribe(path, true);
    char final_path[MAX_PATH * 4];
    const DWORD length =
        handle == INVALID_HANDLE_VALUE
            ? 0
            : ::GetFinalPathNameByHandleA(handle, final_path, sizeof final_path, 0);
    if (handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (length > 0 && length < sizeof final_path && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      target_.assign(final_path, length);
    }
  }
  replace_existing_ = info.kind == FileKind::Regular;
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    const std::string name = TemporaryName(target_, "/\\:", attempt % 2 == 1, NameSeed());
    SetTemporary(name);
    const HANDLE handle =
        ::CreateFileA(name.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                      nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      handle_ = FromHandle(handle);
      temporary_ = name;
      return Created::Yes;
    }
    const DWORD error = ::GetLastError();
    SetTemporary("");
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS &&
        error != ERROR_FILENAME_EXCED_RANGE) {
      why = Why(error);
      return Created::No;
    }
  }
  why = "no free temporary name";
  return Created::No;
}

bool OutputFile::Write(const std::uint8_t* data, std::size_t size, Reason& why) {
  if (WriteText(AsHandle(handle_), data, size)) return true;
  why = LastWhy();
  return false;
}

void OutputFile::Discard() {
  if (temporary_.empty()) return;
  LARGE_INTEGER zero{};
  ::SetFilePointerEx(AsHandle(handle_), zero, nullptr, FILE_BEGIN);
  ::SetEndOfFile(AsHandle(handle_));
}

bool OutputFile::Commit(Reason& why) {
  const HANDLE handle = AsHandle(handle_);
  handle_ = kNoHandle;
  if (!::CloseHandle(handle)) {
    why = LastWhy();
    Abandon();
    return false;
  }
  if (temporary_.empty()) return true;
  // ReplaceFile keeps the old file's attributes and access rights; a name that does not exist
  // yet, or a link replaced in a batch, is simply renamed over.
  const bool replaced =
      (replace_existing_ && ::ReplaceFileA(target_.c_str(), temporary_.c_str(), nullptr,
                                           REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) ||
      ::MoveFileExA(temporary_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING);
  if (!replaced) {
    why = LastWhy();
    Abandon();
    return false;
  }
  SetTemporary("");
  temporary_.clear();
  return true;
}

void OutputFile::Abandon() {
  if (handle_ != kNoHandle) ::CloseHandle(AsHandle(handle_));
  handle_ = kNoHandle;
  if (!temporary_.empty()) {
    ::DeleteFileA(temporary_.c_str());
    SetTemporary("");
    temporary_.clear();
  }
}

void WriteStandardStream(Stream stream, std::string_view text) {
  const HANDLE handle =
      ::GetStdHandle(stream == Stream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
  WriteText(handle, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

// Asks the console itself: a C runtime's isatty() is true for the null device as well, which
// would make scripts hang.
void Pause() {
  const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  if (input == nullptr || input == INVALID_HANDLE_VALUE || !::GetConsoleMode(input, &mode)) return;
  WriteStandardStream(Stream::Output, "Press any key to continue . . . ");
  ::FlushConsoleInputBuffer(input);
  ::SetConsoleMode(input, mode & ~(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT));
  for (;;) {
    INPUT_RECORD record;
    DWORD count = 0;
    if (!::ReadConsoleInputA(input, &record, 1, &count) || count == 0) break;
    if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) break;
  }
  ::SetConsoleMode(input, mode);
  WriteStandardStream(Stream::Output, "\n");
}

bool ListCurrentFolder(std::vector<std::string>& names, Reason& why) {
  WIN32_FIND_DATAA entry;
  const HANDLE find = ::FindFirstFileA(".\\*", &entry);
  if (find == INVALID_HANDLE_VALUE) {
    why = LastWhy();
    return false;
  }
  do {
    names.emplace_back(entry.cFileName);
  } while (::FindNextFileA(find, &entry));
  const DWORD error = ::GetLastError();
  ::FindClose(find);
  if (error != ERROR_NO_MORE_FILES) {
    why = Why(error);
    return false;
  }
  return true;
}

void StartProcess() {
  ::InitializeCriticalSection(&g_temporary_lock);
  g_temporary = new std::string;  // lives as long as the process
  ::SetConsoleCtrlHandler(RemoveTemporaryOnInterrupt, TRUE);
}

}  // namespace ruxa::platform
