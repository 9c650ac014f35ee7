# The warnings every target of the project is compiled with, as errors; the fuzz targets, built by
# clang in a project of their own, include this file too.
set(OMBRIX_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion -Wmissing-declarations -Werror)
