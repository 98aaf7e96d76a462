// What the update driver asks of each item of a run: apply a patch package, run a setup program,
// delete or add a component. The driver only sequences the items and reports their outcome;
// everything that changes the machine happens behind this interface.
#pragma once
#include <functional>
#include <memory>
#include <string>

namespace brindle {

class CQXInstallLog;
class CQXActionListXML;
struct DiffLocalEntry;
struct ProgressContext;

// What became of a component: done, failed, its removal or installation reported as failed by
// the wrapper, or an update (removal then installation) that the wrapper failed. The numbers are
// the ones the launcher receives and the service log shows (ComponentResultCode).
enum class ComponentResult {
  kDone = 200,
  kFailed = 5,
  kDeleteFailedQuietly = 6,
  kAddFailed = 7,
  kUpdateFailed = 8,
};
// The number of a component result in the progress record and the service log.
inline int ComponentResultCode(ComponentResult result) { return static_cast<int>(result); }

// What became of a patch package: applied, stopped by the user, or failed (taken back).
enum class PatchResult { kApplied, kCancelled, kFailed };

// What became of a setup program: done, failed, or the program reported a failure of its own.
enum class SetupResult { kDone, kFailed, kReportedFailure };

class CQXUpdateItems {
 public:
  virtual ~CQXUpdateItems() = default;
  // Applies one patch package to the application of the entry; changes to the install log are
  // made in log, which the driver saves only after PatchResult::kApplied.
  virtual PatchResult ApplyPatchPackage(CQXInstallLog& log, const DiffLocalEntry& entry,
                                        const std::wstring& packagePath) = 0;
  // After PatchResult::kApplied: writes the install log and keeps the package; when the log cannot be
  // written the package is taken back. False in that case.
  virtual bool SaveAppliedPackage(CQXInstallLog& log, const std::wstring& installLogPath);
  // Before the first item of a patch-mode run: takes back a package that an earlier process
  // left half-applied.
  virtual void RecoverInterruptedWork() {}
  // After the last item, while the run shows its end: removes what the kept packages left
  // (their old files), on the worker thread.
  virtual void RemoveLeftovers() {}
  // Runs a setup program named in the list.
  virtual SetupResult RunSetupProgram(const std::wstring& packagePath, const DiffLocalEntry& entry) = 0;
  // The component flows; they set the context's failed or quietEnd flag as their result asks.
  virtual ComponentResult DeleteComponent(const CQXActionListXML& list, const std::wstring& id,
                                          ProgressContext& context) = 0;
  virtual ComponentResult AddComponent(const CQXActionListXML& list, const std::wstring& id,
                                       ProgressContext& context) = 0;
  // Some change of the run can only be finished by a restart.
  virtual bool RebootNeeded() const = 0;
  // Who hears, while a patch package is applied, how many of its record steps are done (steps
  // done, steps in all); an empty listener: nobody.
  virtual void SetRecordProgress(std::function<void(int done, int total)> listener) {}
};

#ifdef _WIN32
class CQXSubUpdater;
class CPackageTransaction;
// The product's items, applied through the sub-updater: the patch flow, setup programs, and the
// component flows through the installer wrapper.
class CWinQXUpdateItems : public CQXUpdateItems {
 public:
  explicit CWinQXUpdateItems(CQXSubUpdater* subUpdater);
  ~CWinQXUpdateItems() override;
  PatchResult ApplyPatchPackage(CQXInstallLog& log, const DiffLocalEntry& entry,
                                const std::wstring& packagePath) override;
  bool SaveAppliedPackage(CQXInstallLog& log, const std::wstring& installLogPath) override;
  void RecoverInterruptedWork() override;
  void RemoveLeftovers() override;
  SetupResult RunSetupProgram(const std::wstring& packagePath, const DiffLocalEntry& entry) override;
  ComponentResult DeleteComponent(const CQXActionListXML& list, const std::wstring& id,
                                  ProgressContext& context) override;
  ComponentResult AddComponent(const CQXActionListXML& list, const std::wstring& id,
                               ProgressContext& context) override;
  bool RebootNeeded() const override;
  void SetRecordProgress(std::function<void(int done, int total)> listener) override;

 private:
  CQXSubUpdater* subUpdater_;
  // The package applied last, until the install log holding its version is saved (then kept)
  // or the run moves on without it (then taken back).
  std::unique_ptr<CPackageTransaction> appliedPackage_;
};
#endif

}  // namespace brindle
