#include "sys/file_util.h"

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cwchar>
#include <vector>

#include "sys/paths.h"
#include "sys/win_handles.h"

namespace brindle {

namespace {

// Backslashes only, and no doubled separator left.
std::wstring NormaliseCopyPath(const std::wstring& path) {
  std::wstring result = ToBackslashes(path);
  for (size_t pos = result.find(L"\\\\"); pos != std::wstring::npos; pos = result.find(L"\\\\", pos)) {
    result.erase(pos, 1);
  }
  return result;
}

bool IsFolder(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

UniqueFile OpenForReading(const std::wstring& path) {
  return UniqueFile(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Reads up to the buffer's size; fewer bytes only at the end of the file. False on an error.
bool ReadChunk(HANDLE file, std::vector<char>& buffer, DWORD& got) {
  got = 0;
  while (got < buffer.size()) {
    DWORD n = 0;
    if (!ReadFile(file, buffer.data() + got, static_cast<DWORD>(buffer.size()) - got, &n, nullptr)) {
      return false;
    }
    if (n == 0) break;
    got += n;
  }
  return true;
}

// The shell copies the folder's contents, silently and without asking anything.
void CopyFolderContents(const std::wstring& source, const std::wstring& destination) {
  std::wstring from = source + L"\\*";
  from.push_back(L'\0');  // the lists end with two terminators
  std::wstring to = destination + L"\\";
  to.push_back(L'\0');
  SHFILEOPSTRUCTW operation = {};
  operation.hwnd = GetDesktopWindow();
  operation.wFunc = FO_COPY;
  operation.pFrom = from.c_str();
  operation.pTo = to.c_str();
  operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI;
  SHFileOperationW(&operation);
}

}  // namespace

int CWinQXFileUtil::CompareFiles(const std::wstring& first, const std::wstring& second) {
  UniqueFile a = OpenForReading(first);
  UniqueFile b = OpenForReading(second);
  if (!a || !b) return -1;
  std::vector<char> bufferA(64 * 1024), bufferB(64 * 1024);
  while (true) {
    DWORD gotA = 0, gotB = 0;
    if (!ReadChunk(a.Get(), bufferA, gotA) || !ReadChunk(b.Get(), bufferB, gotB)) return -1;
    if (gotA != gotB) return 0;
    if (!std::equal(bufferA.begin(), bufferA.begin() + gotA, bufferB.begin())) return 0;
    if (gotA < bufferA.size()) return 1;  // both ended together
  }
}

bool CWinQXFileUtil::CreateFolder(const std::wstring& path) {
  if (PathExists(path)) return true;
  return CreateDirectoryW(path.c_str(), nullptr) != FALSE;
}

bool CWinQXFileUtil::CopyPath(const std::wstring& source, const std::wstring& destination, bool overwrite) {
  const std::wstring from = NormaliseCopyPath(source);
  const std::wstring to = NormaliseCopyPath(destination);
  if (IsFolder(from)) {
    if (!PathExists(to)) CreateFolderChain(to);
    CopyFolderContents(from, to);
    return false;  // callers copy single files; a folder copy is never reported as done
  }
  if (!PathExists(to)) {
    const size_t slash = to.find_last_of(L'\\');
    if (slash != std::wstring::npos) CreateFolderChain(to.substr(0, slash));
  }
  return CopyFileW(from.c_str(), to.c_str(), overwrite ? FALSE : TRUE) != FALSE;
}

std::wstring CWinQXFileUtil::GetFileSizeText(const std::wstring& path) {
  UniqueFile file = OpenForReading(path);
  LARGE_INTEGER size = {};
  if (!file || !GetFileSizeEx(file.Get(), &size)) return std::wstring();
  return std::to_wstring(static_cast<unsigned long long>(size.QuadPart));
}

void CWinQXFileUtil::GetFileTimeText(const std::wstring& path, std::wstring& text) {
  text.clear();
  if (path.size() >= MAX_PATH) return;
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return;
  SYSTEMTIME utc = {}, local = {};
  if (!FileTimeToSystemTime(&data.ftLastWriteTime, &utc) ||
      !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) {
    return;
  }
  wchar_t buffer[32] = {};
  swprintf(buffer, 32, L"%04u-%02u-%02uT%02u:%02u:%02u", local.wYear, local.wMonth, local.wDay, local.wHour,
           local.wMinute, local.wSecond);
  text = buffer;
}

CQXFileUtil& GetFileUtil() {
  // Holds no data and lives until the process ends.
  static CWinQXFileUtil* const instance = new CWinQXFileUtil();
  return *instance;
}

bool CreateFolderPath(const std::wstring& path) {
  const size_t first = path.find(L'\\');
  const std::wstring root = first == std::wstring::npos ? path + L"\\" : path.substr(0, first + 1);
  const UINT driveType = GetDriveTypeW(root.c_str());
  if (driveType == DRIVE_UNKNOWN || driveType == DRIVE_NO_ROOT_DIR) return false;
  if (first == std::wstring::npos) return true;
  for (size_t pos = path.find(L'\\', first + 1); pos != std::wstring::npos; pos = path.find(L'\\', pos + 1)) {
    const std::wstring folder = path.substr(0, pos);
    if (!CreateDirectoryW(folder.c_str(), nullptr) && !IsFolder(folder)) return false;
  }
  return true;
}

bool GetFileVersion(const std::wstring& path, std::uint32_t& mostSignificant,
                    std::uint32_t& leastSignificant) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0) return false;
  std::vector<BYTE> block(size);
  if (!GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return false;
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &length) || info == nullptr ||
      length < sizeof(VS_FIXEDFILEINFO)) {
    return false;
  }
  mostSignificant = info->dwFileVersionMS;
  leastSignificant = info->dwFileVersionLS;
  return true;
}

bool GetFileWriteTime(const std::wstring& path, std::uint64_t& time) {
  UniqueFile file = OpenForReading(path);
  FILETIME written = {};
  if (!file || !GetFileTime(file.Get(), nullptr, nullptr, &written)) return false;
  time = (static_cast<std::uint64_t>(written.dwHighDateTime) << 32) | written.dwLowDateTime;
  return true;
}

bool ReadWholeFile(const std::wstring& path, std::string& bytes, bool allowWriters) {
  bytes.clear();
  const DWORD share = FILE_SHARE_READ | (allowWriters ? FILE_SHARE_WRITE : 0);
  UniqueFile file(CreateFileW(ToBackslashes(path).c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart < 0 || size.QuadPart > 0x7FFFFFFF) return false;
  bytes.resize(static_cast<size_t>(size.QuadPart));
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD got = 0;
    if (!ReadFile(file.Get(), &bytes[done], static_cast<DWORD>(bytes.size() - done), &got, nullptr))
      return false;
    if (got == 0) break;  // the file shrank meanwhile: keep what was read
    done += got;
  }
  bytes.resize(done);
  return true;
}

}  // namespace brindle
