// The splash window: the product picture shown for a few seconds while the program starts.
#pragma once

#include "frame/handles.h"
#include "frame/window.h"

namespace ui {

inline constexpr UINT_PTR SplashTimerId = 1001;

// Lives on the free store and deletes itself, with its bitmap, once its window is destroyed.
class CSplashWindow : public CWindowBase {
public:
    // Shows bitmap `bitmapId` for `displayTime` milliseconds, centred over `centreOver` or the work
    // area. Answers the window, or none when the bitmap or the window could not be made.
    static HWND Show(UINT bitmapId, UINT displayTime, HWND centreOver);

protected:
    bool ProcessWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void OnFinalMessage() override {
        if (created_) {
            delete this;
        }
    }

private:
    CSplashWindow(UniqueBitmap bitmap, UINT displayTime, HWND centreOver)
        : bitmap_(std::move(bitmap)), displayTime_(displayTime), centreOver_(centreOver) {}
    ~CSplashWindow() override = default;

    void Paint();

    UniqueBitmap bitmap_;
    UINT displayTime_;
    HWND centreOver_;
    bool created_ = false; // until then a failed creation leaves the object to Show
};

} // namespace ui
