// The progress window of the two build commands: a modeless dialog that shows the overall and the
// per-file progress and the name of the file being packed, driven by the package writer's callback.
#pragma once

#include "frame/message_map.h"
#include "frame/window.h"
#include "package/package.h"

#include <array>
#include <cstdint>
#include <string>

namespace ui {

class CProgressDialog : public CDialogBase {
public:
    CProgressDialog();

    // Create(owner) makes the window hidden, centred over its owner, with both bars at 0 and the
    // label at "[None]"; Show() makes it visible; DestroyWindow() ends it after the build.
    void Show();

    // Moves both bars and names the file; the controls are painted before this returns, since
    // the build takes no messages while it writes.
    void Update(const PackageEntry& entry, std::int32_t filePercent, std::int32_t overallPercent);

    HWND overallBar = nullptr;
    HWND fileBar = nullptr;
    HWND fileNameLabel = nullptr;

    LRESULT OnInitDialog(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnCloseCommand(UINT message, WPARAM wParam, LPARAM lParam);

    static const std::array<MessageMapRow<CProgressDialog>, 3> messageMap;

protected:
    bool ProcessWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    // What the controls show now, so that a repeated report costs no painting.
    int shownOverall_ = 0;
    int shownFile_ = 0;
    std::string shownName_;
};

// The one progress window of the program; each build creates and destroys its window.
extern CProgressDialog progressDialog;

// The ProgressCallback both build commands hand to Package::Write: updates progressDialog and
// always answers 0, so a build is never stopped from here.
std::uint8_t reportBuildProgress(const PackageEntry& entry, std::int32_t filePercent, std::int32_t overallPercent);

} // namespace ui
