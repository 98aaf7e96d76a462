// The install log: the machine-wide record, shared with the maker's installer, of the
// applications it installed, one AppLocal entry per application (name, folders, versions,
// language, region, online-service settings and the path of its uninstall log). On disk it is
// an XML AppLocalList enciphered as install_log_cipher.h describes.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "package/version.h"

namespace brindle {

class CXMLElement;

// One application.
struct InstallLogEntry {
  std::wstring AppName;
  CQXDisplayName DisplayName;
  CQXVersionWithType applicationVersion{std::wstring(), kVersionApplication};
  CQXVersionWithType uninstallerVersion{std::wstring(), kVersionUninstall};
  CQXVersionWithType installerVersion{std::wstring(), kVersionInstall};
  std::wstring FullPath;  // installation folder
  CQXItem Item;           // attribute FullPath of Item
  CQXRegion Region;       // attribute Region of Region
  std::wstring PvkOnly;   // attribute Support of PvkOnly: "Y", "N" or empty
  std::wstring PvkURL;
  CQXLangCode Lang;        // attribute Code of Lang, with the language it stands for
  std::wstring UninstLog;  // path of the application's uninstall log
  // The AppLocal element the entry was read from, or null for an entry made here. What this
  // program does not know of it (attributes, other elements, text) is written back from it as
  // it was, in its place.
  std::shared_ptr<const CXMLElement> source;
};

// The entries in document order.
class CQXInstallLog {
 public:
  CQXInstallLog() = default;
  virtual ~CQXInstallLog() = default;
  CQXInstallLog(CQXInstallLog&&) = default;
  CQXInstallLog& operator=(CQXInstallLog&&) = default;
  std::vector<std::unique_ptr<InstallLogEntry>> entries;
  // The AppLocalList element the log was read from, or null for a log made here: its
  // attributes and its children other than entries are written back as they were, in place.
  std::shared_ptr<const CXMLElement> source;
};

// How reading an install log's text ended.
enum class InstallLogParse {
  kParsed,
  kNotXml,     // not well-formed XML (or no XML parser)
  kWrongRoot,  // the root is not named exactly AppLocalList
};

// Replaces the log's entries with those of the XML text.
InstallLogParse ParseInstallLog(const std::wstring& xml, CQXInstallLog& log);
// The log as XML text. Empty fields are left out and a field read twice is written once. A log
// or entry made here is written with its fields in one fixed order; one that was read keeps
// its document: every field at the place it was read from (a new one before the first field
// that follows it in the fixed order), and everything this program does not know (attributes,
// unknown elements and versions, text) exactly as it was, in its place.
int SerialiseInstallLog(const CQXInstallLog& log, std::wstring& xml);
// The first entry whose AppName equals the name exactly, or null.
InstallLogEntry* FindEntry(const CQXInstallLog& log, const std::wstring& appName);

// Where the installer keeps the install log: the machine-wide common application-data folder +
// "\Tamek_Inc_RW\Ostrel\TamekOstrelLog.dat", in forward slashes. The folder is the installer's;
// it is not created here. Empty when the folder cannot be found.
std::wstring InstallLogPath();
extern const wchar_t kInstallLogSubpath[];

// Deciphers and parses the file; null on any failure. A decoded file is noted in the service
// log ("DECODE_QXLOGXML").
std::unique_ptr<CQXInstallLog> LoadInstallLog(const std::wstring& path, unsigned codePage = 0);
// Serialises and enciphers the log into the file (through a temporary file, so that a failed
// save leaves the previous log) and notes it in the service log ("ENCODE_QXLOGXML"). True
// when the file was replaced.
bool SaveInstallLog(const CQXInstallLog& log, const std::wstring& path, unsigned codePage = 0);

}  // namespace brindle
