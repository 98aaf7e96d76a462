#include "apply/win_machine_com_win.h"

#include "sys/com_registration_win.h"

namespace brindle {

bool WinMachineCom::Unregister(const std::wstring& path, bool is64Bit, unsigned long& code) {
  code = 0;
  return CComRegistration::Unregister(path, is64Bit, &code);
}

bool WinMachineCom::Register(const std::wstring& path, bool is64Bit, bool& queued) {
  unsigned char restart = 0;
  const bool registered =
      is64Bit ? CComRegistration::Register64(path, &restart) : CComRegistration::Register32(path, &restart);
  queued = restart != 0;
  return registered;
}

bool WinMachineCom::WaitingRegistrationName(const std::wstring& path, bool is64Bit, std::wstring& name) {
  std::wstring commandLine;
  return CComRegistration::MakeRegsvr32CommandLine(path, true, is64Bit, commandLine, name);
}

}  // namespace brindle
