// The message map: an ordered table of (message, command id, notification code, handler) rows that
// a window class declares once. The first matching row handles a message; the rest are not tried.
#pragma once

#include <windows.h>

#include <span>

namespace ui {

// A command row with this code accepts any notification (menu commands arrive with code 0).
inline constexpr int kAnyCode = -1;

template <class T> struct MessageMapRow {
    UINT message;
    int id;   // command id; only WM_COMMAND rows look at it
    int code; // notification code or kAnyCode; only WM_COMMAND rows look at it
    LRESULT (T::*handler)(UINT message, WPARAM wParam, LPARAM lParam);
};

// Whether a row of the given message, id and code handles the message. Commands carry their id in
// the low and their notification code in the high word of wParam.
inline bool RowMatches(UINT rowMessage, int rowId, int rowCode, UINT message, WPARAM wParam) {
    if (rowMessage != message) {
        return false;
    }
    if (message != WM_COMMAND) {
        return true;
    }
    return LOWORD(wParam) == static_cast<WORD>(rowId) && (rowCode == kAnyCode || HIWORD(wParam) == rowCode);
}

// Runs the first matching row's handler; answers whether one handled the message.
template <class T>
bool DispatchToMap(T& target, std::span<const MessageMapRow<T>> map, UINT message, WPARAM wParam, LPARAM lParam,
                   LRESULT& result) {
    for (const auto& row : map) {
        if (RowMatches(row.message, row.id, row.code, message, wParam)) {
            result = (target.*row.handler)(message, wParam, lParam);
            return true;
        }
    }
    return false;
}

} // namespace ui
