#include "apply/hook_actions_win.h"

#include "apply/action_line.h"
#include "apply/package_context.h"
#include "apply/sub_updater.h"
#include "logs/service_log.h"
#include "package/diff_distribute.h"
#include "package/object_records.h"
#include "sys/library_loading.h"
#include "sys/paths.h"
#include "sys/safe_names.h"
#include "sys/win_handles.h"
#include "sys/wow64_redirection.h"

#include <windows.h>

namespace brindle {

namespace {

const wchar_t kHookVerb[] = L"CUSTOM_FUNCTION";
const int kHookCannotRun = 1;

// A library name from the package: one plain file name, nothing a directory search would
// take as a pattern. The program runs elevated; a name that could reach outside CUSTOM is
// refused, never cleaned up.
bool IsPlainLibraryName(const std::wstring& name) {
  return IsSafeSingleName(name) && name.find_first_of(L"*?<>|\"") == std::wstring::npos;
}

bool LibraryFileExists(const std::wstring& path) {
  WIN32_FIND_DATAW found;
  UniqueFind find(FindFirstFileW(path.c_str(), &found));
  return find.Valid() && !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

namespace {
HookVerdict VerdictOf(int result) {
  return result == kHookCannotRun ? HookVerdict::kStop : HookVerdict::kGoOn;
}
}  // namespace

HookVerdict CHookActions::RunBeforeUpdate(const CQXCustomFunction& hooks, unsigned char* restart) {
  return VerdictOf(Run(hooks.beforeUpdate, hooks.beforeUpdate.type == kFileNameBeforeUpdate,
                       "Update_BeforeUpdate", restart));
}

HookVerdict CHookActions::RunAfterUpdate(const CQXCustomFunction& hooks, unsigned char* restart) {
  return VerdictOf(
      Run(hooks.afterUpdate, hooks.afterUpdate.type == kFileNameAfterUpdate, "Update_AfterUpdate", restart));
}

int CHookActions::Run(const CQXFileName& hook, bool named, const char* exportName, unsigned char* restart) {
  unsigned char ignored = 0;
  if (!restart) restart = &ignored;
  *restart = 0;
  if (!named) return kHookCannotRun;
  if (!IsPlainLibraryName(hook.name)) {
    WriteActionError(kHookVerb, hook.name, ERROR_INVALID_NAME);
    return kHookCannotRun;
  }
  const std::wstring path = ToBackslashes(context_.packageFolder + L"/CUSTOM/" + hook.name);
  if (!LibraryFileExists(path)) {
    WriteActionError(kHookVerb, path, ERROR_FILE_NOT_FOUND);
    return kHookCannotRun;
  }
  // The library is the package's, loaded with the file system as the program normally sees it.
  if (CQXWow64Redirection* guard = CQXWow64Redirection::Get()) {
    if (!guard->Revert()) {
      WriteActionError(kHookVerb, path, GetLastError());
      return kHookCannotRun;
    }
  }
  UniqueModule library = LoadLibraryWithItsFolder(path);
  if (!library) {
    WriteActionError(kHookVerb, path, GetLastError());
    throw CUpdaterException("the hook library cannot be loaded");
  }
  using HookFunction = int(WINAPI*)(unsigned char*);
  auto function =
      reinterpret_cast<HookFunction>(reinterpret_cast<void*>(GetProcAddress(library.Get(), exportName)));
  if (!function) {
    WriteActionError(kHookVerb, path, ERROR_PROC_NOT_FOUND);
    return kHookCannotRun;
  }
  const int result = function(restart);
  WriteServiceLog({L"-", path, result == 1 ? L"error" : L"success", std::to_wstring(result)}, L"BR",
                  kHookVerb);
  return result;
}

}  // namespace brindle
