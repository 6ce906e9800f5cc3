// The application module's registry of message loops and the message loop itself.
#include "frame/app_module.h"

#include <algorithm>

namespace ui {

namespace {
// The platform's internal timer that blinks the caret; it arrives twice a second in any window
// with a caret and is no sign of user activity.
constexpr UINT kCaretBlinkMessage = 0x0118;

template <class T> bool RemoveFrom(std::vector<T*>& list, T* item) {
    auto found = std::find(list.begin(), list.end(), item);
    if (found == list.end()) {
        return false;
    }
    list.erase(found);
    return true;
}
} // namespace

CAppModule appModule;

void CMessageLoop::AddMessageFilter(CMessageFilter* filter) { filters_.push_back(filter); }
bool CMessageLoop::RemoveMessageFilter(CMessageFilter* filter) { return RemoveFrom(filters_, filter); }
void CMessageLoop::AddIdleHandler(CIdleHandler* handler) { idleHandlers_.push_back(handler); }
bool CMessageLoop::RemoveIdleHandler(CIdleHandler* handler) { return RemoveFrom(idleHandlers_, handler); }

int CMessageLoop::Run() {
    bool idleEnabled = true;
    int idleCount = 0;
    for (;;) {
        while (idleEnabled && !PeekMessageW(&message_, nullptr, 0, 0, PM_NOREMOVE)) {
            if (!DoIdleWork(idleCount++)) {
                idleEnabled = false;
            }
        }
        BOOL taken = GetMessageW(&message_, nullptr, 0, 0);
        if (taken == -1) {
            continue;
        }
        if (!taken) {
            return static_cast<int>(message_.wParam);
        }
        if (!FilterMessage(message_)) {
            TranslateMessage(&message_);
            DispatchMessageW(&message_);
        }
        if (IsIdleMessage(message_)) {
            idleEnabled = true;
            idleCount = 0;
        }
    }
}

bool CMessageLoop::FilterMessage(MSG& message) {
    // A filter may remove itself while it runs (its window closes), so walk by index.
    for (std::size_t i = filters_.size(); i > 0; --i) {
        if (i <= filters_.size() && filters_[i - 1]->FilterMessage(message)) {
            return true;
        }
    }
    return false;
}

bool CMessageLoop::DoIdleWork(int) {
    for (std::size_t i = 0; i < idleHandlers_.size(); ++i) {
        idleHandlers_[i]->DoIdleWork();
    }
    return false;
}

bool CMessageLoop::IsIdleMessage(const MSG& message) {
    switch (message.message) {
    case WM_MOUSEMOVE:
    case WM_NCMOUSEMOVE:
    case WM_PAINT:
    case kCaretBlinkMessage:
        return false;
    default:
        return true;
    }
}

void CAppModule::Init(HINSTANCE instance) { instance_ = instance; }

void CAppModule::Term() {
    std::lock_guard guard(lock_);
    loops_.clear();
}

bool CAppModule::AddMessageLoop(CMessageLoop* loop) {
    std::lock_guard guard(lock_);
    return loops_.emplace(GetCurrentThreadId(), loop).second;
}

bool CAppModule::RemoveMessageLoop() {
    std::lock_guard guard(lock_);
    return loops_.erase(GetCurrentThreadId()) != 0;
}

CMessageLoop* CAppModule::GetMessageLoop(DWORD threadId) const {
    std::lock_guard guard(lock_);
    auto found = loops_.find(threadId);
    return found == loops_.end() ? nullptr : found->second;
}

} // namespace ui
