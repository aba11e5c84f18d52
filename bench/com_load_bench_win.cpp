// Load through the real COM runtime under Wine: a DiVORorazivo created by its ProgID loads every
// ensemble of a file through IPersistStream, from a shell file stream (SHCreateStreamOnFileEx).
// Beside it, in the same rounds: a host loop that makes the very IStream calls Load makes (one-byte
// reads in the sync search, the Seek for the position, the count bytes, the body) into memory of
// its own, which is Load's floor on a stream that cannot lend; and plain 64 KiB reads of the same
// file.
//   com_load_bench [--ensembles N] [--rounds R]
// Throughput is by wall time; Load against the host loop also by the process's CPU time (Wine makes
// the file reads in this process), which a busy machine disturbs less. Prints each round, then
// "figure" lines of the medians (scripts/bench.sh gathers them). Fails when Load and the host loop
// do not find the same ensembles.
#include "hyd.h"

#include "ensemble/ensemble_builder.h"

#include <windows.h>

#include <objidl.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

template <class T> struct com_ref {
    T* p = nullptr;
    ~com_ref() {
        if (p) p->Release();
    }
    T* operator->() const { return p; }
};

double now() {
    LARGE_INTEGER t, f;
    QueryPerformanceCounter(&t);
    QueryPerformanceFrequency(&f);
    return static_cast<double>(t.QuadPart) / static_cast<double>(f.QuadPart);
}

// CPU time of this process (user + kernel), where Wine does the file reads of the IStream calls.
double cpu() {
    FILETIME created, ended, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
    const auto seconds = [](const FILETIME& t) {
        return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) |
                                   t.dwLowDateTime) /
               1e7;
    };
    return seconds(kernel) + seconds(user);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

bool open_stream(const std::wstring& path, com_ref<IStream>& s) {
    return SUCCEEDED(SHCreateStreamOnFileEx(path.c_str(), STGM_READ | STGM_SHARE_DENY_WRITE,
                                            FILE_ATTRIBUTE_NORMAL, FALSE, nullptr, &s.p));
}

// Every Load of the file until one fails: the number of ensembles loaded.
long load_all(IPersistStream* persist, const std::wstring& path) {
    com_ref<IStream> s;
    if (!open_stream(path, s)) return -1;
    long loaded = 0;
    while (persist->Load(s.p) == S_OK) ++loaded;
    return loaded;
}

// The IStream calls of every Load, made by the host itself: the number of records read.
long host_loop(const std::wstring& path) {
    com_ref<IStream> s;
    if (!open_stream(path, s)) return -1;
    static unsigned char record[10000];
    long records = 0;
    for (;;) {
        unsigned char b = 0;
        ULONG got = 0;
        bool synced = false;
        while (!synced) {
            do {
                if (FAILED(s->Read(&b, 1, &got)) || got != 1) return records;
            } while (b != 0x7F);
            if (FAILED(s->Read(&b, 1, &got)) || got != 1) return records;
            synced = b == 0x7F;
        }
        LARGE_INTEGER zero{};
        ULARGE_INTEGER here{};
        s->Seek(zero, STREAM_SEEK_CUR, &here);
        if (FAILED(s->Read(record + 2, 2, &got)) || got != 2) return records;
        if (FAILED(s->Read(record + 4, 1, &got)) || got != 1) return records;
        const ULONG size = record[2] + 256u * record[3] + 2;
        if (size < 8 || size > sizeof record) return records;
        if (FAILED(s->Read(record + 5, size - 5, &got)) || got != size - 5) return records;
        ++records;
    }
}

// Plain 64 KiB reads to the end: the bytes read.
long long plain_reads(const std::wstring& path) {
    com_ref<IStream> s;
    if (!open_stream(path, s)) return -1;
    static unsigned char buffer[1 << 16];
    long long total = 0;
    for (ULONG got = 0; SUCCEEDED(s->Read(buffer, sizeof buffer, &got)) && got > 0;) total += got;
    return total;
}

} // namespace

int main(int argc, char** argv) {
    long ensembles = 40000; // ~40 MB: passes long enough for the CPU clock's ticks
    int rounds = 11;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--ensembles") == 0) ensembles = std::atol(argv[i + 1]);
        if (std::strcmp(argv[i], "--rounds") == 0) rounds = std::atoi(argv[i + 1]);
    }

    // The deployment: generated ensembles with and without bottom track, in a temporary file.
    char folder[MAX_PATH], name[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    GetTempFileNameA(folder, "hyd", 0, name);
    std::vector<std::uint8_t> bytes;
    for (long i = 0; i < ensembles; ++i) {
        const auto r = hyd::build::sample_ensemble(static_cast<std::uint32_t>(i), 30, i % 3 == 0);
        bytes.insert(bytes.end(), r.begin(), r.end());
    }
    if (std::FILE* f = std::fopen(name, "wb")) {
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    const std::wstring path(name, name + std::strlen(name));
    const double megabytes = static_cast<double>(bytes.size()) / 1e6;

    int failures = 0;
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    {
        // The DLL beside this program, registered as a host's installer would, then created
        // through the COM runtime by its ProgID.
        char self[MAX_PATH];
        GetModuleFileNameA(nullptr, self, MAX_PATH);
        std::string dll(self);
        dll = dll.substr(0, dll.find_last_of("\\/") + 1) + "Hyd.dll";
        HMODULE module = LoadLibraryA(dll.c_str());
        auto* register_server =
            module ? reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
                         reinterpret_cast<void*>(GetProcAddress(module, "DllRegisterServer")))
                   : nullptr;
        CLSID clsid{};
        com_ref<IPersistStream> persist;
        if (!register_server || register_server() != S_OK ||
            CLSIDFromProgID(L"Hyd.DiVORorazivo", &clsid) != S_OK ||
            CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IPersistStream,
                             reinterpret_cast<void**>(&persist.p)) != S_OK) {
            std::fprintf(stderr, "com_load_bench: cannot create Hyd.DiVORorazivo from %s\n",
                         dll.c_str());
            return 1;
        }

        std::vector<double> load, loop, plain, ratio, wall_ratio;
        for (int round = 0; round < rounds; ++round) {
            // Load and the host loop twice each in mirrored order (ABBA, then BAAB), so a load on
            // the machine that rises or falls during the round touches both alike; one plain pass.
            double seconds[3] = {}, wall[3] = {};
            const int order[5] = {round % 2, 1 - round % 2, 1 - round % 2, round % 2, 2};
            for (const int which : order) {
                const double start = now(), start_cpu = cpu();
                long long got = 0;
                if (which == 0) got = load_all(persist.p, path);
                if (which == 1) got = host_loop(path);
                if (which == 2) got = plain_reads(path);
                seconds[which] += cpu() - start_cpu;
                wall[which] += now() - start;
                const long long want =
                    which == 2 ? static_cast<long long>(bytes.size()) : ensembles;
                if (got != want) {
                    std::fprintf(stderr, "com_load_bench: pass %d read %lld, not %lld\n", which,
                                 got, want);
                    ++failures;
                }
            }
            wall[0] /= 2;
            wall[1] /= 2;
            load.push_back(megabytes / wall[0]);
            loop.push_back(megabytes / wall[1]);
            plain.push_back(megabytes / wall[2]);
            ratio.push_back(seconds[1] / seconds[0]);
            wall_ratio.push_back(wall[1] / wall[0]);
            std::printf("round %d: Load %.1f MB/s, host loop %.1f MB/s, 64 KiB reads %.1f MB/s; "
                        "Load / host loop %.3f by CPU time, %.3f by wall time\n",
                        round + 1, load.back(), loop.back(), plain.back(), ratio.back(),
                        wall_ratio.back());
        }
        std::printf("figure\tCOM Load, IPersistStream on a file stream\t%.1f\tMB/s\t\n",
                    median(load));
        std::printf("figure\tCOM host loop of the same IStream calls\t%.1f\tMB/s\t\n",
                    median(loop));
        std::printf("figure\tCOM plain 64 KiB IStream reads\t%.1f\tMB/s\t\n", median(plain));
        std::printf("figure\tCOM Load / host loop (CPU time)\t%.3f\tratio\t>= 0.95\n",
                    median(ratio));
        std::printf("figure\tCOM Load / host loop (wall time)\t%.3f\tratio\t\n",
                    median(wall_ratio));
        std::printf("figure\tCOM host loop / 64 KiB reads (wall time)\t%.3f\tratio\t\n",
                    median(loop) / median(plain));
    }
    CoUninitialize();
    DeleteFileA(name);
    return failures ? 1 : 0;
}
