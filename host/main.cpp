// The script runner `ombrix`: a stand-in for the GML host that loads libombrix.so and runs a script.
#include <cstdio>
#include <string>
#include <vector>

#include "runner.hpp"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return ombrix::host::run_command_line(args, ombrix::host::library_beside_executable(), {stdout, stderr});
}
