#include "sys/file_replace_win.h"

#include "sys/file_placement_win.h"
#include "sys/folder_removal.h"
#include "sys/protected_folder.h"

#include <string>

namespace brindle {

namespace {

bool ReadWhole(HANDLE file, std::string& bytes) {
  LARGE_INTEGER size = {};
  if (!GetFileSizeEx(file, &size) || size.QuadPart < 0 ||
      static_cast<unsigned long long>(size.QuadPart) > kMaxReplacedFileBytes)
    return false;
  bytes.assign(static_cast<size_t>(size.QuadPart), '\0');
  size_t got = 0;
  while (got < bytes.size()) {
    DWORD n = 0;
    const DWORD want = static_cast<DWORD>(std::min<size_t>(bytes.size() - got, 1u << 20));
    if (!ReadFile(file, &bytes[got], want, &n, nullptr) || n == 0) return false;
    got += n;
  }
  // Nothing more than the size said: a file that grew meanwhile is not the one that was sized.
  char extra = 0;
  DWORD n = 0;
  return ReadFile(file, &extra, 1, &n, nullptr) && n == 0;
}

bool WriteWhole(HANDLE file, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD n = 0;
    const DWORD want = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
    if (!WriteFile(file, bytes.data() + done, want, &n, nullptr) || n == 0) return false;
    done += n;
  }
  return true;
}

void DeleteOpenFile(HANDLE file) {
  FILE_DISPOSITION_INFO disposition = {};
  disposition.DeleteFile = TRUE;
  SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
}

// A name for the copy while it is written, unlikely to be taken; a taken one is never reused.
std::wstring TemporaryName(const std::wstring& name, unsigned attempt) {
  return L"~" + name + L"." + std::to_wstring(GetCurrentProcessId()) + L"." +
         std::to_wstring(GetTickCount() + attempt) + L".tmp";
}

// The placed copy is a plain file of one name holding exactly the bytes written.
bool HoldsTheCopy(HANDLE placed, const std::string& bytes) {
  FILE_STANDARD_INFO standard = {};
  if (!GetFileInformationByHandleEx(placed, FileStandardInfo, &standard, sizeof standard) ||
      standard.Directory || standard.NumberOfLinks != 1 || IsLinkByHandle(placed))
    return false;
  std::string found;
  return ReadWhole(placed, found) && found == bytes;
}

}  // namespace

bool ReplaceFileInFolder(HANDLE folder, const std::wstring& folderPath, const std::wstring& name,
                         const std::wstring& source, UniqueFile& placed) {
  placed.Reset();
  UniqueFile from(CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  std::string bytes;
  FILETIME created = {}, accessed = {}, written = {};
  if (!from || !ReadWhole(from.Get(), bytes) || !GetFileTime(from.Get(), &created, &accessed, &written))
    return false;
  from.Reset();

  UniqueFile copy;
  for (unsigned attempt = 0; attempt < 16 && !copy; ++attempt)
    copy = OpenInFolder(folder, TemporaryName(name, attempt), GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES,
                        FILE_SHARE_READ, true);
  if (!copy) return false;
  // The folder is held without delete sharing, so its path still leads to it for the rename.
  if (!WriteWhole(copy.Get(), bytes) || !SetFileTime(copy.Get(), &created, &accessed, &written) ||
      !RenameOpenFile(copy.Get(), folderPath + L"\\" + name, true)) {
    DeleteOpenFile(copy.Get());
    return false;
  }
  copy.Reset();
  // Opened again for reading only, shared for reading only, and checked to be what was written:
  // what someone may have done between the rename and this open shows here.
  placed = OpenInFolder(folder, name, GENERIC_READ | FILE_READ_ATTRIBUTES, FILE_SHARE_READ);
  if (!placed || !HoldsTheCopy(placed.Get(), bytes)) {
    placed.Reset();
    return false;
  }
  return true;
}

}  // namespace brindle
