// OMBRIX_TEST_ASAN is defined in a build under AddressSanitizer, by GCC's macro or Clang's feature
// test, for the tests that must not run there or that expect other results.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
#define OMBRIX_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define OMBRIX_TEST_ASAN 1
#endif
#endif
