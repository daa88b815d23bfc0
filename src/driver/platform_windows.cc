// The platform interface on Windows. Files and the console are written in text mode, as the
// C runtime's "w" streams would: each LF byte is stored as CR LF. Inputs are read as bytes.
// Every name goes to and comes from the system through its wide-character functions, so that a
// name in any script, and a path of any length, works.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstring>

#include "driver/platform.h"
#include "driver/temporary_name.h"
#include "driver/wide_text.h"

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

std::wstring Wide(std::string_view utf8) {
  const std::u16string utf16 = Utf16FromUtf8(utf8);
  return std::wstring(utf16.begin(), utf16.end());
}

std::string Utf8(const wchar_t* wide) {
  std::u16string utf16;
  for (; *wide != 0; ++wide) utf16 += static_cast<char16_t>(*wide);
  return Utf8FromUtf16(utf16);
}

// `path` as the system's functions take it. A full path of MAX_PATH characters or more gets the
// "\\?\" form, which passes the system's length limit (up to 32767 characters); resolving
// the relative parts first is then up to us. Shorter paths go as they are, so that device names
// ("nul") and the rest of the usual rules keep working.
std::wstring SystemPath(const std::string& path) {
  const std::wstring wide = Wide(path);
  const DWORD needed = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (needed < MAX_PATH - 12) return wide;  // also when it fails: the call will say why
  std::wstring full(needed, L'\0');
  const DWORD length = ::GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
  if (length == 0 || length >= needed) return wide;
  full.resize(length);
  if (full.starts_with(LR"(\\?\)") || full.starts_with(LR"(\\.\)")) return full;
  if (full.starts_with(LR"(\\)")) return LR"(\\?\UNC\)" + full.substr(2);
  return LR"(\\?\)" + full;
}

HANDLE AsHandle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
std::intptr_t FromHandle(HANDLE handle) { return reinterpret_cast<std::intptr_t>(handle); }
const std::intptr_t kNoHandle = FromHandle(INVALID_HANDLE_VALUE);

bool IsMissing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Describes an open handle. Only files on a disk have an identity; anything else (the null
// device, a console, a pipe) gets one of its own that matches nothing.
// With `reparse_is_link`, a handle opened on a reparse point itself is described as a link.
FileInfo InfoOf(HANDLE handle, bool link, bool reparse_is_link = false) {
  // Handles are described on more than one thread (the batch reads ahead).
  static std::atomic<std::uint64_t> next_other{0};
  FileInfo info;
  BY_HANDLE_FILE_INFORMATION data;
  if (::GetFileType(handle) != FILE_TYPE_DISK || !::GetFileInformationByHandle(handle, &data)) {
    info.kind = FileKind::Other;
    info.id = {UINT64_MAX, next_other++};
    return info;
  }
  link = link || (reparse_is_link && (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT));
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
  return ::CreateFileW(
      SystemPath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
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

// The temporary file being written; a console interrupt removes it before the process ends. The
// lock needs no setting up, so that an output can be created before StartProcess too (the name
// is then simply not kept).
SRWLOCK g_temporary_lock = SRWLOCK_INIT;
std::wstring* g_temporary = nullptr;

void SetTemporary(const std::wstring& name) {
  ::AcquireSRWLockExclusive(&g_temporary_lock);
  if (g_temporary != nullptr) *g_temporary = name;
  ::ReleaseSRWLockExclusive(&g_temporary_lock);
}

BOOL WINAPI RemoveTemporaryOnInterrupt(DWORD) {
  ::AcquireSRWLockExclusive(&g_temporary_lock);
  // The file is open with delete sharing, so it goes as soon as the process ends.
  if (g_temporary != nullptr && !g_temporary->empty()) ::DeleteFileW(g_temporary->c_str());
  return FALSE;  // then the default handler ends the process (lock and all)
}

// The seed of this process's temporary names.
std::uint64_t& NameSeed() {
  static std::uint64_t seed =
      std::uint64_t{::GetCurrentProcessId()} * 0x9E3779B97F4A7C15u ^ ::GetTickCount64();
  return seed;
}

}  // namespace

const NameUnits kNameUnits = NameUnits::Utf8;

std::vector<std::string> Arguments(int /*argc*/, char** /*argv*/) {
  return SplitCommandLine(Utf8(::GetCommandLineW()));
}

std::string ConsoleName(const std::string& name) {
  const std::wstring wide = Wide(name);
  if (wide.empty()) return name;
  const UINT code_page = ::AreFileApisANSI() ? CP_ACP : CP_OEMCP;
  const int size = static_cast<int>(wide.size());
  const int length =
      ::WideCharToMultiByte(code_page, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  std::string shown(static_cast<std::size_t>(std::max(length, 0)), '\0');
  if (length <= 0 || ::WideCharToMultiByte(code_page, 0, wide.data(), size, shown.data(), length,
                                           nullptr, nullptr) != length) {
    return name;
  }
  return shown;
}

namespace {

// Describes `path`, following symbolic links unless `follow_links` is false (a link is then
// described itself). A path that does not exist gives kind Missing and true; any other failure
// gives false and the reason.
bool DescribePath(const std::string& path, bool follow_links, FileInfo& info, Reason& why) {
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
    const DWORD attributes = ::GetFileAttributesW(SystemPath(path).c_str());
    link = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
  }
  info = InfoOf(handle, link);
  ::CloseHandle(handle);
  return true;
}

}  // namespace

InputMemory::~InputMemory() {
  if (data_ != nullptr) ::VirtualFree(data_, 0, MEM_RELEASE);
}

// In steps of 2 MiB (at least one): a batch of small pages reads them all into the same memory,
// its pages committed once, rather than into fresh memory whenever a larger page comes.
bool InputMemory::Reserve(std::size_t size, std::size_t keep) {
  if (size <= capacity_ && data_ != nullptr) return true;
  constexpr std::size_t kStep = std::size_t{2} << 20;
  if (size > SIZE_MAX - kStep) return false;
  const std::size_t capacity = std::max(kStep, (size + kStep - 1) / kStep * kStep);
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

bool InputFile::Open(const std::string& path, bool /*nonblocking*/, Reason& why,
                     bool follow_links) {
  // Folders open too, so that they can be told apart from files that cannot be opened.
  const HANDLE handle = ::CreateFileW(
      SystemPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN |
          (follow_links ? 0 : FILE_FLAG_OPEN_REPARSE_POINT),
      nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    why = LastWhy();
    return false;
  }
  handle_ = FromHandle(handle);
  opened_link_ = !follow_links;
  return true;
}

bool InputFile::Describe(FileInfo& info, Reason& /*why*/) const {
  info = InfoOf(AsHandle(handle_), false, opened_link_);
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

// Every name is looked up, listed or not: the Windows way of replacing a file needs to know
// what is there.
OutputFile::Created OutputFile::Create(const std::string& path, Links links, const FileId& input,
                                       Reason& why, Listing /*listing*/) {
  const bool follow = links == Links::Follow;
  FileInfo info;
  if (!DescribePath(path, follow, info, why)) return Created::No;
  target_ = path;
  if (info.kind == FileKind::Directory) {
    why = "Is a directory";
    return Created::No;
  }
  FileInfo linked;
  if ((info.kind != FileKind::Missing && info.id == input) ||
      (info.kind == FileKind::Link && DescribePath(path, true, linked, why) &&
       linked.kind != FileKind::Missing && linked.id == input)) {
    why = "it is the input file";
    return Created::IsInput;
  }
  if (info.kind == FileKind::Other && follow) {
    // The null device, the console, a pipe: written directly, as named.
    const HANDLE handle =
        ::CreateFileW(SystemPath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      why = LastWhy();
      return Created::No;
    }
    handle_ = FromHandle(handle);
    way_ = Way::Direct;
    return Created::Yes;
  }
  if (follow && info.kind == FileKind::Regular) {
    // A name reached through links is replaced where the links lead.
    const HANDLE handle = OpenToDescribe(path, true);
    std::wstring final_path(32768, L'\0');
    const DWORD length =
        handle == INVALID_HANDLE_VALUE
            ? 0
            : ::GetFinalPathNameByHandleW(handle, final_path.data(),
                                          static_cast<DWORD>(final_path.size()), 0);
    if (handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
    const DWORD attributes = ::GetFileAttributesW(SystemPath(path).c_str());
    if (length > 0 && length < final_path.size() && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      final_path.resize(length);
      target_ = Utf8(final_path.c_str());
    }
  }
  replace_existing_ = info.kind == FileKind::Regular;
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    const std::string name = TemporaryName(target_, "/\\:", attempt % 2 == 1, NameSeed());
    const std::wstring wide = SystemPath(name);
    SetTemporary(wide);
    const HANDLE handle =
        ::CreateFileW(wide.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                      nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      handle_ = FromHandle(handle);
      temporary_ = name;
      way_ = Way::Temporary;
      return Created::Yes;
    }
    const DWORD error = ::GetLastError();
    SetTemporary(L"");
    // A folder that refuses new files may still let its files be written: an existing output
    // is then emptied and written in place, as it is.
    if (error == ERROR_ACCESS_DENIED && replace_existing_) {
      return OpenInPlace(why) ? Created::Yes : Created::No;
    }
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS &&
        error != ERROR_FILENAME_EXCED_RANGE) {
      why = Why(error);
      return Created::No;
    }
  }
  why = "no free temporary name";
  return Created::No;
}

bool OutputFile::OpenInPlace(Reason& why) {
  const HANDLE handle = ::CreateFileW(SystemPath(target_).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                      nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    why = LastWhy();
    return false;
  }
  handle_ = FromHandle(handle);
  way_ = Way::InPlace;
  return true;
}

bool OutputFile::Write(const std::uint8_t* data, std::size_t size, Reason& why) {
  if (WriteText(AsHandle(handle_), data, size)) return true;
  why = LastWhy();
  return false;
}

void OutputFile::Discard() {
  if (way_ == Way::Direct) return;  // a device, the console or a pipe
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
  const std::wstring target = SystemPath(target_), temporary = SystemPath(temporary_);
  const bool replaced =
      (replace_existing_ && ::ReplaceFileW(target.c_str(), temporary.c_str(), nullptr,
                                           REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) ||
      ::MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING);
  if (!replaced) {
    why = LastWhy();
    Abandon();
    return false;
  }
  SetTemporary(L"");
  temporary_.clear();
  return true;
}

void OutputFile::Abandon() {
  if (handle_ != kNoHandle) ::CloseHandle(AsHandle(handle_));
  handle_ = kNoHandle;
  if (!temporary_.empty()) {
    ::DeleteFileW(SystemPath(temporary_).c_str());
    SetTemporary(L"");
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
  WIN32_FIND_DATAW entry;
  const HANDLE find = ::FindFirstFileW(L".\\*", &entry);
  if (find == INVALID_HANDLE_VALUE) {
    why = LastWhy();
    return false;
  }
  do {
    names.push_back(Utf8(entry.cFileName));
  } while (::FindNextFileW(find, &entry));
  const DWORD error = ::GetLastError();
  ::FindClose(find);
  if (error != ERROR_NO_MORE_FILES) {
    why = Why(error);
    return false;
  }
  return true;
}

// The console's interrupt comes on a thread of its own, whatever the others do.
void StartThreadWithoutSignals(const std::function<void()>& start) { start(); }

void StartProcess() {
  std::wstring* const temporary = new std::wstring;  // lives as long as the process
  ::AcquireSRWLockExclusive(&g_temporary_lock);
  g_temporary = temporary;
  ::ReleaseSRWLockExclusive(&g_temporary_lock);
  ::SetConsoleCtrlHandler(RemoveTemporaryOnInterrupt, TRUE);
}

}  // namespace ruxa::platform
