// Removing the files being written when a signal stops the program. The handler may only do what
// is safe inside a signal handler, so the paths are kept ready in host form in a fixed table of
// atomic slots, and the handler does nothing but unlink them and let the signal go on.
#include "platform/file.h"
#include "platform/folder.h"
#include "platform/text.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace platform {
namespace {

constexpr std::size_t kSlots = 64;
std::atomic<char*> slots[kSlots];

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void RemoveAndGoOn(int signal) {
    for (std::atomic<char*>& slot : slots) {
        if (char* path = slot.load()) {
            ::unlink(path);
        }
    }
    // The handler was installed to run once: the signal now has its usual effect.
    ::raise(signal);
}

char* HostCopy(std::u16string_view path) {
    std::string host;
    if (!Utf16ToUtf8(NativePath(path), host)) {
        return nullptr;
    }
    return ::strdup(host.c_str());
}

void Remember(char* copy) {
    for (std::atomic<char*>& slot : slots) {
        char* empty = nullptr;
        if (slot.compare_exchange_strong(empty, copy)) {
            return;
        }
    }
    std::free(copy); // a full table only loses the clean-up, never the write
}

} // namespace

File File::CreateTemporary(const FolderHandle& folder, std::u16string_view name, bool* nameTaken) {
    char* copy = HostCopy(folder.PathOf(name));
    // No signal may come between the file's making and its remembering, or it would stay behind.
    sigset_t held, previous;
    sigemptyset(&held);
    for (int signal : kSignals) {
        sigaddset(&held, signal);
    }
    ::sigprocmask(SIG_BLOCK, &held, &previous);
    File file = folder.CreateNew(name, nameTaken);
    if (file.IsOpen() && copy) {
        Remember(copy);
        copy = nullptr;
    }
    ::sigprocmask(SIG_SETMASK, &previous, nullptr);
    std::free(copy);
    return file;
}

void ForgetOnInterrupt(std::u16string_view path) {
    std::string host;
    if (!Utf16ToUtf8(NativePath(path), host)) {
        return;
    }
    for (std::atomic<char*>& slot : slots) {
        char* held = slot.load();
        if (held && host == held && slot.compare_exchange_strong(held, nullptr)) {
            std::free(held);
            return;
        }
    }
}

void CleanUpOnInterrupt() {
    // A closed pipe or a file size limit would otherwise end the program at a write, past any
    // clean-up: ignored, they make the write fail, and the failure takes its usual way.
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);
    for (int signal : kSignals) {
        struct sigaction current {};
        // A signal the program was told to ignore (nohup) stays ignored.
        if (::sigaction(signal, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) {
            continue;
        }
        struct sigaction action {};
        action.sa_handler = RemoveAndGoOn;
        action.sa_flags = SA_RESETHAND;
        sigemptyset(&action.sa_mask);
        ::sigaction(signal, &action, nullptr);
    }
}

} // namespace platform
