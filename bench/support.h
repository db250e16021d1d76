// Shared by the benchmark programs: a clock, paired timing, the allocation counters hooked into
// Fotex.dll's imports, a virtual camera registered in this process, and the printed table.
#pragma once

#include <windows.h>
#include <wia.h>

#include "fotex.h"
#include "fotexsim.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace fotextest {
class Library;
}

namespace fotexbench {

double Seconds();

// Alternates blocks of `a` and `b` so that load from other processes hits both alike.
struct Paired {
    double a = 0, b = 0;  // seconds per call, median of the rounds
    double ratio = 0;     // median of the per-round ratios a / b
};
template <class A, class B>
Paired Compare(A a, B b, int rounds = 31, double blockSeconds = 0.004);

// Calls made by Fotex.dll into the allocators it imports.
struct AllocCounts {
    long heap = 0;     // malloc, calloc, realloc, CoTaskMemAlloc, CoTaskMemRealloc
    long frees = 0;    // free, CoTaskMemFree
    long strings = 0;  // SysAllocString* and SysReAllocString*
    long heapBytes = 0;
    long liveBytes = 0;  // malloc, calloc and realloc less free: what Fotex.dll holds, by _msize
};
AllocCounts& Counts();
inline void ResetCounts() { Counts() = AllocCounts(); }
// Patches the module's imports; returns the names that it imports and are now counted.
std::vector<std::string> HookAllocators(HMODULE module);

// One line of the results table; `met` < 0 is a figure without a target.
void Title(const char* text);
void Row(const std::string& what, const std::string& figure, const std::string& target, int met);
std::string Format(const char* format, ...);
// Exit status of the program: 1 when any target was missed.
int Verdict();

// Repeats `f` until `minSeconds` have passed (at least `minRuns` times) and returns the fastest
// run: the one least disturbed by other processes.
template <class F>
double Fastest(F f, double minSeconds = 0.3, int minRuns = 3) {
    double best = 1e30, total = 0;
    for (int run = 0; run < minRuns || total < minSeconds; ++run) {
        const double start = Seconds();
        f();
        const double t = Seconds() - start;
        total += t;
        if (t < best) best = t;
        if (run >= 200) break;
    }
    return best;
}

// The processor time this thread spends per call of `f`, over calls adding up to at least
// `minSeconds` of it: unlike the clock, it does not count the time other processes hold the
// processor, which on a loaded machine grows with the length of a call. The system counts it in
// steps of about 10 ms, hence the long total.
double ThreadSeconds();
template <class F>
double CpuPerCall(F f, double minSeconds = 0.5) {
    f();
    // Asking for the time costs more than a short call: it is asked after batches that double.
    long calls = 0, batch = 1;
    const double start = ThreadSeconds();
    double spent = 0;
    do {
        for (long i = 0; i < batch; ++i) f();
        calls += batch;
        batch *= 2;
        spent = ThreadSeconds() - start;
    } while (spent < minSeconds);
    return spent / static_cast<double>(calls);
}

// --- implementation of the template ----------------------------------------------------------

double Median(std::vector<double> values);

template <class F>
double TimeBlock(F& f, long calls) {
    const double start = Seconds();
    for (long i = 0; i < calls; ++i) f();
    return (Seconds() - start) / static_cast<double>(calls);
}

// Seconds per call over 50 calls, or over fewer when they pass 0.1 s: a probe, not a figure.
template <class F>
double Probe(F& f) {
    const double start = Seconds();
    long calls = 0;
    do f();
    while (++calls < 50 && Seconds() - start < 0.1);
    return (Seconds() - start) / static_cast<double>(calls);
}

template <class A, class B>
Paired Compare(A a, B b, int rounds, double blockSeconds) {
    // Warm-up: 20 of each, or fewer when they pass 0.5 s (a call out of process costs milliseconds).
    const double warm = Seconds();
    for (int i = 0; i < 20 && (i < 2 || Seconds() - warm < 0.5); ++i) {
        a();
        b();
    }
    // Block length from a short probe of the slower side.
    const double pa = Probe(a), pb = Probe(b);
    const double probe = pa > pb ? pa : pb;
    long calls = static_cast<long>(blockSeconds / (probe > 1e-9 ? probe : 1e-9));
    if (calls < 5) calls = 5;
    std::vector<double> ta, tb, ratios;
    for (int r = 0; r < rounds; ++r) {
        double x, y;
        if (r % 2 == 0) {
            x = TimeBlock(a, calls);
            y = TimeBlock(b, calls);
        } else {
            y = TimeBlock(b, calls);
            x = TimeBlock(a, calls);
        }
        ta.push_back(x);
        tb.push_back(y);
        ratios.push_back(x / y);
    }
    Paired p;
    p.a = Median(ta);
    p.b = Median(tb);
    p.ratio = Median(ratios);
    return p;
}

// Registers `camera` for this process with its call log off (the counters go on); false, with a
// line printed, when it cannot be registered.
bool RegisterCamera(fotexsim::Camera& camera);
// The standard camera "bench-camera" with three pictures added to `camera`, then registered.
bool RegisterBenchCamera(fotexsim::Camera& camera);

enum class Shape { Flat, Deep, Wide };

// A look for new items (ListNewCameraItems on `looking`) against a listing of the same camera
// (ListCameraItems on `listing`, another handle, so that neither call gives back the other's
// list), alternated `rounds` times, `addOne(round)` putting the one new item on the camera before
// each pair; prints the row "<where>, look / listing" against its target of 1.2.
void LookAgainstListing(fotextest::Library& lib, FOTEX_HANDLE looking, FOTEX_HANDLE listing, int rounds,
                        const std::function<void(int)>& addOne, const char* where);

// Makes `camera` hold one device whose tree has `n` 8x8 images under its root: flat, one folder of
// n images; wide, n/10 sibling folders of 10 images; deep, a chain of up to 60 nested folders with
// the images spread along it.
void BuildTree(fotexsim::Camera& camera, Shape shape, int n);

// A JPEG transfer of one item into the file `wide`, written by hand against the service: the
// baseline that the DLL's transfers are measured against.
HRESULT HandTransferTo(IWiaItem* item, const WCHAR* wide);

// The hand-written sequences a host would write against the service itself: an integer property
// read as the 1.3 getters read it (1 read, -1 refused, -2 no property storage), and
// ListCameraItems' walk (every image and video item at or below `item`, each with a reference),
// reading what it reads: per item one ReadMultiple of the type flags, name, extension, full name,
// time, size, thumbnail size and format; children asked for 32 at a time.
int HandReadInt(IWiaItem* root, PROPID id, int* out);
void HandList(IWiaItem* item, std::vector<IWiaItem*>& list, int depth = 0);

}  // namespace fotexbench
