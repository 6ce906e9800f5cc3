// The desktop's device software on Windows: the Application Manager found where ActiveSync and
// Windows Mobile Device Center register it, started and waited for, and the connection library
// rapi.dll, loaded from the system folder only.
#pragma once

#include "template/delivery.h"

#include <windows.h>

#include <memory>

namespace installer_template {

class RapiLibrary;

class WindowsDesktop : public Desktop {
public:
    WindowsDesktop();
    ~WindowsDesktop() override;
    std::u16string AppManager() override;
    std::u16string AppManagerFolder(std::u16string_view appManager, std::u16string_view stem) override;
    bool RunAppManager(std::u16string_view appManager, std::u16string_view ini, std::uint32_t& exitCode,
                       Error& error) override;
    DeviceLink* Link() override;
    std::u16string TemporaryFolder() override;

private:
    bool linkLooked_ = false;
    std::unique_ptr<RapiLibrary> link_;
};

// Waits for `object`, keeping the windows of this thread answering (the wizard waits on its own
// thread): true when it was signalled within `milliseconds` (INFINITE: for as long as it takes).
bool WaitAnswering(HANDLE object, DWORD milliseconds);

} // namespace installer_template
