// Helpers shared by the user-interface tests: the module set up for the test program, and pumping
// the test thread's messages until something has happened.
#pragma once

#include <windows.h>

#include <functional>

namespace uitest {

// Points the application module at the test program (which carries the program's resources) and
// registers the common controls the windows use.
void PrepareModule();

// Dispatches the thread's messages until `done` answers true or `timeoutMs` has passed; answers
// `done()`.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 3000);

// Removes a pending quit request and answers its code, or -1 when there is none.
int TakeQuitCode();

} // namespace uitest
