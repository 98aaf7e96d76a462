// Cabinets through the system's cabinet library: FCI writes, FDI reads. The library names files
// in narrow text; the tool's paths are wide, so the library is handed short markers and the
// callbacks open the real (wide) paths behind them.
#include <windows.h>

#include <fci.h>
#include <fdi.h>
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include "packtool/cabinet.h"
#include "packtool/file_access.h"
#include "sys/safe_names.h"
#include "sys/text.h"

namespace brindle::pack {

namespace {

// The wide paths behind the markers the library is given ("<cab>", "<src:N>").
struct PathTable {
  std::map<std::string, std::wstring> paths;
  std::wstring Resolve(const char* name) const {
    auto it = paths.find(name);
    return it != paths.end() ? it->second : WideFromUtf8(name);
  }
};

// ---- callbacks shared by FCI and FDI (C runtime low-level files) ----

void* DIAMONDAPI Alloc(ULONG size) { return std::malloc(size); }
void DIAMONDAPI Free(void* memory) { std::free(memory); }

PathTable* g_readTable = nullptr;  // FDI's open callback has no context pointer

INT_PTR OpenWide(const std::wstring& path, int flags, int mode) {
  int handle = -1;
  _wsopen_s(&handle, path.c_str(), flags | _O_BINARY, _SH_DENYNO, mode ? mode : _S_IREAD | _S_IWRITE);
  return handle;
}

// ---- FCI (writing) ----

struct WriteContext {
  PathTable table;
  std::wstring tempFolder;
  int tempCounter = 0;
  size_t done = 0, total = 0;
  const CabinetProgress* progress = nullptr;
};

INT_PTR DIAMONDAPI FciOpen(LPSTR file, int flags, int mode, int* err, void* pv) {
  auto* context = static_cast<WriteContext*>(pv);
  const INT_PTR handle = OpenWide(context->table.Resolve(file), flags, mode);
  if (handle == -1) *err = errno;
  return handle;
}
UINT DIAMONDAPI FciRead(INT_PTR hf, void* memory, UINT cb, int* err, void*) {
  const int n = _read(static_cast<int>(hf), memory, cb);
  if (n < 0) *err = errno;
  return static_cast<UINT>(n);
}
UINT DIAMONDAPI FciWrite(INT_PTR hf, void* memory, UINT cb, int* err, void*) {
  const int n = _write(static_cast<int>(hf), memory, cb);
  if (n < 0) *err = errno;
  return static_cast<UINT>(n);
}
int DIAMONDAPI FciClose(INT_PTR hf, int* err, void*) {
  const int r = _close(static_cast<int>(hf));
  if (r != 0) *err = errno;
  return r;
}
LONG DIAMONDAPI FciSeek(INT_PTR hf, LONG distance, int origin, int* err, void*) {
  const long r = _lseek(static_cast<int>(hf), distance, origin);
  if (r < 0) *err = errno;
  return r;
}
int DIAMONDAPI FciDelete(LPSTR file, int* err, void* pv) {
  auto* context = static_cast<WriteContext*>(pv);
  const int r = _wremove(context->table.Resolve(file).c_str());
  if (r != 0) *err = errno;
  return r;
}
// Temporary files live in the tool's own scratch folder, under markers.
BOOL DIAMONDAPI FciTempFile(char* name, int size, void* pv) {
  auto* context = static_cast<WriteContext*>(pv);
  const std::string marker = "<tmp:" + std::to_string(++context->tempCounter) + ">";
  if (static_cast<int>(marker.size()) >= size) return FALSE;
  std::memcpy(name, marker.c_str(), marker.size() + 1);
  context->table.paths[marker] =
      context->tempFolder + L"\\fci" + std::to_wstring(context->tempCounter) + L".tmp";
  return TRUE;
}
int DIAMONDAPI FciFilePlaced(PCCAB, LPSTR, LONG, BOOL, void*) { return 0; }
BOOL DIAMONDAPI FciNextCabinet(PCCAB, ULONG, void*) { return FALSE; }
LONG DIAMONDAPI FciStatus(UINT, ULONG, ULONG, void*) { return 0; }

// Opens a source file and gives the library its DOS date, time and attributes.
INT_PTR DIAMONDAPI FciOpenInfo(LPSTR name, USHORT* date, USHORT* time, USHORT* attributes, int* err,
                               void* pv) {
  auto* context = static_cast<WriteContext*>(pv);
  const std::wstring path = context->table.Resolve(name);
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
    *err = ENOENT;
    return -1;
  }
  FILETIME local;
  FileTimeToLocalFileTime(&data.ftLastWriteTime, &local);
  FileTimeToDosDateTime(&local, date, time);
  *attributes = static_cast<USHORT>(data.dwFileAttributes & (_A_RDONLY | _A_HIDDEN | _A_SYSTEM | _A_ARCH));
  const INT_PTR handle = OpenWide(path, _O_RDONLY | _O_SEQUENTIAL, 0);
  if (handle == -1) *err = errno;
  return handle;
}

// ---- FDI (reading) ----

INT_PTR DIAMONDAPI FdiOpen(char* file, int flags, int mode) {
  return OpenWide(g_readTable ? g_readTable->Resolve(file) : WideFromUtf8(file), flags, mode);
}
UINT DIAMONDAPI FdiRead(INT_PTR hf, void* memory, UINT cb) {
  return static_cast<UINT>(_read(static_cast<int>(hf), memory, cb));
}
UINT DIAMONDAPI FdiWrite(INT_PTR hf, void* memory, UINT cb) {
  return static_cast<UINT>(_write(static_cast<int>(hf), memory, cb));
}
int DIAMONDAPI FdiClose(INT_PTR hf) { return _close(static_cast<int>(hf)); }
LONG DIAMONDAPI FdiSeek(INT_PTR hf, LONG distance, int origin) {
  return _lseek(static_cast<int>(hf), distance, origin);
}

struct ReadContext {
  std::wstring folder;
  std::vector<std::wstring>* names = nullptr;
};

INT_PTR DIAMONDAPI FdiNotify(FDINOTIFICATIONTYPE type, PFDINOTIFICATION info) {
  auto* context = static_cast<ReadContext*>(info->pv);
  if (type == fdintCOPY_FILE) {
    std::wstring name;
    if (info->attribs & _A_NAME_IS_UTF) name = WideFromUtf8(info->psz1);
    else if (!WideFromAnsi(info->psz1, name)) name = WideFromUtf8(info->psz1);
    context->names->push_back(name);
    if (!IsSafeRelativePath(name)) return 0;  // listed, never written
    std::wstring path = context->folder + L"\\" + name;
    for (wchar_t& c : path)
      if (c == L'/') c = L'\\';
    for (size_t at = path.find(L'\\', context->folder.size() + 1); at != std::wstring::npos;
         at = path.find(L'\\', at + 1))
      CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
    return OpenWide(path, _O_CREAT | _O_TRUNC | _O_WRONLY, _S_IREAD | _S_IWRITE);
  }
  if (type == fdintCLOSE_FILE_INFO) {
    // The file carries the cabinet's time stamp (local time), as the program's extraction gives it.
    FILETIME local, utc;
    if (DosDateTimeToFileTime(info->date, info->time, &local) && LocalFileTimeToFileTime(&local, &utc)) {
      const HANDLE file = reinterpret_cast<HANDLE>(_get_osfhandle(static_cast<int>(info->hf)));
      SetFileTime(file, &utc, nullptr, &utc);
    }
    _close(static_cast<int>(info->hf));
    return TRUE;
  }
  return 0;
}

}  // namespace

bool WriteCabinet(const std::wstring& path, const std::vector<CabinetEntry>& entries, std::wstring& reason,
                  const CabinetProgress& progress) {
  TempFolder scratch;
  if (!scratch.Ok()) {
    reason = L"no temporary folder for the cabinet library";
    return false;
  }
  WriteContext context;
  context.tempFolder = scratch.Path();
  context.total = entries.size();
  context.progress = &progress;
  context.table.paths["<cab>"] = path;
  CCAB cab = {};
  cab.cb = 0x7FFFFFFF;
  cab.cbFolderThresh = 0x7FFFFFFF;
  cab.iCab = 1;
  cab.setID = 0x4252;
  std::strcpy(cab.szCab, "<cab>");
  ERF erf = {};
  HFCI fci = FCICreate(&erf, FciFilePlaced, Alloc, Free, FciOpen, FciRead, FciWrite, FciClose, FciSeek,
                       FciDelete, FciTempFile, &cab, &context);
  if (!fci) {
    reason = L"the system's cabinet library cannot start (error " + ToWideDecimal(erf.erfOper) + L")";
    return false;
  }
  bool ok = true;
  for (size_t i = 0; i < entries.size() && ok; ++i) {
    const std::string marker = "<src:" + std::to_string(i) + ">";
    context.table.paths[marker] = entries[i].source;
    std::string name;
    if (!AnsiFromWide(entries[i].name, name) || name.size() >= CB_MAX_FILENAME) {
      reason = entries[i].name + L": the name cannot be stored in a cabinet";
      ok = false;
      break;
    }
    if (!FCIAddFile(fci, const_cast<char*>(marker.c_str()), &name[0], FALSE, FciNextCabinet, FciStatus,
                    FciOpenInfo, tcompTYPE_MSZIP)) {
      reason =
          entries[i].source + L": cannot add the file (cabinet error " + ToWideDecimal(erf.erfOper) + L")";
      ok = false;
      break;
    }
    ++context.done;
    if (progress) progress(context.done, context.total);
  }
  if (ok && !FCIFlushCabinet(fci, FALSE, FciNextCabinet, FciStatus)) {
    reason = path + L": cannot write the cabinet (cabinet error " + ToWideDecimal(erf.erfOper) + L")";
    ok = false;
  }
  FCIDestroy(fci);
  return ok;
}

bool ReadCabinet(const std::wstring& path, const std::wstring& folder, std::vector<std::wstring>& names,
                 std::wstring& reason) {
  names.clear();
  PathTable table;
  table.paths["<cab>"] = path;
  g_readTable = &table;
  struct Reset {
    ~Reset() { g_readTable = nullptr; }
  } reset;
  ERF erf = {};
  HFDI fdi = FDICreate(Alloc, Free, FdiOpen, FdiRead, FdiWrite, FdiClose, FdiSeek, cpu80386, &erf);
  if (!fdi) {
    reason = L"the system's cabinet library cannot start";
    return false;
  }
  const INT_PTR handle = FdiOpen(const_cast<char*>("<cab>"), _O_RDONLY, 0);
  if (handle == -1) {
    FDIDestroy(fdi);
    reason = L"cannot read the file";
    return false;
  }
  FDICABINETINFO info = {};
  const BOOL isCabinet = FDIIsCabinet(fdi, handle, &info);
  _close(static_cast<int>(handle));
  if (!isCabinet) {
    FDIDestroy(fdi);
    reason = L"not a cabinet";
    return false;
  }
  std::error_code ec;
  fs::create_directories(FsPath(folder), ec);
  ReadContext context;
  context.folder = folder;
  for (wchar_t& c : context.folder)
    if (c == L'/') c = L'\\';
  context.names = &names;
  char cabName[] = "<cab>";
  char cabPath[] = "";
  const BOOL copied = FDICopy(fdi, cabName, cabPath, 0, FdiNotify, nullptr, &context);
  FDIDestroy(fdi);
  if (!copied) {
    reason = L"cannot extract the cabinet (cabinet error " + ToWideDecimal(erf.erfOper) + L")";
    return false;
  }
  return true;
}

}  // namespace brindle::pack
