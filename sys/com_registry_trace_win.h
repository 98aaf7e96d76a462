// What an in-process COM server's registration writes to the registry, found without touching
// the machine: the server's DllRegisterServer runs in this process with the registry's roots
// (classes, local machine, current user, users) redirected into an empty scratch key
// (RegOverridePredefKey); what it wrote there is read back and the scratch removed. The
// redirection holds for the whole process while the server runs, so the trial is kept to the
// call itself.
#pragma once
#include <string>
#include <vector>

namespace brindle {

enum class ComTraceRoot { ClassesRoot, LocalMachine, CurrentUser };

// One key the registration writes (made or opened for writing), and the values it writes in it.
struct ComTracedKey {
  ComTraceRoot root = ComTraceRoot::LocalMachine;
  std::wstring path;                 // below its root
  std::vector<std::wstring> values;  // names; empty text names the default value
};

// The keys the server's registration writes, parents before children, in this process's own
// registry view. False when the trial tells nothing: the library cannot be loaded here (a
// server of the other bitness), has no DllRegisterServer, its registration fails in the
// scratch, the redirection is refused, or it writes where no journal record can name it (below
// HKEY_USERS, or too many keys).
bool TraceComRegistration(const std::wstring& path, std::vector<ComTracedKey>& keys);

// The most keys a traced registration may write.
const size_t kMaxTracedComKeys = 4096;

}  // namespace brindle
