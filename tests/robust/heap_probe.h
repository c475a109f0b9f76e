// Bytes the process holds on its heap right now, for tests that check an
// operation gives back every byte it took. Only the sanitizer's allocator
// can say exactly (glibc's statistics count freed blocks in its caches as in
// use); elsewhere HeapProbed is false and the probe answers 0, so the check
// is made in the sanitizer build, and LeakSanitizer checks again at exit.
#pragma once

#include <cstddef>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define Z3AZ_PROBE_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define Z3AZ_PROBE_ASAN 1
#endif

#if defined(Z3AZ_PROBE_ASAN)
// From the sanitizer runtime (declared here: not every compiler installs
// the sanitizer headers).
extern "C" size_t __sanitizer_get_current_allocated_bytes(void);
#endif

namespace z3az::test {

#if defined(Z3AZ_PROBE_ASAN)
inline constexpr bool HeapProbed = true;
inline size_t LiveHeapBytes() { return __sanitizer_get_current_allocated_bytes(); }
#else
inline constexpr bool HeapProbed = false;
inline size_t LiveHeapBytes() { return 0; }
#endif

}  // namespace z3az::test
