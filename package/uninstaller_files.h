// The uninstaller's files a package travels with: the ZNQ folder beside the package holds
// INSTALL\COMMON (setup.dll, Uninst.exe, UninsVer.txt) and one language folder per language
// (UninstRsc.dll). These rules decide which files an update takes and which uninstaller
// version it installs; the program and brindle-pack both read the files through them.
#pragma once
#include <string>
#include <vector>

namespace brindle {

// The files of INSTALL\COMMON, in the order the update places them.
const std::vector<std::wstring>& UninstallerCommonFiles();

// The file of each language folder.
extern const wchar_t kUninstallerLanguageFile[];

// The language folder below INSTALL for an application's language code (fr gives FRENCH;
// letter case counts); empty text for a code without a folder of its own.
std::wstring UninstallerLanguageFolder(const std::wstring& code);
// The folder used when the language's own folder is not there.
extern const wchar_t kUninstallerFallbackLanguage[];

// A version file is a few bytes: the reader reads no further than this.
constexpr size_t kUninstallerVersionFileLimit = 65536;

// The uninstaller version that UninsVer.txt's bytes (ANSI code page) name: its first word
// (white space of the C locale separates). False when the bytes are not text of the code page
// or the word is not one plain folder name of at most 64 characters: it becomes a folder
// below the common files.
bool UninstallerVersionFromText(const std::string& bytes, std::wstring& version);

}  // namespace brindle
