// The platform interface on Windows. Files and the console are written in text mode, as the
// C runtime's "w" streams would: each LF byte is stored as CR LF. Inputs are read as bytes.
// Every name goes to and comes from the system through its wide-character functions, so that a
// name in any script, and a path of any length, works.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <system_error>

#include "driver/platform.h"
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

}  // namespace

const bool kNamesAreUtf8 = true;

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
  const HANDLE handle =
      ::CreateFileW(SystemPath(path).c_str(), GENERIC_READ,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
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
  if (Injected(Call::Read, why)) return -1;
  DWORD got = 0;
  const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, DWORD{1} << 30));
  if (!::ReadFile(AsHandle(handle_), into, chunk, &got, nullptr)) {
    if (::GetLastError() == ERROR_BROKEN_PIPE) return 0;  // a pipe whose writer is done
    why = LastWhy();
    return -1;
  }
  return got;
}

WritableFile::~WritableFile() {
  if (handle_ != kNoHandle) ::CloseHandle(AsHandle(handle_));
}

bool WritableFile::Write(const std::uint8_t* data, std::size_t size, Reason& why) {
  if (Injected(Call::Write, why)) return false;
  if (WriteText(AsHandle(handle_), data, size)) return true;
  why = LastWhy();
  return false;
}

bool WritableFile::Truncate(Reason& why) {
  LARGE_INTEGER zero{};
  if (::SetFilePointerEx(AsHandle(handle_), zero, nullptr, FILE_BEGIN) &&
      ::SetEndOfFile(AsHandle(handle_))) {
    return true;
  }
  why = LastWhy();
  return false;
}

FileInfo WritableFile::Describe() const { return InfoOf(AsHandle(handle_), false); }

bool WritableFile::Close(Reason& why) {
  const HANDLE handle = AsHandle(handle_);
  handle_ = kNoHandle;
  if (Injected(Call::Close, why)) {
    ::CloseHandle(handle);
    return false;
  }
  if (::CloseHandle(handle)) return true;
  why = LastWhy();
  return false;
}

struct FileAccess {
  static HANDLE Handle(const WritableFile& file) { return AsHandle(file.handle_); }
  static void Adopt(WritableFile& file, HANDLE handle) { file.handle_ = FromHandle(handle); }
};

// Only a reparse point is resolved: GetFinalPathNameByHandle gives the long "\\?\" form, which
// a plain name does not need.
bool ResolveLinks(const std::string& path, std::string& target, Reason& /*why*/) {
  target = path;
  const DWORD attributes = ::GetFileAttributesW(SystemPath(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    return true;
  }
  const HANDLE handle = OpenToDescribe(path, true);
  if (handle == INVALID_HANDLE_VALUE) return true;  // a dangling link: replaced itself
  std::wstring final_path(32768, L'\0');
  const DWORD length = ::GetFinalPathNameByHandleW(handle, final_path.data(),
                                                   static_cast<DWORD>(final_path.size()), 0);
  ::CloseHandle(handle);
  if (length > 0 && length < final_path.size()) {
    final_path.resize(length);
    target = Utf8(final_path.c_str());
  }
  return true;
}

bool IsConsoleFile(const FileId& id) {
  for (const DWORD which : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
    const HANDLE handle = ::GetStdHandle(which);
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE && InfoOf(handle, false).id == id) {
      return true;
    }
  }
  return false;
}

bool OpenExisting(const std::string& path, bool follow_links, WritableFile& file, Reason& why) {
  const HANDLE handle = ::CreateFileW(
      SystemPath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | (follow_links ? 0 : FILE_FLAG_OPEN_REPARSE_POINT),
      nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    why = LastWhy();
    return false;
  }
  FileAccess::Adopt(file, handle);
  return true;
}

// With delete sharing, so that an interrupt's handler can remove it while it is open.
CreateError CreateNew(const std::string& path, WritableFile& file, Reason& why) {
  if (Injected(Call::Create, why)) return CreateError::Refused;
  const HANDLE handle = ::CreateFileW(SystemPath(path).c_str(), GENERIC_WRITE | DELETE,
                                      FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle != INVALID_HANDLE_VALUE) {
    FileAccess::Adopt(file, handle);
    return CreateError::None;
  }
  const DWORD error = ::GetLastError();
  why = Why(error);
  switch (error) {
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return CreateError::Exists;
    case ERROR_FILENAME_EXCED_RANGE:
      return CreateError::NameTooLong;
    case ERROR_ACCESS_DENIED:
      return CreateError::Refused;
    default:
      return CreateError::Other;
  }
}

// Windows has no files without a name: every new output starts as a named temporary file.
bool CreateUnnamed(const std::string& /*folder*/, WritableFile& /*file*/) { return false; }

CreateError NameUnnamed(WritableFile& /*file*/, const std::string& /*path*/, Reason& why) {
  why = "no files without a name here";
  return CreateError::Other;
}

// ReplaceFile gives the new file the old one's attributes and access rights itself.
void CopyPermissions(WritableFile& /*file*/, const std::string& /*like*/) {}

// A name that does not exist yet, or a link replaced in a batch, is simply renamed over.
bool Replace(const std::string& from, const std::string& to, bool existing, Reason& why) {
  if (Injected(Call::Rename, why)) return false;
  const std::wstring target = SystemPath(to), source = SystemPath(from);
  if ((existing && ::ReplaceFileW(target.c_str(), source.c_str(), nullptr,
                                  REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) ||
      ::MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    return true;
  }
  why = LastWhy();
  return false;
}

void Remove(const std::string& path) { ::DeleteFileW(SystemPath(path).c_str()); }

const std::string_view kPathSeparators = "/\\:";

std::uint64_t NameSeed() {
  return std::uint64_t{::GetCurrentProcessId()} * 0x9E3779B97F4A7C15u ^ ::GetTickCount64();
}

void SetCleanupFile(const std::string& name) {
  SetTemporary(name.empty() ? std::wstring() : SystemPath(name));
}

void CleanUp() {
  ::AcquireSRWLockExclusive(&g_temporary_lock);
  if (g_temporary != nullptr && !g_temporary->empty()) {
    ::DeleteFileW(g_temporary->c_str());
    g_temporary->clear();
  }
  ::ReleaseSRWLockExclusive(&g_temporary_lock);
}

// The console's interrupt comes on a thread of its own, whatever the others do.
void WithInterruptsHeld(const std::function<void()>& fn) { fn(); }

bool StartThread(std::thread& thread, std::function<void()> body) {
  Reason why;
  if (Injected(Call::StartThread, why)) return false;
  try {
    thread = std::thread(std::move(body));
    return true;
  } catch (const std::system_error&) {
    return false;
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
  Reason why;
  if (Injected(Call::Pause, why)) return;
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

void StartProcess() {
  std::wstring* const temporary = new std::wstring;  // lives as long as the process
  ::AcquireSRWLockExclusive(&g_temporary_lock);
  g_temporary = temporary;
  ::ReleaseSRWLockExclusive(&g_temporary_lock);
  ::SetConsoleCtrlHandler(RemoveTemporaryOnInterrupt, TRUE);
}

}  // namespace ruxa::platform
