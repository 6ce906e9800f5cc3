// The dialog and window bases: the Win32 procedures that hand messages to their objects, and the
// window-centring rule.
#include "frame/window.h"

#include "frame/app_module.h"

#include <cwchar>

namespace ui {

CDialogBase::~CDialogBase() { DestroyWindow(); }

HWND CDialogBase::Create(HWND owner) {
    return CreateDialogParamW(appModule.GetResourceInstance(), MAKEINTRESOURCEW(templateId_), owner, DialogProc,
                              reinterpret_cast<LPARAM>(this));
}

INT_PTR CDialogBase::DoModal(HWND owner) {
    return DialogBoxParamW(appModule.GetResourceInstance(), MAKEINTRESOURCEW(templateId_), owner, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

void CDialogBase::EndDialog(INT_PTR code) { ::EndDialog(window_, code); }

void CDialogBase::DestroyWindow() {
    if (window_ && IsWindow(window_)) {
        ::DestroyWindow(window_);
    }
    window_ = nullptr;
}

// The firewall between the platform and the dialog objects: it finds the object, lets its map
// answer, and turns the answer into what the platform expects. Nothing is thrown through it.
INT_PTR CALLBACK CDialogBase::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    CDialogBase* self = nullptr;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<CDialogBase*>(lParam);
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        self->window_ = window;
    } else {
        self = reinterpret_cast<CDialogBase*>(GetWindowLongPtrW(window, DWLP_USER));
    }
    if (!self) {
        return FALSE;
    }
    INT_PTR answer = FALSE;
    try {
        LRESULT result = 0;
        if (self->ProcessWindowMessage(message, wParam, lParam, result)) {
            // WM_INITDIALOG answers directly (whether the platform sets the focus); every other
            // handled message answers through DWLP_MSGRESULT.
            if (message == WM_INITDIALOG) {
                answer = static_cast<INT_PTR>(result);
            } else {
                SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
                answer = TRUE;
            }
        }
    } catch (...) {
        answer = FALSE;
    }
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, DWLP_USER, 0);
        self->window_ = nullptr;
    }
    return answer;
}

CWindowBase::~CWindowBase() {
    if (window_ && IsWindow(window_)) {
        SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        ::DestroyWindow(window_);
    }
}

HWND CWindowBase::Create(HWND parent, const RECT& rect, DWORD style, DWORD exStyle) {
    static ATOM windowClass = 0;
    static wchar_t className[64];
    HINSTANCE instance = appModule.GetModuleInstance();
    if (!windowClass) {
        std::swprintf(className, 64, L"Tarvelo:%p", reinterpret_cast<void*>(&CWindowBase::WindowProc));
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = WindowProc;
        wc.hInstance = instance;
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        wc.lpszClassName = className;
        windowClass = RegisterClassExW(&wc);
        if (!windowClass) {
            return nullptr;
        }
    }
    return CreateWindowExW(exStyle, className, L"", style, rect.left, rect.top, rect.right - rect.left,
                           rect.bottom - rect.top, parent, nullptr, instance, this);
}

LRESULT CALLBACK CWindowBase::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    CWindowBase* self = nullptr;
    if (message == WM_NCCREATE) {
        self = static_cast<CWindowBase*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->window_ = window;
    } else {
        self = reinterpret_cast<CWindowBase*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    }
    if (!self) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    LRESULT result = 0;
    bool handled = false;
    try {
        handled = self->ProcessWindowMessage(message, wParam, lParam, result);
    } catch (...) {
        handled = false;
    }
    if (!handled) {
        result = DefWindowProcW(window, message, wParam, lParam);
    }
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        self->window_ = nullptr;
        self->OnFinalMessage();
    }
    return result;
}

bool CentreWindow(HWND window, HWND reference) {
    LONG style = GetWindowLongW(window, GWL_STYLE);
    bool child = (style & WS_CHILD) != 0;
    if (!reference) {
        reference = child ? GetParent(window) : GetWindow(window, GW_OWNER);
    }

    RECT area{};
    RECT centre{};
    if (child) {
        HWND parent = GetParent(window);
        GetClientRect(parent, &area);
        if (reference) {
            GetClientRect(reference, &centre);
            MapWindowPoints(reference, parent, reinterpret_cast<POINT*>(&centre), 2);
        } else {
            centre = area;
        }
    } else {
        if (reference && (!IsWindowVisible(reference) || IsIconic(reference))) {
            reference = nullptr;
        }
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
        if (reference) {
            GetWindowRect(reference, &centre);
        } else {
            centre = area;
        }
    }

    RECT own{};
    GetWindowRect(window, &own);
    int width = own.right - own.left;
    int height = own.bottom - own.top;
    int left = (centre.left + centre.right) / 2 - width / 2;
    int top = (centre.top + centre.bottom) / 2 - height / 2;
    if (left < area.left) {
        left = area.left;
    } else if (left + width > area.right) {
        left = area.right - width;
    }
    if (top < area.top) {
        top = area.top;
    } else if (top + height > area.bottom) {
        top = area.bottom - height;
    }
    return SetWindowPos(window, nullptr, left, top, -1, -1, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE) != FALSE;
}

} // namespace ui
