// What Windows itself says about a running process, for the soak script:
// the figures that /proc cannot give because they live in the wineserver
// (kernel handles) or in the process's own view of its address space
// (committed private memory).
//
//   process_stats.exe NAME.exe            one sample, then exit
//   process_stats.exe --serve NAME.exe    one sample per line read from
//                                         stdin, each followed by a line
//                                         "."; exits at end of input
//
// The serving form exists because starting a Windows process under Wine
// costs about a second of CPU, which on a two-core machine would disturb
// the program being measured at every sample.
//
// A sample is one line per process whose executable is NAME.exe (case does
// not matter), as key=value pairs:
//   pid            Windows process id
//   threads        thread count
//   handles        kernel handles the process holds, counted in the system's
//                  handle list (the wineserver's)
//   handle_table   the process list's HandleCount, which under Wine is the
//                  size of the handle table: it doubles, it never shrinks
//   handles_api    GetProcessHandleCount; Wine 8 answers 0 for every
//                  process, so it is printed only to show when that changes
//   working_set    GetProcessMemoryInfo WorkingSetSize, bytes
//   private_usage  GetProcessMemoryInfo PrivateUsage, bytes; under Wine this
//                  is the process's swap use, not its commit
//   private_commit committed MEM_PRIVATE regions, walked with VirtualQueryEx:
//                  the commit charge Windows counts as the process's own
//                  (memory Wine's Unix side allocates, e.g. Mesa's, is not
//                  in it; /proc sees that)
// A figure that cannot be read is printed as -1. The one-shot form exits 1
// when no such process runs, 2 on a usage or system error.
#include <windows.h>
#include <psapi.h>
#include <winternl.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

long long CommittedPrivateBytes(HANDLE process)
{
    long long total = 0;
    MEMORY_BASIC_INFORMATION region;
    const char* address = nullptr;
    while (VirtualQueryEx(process, address, &region, sizeof region) == sizeof region) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
            total += static_cast<long long>(region.RegionSize);
        const char* next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
        // A zero-sized or wrapping answer would loop forever.
        if (next <= address)
            break;
        address = next;
    }
    return total;
}

// SystemExtendedHandleInformation; the MinGW-w64 headers do not declare it.
constexpr SYSTEM_INFORMATION_CLASS kExtendedHandleInformation = static_cast<SYSTEM_INFORMATION_CLASS>(64);
constexpr NTSTATUS kInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004L);

struct HandleEntry {
    void* object;
    ULONG_PTR processId;
    ULONG_PTR handleValue;
    ULONG grantedAccess;
    USHORT creatorBackTraceIndex;
    USHORT objectTypeIndex;
    ULONG handleAttributes;
    ULONG reserved;
};

struct HandleList {
    ULONG_PTR count;
    ULONG_PTR reserved;
    HandleEntry entries[1];
};

NTSTATUS QuerySystem(SYSTEM_INFORMATION_CLASS what, std::vector<unsigned char>& buffer)
{
    NTSTATUS status;
    ULONG needed = 0;
    while ((status = NtQuerySystemInformation(what, buffer.data(), static_cast<ULONG>(buffer.size()), &needed))
           == kInfoLengthMismatch) {
        buffer.resize(needed > buffer.size() ? needed + 65536 : buffer.size() * 2);
    }
    return status;
}

// Open handles of a process, counted one by one in the system's handle
// list, or -1. The process list's HandleCount is no substitute under Wine:
// there it is the size of the handle table, which grows by doubling.
long long OpenHandles(DWORD pid, std::vector<unsigned char>& buffer)
{
    if (QuerySystem(kExtendedHandleInformation, buffer) < 0)
        return -1;
    const auto& list = *reinterpret_cast<const HandleList*>(buffer.data());
    long long count = 0;
    for (ULONG_PTR i = 0; i < list.count; ++i) {
        if (list.entries[i].processId == pid)
            ++count;
    }
    return count;
}

void PrintStats(const SYSTEM_PROCESS_INFORMATION& info, std::vector<unsigned char>& handleBuffer)
{
    const DWORD pid = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(info.UniqueProcessId));
    const long long handles = OpenHandles(pid, handleBuffer);
    long long handlesApi = -1, workingSet = -1, privateUsage = -1, privateCommit = -1;
    const HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (process != nullptr) {
        DWORD count = 0;
        if (GetProcessHandleCount(process, &count))
            handlesApi = count;
        PROCESS_MEMORY_COUNTERS_EX counters = {};
        counters.cb = sizeof counters;
        if (GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                                 sizeof counters)) {
            workingSet = static_cast<long long>(counters.WorkingSetSize);
            privateUsage = static_cast<long long>(counters.PrivateUsage);
        }
        privateCommit = CommittedPrivateBytes(process);
        CloseHandle(process);
    }
    std::printf("pid=%lu threads=%lu handles=%lld handle_table=%lu handles_api=%lld working_set=%lld "
                "private_usage=%lld private_commit=%lld\n",
                pid, info.NumberOfThreads, handles, info.HandleCount, handlesApi, workingSet, privateUsage,
                privateCommit);
}

// Prints a sample; answers the number of processes found, -1 on error.
int Sample(const std::wstring& name, std::vector<unsigned char>& buffer, std::vector<unsigned char>& handleBuffer)
{
    const NTSTATUS status = QuerySystem(SystemProcessInformation, buffer);
    if (status < 0) {
        std::fprintf(stderr, "process_stats: NtQuerySystemInformation failed (0x%08lx)\n",
                     static_cast<unsigned long>(status));
        return -1;
    }
    const DWORD self = GetCurrentProcessId();
    int found = 0;
    for (size_t offset = 0;;) {
        const auto& info = *reinterpret_cast<const SYSTEM_PROCESS_INFORMATION*>(buffer.data() + offset);
        const std::wstring image(info.ImageName.Buffer ? info.ImageName.Buffer : L"",
                                 info.ImageName.Length / sizeof(wchar_t));
        if (_wcsicmp(image.c_str(), name.c_str()) == 0
            && reinterpret_cast<ULONG_PTR>(info.UniqueProcessId) != self) {
            PrintStats(info, handleBuffer);
            ++found;
        }
        if (info.NextEntryOffset == 0)
            break;
        offset += info.NextEntryOffset;
    }
    std::fflush(stdout);
    return found;
}

}  // namespace

int main(int argc, char** argv)
{
    const bool serve = argc == 3 && std::strcmp(argv[1], "--serve") == 0;
    if (argc != 2 && !serve) {
        std::fprintf(stderr, "usage: process_stats.exe [--serve] NAME.exe\n");
        return 2;
    }
    const char* narrow = argv[argc - 1];
    std::vector<wchar_t> wide(std::strlen(narrow) + 1);
    if (MultiByteToWideChar(CP_ACP, 0, narrow, -1, wide.data(), static_cast<int>(wide.size())) == 0) {
        std::fprintf(stderr, "process_stats: cannot convert %s\n", narrow);
        return 2;
    }
    const std::wstring name(wide.data());
    std::vector<unsigned char> buffer(1 << 18), handleBuffer(1 << 18);

    if (!serve) {
        const int found = Sample(name, buffer, handleBuffer);
        return found < 0 ? 2 : found == 0 ? 1 : 0;
    }
    char line[256];
    while (std::fgets(line, sizeof line, stdin) != nullptr) {
        if (Sample(name, buffer, handleBuffer) < 0)
            return 2;
        std::printf(".\n");
        std::fflush(stdout);
    }
    return 0;
}
