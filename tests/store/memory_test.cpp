// The allocator gives memory back: a failed allocation first releases the cache of freed blocks,
// and the cache goes when the last large block in use does. Address-space limits make the failures
// real; they run in a fork, and not under AddressSanitizer, whose shadow memory no such limit fits.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "store/memory.hpp"
#include "support/sanitizers.hpp"

namespace ombrix::memory {
namespace {

constexpr std::size_t mib = std::size_t{1} << 20;

int in_fork(const std::function<int()>& body) {
    const pid_t child = fork();
    if (child == 0) _exit(body());
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

// The process's mapped address space now.
std::size_t address_space() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmSize:", 0) == 0) return std::stoull(line.substr(7)) * 1024;
    return 0;
}

// Limits the address space to what is mapped now plus `room`.
void limit_address_space(std::size_t room) {
    const rlimit limit{address_space() + room, RLIM_INFINITY};
    setrlimit(RLIMIT_AS, &limit);
}

// The rule is about a process in which nothing else holds a large block (ctest runs every test
// in a process of its own).
#define REQUIRE_NO_LARGE_BLOCK_IN_USE() \
    if (large_blocks_in_use() != 0) GTEST_SKIP() << "other tests of this process hold large blocks"

TEST(Memory, TheCacheGoesWithTheLastLargeBlockInUse) {
    REQUIRE_NO_LARGE_BLOCK_IN_USE();
    {
        Buffer kept(40 * mib);
        {
            std::vector<Buffer> freed;
            for (int i = 0; i < 3; ++i) freed.emplace_back(40 * mib);
        }
        // While a large block is in use, freed ones are kept for the next round trip.
        EXPECT_GT(cached_bytes(), 0u);
        EXPECT_EQ(large_blocks_in_use(), 1u);
    }
    EXPECT_EQ(cached_bytes(), 0u);
    EXPECT_EQ(large_blocks_in_use(), 0u);
}

TEST(Memory, AFailedAllocationReleasesTheCacheAndTriesAgain) {
#ifdef OMBRIX_TEST_ASAN
    GTEST_SKIP() << "address-space limits do not fit AddressSanitizer's shadow memory";
#endif
    EXPECT_EQ(in_fork([] {
                  Buffer kept(8 * mib);
                  {
                      std::vector<Buffer> freed;
                      for (int i = 0; i < 3; ++i) freed.emplace_back(100 * mib);
                  }
                  if (cached_bytes() < 200 * mib) return 1;
                  // Only what the cache holds makes room for this one.
                  limit_address_space(64 * mib);
                  try {
                      Buffer large(250 * mib);
                      large[250 * mib - 1] = 1;
                      return cached_bytes() == 0 ? 0 : 3;
                  } catch (const std::bad_alloc&) {
                      return 2;
                  }
              }),
              0);
}

TEST(Memory, AfterEverythingIsFreedALargeAllocationFitsAsInAFreshProcess) {
    REQUIRE_NO_LARGE_BLOCK_IN_USE();
#ifdef OMBRIX_TEST_ASAN
    GTEST_SKIP() << "address-space limits do not fit AddressSanitizer's shadow memory";
#endif
    EXPECT_EQ(in_fork([] {
                  const std::size_t fresh = address_space();
                  {
                      std::vector<Buffer> freed;
                      for (int i = 0; i < 3; ++i) freed.emplace_back(48 * mib);
                  }
                  if (address_space() > fresh + 8 * mib) return 1;
                  limit_address_space(200 * mib);
                  try {
                      Buffer large(192 * mib);
                  } catch (const std::bad_alloc&) {
                      return 2;
                  }
                  return 0;
              }),
              0);
}

TEST(Memory, TheFailureHookFailsTheNthAllocationAndEveryLaterOne) {
    fail_allocations_from(3);
    void* first = allocate(16);
    void* second = allocate(2 * mib);
    EXPECT_NE(first, nullptr);
    EXPECT_NE(second, nullptr);
    EXPECT_EQ(allocate(16), nullptr);
    EXPECT_EQ(allocate(16), nullptr);
    EXPECT_THROW(Buffer(10), std::bad_alloc);
    fail_allocations_from(0);
    void* again = allocate(16);
    EXPECT_NE(again, nullptr);
    release(first);
    release(second);
    release(again);
}

}  // namespace
}  // namespace ombrix::memory
