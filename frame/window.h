// The dialog and window bases that bind a Win32 window to a C++ object, and the centring rule that
// every window of the program uses.
#pragma once

#include <windows.h>

namespace ui {

// Binds a dialog template to an object: the dialog's messages go to ProcessWindowMessage, which
// the derived class answers from its message map. Unhandled messages get the default dialog
// processing.
class CDialogBase {
public:
    explicit CDialogBase(UINT templateId) : templateId_(templateId) {}
    virtual ~CDialogBase();
    CDialogBase(const CDialogBase&) = delete;
    CDialogBase& operator=(const CDialogBase&) = delete;

    HWND Create(HWND owner);
    INT_PTR DoModal(HWND owner);
    void EndDialog(INT_PTR code);
    void DestroyWindow();
    HWND Window() const { return window_; }

protected:
    virtual bool ProcessWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) = 0;

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    UINT templateId_;
    HWND window_ = nullptr;
};

// The same binding for a plain window. Its class is registered on first use under a generated
// name, with the arrow cursor and the window colour as background.
class CWindowBase {
public:
    CWindowBase() = default;
    virtual ~CWindowBase();
    CWindowBase(const CWindowBase&) = delete;
    CWindowBase& operator=(const CWindowBase&) = delete;

    HWND Create(HWND parent, const RECT& rect, DWORD style, DWORD exStyle);
    HWND Window() const { return window_; }

protected:
    virtual bool ProcessWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) = 0;
    // Called after the window's last message; the object may delete itself here.
    virtual void OnFinalMessage() {}

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND window_ = nullptr;
};

// Centres a window over a reference window (by default the parent of a child, the owner of any
// other window) or over the work area, keeping it inside its parent's client area or the work
// area. The window keeps its size and stacking place and is not activated.
bool CentreWindow(HWND window, HWND reference = nullptr);

} // namespace ui
