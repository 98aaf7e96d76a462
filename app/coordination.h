// Contact with the sibling programs: the named mutexes that keep two updates, or an update and
// an installation, from running at once; the progress records and the end message sent to the
// launcher window; the hidden window through which a cancel request arrives; the shared
// temporary folders. Every name here is shared with the sibling programs and never changes.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#ifdef _WIN32
#include "sys/protected_folder.h"
#endif

namespace brindle {

extern const wchar_t kInstanceMutexName[];
extern const wchar_t kHiddenWindowClass[];
extern const wchar_t kGatewatchWindowClass[];
// The installer wrapper's mutexes, in the order they are checked.
std::vector<std::wstring> InstallerMutexNames();

const unsigned kProgressRecordMessageId = 2028;  // dwData of the progress record
const unsigned kEndOfRunMessage = 2029;
const unsigned kCancelRequestMessage = 2030;
const size_t kProgressRecordSize = 552;
const size_t kProgressRecordNameChars = 255;

// What a progress record is about: the run as a whole, or a step of the delete, update or add
// pass. The numbers are the ones the launcher receives (NoticeKindCode).
enum class NoticeKind { kRun = 0, kDeletePass = 3, kUpdatePass = 4, kAddPass = 5 };
// The number of a notice kind in the progress record and the service log.
inline std::int32_t NoticeKindCode(NoticeKind kind) { return static_cast<std::int32_t>(kind); }

// The 552-byte little-endian progress record: window handle, kind, the name cut to 255 UTF-16
// units and zero-terminated, total, done and result; every other byte zero.
std::vector<std::uint8_t> BuildProgressRecord(std::uint32_t windowHandle, NoticeKind kind,
                                              const std::wstring& name, std::int32_t total, std::int32_t done,
                                              std::int32_t result);

#ifdef _WIN32
// Another copy of this program holds the instance mutex.
bool IsUpdateRunning();
// One of the named mutexes exists (checked in list order).
bool IsInstallerBusy(const std::vector<std::wstring>& names);
// Creates the instance mutex, owned by the calling thread; nullptr on failure, and also when
// the mutex already exists (another copy started at the same moment: busy). The caller closes
// the handle at the end of the run.
void* CreateInstanceMutex();
// How long a message to the launcher may wait for its answer; a launcher that the system
// reports as hung is given up at once.
const unsigned kLauncherAnswerTimeoutMs = 30000;
// Fills and sends the progress record to the launcher window (no effect when it is not there).
// The call waits for the launcher's answer, up to the time-out; a message given up leaves a
// "GATEWATCH_NO_ANSWER" line in the service log.
void NotifyGatewatch(const std::wstring& name, NoticeKind kind, int total, int done, int result,
                     const std::wstring& windowClass, unsigned timeoutMs = kLauncherAnswerTimeoutMs);
// Sends the end-of-run message to the launcher window, the same way.
void SendEndOfRun(unsigned timeoutMs = kLauncherAnswerTimeoutMs);
// Removes the folder (a sub-path of the user's temporary folder) with everything inside. A
// junction or symbolic link on the way or inside is removed as a link, never followed.
void RemoveTempFolder(const std::wstring& subPath);
// The work root, where packages are extracted: below the common application-data folder, in a
// folder only Administrators and SYSTEM can write (see sys/protected_folder.h).
extern const wchar_t kWorkRootSubPath[];
ProtectedFolderStatus OpenWorkRoot(ProtectedFolder& root);
// Removes the work root with everything inside, at the end of a run.
void RemoveWorkRoot();
// The user's temporary folder, forward slashes, without a trailing slash.
std::wstring UserTempFolder();
#endif

}  // namespace brindle
