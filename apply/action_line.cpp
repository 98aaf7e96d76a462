#include "apply/action_line.h"

#include "logs/service_log.h"

namespace brindle {

void WriteActionLine(const std::wstring& verb, const std::wstring& object, unsigned long code) {
  WriteServiceLog({L"-", object, code == 0 ? L"success" : L"error", std::to_wstring(code)}, L"BR", verb);
}

void WriteMissingRecordLine(const std::wstring& verb) {
  WriteServiceLog({L"-", L"NULL", L"error", L"0"}, L"BR", verb);
}

void WriteActionError(const std::wstring& verb, const std::wstring& object, unsigned long code) {
  WriteServiceLog({L"-", object, L"error", std::to_wstring(code)}, L"BR", verb);
}

}  // namespace brindle
