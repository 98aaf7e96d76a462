// What the update driver asks of each item of a run: apply a patch package, run a setup program,
// delete or add a component. The driver only sequences the items and reports their outcome;
// everything that changes the machine happens behind this interface.
#pragma once
#include <functional>
#include <string>

namespace brindle {

class CQXInstallLog;
class CQXActionListXML;
struct DiffLocalEntry;
struct ProgressContext;

// Component result codes.
enum ComponentResult {
  kComponentDone = 200,
  kComponentFailed = 5,
  kComponentDeleteFailedQuietly = 6,
  kComponentAddFailed = 7,
  kComponentUpdateFailed = 8,
};

// Patch-flow results.
enum PatchResult { kPatchApplied = 0, kPatchCancelled = 1, kPatchFailed = 2 };

// Setup-program results.
enum SetupResult { kSetupDone = 0, kSetupFailed = 2, kSetupReportedFailure = 3 };

class CQXUpdateItems {
 public:
  virtual ~CQXUpdateItems() = default;
  // Applies one patch package to the application of the entry; changes to the install log are
  // made in log, which the driver saves only after kPatchApplied.
  virtual int ApplyPatchPackage(CQXInstallLog& log, const DiffLocalEntry& entry,
                                const std::wstring& packagePath) = 0;
  // After kPatchApplied: writes the install log and keeps the package; when the log cannot be
  // written the package is taken back. False in that case.
  virtual bool SaveAppliedPackage(CQXInstallLog& log, const std::wstring& installLogPath);
  // Before the first item of a patch-mode run: takes back a package that an earlier process
  // left half-applied.
  virtual void RecoverInterruptedWork() {}
  // Runs a setup program named in the list.
  virtual int RunSetupProgram(const std::wstring& packagePath, const DiffLocalEntry& entry) = 0;
  // The component flows; they set the context's failed or quietEnd flag as their result asks.
  virtual int DeleteComponent(const CQXActionListXML& list, const std::wstring& id,
                              ProgressContext& context) = 0;
  virtual int AddComponent(const CQXActionListXML& list, const std::wstring& id,
                           ProgressContext& context) = 0;
  // Some change of the run can only be finished by a restart.
  virtual bool RebootNeeded() const = 0;
  // Who hears, while a patch package is applied, how many of its record steps are done (steps
  // done, steps in all); an empty listener: nobody.
  virtual void SetRecordProgress(std::function<void(int done, int total)> listener) {}
};

#ifdef _WIN32
class CQXSubUpdater;
// The product's items, applied through the sub-updater: the patch flow, setup programs, and the
// component flows through the installer wrapper.
class CWinQXUpdateItems : public CQXUpdateItems {
 public:
  explicit CWinQXUpdateItems(CQXSubUpdater* subUpdater) : subUpdater_(subUpdater) {}
  int ApplyPatchPackage(CQXInstallLog& log, const DiffLocalEntry& entry,
                        const std::wstring& packagePath) override;
  bool SaveAppliedPackage(CQXInstallLog& log, const std::wstring& installLogPath) override;
  void RecoverInterruptedWork() override;
  int RunSetupProgram(const std::wstring& packagePath, const DiffLocalEntry& entry) override;
  int DeleteComponent(const CQXActionListXML& list, const std::wstring& id,
                      ProgressContext& context) override;
  int AddComponent(const CQXActionListXML& list, const std::wstring& id,
                   ProgressContext& context) override;
  bool RebootNeeded() const override;
  void SetRecordProgress(std::function<void(int done, int total)> listener) override;

 private:
  CQXSubUpdater* subUpdater_;
};
#endif

}  // namespace brindle
