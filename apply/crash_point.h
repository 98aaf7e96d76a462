// Crash points: the places where a test ends the program as a power cut would, to show that
// every package still applies completely or not at all (each journal write, each change of a
// package, each undo step and each step of the recovery at the next run). They exist only in
// the test build of the program (Brindle_crashpoints.exe, compiled with BRINDLE_CRASH_POINTS);
// in the shipped program CrashPoint is an empty inline function, and neither the points' names
// nor the variables that drive them are in it.
#pragma once

namespace brindle {

#ifdef BRINDLE_CRASH_POINTS
// Counts the point; ends the process at once (exit code kCrashPointExitCode, nothing flushed,
// nothing closed) when the count reaches the number in BRINDLE_CRASH_AT. When BRINDLE_CRASH_LOG
// names a file, each point's kind is appended to it as one line first.
void CrashPoint(const char* kind);
#else
inline void CrashPoint(const char*) {}
#endif

// Whether this is the test build. Its runs skip the pauses meant for a person watching (the
// start's, and the progress dialog's last picture): a test runs it hundreds of times.
#ifdef BRINDLE_CRASH_POINTS
const bool kCrashPointBuild = true;
#else
const bool kCrashPointBuild = false;
#endif

// The exit code of a process ended at a crash point.
const unsigned kCrashPointExitCode = 3;

}  // namespace brindle
