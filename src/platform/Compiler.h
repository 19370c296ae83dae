#pragma once

// What the compilers do differently, in one place: GCC and clang spell these as builtins, MSVC
// as intrinsics, and a compiler with neither gets a plain C++ equivalent that is only slower.
// Nothing else in the terminal names a builtin, a compiler's own attribute or an inline assembly
// statement (the gateway's C interface spells its export marks for each compiler itself).

#include <cstdint>
#include <limits>

#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#define VORLEN_MSVC 1
#else
#define VORLEN_MSVC 0
#endif
// GCC, clang, and clang-cl (which defines _MSC_VER but not __GNUC__) take GCC's builtins.
#if defined(__GNUC__) || defined(__clang__)
#define VORLEN_GNU_BUILTINS 1
#else
#define VORLEN_GNU_BUILTINS 0
#endif

// Keeps a rarely taken step (a journal line, a day's first order) out of the caller, so the
// common path stays short; and the reverse, for a step the caller's loop must not pay a call for.
#if VORLEN_MSVC
#define VORLEN_NOINLINE __declspec(noinline)
#define VORLEN_ALWAYS_INLINE __forceinline
#elif VORLEN_GNU_BUILTINS
#define VORLEN_NOINLINE [[gnu::noinline]]
#define VORLEN_ALWAYS_INLINE [[gnu::always_inline]] inline
#else
#define VORLEN_NOINLINE
#define VORLEN_ALWAYS_INLINE inline
#endif

namespace vorlen::platform {

// Asks for the cache line holding `p` to be read in; only a hint, and a no-op where none exists.
inline void Prefetch(const void* p) noexcept {
#if VORLEN_MSVC && (defined(_M_X64) || defined(_M_IX86))
    _mm_prefetch(static_cast<const char*>(p), _MM_HINT_T0);
#elif VORLEN_GNU_BUILTINS
    __builtin_prefetch(p);
#else
    static_cast<void>(p);
#endif
}

// Tells the processor this thread is waiting in a loop for another's write, so that it yields the
// core's shared resources to the other hardware thread meanwhile; nothing where there is no such
// instruction.
inline void CpuRelax() noexcept {
#if VORLEN_MSVC && (defined(_M_X64) || defined(_M_IX86))
    _mm_pause();
#elif VORLEN_GNU_BUILTINS && (defined(__x86_64__) || defined(__i386__))
    __builtin_ia32_pause();
#elif VORLEN_GNU_BUILTINS && defined(__aarch64__)
    asm volatile("yield");
#endif
}

// Makes `p` look used to the optimiser, so that the computation producing it (a lookup whose
// only use is a prefetch hint) is not dropped as dead.
inline void KeepValue(const void* p) noexcept {
#if VORLEN_GNU_BUILTINS
    asm volatile("" : : "r"(p));
#else
    // A store through a volatile pointer is as binding; it costs one write to the stack.
    const void* volatile sink = p;
    static_cast<void>(sink);
#endif
}

// Tells the compiler that control never gets here (after a call that does not return but is not
// declared so, such as a C library's longjmp-based error).
[[noreturn]] inline void Unreachable() noexcept {
#if VORLEN_MSVC
    __assume(false);
#elif VORLEN_GNU_BUILTINS
    __builtin_unreachable();
#else
    for (;;) {
    }
#endif
}

namespace compiler_detail {

// The overflow checks in plain C++, for compilers without GCC's builtins; compiled everywhere so
// that the tests check them on every platform.
constexpr bool MulOverflowPortable(std::int64_t a, std::int64_t b, std::int64_t& out) noexcept {
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    if (a != 0 && b != 0) {
        const bool over =
            a > 0 ? (b > 0 ? a > kMax / b : b < kMin / a) : (b > 0 ? a < kMin / b : a < kMax / b);
        if (over)
            return true;
    }
    out = a * b;
    return false;
}

constexpr bool AddOverflowPortable(std::int64_t a, std::int64_t b, std::int64_t& out) noexcept {
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    if ((b > 0 && a > kMax - b) || (b < 0 && a < kMin - b))
        return true;
    out = a + b;
    return false;
}

} // namespace compiler_detail

// `out` = a * b and a + b in 64 bits; true when the exact result does not fit, and then `out`
// is not to be used.
inline bool MulOverflow(std::int64_t a, std::int64_t b, std::int64_t& out) noexcept {
#if VORLEN_GNU_BUILTINS
    return __builtin_mul_overflow(a, b, &out);
#else
    return compiler_detail::MulOverflowPortable(a, b, out);
#endif
}

inline bool AddOverflow(std::int64_t a, std::int64_t b, std::int64_t& out) noexcept {
#if VORLEN_GNU_BUILTINS
    return __builtin_add_overflow(a, b, &out);
#else
    return compiler_detail::AddOverflowPortable(a, b, out);
#endif
}

// The processor's time stamp counter where there is one (x86), read without serialising.
#if (VORLEN_MSVC && (defined(_M_X64) || defined(_M_IX86))) ||                                      \
    (VORLEN_GNU_BUILTINS && (defined(__x86_64__) || defined(__i386__)))
#define VORLEN_HAS_TSC 1
#else
#define VORLEN_HAS_TSC 0
#endif

inline std::uint64_t TimeStampCounter() noexcept {
#if VORLEN_HAS_TSC && VORLEN_MSVC
    return __rdtsc();
#elif VORLEN_HAS_TSC
    return __builtin_ia32_rdtsc();
#else
    return 0;
#endif
}

} // namespace vorlen::platform
