// Stopping a batch cleanly on SIGINT or SIGTERM, or on Ctrl-C in a Windows
// console.
//
// The handlers only set a flag: a handler may run on any of the workers'
// threads, in the middle of anything (a malloc, the library's own work), so
// it touches nothing but a lock-free atomic and, on a second signal, write
// and _exit. Everything else (skipping files, the summary, the status)
// happens on the normal threads once they see the flag.
#include "interrupt.h"

#include <atomic>
#include <csignal>

#if defined(_WIN32)
#  include <windows.h>
#else
#  include <unistd.h>
#endif

namespace {

std::atomic<int> requested{0};
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler may only touch lock-free atomics");

// A save under way when the second signal comes is cut off, and the library
// writes through a hidden temporary file beside the result.
constexpr char stopped_at_once[] =
    "\nimgtext: stopped at once; a file being written may leave a hidden .tmp file beside it\n";

#if defined(_WIN32)
// Runs on a thread the console starts for the event.
BOOL WINAPI on_console_event(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;  // closing, logoff: the default
    if (requested.exchange(SIGINT) != 0) {
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), stopped_at_once, sizeof stopped_at_once - 1, &written, nullptr);
        ExitProcess(128 + SIGINT);
    }
    return TRUE;
}
#else
void on_signal(int number) {
    if (requested.exchange(number) == 0) return;
    if (write(STDERR_FILENO, stopped_at_once, sizeof stopped_at_once - 1) < 0) { /* nowhere left to say it */
    }
    _exit(128 + number);
}
#endif

}  // namespace

void catch_stop_signals() {
#if defined(_WIN32)
    SetConsoleCtrlHandler(on_console_event, TRUE);
#else
    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    // Reads and writes under way carry on rather than fail with EINTR: the
    // files in flight are finished, not reported as errors.
    action.sa_flags = SA_RESTART;
    // A signal ignored when the tool started stays ignored: a shell without
    // job control starts `imgtext ... &` so, so that Ctrl-C meant for the
    // foreground does not stop it.
    for (const int number : {SIGINT, SIGTERM}) {
        struct sigaction before {};
        if (sigaction(number, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
        sigaction(number, &action, nullptr);
    }
#endif
}

int stop_signal() { return requested.load(); }
