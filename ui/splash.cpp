// The splash window: a borderless tool window exactly the size of its picture, closed by its timer,
// a mouse click or Escape.
#include "ui/splash.h"

#include "frame/app_module.h"

namespace ui {

HWND CSplashWindow::Show(UINT bitmapId, UINT displayTime, HWND centreOver) {
    UniqueBitmap bitmap(static_cast<HBITMAP>(LoadImageW(appModule.GetResourceInstance(), MAKEINTRESOURCEW(bitmapId),
                                                        IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
    BITMAP info{};
    if (!bitmap || !GetObjectW(bitmap.get(), sizeof info, &info)) {
        return nullptr;
    }
    auto* splash = new CSplashWindow(std::move(bitmap), displayTime, centreOver);
    RECT rect{0, 0, info.bmWidth, info.bmHeight};
    HWND window = splash->Create(nullptr, rect, WS_POPUP | WS_VISIBLE, WS_EX_TOOLWINDOW);
    if (!window) {
        delete splash;
        return nullptr;
    }
    splash->created_ = true;
    UpdateWindow(window);
    return window;
}

bool CSplashWindow::ProcessWindowMessage(UINT message, WPARAM wParam, LPARAM, LRESULT& result) {
    result = 0;
    switch (message) {
    case WM_CREATE:
        CentreWindow(Window(), centreOver_);
        SetTimer(Window(), SplashTimerId, displayTime_, nullptr);
        return true;
    case WM_PAINT:
        Paint();
        return true;
    case WM_ERASEBKGND:
        result = 1; // the picture covers the whole window
        return true;
    case WM_TIMER:
        if (wParam != SplashTimerId) {
            return false;
        }
        KillTimer(Window(), SplashTimerId);
        PostMessageW(Window(), WM_CLOSE, 0, 0);
        return true;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
        PostMessageW(Window(), WM_CLOSE, 0, 0);
        return true;
    case WM_KEYDOWN:
        if (wParam != VK_ESCAPE) {
            return false;
        }
        PostMessageW(Window(), WM_CLOSE, 0, 0);
        return true;
    default:
        return false;
    }
}

void CSplashWindow::Paint() {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(Window(), &paint);
    BITMAP info{};
    GetObjectW(bitmap_.get(), sizeof info, &info);
    UniqueMemoryDc memory(CreateCompatibleDC(dc));
    if (memory) {
        SelectedObject selected(memory.get(), bitmap_.get());
        BitBlt(dc, 0, 0, info.bmWidth, info.bmHeight, memory.get(), 0, 0, SRCCOPY);
    }
    EndPaint(Window(), &paint);
}

} // namespace ui
