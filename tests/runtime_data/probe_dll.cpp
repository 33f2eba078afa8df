// A library that the tests load through foreign calls: it reports its
// arguments and the thread it runs on.
#include <cstdint>
#include <windows.h>

#define PROBE extern "C" __declspec(dllexport) std::uintptr_t __stdcall

PROBE probeSum3(std::uintptr_t a, std::uintptr_t b, std::uintptr_t c)
{
    return a * 100 + b * 10 + c;
}

// The sum of k * argument k: every argument must arrive in its place.
PROBE probeSum32(std::uintptr_t a1, std::uintptr_t a2, std::uintptr_t a3, std::uintptr_t a4,
                 std::uintptr_t a5, std::uintptr_t a6, std::uintptr_t a7, std::uintptr_t a8,
                 std::uintptr_t a9, std::uintptr_t a10, std::uintptr_t a11, std::uintptr_t a12,
                 std::uintptr_t a13, std::uintptr_t a14, std::uintptr_t a15, std::uintptr_t a16,
                 std::uintptr_t a17, std::uintptr_t a18, std::uintptr_t a19, std::uintptr_t a20,
                 std::uintptr_t a21, std::uintptr_t a22, std::uintptr_t a23, std::uintptr_t a24,
                 std::uintptr_t a25, std::uintptr_t a26, std::uintptr_t a27, std::uintptr_t a28,
                 std::uintptr_t a29, std::uintptr_t a30, std::uintptr_t a31, std::uintptr_t a32)
{
    const std::uintptr_t a[] = {a1,  a2,  a3,  a4,  a5,  a6,  a7,  a8,  a9,  a10, a11,
                                a12, a13, a14, a15, a16, a17, a18, a19, a20, a21, a22,
                                a23, a24, a25, a26, a27, a28, a29, a30, a31, a32};
    std::uintptr_t sum = 0;
    for (std::uintptr_t k = 0; k < 32; ++k) sum += (k + 1) * a[k];
    return sum;
}

PROBE probeThread()
{
    return GetCurrentThreadId();
}

// An int result of -1 in the low 32 bits.
PROBE probeMinusOne()
{
    return 0xFFFFFFFFu;
}
