// The window framework on its own: the message map's matching rules, the message loop's filters
// and idle rules, the module's registry of loops, CentreWindow and the splash window.
#include "tests/ui_test_support.h"
#include "frame/app_module.h"
#include "frame/message_map.h"
#include "ui/resource.h"
#include "ui/splash.h"
#include "frame/window.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <thread>
#include <vector>

namespace {

// ---- the message map ----

struct MapTarget {
    std::vector<std::string> calls;
    LRESULT First(UINT, WPARAM, LPARAM) {
        calls.push_back("first");
        return 11;
    }
    LRESULT Second(UINT, WPARAM, LPARAM) {
        calls.push_back("second");
        return 22;
    }
};

TEST(MessageMap, FirstMatchingRowHandlesAndTheRestAreNotTried) {
    using Row = ui::MessageMapRow<MapTarget>;
    const std::array<Row, 4> map{{
        {WM_COMMAND, 7, ui::kAnyCode, &MapTarget::First},
        {WM_COMMAND, 7, 0, &MapTarget::Second},
        {WM_COMMAND, 8, EN_CHANGE, &MapTarget::Second},
        {WM_DROPFILES, 0, 0, &MapTarget::First},
    }};
    MapTarget target;
    LRESULT result = 0;
    auto dispatch = [&](UINT message, WPARAM wParam) {
        target.calls.clear();
        result = 0;
        return ui::DispatchToMap<MapTarget>(target, map, message, wParam, 0, result);
    };

    EXPECT_TRUE(dispatch(WM_COMMAND, MAKEWPARAM(7, 0)));
    EXPECT_EQ(target.calls, std::vector<std::string>{"first"});
    EXPECT_EQ(result, 11);

    EXPECT_TRUE(dispatch(WM_COMMAND, MAKEWPARAM(8, EN_CHANGE)));
    EXPECT_EQ(target.calls, std::vector<std::string>{"second"});
    EXPECT_EQ(result, 22);

    EXPECT_FALSE(dispatch(WM_COMMAND, MAKEWPARAM(8, EN_UPDATE))) << "other codes of a coded row";
    EXPECT_FALSE(dispatch(WM_COMMAND, MAKEWPARAM(9, 0))) << "ids without a row";
    EXPECT_FALSE(dispatch(WM_NOTIFY, 7)) << "the id only counts for commands";
    EXPECT_TRUE(target.calls.empty());

    // Rows of other messages ignore wParam: a drop carries a handle there.
    EXPECT_TRUE(dispatch(WM_DROPFILES, 0x12345678));
    EXPECT_EQ(target.calls, std::vector<std::string>{"first"});
}

// ---- the message loop ----

struct OrderFilter : ui::CMessageFilter {
    OrderFilter(std::vector<std::string>& log, std::string name, bool consume)
        : log(log), name(std::move(name)), consume(consume) {}
    bool FilterMessage(MSG&) override {
        log.push_back(name);
        return consume;
    }
    std::vector<std::string>& log;
    std::string name;
    bool consume;
};

TEST(MessageLoop, FiltersAreTriedFromTheLastAddedUntilOneConsumes) {
    std::vector<std::string> log;
    OrderFilter a(log, "a", false), b(log, "b", false), c(log, "c", false);
    ui::CMessageLoop loop;
    loop.AddMessageFilter(&a);
    loop.AddMessageFilter(&b);
    loop.AddMessageFilter(&c);
    MSG message{nullptr, WM_USER, 0, 0, 0, {}};

    EXPECT_FALSE(loop.FilterMessage(message));
    EXPECT_EQ(log, (std::vector<std::string>{"c", "b", "a"}));

    log.clear();
    b.consume = true;
    EXPECT_TRUE(loop.FilterMessage(message));
    EXPECT_EQ(log, (std::vector<std::string>{"c", "b"}));

    log.clear();
    EXPECT_TRUE(loop.RemoveMessageFilter(&b));
    EXPECT_FALSE(loop.RemoveMessageFilter(&b));
    EXPECT_FALSE(loop.FilterMessage(message));
    EXPECT_EQ(log, (std::vector<std::string>{"c", "a"}));
}

// Drives a loop through a script: each idle call posts the next message, a filter consumes and
// logs them, and a thread timer shows whether the loop went idle after a message.
class ScriptedLoop : public ui::CMessageFilter, public ui::CIdleHandler {
public:
    explicit ScriptedLoop(UINT quietMessage) : quietMessage_(quietMessage) {
        loop.AddMessageFilter(this);
        loop.AddIdleHandler(this);
    }
    bool DoIdleWork() override {
        ++idleCalls;
        log.push_back("idle");
        if (idleCalls == 1) {
            PostThreadMessageW(GetCurrentThreadId(), WM_USER, 0, 0);
        } else if (idleCalls == 2) {
            PostThreadMessageW(GetCurrentThreadId(), quietMessage_, 0, 0);
        } else {
            PostQuitMessage(idleCalls);
        }
        return true; // asks for more; the loop still calls once per idle phase
    }
    bool FilterMessage(MSG& message) override {
        if (message.message == quietMessage_) {
            log.push_back("quiet");
            SetTimer(nullptr, 0, 50, nullptr);
        } else if (message.message == WM_TIMER) {
            log.push_back("timer");
            KillTimer(nullptr, message.wParam);
        } else {
            log.push_back("message");
        }
        return true;
    }
    ui::CMessageLoop loop;
    std::vector<std::string> log;
    int idleCalls = 0;

private:
    UINT quietMessage_;
};

TEST(MessageLoop, IdleHandlersRunOncePerIdlePhaseExceptAfterContinuousMessages) {
    const UINT caretBlink = 0x0118;
    for (UINT quiet : {static_cast<UINT>(WM_MOUSEMOVE), static_cast<UINT>(WM_NCMOUSEMOVE), static_cast<UINT>(WM_PAINT),
                       caretBlink}) {
        ScriptedLoop script(quiet);
        EXPECT_EQ(script.loop.Run(), 3) << quiet;
        EXPECT_EQ(script.log, (std::vector<std::string>{"idle", "message", "idle", "quiet", "timer", "idle"}))
            << "after message " << quiet << " the loop must wait without idle calls";
    }
    // Any other message starts a new idle phase at once.
    ScriptedLoop busy(WM_KEYDOWN);
    EXPECT_EQ(busy.loop.Run(), 3);
    EXPECT_EQ(busy.log, (std::vector<std::string>{"idle", "message", "idle", "quiet", "idle"}));
}

TEST(MessageLoop, ModuleRegistersOneLoopPerThread) {
    ui::CMessageLoop loop, other;
    ASSERT_TRUE(ui::appModule.AddMessageLoop(&loop));
    EXPECT_FALSE(ui::appModule.AddMessageLoop(&other));
    EXPECT_EQ(ui::appModule.GetMessageLoop(), &loop);

    DWORD workerId = 0;
    ui::CMessageLoop* seenByWorker = &loop;
    std::thread worker([&] {
        workerId = GetCurrentThreadId();
        seenByWorker = ui::appModule.GetMessageLoop();
        ui::appModule.AddMessageLoop(&other);
    });
    worker.join();
    EXPECT_EQ(seenByWorker, nullptr);
    EXPECT_EQ(ui::appModule.GetMessageLoop(workerId), &other);
    EXPECT_EQ(ui::appModule.GetMessageLoop(), &loop);

    EXPECT_TRUE(ui::appModule.RemoveMessageLoop());
    EXPECT_FALSE(ui::appModule.RemoveMessageLoop());
    EXPECT_EQ(ui::appModule.GetMessageLoop(), nullptr);
    ui::appModule.Term();
    EXPECT_EQ(ui::appModule.GetMessageLoop(workerId), nullptr);
}

// ---- CentreWindow ----

struct WindowOwner {
    HWND window;
    ~WindowOwner() { DestroyWindow(window); }
};

HWND MakeWindow(int x, int y, int width, int height, DWORD style, HWND parent = nullptr) {
    return CreateWindowExW(0, L"STATIC", L"", style, x, y, width, height, parent, nullptr, GetModuleHandleW(nullptr),
                           nullptr);
}

RECT WorkArea() {
    RECT area;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    return area;
}

RECT ScreenRect(HWND window) {
    RECT rect;
    GetWindowRect(window, &rect);
    return rect;
}

TEST(CentreWindow, TopLevelWindowsCentreOverTheirReferenceOrTheWorkArea) {
    RECT area = WorkArea();
    WindowOwner window{MakeWindow(0, 0, 201, 101, WS_POPUP)};
    ASSERT_TRUE(ui::CentreWindow(window.window));
    RECT got = ScreenRect(window.window);
    EXPECT_EQ(got.left, (area.left + area.right) / 2 - 100);
    EXPECT_EQ(got.top, (area.top + area.bottom) / 2 - 50);
    EXPECT_EQ(got.right - got.left, 201) << "the size stays";

    WindowOwner reference{MakeWindow(300, 200, 400, 300, WS_POPUP | WS_VISIBLE)};
    ui::CentreWindow(window.window, reference.window);
    got = ScreenRect(window.window);
    EXPECT_EQ(got.left, 500 - 100);
    EXPECT_EQ(got.top, 350 - 50);

    // With no reference given, a window's owner is the reference.
    WindowOwner owned{MakeWindow(0, 0, 100, 60, WS_POPUP, reference.window)};
    ui::CentreWindow(owned.window);
    got = ScreenRect(owned.window);
    EXPECT_EQ(got.left, 450);
    EXPECT_EQ(got.top, 320);

    // A hidden or minimised reference is dropped for the work area.
    ShowWindow(reference.window, SW_HIDE);
    ui::CentreWindow(window.window, reference.window);
    EXPECT_EQ(ScreenRect(window.window).left, (area.left + area.right) / 2 - 100);
    ShowWindow(reference.window, SW_SHOWNOACTIVATE);
    ShowWindow(reference.window, SW_SHOWMINNOACTIVE);
    if (IsIconic(reference.window)) {
        ui::CentreWindow(window.window, reference.window);
        EXPECT_EQ(ScreenRect(window.window).left, (area.left + area.right) / 2 - 100);
    }
}

TEST(CentreWindow, KeepsTopLevelWindowsInsideTheWorkArea) {
    RECT area = WorkArea();
    WindowOwner window{MakeWindow(0, 0, 300, 200, WS_POPUP)};

    WindowOwner corner{MakeWindow(area.left, area.top, 40, 30, WS_POPUP | WS_VISIBLE)};
    ui::CentreWindow(window.window, corner.window);
    RECT got = ScreenRect(window.window);
    EXPECT_EQ(got.left, area.left);
    EXPECT_EQ(got.top, area.top);

    WindowOwner opposite{MakeWindow(area.right - 40, area.bottom - 30, 40, 30, WS_POPUP | WS_VISIBLE)};
    ui::CentreWindow(window.window, opposite.window);
    got = ScreenRect(window.window);
    EXPECT_EQ(got.right, area.right);
    EXPECT_EQ(got.bottom, area.bottom);
}

TEST(CentreWindow, ChildWindowsCentreInTheirParentsClientArea) {
    WindowOwner parent{MakeWindow(100, 100, 400, 300, WS_POPUP)};
    RECT client;
    GetClientRect(parent.window, &client);
    HWND child = MakeWindow(0, 0, 100, 50, WS_CHILD, parent.window);
    HWND reference = MakeWindow(10, 20, 60, 40, WS_CHILD, parent.window);
    auto position = [&](HWND window) {
        RECT rect = ScreenRect(window);
        MapWindowPoints(nullptr, parent.window, reinterpret_cast<POINT*>(&rect), 2);
        return rect;
    };

    ui::CentreWindow(child);
    RECT got = position(child);
    EXPECT_EQ(got.left, client.right / 2 - 50);
    EXPECT_EQ(got.top, client.bottom / 2 - 25);

    // Over a sibling, clamped to the parent's client area (the sibling sits near its corner).
    ui::CentreWindow(child, reference);
    got = position(child);
    EXPECT_EQ(got.left, 0);
    EXPECT_EQ(got.top, 15);

    MoveWindow(reference, client.right - 20, client.bottom - 20, 20, 20, FALSE);
    ui::CentreWindow(child, reference);
    got = position(child);
    EXPECT_EQ(got.right, client.right);
    EXPECT_EQ(got.bottom, client.bottom);
}

// ---- the splash window ----

class SplashTest : public ::testing::Test {
protected:
    void SetUp() override { uitest::PrepareModule(); }
};

TEST_F(SplashTest, IsABorderlessToolWindowTheSizeOfItsPictureCentredOnTheWorkArea) {
    HWND splash = ui::CSplashWindow::Show(IDB_SPLASH, 60000, nullptr);
    ASSERT_NE(splash, nullptr);
    RECT rect = ScreenRect(splash);
    EXPECT_EQ(rect.right - rect.left, 320);
    EXPECT_EQ(rect.bottom - rect.top, 240);
    RECT area = WorkArea();
    EXPECT_EQ(rect.left, (area.left + area.right) / 2 - 160);
    EXPECT_EQ(rect.top, (area.top + area.bottom) / 2 - 120);
    LONG style = GetWindowLongW(splash, GWL_STYLE);
    EXPECT_TRUE(style & WS_POPUP);
    EXPECT_TRUE(style & WS_VISIBLE);
    EXPECT_FALSE(style & (WS_CAPTION | WS_BORDER | WS_THICKFRAME));
    LONG exStyle = GetWindowLongW(splash, GWL_EXSTYLE);
    EXPECT_TRUE(exStyle & WS_EX_TOOLWINDOW);
    EXPECT_FALSE(exStyle & WS_EX_TOPMOST);

    // The picture is on the screen as it is in the resource: its corner is the top bar's blue.
    HDC screen = GetDC(nullptr);
    COLORREF corner = GetPixel(screen, rect.left + 1, rect.top + 1);
    ReleaseDC(nullptr, screen);
    EXPECT_EQ(corner, RGB(0x1d, 0x5f, 0xa6));

    PostMessageW(splash, WM_LBUTTONDOWN, MK_LBUTTON, 0);
    EXPECT_TRUE(uitest::PumpUntil([&] { return !IsWindow(splash); }));
}

TEST_F(SplashTest, ClosesOnItsTimerOnARightClickAndOnEscape) {
    HWND timed = ui::CSplashWindow::Show(IDB_SPLASH, 50, nullptr);
    ASSERT_NE(timed, nullptr);
    EXPECT_TRUE(uitest::PumpUntil([&] { return !IsWindow(timed); }));

    HWND clicked = ui::CSplashWindow::Show(IDB_SPLASH, 60000, nullptr);
    ASSERT_NE(clicked, nullptr);
    PostMessageW(clicked, WM_RBUTTONDOWN, 0, 0);
    EXPECT_TRUE(uitest::PumpUntil([&] { return !IsWindow(clicked); }));

    HWND keyed = ui::CSplashWindow::Show(IDB_SPLASH, 60000, nullptr);
    ASSERT_NE(keyed, nullptr);
    PostMessageW(keyed, WM_KEYDOWN, 'A', 0);
    uitest::PumpUntil([] { return false; }, 100);
    EXPECT_TRUE(IsWindow(keyed)) << "only Escape closes it";
    PostMessageW(keyed, WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_TRUE(uitest::PumpUntil([&] { return !IsWindow(keyed); }));
}

TEST_F(SplashTest, MissingPictureShowsNothing) { EXPECT_EQ(ui::CSplashWindow::Show(9999, 60000, nullptr), nullptr); }

} // namespace
