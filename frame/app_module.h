// The application module and the message loop: the one loop of the user-interface thread, with the
// message filters that give dialogs their keyboard navigation and the idle handlers run whenever
// the queue runs dry.
#pragma once

#include <windows.h>

#include <map>
#include <mutex>
#include <vector>

namespace ui {

class CMessageFilter {
public:
    // Answers true when the message was consumed and must not be dispatched.
    virtual bool FilterMessage(MSG& message) = 0;

protected:
    ~CMessageFilter() = default;
};

class CIdleHandler {
public:
    // Answers whether the handler wants more idle calls.
    virtual bool DoIdleWork() = 0;

protected:
    ~CIdleHandler() = default;
};

class CMessageLoop {
public:
    void AddMessageFilter(CMessageFilter* filter);
    bool RemoveMessageFilter(CMessageFilter* filter);
    void AddIdleHandler(CIdleHandler* handler);
    bool RemoveIdleHandler(CIdleHandler* handler);

    // Runs until the quit request and answers the code it carries.
    int Run();

    // Offers the message to the filters, the last added first.
    bool FilterMessage(MSG& message);
    // Calls every idle handler once; answers false, so that an idle phase calls them only once.
    bool DoIdleWork(int idleCount);
    // False for the messages that arrive continuously (mouse moves, paints, the caret blink) and
    // would otherwise turn the idle handlers into a busy loop.
    static bool IsIdleMessage(const MSG& message);

private:
    MSG message_{};
    std::vector<CMessageFilter*> filters_;
    std::vector<CIdleHandler*> idleHandlers_;
};

class CAppModule {
public:
    void Init(HINSTANCE instance);
    void Term();
    HINSTANCE GetModuleInstance() const { return instance_; }
    HINSTANCE GetResourceInstance() const { return instance_; }

    // Registers the loop for the calling thread; false when that thread already has one.
    bool AddMessageLoop(CMessageLoop* loop);
    bool RemoveMessageLoop();
    CMessageLoop* GetMessageLoop(DWORD threadId = GetCurrentThreadId()) const;

private:
    HINSTANCE instance_ = nullptr;
    mutable std::mutex lock_;
    std::map<DWORD, CMessageLoop*> loops_;
};

extern CAppModule appModule;

// Registers a loop for the calling thread for the lifetime of a scope.
class MessageLoopRegistration {
public:
    explicit MessageLoopRegistration(CMessageLoop& loop) { appModule.AddMessageLoop(&loop); }
    ~MessageLoopRegistration() { appModule.RemoveMessageLoop(); }
    MessageLoopRegistration(const MessageLoopRegistration&) = delete;
    MessageLoopRegistration& operator=(const MessageLoopRegistration&) = delete;
};

} // namespace ui
