#include "sys/env.h"

namespace brindle {

// Without Windows there is no machine to ask: every folder is unknown and expands to nothing.
MachineFolders ReadMachineFolders() { return MachineFolders(); }

}  // namespace brindle
