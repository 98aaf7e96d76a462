// The executor of a package's actions: it runs the list PlanPackageActions builds (the list
// brindle-pack plan prints), step by step, handing each action to the action class of its
// family through one interface. Each family prepares a step (the undo records of a whole pass
// written in one trip to the disk), does its actions one by one (deciding on the machine, when
// the action runs, what each one changes) and closes the step. The executor counts the
// records for the progress, stops a step when an action says so, fails a step after its last
// action when one of them failed, and always closes a step it opened, whatever ends it. The
// undo of a failed package dispatches each journal record to the family that wrote it.
#pragma once
#include <functional>
#include <vector>

#include "apply/package_steps.h"
#include "apply/undo_journal.h"

namespace brindle {

// What one action came to.
enum class ActionOutcome {
  kDone,           // applied, or nothing to change on this machine
  kSkipped,        // not for this machine (a 64-bit record on 32-bit Windows)
  kMissingRecord,  // the package's record is empty: its error line is written, the step goes on
  kNotApplied,     // not applied (its error line is written); the step goes on and does not fail
  kFailed,         // not applied (its error line is written); the step goes on and then fails
  kStopPass,       // not applied (its error line is written); the rest of the step is not handled,
                   // and the step does not fail (a COM server that cannot be unregistered)
  kFailPackage,    // not applied (its error line is written); the rest of the step is not handled,
                   // and the step fails, so the package is undone
};

// How a step ended.
enum class StepOutcome { kCompleted, kFailed };

// The action families: files (with COM servers), registry values, shortcuts, and the
// uninstall log's own steps.
enum class ActionFamily { kFiles, kRegistry, kShortcuts, kUninstallLog };

ActionFamily FamilyOf(PackagePass pass);
// Whether each action of the pass is one record of the package's progress.
bool CountsAsRecordStep(PackagePass pass);

// One action family as the executor drives it.
class CQXActionFamily {
 public:
  virtual ~CQXActionFamily() = default;
  // Before the step's first action; actions holds every action of the step (possibly none).
  // kFailed (the undo records of the step cannot be written): no action of the step is done,
  // and the step, closed by EndStep all the same, fails.
  virtual StepOutcome BeginStep(const PackageStep& step, const std::vector<PackageAction>& actions) = 0;
  virtual ActionOutcome Do(const PackageAction& action) = 0;
  // After the step's last action, also when an action threw. kFailed fails the step.
  virtual StepOutcome EndStep(const PackageStep& step) = 0;
};

// Takes back the journal records of one family.
class CQXUndoFamily {
 public:
  virtual ~CQXUndoFamily() = default;
  virtual bool Undoes(UndoKind kind) const = 0;
  // 0 when the change is taken back (or there was nothing to take back), else the system's
  // error code.
  virtual unsigned long Undo(const UndoRecord& record) = 0;
};

// An undo family made of a family's two static functions.
class CQXUndoFunctions : public CQXUndoFamily {
 public:
  CQXUndoFunctions(bool (*undoes)(UndoKind), unsigned long (*undo)(const UndoRecord&))
      : undoes_(undoes), undo_(undo) {}
  bool Undoes(UndoKind kind) const override { return undoes_(kind); }
  unsigned long Undo(const UndoRecord& record) override { return undo_(record); }

 private:
  bool (*undoes_)(UndoKind);
  unsigned long (*undo_)(const UndoRecord&);
};

class CQXPackageExecutor {
 public:
  struct Families {
    CQXActionFamily* files = nullptr;
    CQXActionFamily* registry = nullptr;
    CQXActionFamily* shortcuts = nullptr;
    CQXActionFamily* uninstallLog = nullptr;
  };
  // recordStepDone hears each record handled (may be empty).
  CQXPackageExecutor(const Families& families, std::function<void()> recordStepDone);

  // Runs the actions of one section (a slice of the package's list, in its order): every step
  // of the section, also one without actions. Throws CUpdaterException after the first step
  // that failed; an exception thrown by an action ends its step and leaves the section too.
  void RunSection(PackageSection section, const std::vector<PackageAction>& actions);

 private:
  CQXActionFamily& FamilyFor(PackagePass pass) const;
  StepOutcome RunStep(const PackageStep& step, const std::vector<PackageAction>& actions);

  Families families_;
  std::function<void()> recordStepDone_;
};

// The undo of a package: the records last first, each handed to the family that undoes its
// kind, with the service-log line of each step, the steps marked done through markUndone (see
// UndoRecords). A record no family undoes is an error step. True when every step succeeded.
bool UndoByFamilies(const std::vector<UndoRecord>& records, const std::vector<CQXUndoFamily*>& families,
                    const std::function<bool(const std::vector<size_t>&)>& markUndone = nullptr);

}  // namespace brindle
