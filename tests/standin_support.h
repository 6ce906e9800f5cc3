// The stand-ins of the desktop's device software (tests/standins/) put where the installer looks
// for the real ones in the Wine prefix the tests run in, and taken away again: ctest runs every
// test in one prefix, and no other test may find them. Only copies of our own are ever removed
// (they carry a marker in their bytes, the registry key a marker value); anything else found there
// is reported, not touched.
#pragma once

#include <string>

namespace testing_support {

// Whether this build made the stand-ins (32-bit Windows builds do).
bool StandinsBuilt();

// The built stand-ins, as paths this program can open.
std::wstring StandinAppMgr();
std::wstring StandinRapi();

// <system folder>\rapi.dll, where the installer loads the connection library from.
std::wstring SystemRapiPath();
// %WINDIR%\WindowsMobile\CEAppMgr.exe, where the Application Manager is looked for last.
std::wstring WindowsMobileAppMgrPath();

// Copies the connection library into the system folder.
bool InstallRapi();
// Copies the Application Manager to `exe` (its folder made when missing) and registers it there
// under App Paths, as the desktop software does.
bool RegisterAppMgr(const std::wstring& exe);
// Copies the Application Manager to %WINDIR%\WindowsMobile, without registering it.
bool PlaceAppMgrInWindows();

// Removes every stand-in of ours from the prefix (with the folders the installer made below
// %WINDIR%\WindowsMobile); answers what was found there that is not ours, empty when nothing.
std::string RemoveStandins();

} // namespace testing_support
