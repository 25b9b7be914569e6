// The host on Windows: DLLs through LoadLibraryExW, checked against their
// PE headers first, and a probe that is a program of its own, started with
// CreateProcessW inside a job object so that its time limit ends it and
// every process it started. The Windows API is called with UTF-16 paths,
// converted from the host's UTF-8 at this boundary.
#include "Platform.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <utility>

namespace ofxhost {
namespace platform {

namespace fs = std::filesystem;

const char *const kBundleArchDir = "Win64";
const char kPathListSeparator = ';';

namespace {

std::wstring widen(const std::string &utf8) {
  if (utf8.empty())
    return {};
  const int size = static_cast<int>(utf8.size());
  const int wideSize =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  std::wstring wide(static_cast<size_t>(wideSize), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), wideSize);
  return wide;
}

std::string narrow(const std::wstring &wide) {
  if (wide.empty())
    return {};
  const int size = static_cast<int>(wide.size());
  const int utf8Size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size,
                                           nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(utf8Size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), utf8Size,
                      nullptr, nullptr);
  return utf8;
}

// The system's text for an error code, on one line, with the code.
std::string systemMessage(DWORD code) {
  wchar_t *text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
  std::string message = length ? narrow(std::wstring(text, length)) : "";
  LocalFree(text);
  for (char &c : message)
    if (c == '\r' || c == '\n')
      c = ' ';
  while (!message.empty() && (message.back() == ' ' || message.back() == '.'))
    message.pop_back();
  if (message.empty())
    message = "system error";
  return message + " (error " + std::to_string(code) + ")";
}

// Owns a kernel handle; both null and INVALID_HANDLE_VALUE mean none.
class Handle {
public:
  Handle() = default;
  explicit Handle(HANDLE handle) { reset(handle); }
  ~Handle() { reset(); }
  Handle(const Handle &) = delete;
  Handle &operator=(const Handle &) = delete;

  HANDLE get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  HANDLE release() { return std::exchange(handle_, nullptr); }
  void reset(HANDLE handle = nullptr) {
    if (handle_)
      CloseHandle(handle_);
    handle_ = handle == INVALID_HANDLE_VALUE ? nullptr : handle;
  }

private:
  HANDLE handle_ = nullptr;
};

} // namespace

bool environmentVariable(const char *name, std::string &value) {
  const std::wstring wideName = widen(name);
  std::wstring buffer(256, L'\0');
  for (;;) {
    SetLastError(ERROR_SUCCESS);
    const DWORD length = GetEnvironmentVariableW(
        wideName.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND)
      return false;
    if (length < buffer.size()) {
      buffer.resize(length);
      value = narrow(buffer);
      return true;
    }
    buffer.resize(length); // the size it needs, with the terminator
  }
}

std::string userCacheDir() {
  std::string dir;
  if (environmentVariable("LOCALAPPDATA", dir) && !dir.empty())
    return dir;
  return "";
}

std::string defaultPluginDir() {
  std::string common;
  if (!environmentVariable("CommonProgramFiles", common) || common.empty())
    common = "C:\\Program Files\\Common Files";
  return fromPath(toPath(common) / "OFX" / "Plugins");
}

// ---------------------------------------------------------------- PE

namespace {

const WORD kMachineI386 = 0x014C;
const WORD kMachineArm = 0x01C0;
const WORD kMachineArmThumb = 0x01C4;
const WORD kMachineAmd64 = 0x8664;
const WORD kMachineArm64 = 0xAA64;
const WORD kMagicPe32 = 0x010B;

#if defined(__x86_64__) || defined(_M_X64)
const WORD kNativeMachine = kMachineAmd64;
#elif defined(__aarch64__) || defined(_M_ARM64)
const WORD kNativeMachine = kMachineArm64;
#else
const WORD kNativeMachine = 0; // not checked
#endif

struct MachineName {
  WORD machine;
  const char *name;
};
const MachineName kMachineNames[] = {{kMachineI386, "x86"},
                                     {kMachineArm, "ARM"},
                                     {kMachineArmThumb, "ARM"},
                                     {kMachineAmd64, "x64"},
                                     {kMachineArm64, "ARM64"}};

std::string truncated(std::uintmax_t size, std::uintmax_t needed) {
  return "the binary is cut short: it has " + std::to_string(size) +
         " bytes, its headers need " + std::to_string(needed);
}

bool readAt(std::ifstream &in, std::uintmax_t offset, void *out, size_t size) {
  in.clear();
  in.seekg(static_cast<std::streamoff>(offset));
  in.read(static_cast<char *>(out), static_cast<std::streamsize>(size));
  return static_cast<size_t>(in.gcount()) == size;
}

std::string hex(unsigned long value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*lX", digits, value);
  return text;
}

std::string checkMachine(WORD machine, WORD magic) {
  const bool thirtyTwoBit = magic == kMagicPe32 || machine == kMachineI386 ||
                            machine == kMachineArm ||
                            machine == kMachineArmThumb;
  if (thirtyTwoBit)
    return "built for a 32-bit system";
  if (kNativeMachine == 0 || machine == kNativeMachine)
    return "";
  std::string name;
  for (const MachineName &known : kMachineNames)
    if (known.machine == machine)
      name = std::string(known.name) + ", ";
  return "built for another processor (" + name + "PE machine " +
         hex(machine, 4) + ")";
}

// The headers of a 64-bit DLL, as far as the host looks at them.
struct PeHeaders {
  std::uintmax_t fileSize = 0;
  std::uintmax_t sectionTableEnd = 0;
  IMAGE_FILE_HEADER file{};
  IMAGE_OPTIONAL_HEADER64 optional{};
  std::vector<IMAGE_SECTION_HEADER> sections;
};

// Reads the headers of a DLL for this system; "" or what is wrong.
std::string readPeHeaders(std::ifstream &in, PeHeaders &pe) {
  in.seekg(0, std::ios::end);
  const std::uintmax_t size = static_cast<std::uintmax_t>(in.tellg());
  pe.fileSize = size;
  IMAGE_DOS_HEADER dos{};
  if (size < 2 || !readAt(in, 0, &dos, 2) || dos.e_magic != IMAGE_DOS_SIGNATURE)
    return "not a shared library (no MZ header)";
  if (size < sizeof dos || !readAt(in, 0, &dos, sizeof dos))
    return truncated(size, sizeof dos);
  if (dos.e_lfanew <= 0)
    return "not a shared library (no PE header)";
  const std::uintmax_t fileHeaderAt = std::uintmax_t(dos.e_lfanew) + 4;
  const std::uintmax_t optionalAt = fileHeaderAt + sizeof pe.file;
  if (optionalAt > size)
    return truncated(size, optionalAt);
  DWORD signature = 0;
  readAt(in, std::uintmax_t(dos.e_lfanew), &signature, sizeof signature);
  if (signature != IMAGE_NT_SIGNATURE)
    return "not a shared library (no PE header)";
  readAt(in, fileHeaderAt, &pe.file, sizeof pe.file);
  const std::uintmax_t optionalEnd = optionalAt + pe.file.SizeOfOptionalHeader;
  WORD magic = 0;
  if (pe.file.SizeOfOptionalHeader < sizeof magic)
    return "not a shared library (no optional header)";
  if (optionalEnd > size)
    return truncated(size, optionalEnd);
  readAt(in, optionalAt, &magic, sizeof magic);
  std::string problem = checkMachine(pe.file.Machine, magic);
  if (!problem.empty())
    return problem;
  if (!(pe.file.Characteristics & IMAGE_FILE_DLL))
    return "not a shared library (a program, not a DLL)";
  const size_t optionalSize =
      std::min<size_t>(sizeof pe.optional, pe.file.SizeOfOptionalHeader);
  if (optionalSize < offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory))
    return "not a shared library (its optional header is too short)";
  readAt(in, optionalAt, &pe.optional, optionalSize);
  pe.sectionTableEnd = optionalEnd + std::uintmax_t(pe.file.NumberOfSections) *
                                         sizeof(IMAGE_SECTION_HEADER);
  if (pe.sectionTableEnd > size)
    return truncated(size, pe.sectionTableEnd);
  pe.sections.resize(pe.file.NumberOfSections);
  if (!pe.sections.empty())
    readAt(in, optionalEnd, pe.sections.data(),
           pe.sections.size() * sizeof(IMAGE_SECTION_HEADER));
  return "";
}

// Where the file holds what the image has at rva; 0 when it does not.
std::uintmax_t fileOffsetOf(const PeHeaders &pe, DWORD rva) {
  for (const IMAGE_SECTION_HEADER &section : pe.sections) {
    const DWORD extent =
        std::max<DWORD>(section.Misc.VirtualSize, section.SizeOfRawData);
    if (rva >= section.VirtualAddress && rva - section.VirtualAddress < extent)
      return std::uintmax_t(section.PointerToRawData) +
             (rva - section.VirtualAddress);
  }
  return 0;
}

// The names of the DLLs the binary imports directly.
std::vector<std::string> importedDlls(const std::string &path) {
  std::vector<std::string> names;
  std::ifstream in(toPath(path), std::ios::binary);
  PeHeaders pe;
  if (!in || !readPeHeaders(in, pe).empty() ||
      pe.optional.NumberOfRvaAndSizes <= IMAGE_DIRECTORY_ENTRY_IMPORT)
    return names;
  const IMAGE_DATA_DIRECTORY &imports =
      pe.optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  std::uintmax_t at = fileOffsetOf(pe, imports.VirtualAddress);
  const size_t kMaxImports = 4096;
  for (size_t i = 0; at != 0 && i < kMaxImports; ++i) {
    IMAGE_IMPORT_DESCRIPTOR entry{};
    if (!readAt(in, at + i * sizeof entry, &entry, sizeof entry) ||
        entry.Name == 0)
      break;
    char name[MAX_PATH + 1] = {};
    const std::uintmax_t nameAt = fileOffsetOf(pe, entry.Name);
    in.clear();
    in.seekg(static_cast<std::streamoff>(nameAt));
    in.read(name, MAX_PATH);
    if (nameAt != 0 && name[0] != '\0')
      names.emplace_back(name);
  }
  return names;
}

bool startsWithNoCase(const std::string &text, const char *prefix) {
  for (size_t i = 0; prefix[i]; ++i)
    if (i >= text.size() ||
        std::tolower(static_cast<unsigned char>(text[i])) != prefix[i])
      return false;
  return true;
}

// Whether the loader can find the DLL for a binary in binaryDir: loaded
// already, beside the binary, or on the search path.
bool dllFindable(const fs::path &binaryDir, const std::string &name) {
  // API sets are resolved by the loader itself; no such files exist.
  if (startsWithNoCase(name, "api-ms-") || startsWithNoCase(name, "ext-ms-"))
    return true;
  const std::wstring wide = widen(name);
  if (GetModuleHandleW(wide.c_str()))
    return true;
  std::error_code ec;
  if (fs::exists(binaryDir / wide, ec))
    return true;
  wchar_t found[MAX_PATH];
  return SearchPathW(nullptr, wide.c_str(), nullptr, MAX_PATH, found,
                     nullptr) != 0;
}

// What the system says of a DLL it cannot find tells not which one; the
// binary's imports do, when one of them is the one missing.
std::string missingDependencies(const std::string &path) {
  const fs::path dir = toPath(path).parent_path();
  std::string missing;
  for (const std::string &name : importedDlls(path)) {
    if (dllFindable(dir, name))
      continue;
    missing += (missing.empty() ? "" : ", ") + name;
  }
  if (missing.empty())
    return "";
  return "it needs " + missing +
         ", not found beside it or on the DLL search path";
}

} // namespace

std::string checkBinaryFile(const std::string &path) {
  std::ifstream in(toPath(path), std::ios::binary);
  if (!in)
    return std::string("cannot read the binary: ") + std::strerror(errno);
  PeHeaders pe;
  const std::string problem = readPeHeaders(in, pe);
  if (!problem.empty())
    return problem;
  std::uintmax_t needed =
      std::max<std::uintmax_t>(pe.sectionTableEnd, pe.optional.SizeOfHeaders);
  for (const IMAGE_SECTION_HEADER &section : pe.sections)
    if (section.SizeOfRawData != 0)
      needed = std::max<std::uintmax_t>(
          needed,
          std::uintmax_t(section.PointerToRawData) + section.SizeOfRawData);
  if (pe.file.PointerToSymbolTable != 0)
    needed = std::max<std::uintmax_t>(
        needed,
        std::uintmax_t(pe.file.PointerToSymbolTable) +
            std::uintmax_t(pe.file.NumberOfSymbols) * IMAGE_SIZEOF_SYMBOL);
  return needed > pe.fileSize ? truncated(pe.fileSize, needed) : "";
}

void *openLibrary(const std::string &path, std::string &error) {
  std::error_code ec;
  fs::path full = fs::absolute(toPath(path), ec);
  if (ec)
    full = toPath(path);
  // The DLLs a bundle ships for its binary sit beside it: with the altered
  // search path (which needs a full path with backslashes) the loader
  // looks there first. A missing one is reported, not shown in a dialog.
  DWORD oldMode = 0;
  SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &oldMode);
  HMODULE module = LoadLibraryExW(full.make_preferred().c_str(), nullptr,
                                  LOAD_WITH_ALTERED_SEARCH_PATH);
  const DWORD code = GetLastError();
  SetThreadErrorMode(oldMode, nullptr);
  if (module)
    return module;
  if (code == ERROR_MOD_NOT_FOUND)
    error = missingDependencies(fromPath(full));
  if (error.empty())
    error = systemMessage(code);
  return nullptr;
}

void *librarySymbol(void *library, const char *name) {
  return reinterpret_cast<void *>(
      GetProcAddress(static_cast<HMODULE>(library), name));
}

void closeLibrary(void *library) {
  if (library)
    FreeLibrary(static_cast<HMODULE>(library));
}

// ---------------------------------------------------------------- the probe

namespace {

// Quoted so that the C runtime's and CommandLineToArgvW's parsing gives
// arg back: backslashes are literal except before a quote, so those before
// a quote, and before the closing one, are doubled.
std::wstring quoteArgument(const std::wstring &arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos)
    return arg;
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, L'\\');
  quoted += L'"';
  return quoted;
}

// The program's name is read up to the next quote, without escapes; no
// Windows path holds a quote.
std::wstring commandLine(const std::wstring &program,
                         const std::vector<std::string> &args) {
  std::wstring line = L"\"" + program + L"\"";
  for (const std::string &arg : args)
    line += L" " + quoteArgument(widen(arg));
  return line;
}

std::string runningProgramDir() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(),
                                            static_cast<DWORD>(buffer.size()));
    if (length == 0)
      return "";
    if (length < buffer.size()) {
      buffer.resize(length);
      return fromPath(fs::path(buffer).parent_path());
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::string defaultProbeProgram() {
  return fromPath(toPath(runningProgramDir()) / "ofxhost-probe.exe");
}

// Only the probe started while it is held inherits the handles made
// inheritable for it: two probes started at once must not each hold the
// other's answer pipe open.
std::mutex &inheritanceMutex() {
  static std::mutex mutex;
  return mutex;
}

// A pipe that this process reads with a time limit (which needs
// overlapped reads, and so a named pipe) and whose write end a child
// inherits.
DWORD createAnswerPipe(Handle &readEnd, Handle &writeEnd) {
  static std::atomic<unsigned long> counter{0};
  const std::wstring name = L"\\\\.\\pipe\\ofxhost-probe-" +
                            std::to_wstring(GetCurrentProcessId()) + L"-" +
                            std::to_wstring(counter++);
  readEnd.reset(CreateNamedPipeW(name.c_str(),
                                 PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED |
                                     FILE_FLAG_FIRST_PIPE_INSTANCE,
                                 PIPE_TYPE_BYTE | PIPE_READMODE_BYTE |
                                     PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                                 1, 0, 65536, 0, nullptr));
  if (!readEnd)
    return GetLastError();
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  writeEnd.reset(CreateFileW(name.c_str(), GENERIC_WRITE, 0, &inheritable,
                             OPEN_EXISTING, 0, nullptr));
  return writeEnd ? ERROR_SUCCESS : GetLastError();
}

// The child's standard input, output (when not the answers) and error.
HANDLE openNullDevice(bool inheritable) {
  SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr,
                                 inheritable ? TRUE : FALSE};
  return CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, &attributes,
                     OPEN_EXISTING, 0, nullptr);
}

// Starts program suspended with the answer pipe as its standard output,
// inheriting nothing else; ERROR_SUCCESS or why not.
DWORD startSuspended(const std::string &program,
                     const std::vector<std::string> &args,
                     PROCESS_INFORMATION &started, Handle &answers) {
  std::lock_guard<std::mutex> lock(inheritanceMutex());
  Handle writeEnd;
  DWORD code = createAnswerPipe(answers, writeEnd);
  if (code != ERROR_SUCCESS)
    return code;
  Handle nul(openNullDevice(true));
  if (!nul)
    return GetLastError();

  SIZE_T listSize = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &listSize);
  std::vector<char> listStorage(listSize);
  auto list =
      reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(listStorage.data());
  if (!InitializeProcThreadAttributeList(list, 1, 0, &listSize))
    return GetLastError();
  HANDLE inherited[] = {writeEnd.get(), nul.get()};
  STARTUPINFOEXW info{};
  info.StartupInfo.cb = sizeof info;
  info.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  info.StartupInfo.hStdInput = nul.get();
  info.StartupInfo.hStdOutput = writeEnd.get();
  info.StartupInfo.hStdError = nul.get();
  info.lpAttributeList = list;
  const std::wstring programPath = toPath(program).make_preferred().wstring();
  std::wstring line = commandLine(programPath, args);
  const bool ok =
      UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                inherited, sizeof inherited, nullptr,
                                nullptr) &&
      CreateProcessW(programPath.c_str(), line.data(), nullptr, nullptr, TRUE,
                     CREATE_SUSPENDED | CREATE_NO_WINDOW |
                         CREATE_UNICODE_ENVIRONMENT |
                         EXTENDED_STARTUPINFO_PRESENT,
                     nullptr, nullptr, &info.StartupInfo, &started);
  code = ok ? ERROR_SUCCESS : GetLastError();
  DeleteProcThreadAttributeList(list);
  return code;
}

// A job that ends every process in it once its handle is closed, and ends
// one that meets an unhandled exception at once rather than showing a
// dialog. Null when the system refuses (a process already in a job that
// allows no other): the probe then runs alone, and only it can be ended.
HANDLE jobFor(HANDLE process) {
  Handle job(CreateJobObjectW(nullptr, nullptr));
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags =
      JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE |
      JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;
  if (!job ||
      !SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation,
                               &limits, sizeof limits) ||
      !AssignProcessToJobObject(job.get(), process))
    return nullptr;
  return job.release();
}

DWORD millisecondsLeft(ULONGLONG deadline) {
  const ULONGLONG now = GetTickCount64();
  return now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
}

enum class ReadEnd { Closed, TimedOut, Stopped };

bool stopAsked(const std::function<bool()> &stopRequested) {
  return stopRequested && stopRequested();
}

// Waits for the pending read, the probe's end, the deadline or a stop
// request, asking for the last at least every kStopPollMs.
DWORD waitForRead(HANDLE event, HANDLE process, ULONGLONG deadline,
                  const std::function<bool()> &stopRequested, ReadEnd &cut) {
  const HANDLE waits[] = {event, process};
  for (;;) {
    if (stopAsked(stopRequested)) {
      cut = ReadEnd::Stopped;
      return WAIT_TIMEOUT;
    }
    const DWORD left = millisecondsLeft(deadline);
    if (left == 0) {
      cut = ReadEnd::TimedOut;
      return WAIT_TIMEOUT;
    }
    const DWORD woke = WaitForMultipleObjects(
        2, waits, FALSE, std::min<DWORD>(left, DWORD(kStopPollMs)));
    if (woke != WAIT_TIMEOUT)
      return woke;
  }
}

// Reads the answers until every writer has closed the pipe, or the probe
// has ended and what it wrote is read (a process it started may hold the
// pipe open much longer): Closed. TimedOut or Stopped when the time is up
// or the caller asks to stop first.
ReadEnd readAnswers(HANDLE pipe, HANDLE process, ULONGLONG deadline,
                    const std::function<bool()> &stopRequested,
                    std::string &text) {
  Handle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!event)
    return ReadEnd::TimedOut;
  char buffer[4096];
  for (;;) {
    if (stopAsked(stopRequested))
      return ReadEnd::Stopped;
    if (millisecondsLeft(deadline) == 0)
      return ReadEnd::TimedOut;
    OVERLAPPED overlapped{};
    overlapped.hEvent = event.get();
    DWORD got = 0;
    if (!ReadFile(pipe, buffer, sizeof buffer, nullptr, &overlapped)) {
      if (GetLastError() != ERROR_IO_PENDING)
        return ReadEnd::Closed; // every writer has closed the pipe
      ReadEnd cut = ReadEnd::Closed;
      const DWORD woke =
          waitForRead(event.get(), process, deadline, stopRequested, cut);
      if (woke != WAIT_OBJECT_0) {
        // Ended, or cut short: a read that completed meanwhile still
        // counts, one still waiting is given up.
        CancelIo(pipe);
        if (GetOverlappedResult(pipe, &overlapped, &got, TRUE))
          text.append(buffer, got);
        if (woke == WAIT_OBJECT_0 + 1 && got > 0)
          continue;
        return woke == WAIT_OBJECT_0 + 1 ? ReadEnd::Closed : cut;
      }
    }
    if (!GetOverlappedResult(pipe, &overlapped, &got, FALSE))
      return ReadEnd::Closed;
    text.append(buffer, got);
  }
}

// Waits for the probe to end once its answers are in, within the deadline
// and while the caller does not ask to stop.
ReadEnd waitForEnd(HANDLE process, ULONGLONG deadline,
                   const std::function<bool()> &stopRequested) {
  for (;;) {
    if (stopAsked(stopRequested))
      return ReadEnd::Stopped;
    const DWORD left = millisecondsLeft(deadline);
    if (left == 0)
      return ReadEnd::TimedOut;
    if (WaitForSingleObject(process,
                            std::min<DWORD>(left, DWORD(kStopPollMs))) ==
        WAIT_OBJECT_0)
      return ReadEnd::Closed;
  }
}

const DWORD kFastFail = 0xC0000409;

struct CrashCode {
  DWORD code;
  const char *what;
};
const CrashCode kCrashCodes[] = {
    {0xC0000005, "access violation"},
    {0xC00000FD, "stack overflow"},
    {kFastFail, "fast fail: an abort or a failed security check"},
    {0xC000001D, "illegal instruction"},
    {0xC0000096, "privileged instruction"},
    {0xC0000094, "integer division by zero"},
    {0xC0000095, "integer overflow"},
    {0xC000008E, "floating-point division by zero"},
    {0xC0000090, "invalid floating-point operation"},
    {0xC0000006, "in-page error: a page of the binary could not be read"},
    {0xC0000374, "heap corruption"},
    {0xC0000135, "a DLL it needs is missing"},
    {0xC0000142, "a DLL failed to initialise"},
    {0x80000003, "breakpoint"},
    {0x80000002, "misaligned data"},
};

// An exception code the process died of, or the status it passed to exit.
std::string describeExit(DWORD code) {
  for (const CrashCode &crash : kCrashCodes)
    if (crash.code == code)
      return "crashed (" + hex(code, 8) + ", " + crash.what + ")";
  if ((code & 0xF0000000) == 0xC0000000)
    return "crashed (" + hex(code, 8) + ")";
  return "ended the process (exit status " +
         std::to_string(static_cast<int>(code)) + ")";
}

void writeAll(HANDLE out, const std::string &text) {
  const char *data = text.data();
  size_t left = text.size();
  while (left > 0) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(left, 1 << 20));
    if (!WriteFile(out, data, chunk, &written, nullptr) || written == 0)
      return;
    data += written;
    left -= written;
  }
}

// A crash of the probe ends it at once, its exception code the exit
// status the host reports: no error report, no debugger (which Wine starts
// whatever the error mode says).
LONG WINAPI endOnCrash(EXCEPTION_POINTERS *crash) {
  TerminateProcess(GetCurrentProcess(), crash->ExceptionRecord->ExceptionCode);
  return EXCEPTION_EXECUTE_HANDLER;
}

// The C runtime's abort() ends the process with exit status 3, which a
// plug-in may as well pass to exit(); newer runtimes fail fast instead, with
// the code that names an abort, and so does the probe.
void failFast(int) { TerminateProcess(GetCurrentProcess(), kFastFail); }

} // namespace

ProbeRun
runProbe(const std::string &program, const std::vector<std::string> &args,
         int timeoutMs, const std::function<bool()> &stopRequested,
         const std::function<void(const AnswerWriter &)> & /*answerInChild*/) {
  ProbeRun run;
  const std::string exe = program.empty() ? defaultProbeProgram() : program;
  const ULONGLONG deadline = GetTickCount64() + ULONGLONG(timeoutMs);
  PROCESS_INFORMATION started{};
  Handle answers;
  const DWORD code = startSuspended(exe, args, started, answers);
  if (code != ERROR_SUCCESS) {
    run.startError =
        "cannot start the probe " + exe + ": " + systemMessage(code);
    return run;
  }
  Handle process(started.hProcess);
  Handle thread(started.hThread);
  // In its job before it runs, so that nothing it starts escapes.
  Handle job(jobFor(process.get()));
  ResumeThread(thread.get());

  ReadEnd end = readAnswers(answers.get(), process.get(), deadline,
                            stopRequested, run.output);
  if (end == ReadEnd::Closed)
    end = waitForEnd(process.get(), deadline, stopRequested);
  if (end != ReadEnd::Closed) {
    if (job)
      TerminateJobObject(job.get(), ERROR_TIMEOUT);
    else
      TerminateProcess(process.get(), ERROR_TIMEOUT);
    WaitForSingleObject(process.get(), INFINITE);
    run.timedOut = end == ReadEnd::TimedOut;
    run.stopped = end == ReadEnd::Stopped;
    return run;
  }
  DWORD status = 0;
  GetExitCodeProcess(process.get(), &status);
  run.ending = describeExit(status);
  // Closing the job ends whatever the probe started and left running.
  return run;
}

std::vector<std::string> programArguments(int argc, char **argv) {
  int count = 0;
  wchar_t **wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!wide)
    return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> args;
  for (int i = 0; i < count; ++i)
    args.push_back(narrow(wide[i]));
  LocalFree(wide);
  return args;
}

AnswerWriter takeProbeAnswers() {
  // A missing DLL is an error, not a dialog.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX |
               SEM_NOOPENFILEERRORBOX);
  SetUnhandledExceptionFilter(endOnCrash);
  std::signal(SIGABRT, failFast);
  const HANDLE self = GetCurrentProcess();
  HANDLE answers = nullptr;
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (!out || out == INVALID_HANDLE_VALUE ||
      !DuplicateHandle(self, out, self, &answers, 0, FALSE,
                       DUPLICATE_SAME_ACCESS))
    return nullptr;
  // What the plug-in prints now it prints again when really used. Both the
  // system's standard handles and the C runtime's descriptors (which
  // printf writes to) go to the null device.
  std::fflush(stdout);
  std::fflush(stderr);
  const HANDLE nul = openNullDevice(false);
  if (nul != INVALID_HANDLE_VALUE) {
    SetStdHandle(STD_OUTPUT_HANDLE, nul);
    SetStdHandle(STD_ERROR_HANDLE, nul);
  }
  const int nulFd = _open("NUL", _O_WRONLY);
  if (nulFd >= 0) {
    _dup2(nulFd, 1);
    _dup2(nulFd, 2);
    _close(nulFd);
  }
  return [answers](const std::string &text) { writeAll(answers, text); };
}

void endProbeProcess() {
  TerminateProcess(GetCurrentProcess(), 0);
  ExitProcess(0); // not reached
}

} // namespace platform
} // namespace ofxhost
