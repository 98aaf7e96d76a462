#include "package/uninstaller_files.h"

#include <map>
#include <sstream>

#include "sys/safe_names.h"
#include "sys/text.h"

namespace brindle {

const wchar_t kUninstallerFallbackLanguage[] = L"ENGLISH";
const wchar_t kUninstallerLanguageFile[] = L"UninstRsc.dll";

const std::vector<std::wstring>& UninstallerCommonFiles() {
  static const std::vector<std::wstring> files = {L"setup.dll", L"Uninst.exe", L"UninsVer.txt"};
  return files;
}

std::wstring UninstallerLanguageFolder(const std::wstring& code) {
  static const std::map<std::wstring, std::wstring> kFolders = {
      {L"ja", L"JAPANESE"}, {L"en", L"ENGLISH"},     {L"fr", L"FRENCH"},
      {L"it", L"ITALIAN"},  {L"de", L"GERMAN"},      {L"es", L"SPANISH"},
      {L"ru", L"RUSSIAN"},  {L"zh_CN", L"SIMPCHIN"}, {L"ko", L"KOREAN"}};
  const auto found = kFolders.find(code);
  return found == kFolders.end() ? std::wstring() : found->second;
}

bool UninstallerVersionFromText(const std::string& bytes, std::wstring& version) {
  version.clear();
  std::wstring text;
  if (!WideFromAnsi(bytes.substr(0, kUninstallerVersionFileLimit), text)) return false;
  std::wistringstream stream(text);
  stream >> version;
  return IsSafeSingleName(version, 64);
}

}  // namespace brindle
