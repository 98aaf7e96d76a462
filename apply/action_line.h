// The service-log line every action writes: tag "BR", the action's verb, and the fields "-",
// the object, "success" or "error", and the deciding code (0 for success, otherwise the system
// error code).
#pragma once
#include <string>

namespace brindle {

// "success" when code is 0, else "error".
void WriteActionLine(const std::wstring& verb, const std::wstring& object, unsigned long code);
// An action whose record is missing: "-", "NULL", "error", "0".
void WriteMissingRecordLine(const std::wstring& verb);
// An action that failed although no system call reported an error: "error" with the code.
void WriteActionError(const std::wstring& verb, const std::wstring& object, unsigned long code);

}  // namespace brindle
