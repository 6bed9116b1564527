// How many times slower than a plain build the code under test runs in this build. The thread sanitizer's
// instrumentation makes every command through the virtual drive several times slower; a time-out that
// stands for a real drive's (a read given up after 0.3 s) scales with it, or a loaded machine turns it into
// a failure the code does not have. The address sanitizer's cost is small beside such time-outs.
#pragma once

namespace testkit {

#if defined(__SANITIZE_THREAD__)
inline constexpr int kPace = 8;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
inline constexpr int kPace = 8;
#else
inline constexpr int kPace = 1;
#endif
#else
inline constexpr int kPace = 1;
#endif

} // namespace testkit
