// A program that leaks on purpose, at a rate it announces, so that the soak
// script can be shown to see a leak of each kind it reports: private memory
// that is written to (so it is resident, not just committed), kernel
// handles and threads. A soak figure that does not move for this program is
// worthless for the real one.
//
//   leak_control.exe [KiB per tick, default 16] [milliseconds per tick, default 100]
//                    [ticks per thread, default 0: no threads]
//
// Threads are off by default because each one also costs memory (its
// stacks), which would blur the memory rate the control is meant to show.
//
// Runs until it is ended from outside. Console program, no window.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

unsigned long ArgumentOr(int argc, char** argv, int index, unsigned long fallback)
{
    if (argc <= index)
        return fallback;
    char* end = nullptr;
    const unsigned long value = std::strtoul(argv[index], &end, 10);
    return (end != argv[index] && *end == '\0') ? value : fallback;
}

DWORD WINAPI Linger(void*)
{
    Sleep(INFINITE);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const unsigned long kibPerTick = ArgumentOr(argc, argv, 1, 16);
    const unsigned long tickMs = ArgumentOr(argc, argv, 2, 100);
    const unsigned long ticksPerThread = ArgumentOr(argc, argv, 3, 0);
    if (tickMs == 0) {
        std::fprintf(stderr, "leak_control: the tick must be at least 1 ms\n");
        return 2;
    }
    std::printf("leak_control: every %lu ms %lu KiB of private memory and 1 event handle, never freed\n"
                "leak_control: expected per hour %.1f MiB and %.0f handles\n",
                tickMs, kibPerTick, kibPerTick * 3600000.0 / tickMs / 1024.0, 3600000.0 / tickMs);
    if (ticksPerThread != 0) {
        std::printf("leak_control: every %lu ticks a thread that never ends: %.0f threads per hour, "
                    "each with its stacks on top of the memory above\n",
                    ticksPerThread, 3600000.0 / tickMs / ticksPerThread);
    }
    std::fflush(stdout);

    // Ticks are counted against the clock rather than slept one by one, so
    // a loaded machine delays the leak but does not change its rate.
    const ULONGLONG started = GetTickCount64();
    unsigned long long ticks = 0;
    unsigned char pattern = 1;
    for (;;) {
        const unsigned long long due = (GetTickCount64() - started) / tickMs + 1;
        for (; ticks < due; ++ticks) {
            const size_t bytes = static_cast<size_t>(kibPerTick) * 1024;
            if (bytes != 0) {
                // Written in full: an untouched allocation is committed but
                // never becomes resident, and RSS would not see it.
                void* block = std::malloc(bytes);
                if (block == nullptr) {
                    std::fprintf(stderr, "leak_control: out of memory after %llu ticks\n", ticks);
                    return 3;
                }
                std::memset(block, pattern++, bytes);
            }
            if (CreateEventA(nullptr, TRUE, FALSE, nullptr) == nullptr) {
                std::fprintf(stderr, "leak_control: CreateEventA failed (%lu) after %llu ticks\n",
                             GetLastError(), ticks);
                return 4;
            }
            if (ticksPerThread != 0 && ticks % ticksPerThread == 0) {
                // Its handle is closed: the thread is the leak, not the handle.
                const HANDLE thread = CreateThread(nullptr, 0, Linger, nullptr, 0, nullptr);
                if (thread == nullptr) {
                    std::fprintf(stderr, "leak_control: CreateThread failed (%lu) after %llu ticks\n",
                                 GetLastError(), ticks);
                    return 5;
                }
                CloseHandle(thread);
            }
        }
        Sleep(static_cast<DWORD>(tickMs));
    }
}
