// Size and start: the two DLLs' sizes, and the time to load and unload Fotex.dll against a
// trivial DLL built the same way.
#include <windows.h>
#include <objbase.h>

#include <cstdio>

#include "support.h"

using namespace fotexbench;

namespace {

long FileSize(const char* path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return -1;
    return static_cast<long>(data.nFileSizeLow);
}

void SizeRow(const char* what, const char* path) {
    const long size = FileSize(path);
    Row(what, size < 0 ? std::string("missing: ") + path : Format("%ld bytes (%.1f KiB)", size, size / 1024.0),
        "< 65,536 bytes", size >= 0 && size < 65536);
}

}  // namespace

int main() {
    Title("Size and start");
    SizeRow("i686 Fotex.dll", FOTEX_X86_DLL);
    SizeRow("x86_64 Fotex.dll", FOTEX_X64_DLL);
    SizeRow("x86_64 trivial DLL, same flags", "bench_trivial.dll");

    // A host has COM running before it loads Fotex.dll; the entry point then only counts it.
    CoInitialize(nullptr);
    auto cycle = [](const wchar_t* name) {
        return [name] {
            HMODULE m = LoadLibraryW(name);
            if (m) FreeLibrary(m);
        };
    };
    const Paired p = Compare(cycle(L"Fotex.dll"), cycle(L"bench_trivial.dll"), 21, 0.02);
    Row("load + unload Fotex.dll / trivial DLL",
        Format("%.2f (%.1f us vs %.1f us)", p.ratio, p.a * 1e6, p.b * 1e6), "", -1);
    CoUninitialize();
    return Verdict();
}
