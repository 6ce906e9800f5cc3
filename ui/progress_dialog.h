// The progress window of the two build commands: a modeless dialog that shows the overall and the
// per-file progress and the name of the file being packed, driven by the package writer's callback.
#pragma once

#include "frame/message_map.h"
#include "frame/window.h"
#include "package/package.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace ui {

class CProgressDialog : public CDialogBase {
public:
    // Milliseconds on a clock that never goes back; the window paints at most once per frame of it.
    using FrameClock = std::function<std::uint64_t()>;

    CProgressDialog();

    // Create(owner) makes the window hidden, centred over its owner, with both bars at 0 and the
    // label at "[None]"; Show() makes it visible; DestroyWindow() ends it after the build.
    void Show();

    // Takes what the writer reports as the picture to show. The build takes no messages while it
    // writes, so the picture is painted here, before this returns; but at most once per screen
    // refresh, since the writer reports every 4096 bytes. A report that comes within a frame of the
    // last painted one waits for the next report after the frame, for a message loop (a message
    // box of the build), or for Flush; the build's last report is painted at once.
    void Update(const PackageEntry& entry, std::int32_t filePercent, std::int32_t overallPercent);
    // Paints the latest report now if the screen does not show it yet. The window does so itself
    // before it is destroyed.
    void Flush();
    // Replaces the steady clock, so that a test can step from frame to frame; empty restores it.
    void SetFrameClock(FrameClock clock);

    HWND overallBar = nullptr;
    HWND fileBar = nullptr;
    HWND fileNameLabel = nullptr;

    LRESULT OnInitDialog(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnCloseCommand(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnFrameTimer(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnDestroy(UINT message, WPARAM wParam, LPARAM lParam);

    static const std::array<MessageMapRow<CProgressDialog>, 5> messageMap;

protected:
    bool ProcessWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    struct Picture {
        int overall = 0;
        int file = 0;
        std::string name;
        bool operator==(const Picture&) const = default;
    };
    void Paint();
    void StopFrameTimer();
    std::uint64_t Now() const;

    Picture wanted_;
    Picture shown_;
    // The path whose last component wanted_.name is: most reports name the file the last one did,
    // and then the name is not worked out again.
    std::optional<std::u16string> wantedPath_;
    std::optional<std::uint64_t> lastFrame_;
    bool timerSet_ = false;
    FrameClock clock_;
};

// The one progress window of the program; each build creates and destroys its window.
extern CProgressDialog progressDialog;

// The ProgressCallback both build commands hand to Package::Write: updates progressDialog and
// always answers 0, so a build is never stopped from here.
std::uint8_t reportBuildProgress(const PackageEntry& entry, std::int32_t filePercent, std::int32_t overallPercent);

} // namespace ui
