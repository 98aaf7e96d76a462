#include "apply/com_unregistration_win.h"

#include "logs/service_log.h"
#include "sys/com_registration_win.h"

namespace brindle {

bool UnregisterComServer(const std::wstring& path, bool is64Bit) {
  unsigned long code = 0;
  const bool ok = CComRegistration::Unregister(path, is64Bit, &code);
  WriteServiceLog({L"-", path, ok ? L"success" : L"error", std::to_wstring(code)}, L"BR", L"UNREGISTER_COM");
  return ok;
}

}  // namespace brindle
