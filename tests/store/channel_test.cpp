// The helper's channel in a hostile host: standard descriptors closed, the working directory
// changed or deleted, loads from threads that come and go, and a lowered file-size limit. Each case
// runs in a fork of the test, so that what it does to the process stays there; the fork exits with
// the number of the first check that failed.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "exports/boundary.hpp"
#include "helper/client.hpp"
#include "store/devil_support.hpp"

namespace ombrix {
namespace {

namespace fs = std::filesystem;

// Runs `body` in a fork; its result (0 for success) is the fork's exit status.
int in_fork(const std::function<int()>& body) {
    const pid_t child = fork();
    if (child == 0) _exit(body());
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

double width_of(double id) { return id > 0 ? image_get_width(id) : -1; }

class Channel : public ::testing::Test {
protected:
    void SetUp() override {
        ::init();
        state().loaded = true;
        dir = fs::temp_directory_path() / ("ombrix-channel-" + std::to_string(getpid()));
        fs::create_directories(dir / "one");
        fs::create_directories(dir / "two");
        // Two images told apart by their width.
        const double narrow = testing::add_image(3, 2);
        const double wide = testing::add_image(5, 2);
        ASSERT_EQ(image_save(narrow, (dir / "one/a.png").c_str(), 5), 1);
        ASSERT_EQ(image_save(wide, (dir / "two/a.png").c_str(), 5), 1);
        ASSERT_EQ(image_save(wide, (dir / "wide.png").c_str(), 5), 1);
        big = testing::add_image(1500, 1500);
        ASSERT_EQ(image_save(big, (dir / "big.bmp").c_str(), 0), 1);
        saved_cwd = fs::current_path();
    }
    void TearDown() override {
        fs::current_path(saved_cwd);
        fs::remove_all(dir);
    }

    fs::path dir;
    fs::path saved_cwd;
    double big = -1;
};

TEST_F(Channel, AHostWithItsStandardDescriptorsClosedGetsTheRightImages) {
    for (const int closed : {1, 3}) {
        EXPECT_EQ(in_fork([&] {
                      // Closing stdout alone, then all three: the channel must land above them.
                      for (int fd = closed == 1 ? 1 : 0; fd <= (closed == 1 ? 1 : 2); ++fd) close(fd);
                      if (width_of(image_load((dir / "one/a.png").c_str())) != 3) return 1;
                      processor();  // prints into whatever now holds descriptor 1
                      if (width_of(image_load((dir / "two/a.png").c_str())) != 5) return 2;
                      if (width_of(image_load((dir / "one/a.png").c_str())) != 3) return 3;
                      if (image_save(image_load((dir / "wide.png").c_str()), (dir / "again.png").c_str(), 5) != 1)
                          return 4;
                      return width_of(image_load((dir / "again.png").c_str())) == 5 ? 0 : 5;
                  }),
                  0)
            << closed << " standard descriptors closed";
    }
}

TEST_F(Channel, RelativePathsMeanTheCurrentDirectoryAtTheCall) {
    EXPECT_EQ(in_fork([&] {
                  fs::current_path(dir / "one");
                  if (width_of(image_load("a.png")) != 3) return 1;
                  fs::current_path(dir / "two");
                  if (width_of(image_load("a.png")) != 5) return 2;
                  // Saved relative, loaded back relative.
                  if (image_save(image_load("a.png"), "b.png", 5) != 1) return 3;
                  if (width_of(image_load("b.png")) != 5) return 4;
                  // The first directory gone changes nothing here.
                  fs::remove_all(dir / "one");
                  return width_of(image_load("a.png")) == 5 ? 0 : 5;
              }),
              0);
}

TEST_F(Channel, LoadsFromShortLivedThreadsAllSucceed) {
    EXPECT_EQ(in_fork([&] {
                  // The helper is started by a thread that then ends; it must outlive it.
                  helper::stop_service();
                  int failed = 0;
                  for (int i = 0; i < 40; ++i) {
                      std::thread([&] {
                          if (width_of(image_load((dir / "two/a.png").c_str())) != 5) ++failed;
                      }).join();
                  }
                  if (failed) return 1;
                  return width_of(image_load((dir / "one/a.png").c_str())) == 3 ? 0 : 2;
              }),
              0);
}

TEST_F(Channel, ALoweredFileSizeLimitRaisesNoSignalWhenTheBlockWouldGrow) {
    EXPECT_EQ(in_fork([&] {
                  if (width_of(image_load((dir / "one/a.png").c_str())) != 3) return 1;
                  // SIGXFSZ keeps its default action: raising it would end this process.
                  rlimit limit{};
                  getrlimit(RLIMIT_FSIZE, &limit);
                  limit.rlim_cur = 64 * 1024;
                  setrlimit(RLIMIT_FSIZE, &limit);
                  const double loaded = image_load((dir / "big.bmp").c_str());
                  if (width_of(loaded) != 1500) return 2;
                  if (testing::pixels_of(static_cast<std::int32_t>(loaded)) !=
                      testing::pixels_of(static_cast<std::int32_t>(big)))
                      return 3;
                  // A detection whose bytes need a block beyond the limit is refused, not fatal.
                  return image_DetermineType(loaded) >= 0 ? 0 : 4;
              }),
              0);
}

}  // namespace
}  // namespace ombrix
