// Registration of COM servers that a package installs: in-process servers (libraries) through
// their own DllRegisterServer / DllUnregisterServer or the system's registration tool, local
// servers (programs ending in .exe) through their /regserver and /unregserver switches. A
// registration that cannot be done now is queued for the next logon under the machine's
// RunOnce key, and the caller is asked for a restart.
#pragma once
#include <string>

namespace brindle {

class CComRegistration {
 public:
  // A 32-bit server: in process, else queued for the next logon. restart is set to 1 when it
  // was queued. False when the server's short path cannot be built, the queue entry cannot be
  // written, or a local server did not end in time.
  static bool Register32(const std::wstring& path, unsigned char* restart);
  // A 64-bit server: through the 64-bit registration tool with redirection off, else queued;
  // false (nothing queued) when the tool did not end in time.
  static bool Register64(const std::wstring& path, unsigned char* restart);
  // Unregisters now (never queued); false when it failed. code, when given, receives the
  // registration tool's exit code or the error that kept it from starting, else 0.
  static bool Unregister(const std::wstring& path, bool is64Bit, unsigned long* code = nullptr);

  static bool RegisterInProcess(const std::wstring& path);
  static bool UnregisterInProcess(const std::wstring& path);
  // Starts "path" followed by the switch (which begins with a blank) and waits for it. False
  // for an empty path or switch, or a program that did not end in time (cancel or time-out);
  // a program that cannot be started is not an error.
  static bool RunLocalServer(const std::wstring& path, const std::wstring& switchText);
  // The registration tool's command line for the server: tool, " /s " or " /s /u ", and the
  // server's short path in double quotes; serverPath receives that short path. The tool is the
  // one of the server's bitness.
  static bool MakeRegsvr32CommandLine(const std::wstring& path, bool doRegister, bool is64Bit,
                                      std::wstring& commandLine, std::wstring& serverPath);

  // A local server: the extension after the last '.' of the name is ".exe" (any case).
  static bool IsLocalServer(const std::wstring& path);
  // The registration tool of a bitness, as a short path when the system has one.
  static std::wstring RegistrationTool(bool is64Bit);

 private:
  static bool UnregisterNow(const std::wstring& path, bool is64Bit, unsigned long& code);
};

// COM initialised on the calling thread (single-threaded apartment) for the scope's length. A
// thread already initialised, in this or the other mode, is accepted; every initialisation that
// succeeded is balanced when the scope ends.
class CComInitialization {
 public:
  CComInitialization();
  ~CComInitialization();
  CComInitialization(const CComInitialization&) = delete;
  CComInitialization& operator=(const CComInitialization&) = delete;
  bool Usable() const;

 private:
  long result_;
};

// The machine's RunOnce key, where registrations wait for the next logon.
extern const wchar_t kRunOnceKey[];

}  // namespace brindle
