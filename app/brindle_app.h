// The application object: prepares the platform, runs the whole update from InitInstance and
// hands the exit code to ExitInstance. InitInstance always answers false, so no message loop of
// the application's own ever runs.
#pragma once

namespace brindle {

class CBrindleApp {
 public:
  virtual ~CBrindleApp() = default;
  virtual bool InitInstance();
  virtual int ExitInstance();

 private:
  int exitCode_ = 0;
};

}  // namespace brindle
