// The sub-updater: the one object through which every change to the machine is made during a
// patch. The driver hands each object group of the package to one of its operations; it
// performs the actions, writes one service-log line per action, records every lasting change
// in the uninstall log and remembers whether a restart has become necessary.
#pragma once
#include <functional>
#include <stdexcept>
#include <string>

namespace brindle {

class CQXInstallLog;
class CQXDiffDistribute;
class CQXDeleteObjects;
class CQXAddObjects;
class CQXUpdateObjects;
class CQXCustomFunction;
struct DiffLocalEntry;

// What a package's hook (its before-update or after-update library) decided: the update goes
// on, or stops (the hook vetoed it, or it could not be run).
enum class HookVerdict { kGoOn, kStop };

// A step of the patch flow failed; never leaves the patch flow.
class CUpdaterException : public std::runtime_error {
 public:
  explicit CUpdaterException(const std::string& what) : std::runtime_error(what) {}
};
// The user stopped the patch at the running-program question; never leaves the patch flow.
class CAbortException : public std::runtime_error {
 public:
  CAbortException() : std::runtime_error("aborted") {}
};

// How a program that the sub-updater starts and waits for ended (a setup program, the installer
// wrapper): done, not run or no answer, or the program reported a failure of its own.
enum class RunProgramResult { kDone, kFailed, kReportedFailure };

class CQXSubUpdater {
 public:
  virtual ~CQXSubUpdater() = default;

  virtual RunProgramResult RunSetupProgram(const std::wstring& path, const DiffLocalEntry* application) = 0;
  virtual std::wstring GetUninstallWrapperPath(const std::wstring& uninstallerVersion) = 0;
  virtual std::wstring GetWrapperFolder(const std::wstring& wrapperVersion) = 0;
  virtual RunProgramResult RunWrapperUpdate(const std::wstring& wrapperPath, const std::wstring& parentName,
                                            const std::wstring& componentName) = 0;
  virtual RunProgramResult InstallWrapper(const std::wstring& wrapperFolder,
                                          const std::wstring& componentFolder, const std::wstring& parentName,
                                          const std::wstring& parentFolder) = 0;
  // Throws CUpdaterException when the cabinet cannot be extracted.
  virtual void ExtractPackage(const std::wstring& cabinetPath) = 0;
  // The hook's verdict; *restart receives its restart request.
  virtual HookVerdict RunBeforeUpdate(const CQXCustomFunction& hooks, unsigned char* restart) = 0;
  virtual HookVerdict RunAfterUpdate(const CQXCustomFunction& hooks, unsigned char* restart) = 0;
  // The three group passes; each throws CUpdaterException when a pass fails.
  virtual void ApplyDeleteObjects(const CQXDeleteObjects& group) = 0;
  virtual void ApplyAddObjects(const CQXAddObjects& group) = 0;
  virtual void ApplyUpdateObjects(const CQXUpdateObjects& group) = 0;
  virtual void RegisterPendingComServers() = 0;
  virtual bool CreateFolderPath(const std::wstring& path) = 0;
  virtual bool OpenUninstallLog(const std::wstring& path) = 0;
  virtual bool SaveUninstallLog(const std::wstring& path) = 0;
  virtual bool SetStartupVersion(const std::wstring& version) = 0;
  virtual bool SetStartupAppName(const std::wstring& name) = 0;
  virtual bool UpdateUninstallerFiles(const std::wstring& cabinetFolder) = 0;

  // All or nothing. BeginPackage starts the undo journal of the package's stages (false: the
  // package must not be applied); PreserveForUndo keeps a file the package's success will
  // replace (the install log); CommitPackage keeps every change; UndoPackage takes them all
  // back, last first. RecoverInterruptedPackage undoes a package that a process which died
  // left half-applied. A sub-updater without undo keeps the defaults.
  virtual bool BeginPackage(const std::wstring& packageFile) {
    (void)packageFile;
    return true;
  }
  virtual void PreserveForUndo(const std::wstring& path) { (void)path; }
  virtual void CommitPackage() {}
  virtual bool UndoPackage() { return true; }
  virtual void RecoverInterruptedPackage() {}
  // Removes what the kept packages no longer need (their old files), when the thread that
  // applies them has nothing else to do.
  virtual void RemoveKeptLeftovers() {}

  // The state of the run, each part set in one place (the pointers are not owned); the action
  // classes read it from the package's context (win_sub_updater_win.h), given once.
  // BeginApplication: the application the next package is applied to, with the install log
  // that holds its entry; the uninstaller version of the application before is forgotten.
  void BeginApplication(CQXInstallLog* log, const DiffLocalEntry* entry);
  // The package being applied and the folder it is unpacked into (package null before its
  // description is read and after the package).
  void SetPackage(const std::wstring& folder, const CQXDiffDistribute* diff);
  // A restart has become necessary; it stays so for the rest of the run.
  void SetRebootNeeded() { rebootNeeded_ = true; }

  bool RebootNeeded() const { return rebootNeeded_; }
  // The version of the uninstaller files the package brought (empty before they are placed).
  const std::wstring& UninstallerVersion() const { return uninstallerVersion_; }
  // The application's AppName, or empty text without a current application.
  std::wstring AppName() const;

  // How far the package being applied has come, for the progress a person watches. Every
  // record a file, registry or shortcut pass handles is one step, whatever its outcome.
  // Starts the count for a package of that many steps.
  void BeginRecordSteps(int total);
  // One step handled; the listener hears (steps handled, steps in all).
  void RecordStepDone();
  std::function<void(int done, int total)> recordProgress;  // empty: nobody listens

 protected:
  CQXInstallLog* installLog_ = nullptr;
  const DiffLocalEntry* application_ = nullptr;
  const CQXDiffDistribute* package_ = nullptr;
  std::wstring packageFolder_;  // holds diff.xml, INST and CUSTOM
  bool rebootNeeded_ = false;   // only ever goes from false to true during a run
  std::wstring uninstallerVersion_;

 private:
  int recordSteps_ = 0;
  int recordStepsDone_ = 0;
};

// The sub-updater published for the run (none outside a run).
CQXSubUpdater* GetSubUpdater();
void SetSubUpdater(CQXSubUpdater* subUpdater);

}  // namespace brindle
