// Extraction of a package cabinet with the system's cabinet library, loaded at run time. The
// library reads through callbacks over Win32 file handles. Every entry name is checked before
// anything is written: a cabinet with one name that could leave the destination folder (or
// that is too long for it) is refused as a whole.
#include "sys/file_util.h"

#include <windows.h>
#include <fcntl.h>
#include <fdi.h>

#include <cstdlib>
#include <unordered_set>
#include <vector>

#include "sys/library_loading.h"
#include "sys/paths.h"
#include "sys/safe_names.h"
#include "sys/text.h"
#include "sys/win_handles.h"

namespace brindle {

namespace {

const size_t kMaxPathChars = MAX_PATH - 1;

using FDICreateFn = HFDI(DIAMONDAPI*)(PFNALLOC, PFNFREE, PFNOPEN, PFNREAD, PFNWRITE, PFNCLOSE, PFNSEEK, int,
                                      PERF);
using FDICopyFn = BOOL(DIAMONDAPI*)(HFDI, char*, char*, int, PFNFDINOTIFY, PFNFDIDECRYPT, void*);
using FDIIsCabinetFn = BOOL(DIAMONDAPI*)(HFDI, INT_PTR, PFDICABINETINFO);
using FDIDestroyFn = BOOL(DIAMONDAPI*)(HFDI);

template <typename Fn>
Fn Function(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// The cabinet library and its four functions; the library is released with the object.
struct CabinetLibrary {
  UniqueModule module;
  FDICreateFn create = nullptr;
  FDICopyFn copy = nullptr;
  FDIIsCabinetFn isCabinet = nullptr;
  FDIDestroyFn destroy = nullptr;

  bool Load() {
    module = LoadSystemLibrary(L"cabinet.dll");
    if (!module) return false;
    create = Function<FDICreateFn>(module.Get(), "FDICreate");
    copy = Function<FDICopyFn>(module.Get(), "FDICopy");
    isCabinet = Function<FDIIsCabinetFn>(module.Get(), "FDIIsCabinet");
    destroy = Function<FDIDestroyFn>(module.Get(), "FDIDestroy");
    return create && copy && isCabinet && destroy;
  }
};

// Owns one decompression context; Destroy answers whether the library released it.
class FdiContext {
 public:
  FdiContext(const CabinetLibrary& library, HFDI context) : library_(library), context_(context) {}
  ~FdiContext() { Destroy(); }
  FdiContext(const FdiContext&) = delete;
  FdiContext& operator=(const FdiContext&) = delete;
  HFDI Get() const { return context_; }
  bool Destroy() {
    if (context_ == nullptr) return true;
    const bool destroyed = library_.destroy(context_) != FALSE;
    context_ = nullptr;
    return destroyed;
  }

 private:
  const CabinetLibrary& library_;
  HFDI context_;
};

HANDLE AsHandle(INT_PTR hf) { return reinterpret_cast<HANDLE>(hf); }
INT_PTR AsFdiHandle(HANDLE h) { return reinterpret_cast<INT_PTR>(h); }

FNALLOC(Allocate) { return std::malloc(cb); }
FNFREE(Release) { std::free(pv); }

// The library opens only the cabinet itself; the name is the ANSI text it was given.
FNOPEN(OpenFile) {
  std::wstring path;
  if (pszFile == nullptr || !WideFromAnsi(pszFile, path)) return -1;
  DWORD access = GENERIC_READ;
  if (oflag & _O_WRONLY) access = GENERIC_WRITE;
  if (oflag & _O_RDWR) access = GENERIC_READ | GENERIC_WRITE;
  DWORD creation = OPEN_EXISTING;
  if ((oflag & _O_CREAT) && (oflag & _O_EXCL)) {
    creation = CREATE_NEW;
  } else if ((oflag & _O_CREAT) && (oflag & _O_TRUNC)) {
    creation = CREATE_ALWAYS;
  } else if (oflag & _O_CREAT) {
    creation = OPEN_ALWAYS;
  } else if (oflag & _O_TRUNC) {
    creation = TRUNCATE_EXISTING;
  }
  return AsFdiHandle(CreateFileW(path.c_str(), access, FILE_SHARE_READ, nullptr, creation,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

FNREAD(ReadFileCallback) {
  DWORD got = 0;
  return ReadFile(AsHandle(hf), pv, cb, &got, nullptr) ? got : static_cast<UINT>(-1);
}

FNWRITE(WriteFileCallback) {
  DWORD written = 0;
  return WriteFile(AsHandle(hf), pv, cb, &written, nullptr) ? written : static_cast<UINT>(-1);
}

FNCLOSE(CloseFile) { return CloseHandle(AsHandle(hf)) ? 0 : -1; }

FNSEEK(SeekFile) {
  // SEEK_SET, SEEK_CUR and SEEK_END have the values of FILE_BEGIN, FILE_CURRENT and FILE_END.
  LARGE_INTEGER distance, position;
  distance.QuadPart = dist;
  if (!SetFilePointerEx(AsHandle(hf), distance, &position, static_cast<DWORD>(seektype))) {
    return -1;
  }
  return static_cast<__LONG32>(position.QuadPart);
}

// One run over the cabinet. The first pass only checks every entry's name; the second writes.
struct ExtractionRun {
  std::wstring destination;  // backslashes, no trailing separator
  bool writing = false;
  bool refused = false;  // an entry name was unsafe or too long
  // Folders of the destination made (or found) during the run: each is made once, not once
  // for every file it receives.
  std::unordered_set<std::wstring> folders;
};

// The entry's name as wide text: UTF-8 when the cabinet says so, else the ANSI code page.
bool EntryName(const FDINOTIFICATION& notification, std::wstring& name) {
  if (notification.psz1 == nullptr) return false;
  const std::string narrow(notification.psz1);
  if (notification.attribs & _A_NAME_IS_UTF) {
    name = WideFromUtf8(narrow);
    return name.find(L'\xFFFD') == std::wstring::npos;
  }
  return WideFromAnsi(narrow, name);
}

// Where the entry goes: the destination, '\', and the entry's relative path. False when the
// name could reach outside the destination or the result does not fit a path.
bool OutputPath(const ExtractionRun& run, const FDINOTIFICATION& notification, std::wstring& output) {
  std::wstring name;
  if (!EntryName(notification, name) || !IsSafeRelativePath(name, kMaxPathChars)) return false;
  output = run.destination + L"\\" + ToBackslashes(name);
  return output.size() <= kMaxPathChars;
}

// The cabinet's DOS date and time are local time.
bool FileTimeFromDos(USHORT date, USHORT time, FILETIME& utc) {
  FILETIME local = {};
  SYSTEMTIME localTime = {}, utcTime = {};
  return DosDateTimeToFileTime(date, time, &local) && FileTimeToSystemTime(&local, &localTime) &&
         TzSpecificLocalTimeToSystemTime(nullptr, &localTime, &utcTime) &&
         SystemTimeToFileTime(&utcTime, &utc);
}

// Makes the folder that will hold the output file. The first one is made with its whole chain
// (its drive checked); later ones only below the deepest folder already made or found, one
// request for each folder missing rather than one for every folder of the path.
bool MakeFolderOf(ExtractionRun& run, const std::wstring& output) {
  const std::wstring folder = output.substr(0, output.find_last_of(L'\\'));
  if (run.folders.count(folder)) return true;
  if (run.folders.empty()) {
    if (!CreateFolderPath(output)) return false;
    // It and every folder between it and the destination are known from then on.
    for (std::wstring at = folder; at.size() >= run.destination.size();) {
      run.folders.insert(at);
      const size_t slash = at.find_last_of(L'\\');
      if (slash == std::wstring::npos || at.size() == run.destination.size()) break;
      at.resize(slash);
    }
    return true;
  }
  std::vector<std::wstring> missing;
  std::wstring at = folder;
  while (!run.folders.count(at)) {
    missing.push_back(at);
    const size_t slash = at.find_last_of(L'\\');
    if (slash == std::wstring::npos || at.size() <= run.destination.size()) return CreateFolderPath(output);
    at = at.substr(0, slash);
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    if (!CreateDirectoryW(it->c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
    const DWORD attributes = GetFileAttributesW(it->c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
    run.folders.insert(*it);
  }
  return true;
}

INT_PTR StartOutputFile(ExtractionRun& run, const FDINOTIFICATION& notification) {
  std::wstring output;
  if (!OutputPath(run, notification, output)) {
    run.refused = true;
    return -1;  // ends the whole copy
  }
  if (!run.writing) return 0;  // checked only; the library skips the file
  if (!MakeFolderOf(run, output)) return -1;
  return AsFdiHandle(CreateFileW(output.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
}

INT_PTR FinishOutputFile(const FDINOTIFICATION& notification) {
  HANDLE file = AsHandle(notification.hf);
  FILETIME stamp = {};
  if (FileTimeFromDos(notification.date, notification.time, stamp)) {
    SetFileTime(file, &stamp, nullptr, &stamp);
  }
  return CloseHandle(file) ? TRUE : FALSE;
}

FNFDINOTIFY(Notify) {
  ExtractionRun& run = *static_cast<ExtractionRun*>(pfdin->pv);
  switch (fdint) {
    case fdintCOPY_FILE: return StartOutputFile(run, *pfdin);
    case fdintCLOSE_FILE_INFO: return FinishOutputFile(*pfdin);
    default: return 0;
  }
}

bool IsCabinetFile(const CabinetLibrary& library, HFDI context, const std::wstring& path) {
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) return false;
  FDICABINETINFO info = {};
  return library.isCabinet(context, AsFdiHandle(file.Get()), &info) != FALSE;
}

bool CopyAll(const CabinetLibrary& library, HFDI context, const std::string& cabinetName,
             const std::string& cabinetFolder, ExtractionRun& run) {
  std::vector<char> name(cabinetName.begin(), cabinetName.end());
  name.push_back('\0');
  std::vector<char> folder(cabinetFolder.begin(), cabinetFolder.end());
  folder.push_back('\0');
  const BOOL copied = library.copy(context, name.data(), folder.data(), 0, Notify, nullptr, &run);
  return copied && !run.refused;
}

}  // namespace

bool ExtractCabinet(const std::wstring& cabinetPath, const std::wstring& destinationFolder) {
  const std::wstring cabinet = ToBackslashes(cabinetPath);
  std::wstring destination = ToBackslashes(destinationFolder);
  while (!destination.empty() && destination.back() == L'\\') destination.pop_back();
  if (cabinet.empty() || destination.empty() || cabinet.size() > kMaxPathChars ||
      destination.size() > kMaxPathChars) {
    return false;
  }
  // The library takes the cabinet's folder (with its '\') and name as ANSI text.
  const size_t slash = cabinet.find_last_of(L'\\');
  const std::wstring folderPart = slash == std::wstring::npos ? L"" : cabinet.substr(0, slash + 1);
  std::string cabinetFolder, cabinetName;
  if (!AnsiFromWide(folderPart, cabinetFolder) ||
      !AnsiFromWide(cabinet.substr(folderPart.size()), cabinetName) || cabinetName.empty()) {
    return false;
  }

  CabinetLibrary library;
  if (!library.Load()) return false;
  ERF error = {};
  FdiContext context(library, library.create(Allocate, Release, OpenFile, ReadFileCallback, WriteFileCallback,
                                             CloseFile, SeekFile, cpu80386, &error));
  if (context.Get() == nullptr) return false;
  if (!IsCabinetFile(library, context.Get(), cabinet)) return false;

  ExtractionRun check;
  check.destination = destination;
  if (!CopyAll(library, context.Get(), cabinetName, cabinetFolder, check)) return false;
  ExtractionRun write = check;
  write.writing = true;
  const bool copied = CopyAll(library, context.Get(), cabinetName, cabinetFolder, write);
  return context.Destroy() && copied;
}

}  // namespace brindle
