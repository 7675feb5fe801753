// Ctrl-C, Ctrl-Break and the console window closing, through SetConsoleCtrlHandler.
//
// Windows runs a console control handler on a thread of its own, so the handler may call
// anything; what it reads from the main thread still goes through atomics. The first event
// only raises the flag the download command looks at; a second one, at least a second later,
// restores the line and the priority class and ends the process at once. Closing the console,
// logging off and shutting down give the process a few seconds only, so they count as the second
// event straight away.
#include <windows.h>

#include <atomic>
#include <csignal>
#include <stdexcept>

#include "app/cli/console/InterruptWatch.h"
#include "serial/SerialPortWin32.h"

namespace tarvex::cli {

struct InterruptWatch::State {
    std::atomic<int> interrupts{0};
    std::atomic<int> signal{0};
    std::atomic<unsigned long long> firstAtMs{0};  // GetTickCount64 of the first event
    std::atomic<HANDLE> portHandle{INVALID_HANDLE_VALUE};
    DCB portSettings{};
    std::atomic<bool> haveSettings{false};
    platform::SavedPriority priority{};
    std::atomic<bool> cancelOnClose{false};
    std::atomic<bool> ended{false};
};

namespace {

// A console control handler gets nothing but the event: whatever it needs must be reachable
// from here, set only while the watch lives.
std::atomic<InterruptWatch::State*> g_watched{nullptr};

BOOL WINAPI OnConsoleEvent(DWORD event) {
    InterruptWatch::State* const state = g_watched.load();
    if (state == nullptr) {
        return FALSE;  // the next handler (the default one ends the process)
    }
    const bool closing =
        event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
    if (!closing) {
        if (state->interrupts.load() == 0) {
            state->firstAtMs = ::GetTickCount64();
            state->signal = SIGINT;
            state->interrupts = 1;
            return TRUE;
        }
        // The same event delivered twice in a moment is not a person pressing Ctrl-C again.
        if (::GetTickCount64() - state->firstAtMs.load() <
            static_cast<unsigned long long>(InterruptWatch::kSecondSignalGapNs / 1'000'000)) {
            return TRUE;
        }
    } else if (state->cancelOnClose.load()) {
        // The system ends the process some five seconds after the close, or when this returns:
        // the line has until then to tell every panel Cancel and close its ports.
        if (state->interrupts.load() == 0) {
            state->firstAtMs = ::GetTickCount64();
            state->signal = SIGINT;
            state->interrupts = 1;
        }
        for (int waited = 0; waited < 4500 && !state->ended.load(); waited += 50) {
            ::Sleep(50);
        }
        if (state->ended.load()) {
            return TRUE;
        }
    }
    const HANDLE port = state->portHandle.load();
    EmergencyRestoreAndClose(port, port != INVALID_HANDLE_VALUE && state->haveSettings.load()
                                       ? &state->portSettings
                                       : nullptr);
    platform::EmergencyRestorePriority(state->priority);
    static constexpr char kText[] = "tarvex-cli: stopped at once; the panel was not told\r\n";
    DWORD written = 0;
    (void)::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), kText, sizeof kText - 1, &written, nullptr);
    // 128 + SIGINT, as a shell reports a program ended by Ctrl-C on POSIX.
    ::TerminateProcess(::GetCurrentProcess(), 128 + SIGINT);
    return TRUE;
}

}  // namespace

InterruptWatch::InterruptWatch(const platform::SavedPriority& priority)
    : state_(std::make_unique<State>()) {
    state_->priority = priority;
    InterruptWatch::State* expected = nullptr;
    if (!g_watched.compare_exchange_strong(expected, state_.get())) {
        throw std::logic_error("only one interrupt watch at a time");
    }
    // A process started with Ctrl-C ignored (CREATE_NEW_PROCESS_GROUP) would never see it.
    (void)::SetConsoleCtrlHandler(nullptr, FALSE);
    if (::SetConsoleCtrlHandler(&OnConsoleEvent, TRUE) == 0) {
        g_watched.store(nullptr);
        throw std::runtime_error("cannot watch for Ctrl-C");
    }
}

InterruptWatch::~InterruptWatch() {
    (void)::SetConsoleCtrlHandler(&OnConsoleEvent, FALSE);
    g_watched.store(nullptr);
    state_->ended = true;
    if (state_->cancelOnClose.load()) {
        // A handler still waiting on another thread reads the state until it sees the end.
        ::Sleep(60);
    }
}

void InterruptWatch::CancelOnClose() {
    state_->cancelOnClose = true;
}

bool InterruptWatch::Requested() const {
    return state_->interrupts.load() != 0;
}

int InterruptWatch::Signal() const {
    return state_->signal.load();
}

void InterruptWatch::PublishPort(const CSerialPort* port) {
    const HANDLE handle = port != nullptr ? NativeHandle(*port) : INVALID_HANDLE_VALUE;
    const DCB* saved = port != nullptr ? SavedSettings(*port) : nullptr;
    State& state = *state_;
    if (state.portHandle.load(std::memory_order_relaxed) == handle) {
        return;  // the settings of an open port do not change while it stays open
    }
    // Withdraw the old handle first, so that the handler never pairs one port's handle with
    // another's settings.
    state.portHandle.store(INVALID_HANDLE_VALUE);
    state.haveSettings.store(false);
    if (handle != INVALID_HANDLE_VALUE && saved != nullptr) {
        state.portSettings = *saved;
        state.haveSettings.store(true);
    }
    state.portHandle.store(handle);
}

}  // namespace tarvex::cli
