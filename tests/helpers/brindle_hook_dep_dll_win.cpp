// A library that a package's hook imports and ships beside itself in CUSTOM.
extern "C" __declspec(dllexport) int BrindleHookDependency() { return 42; }
