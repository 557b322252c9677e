#!/usr/bin/env bash
# Sets up, builds the native and the Windows build, and runs every test:
# the native tests, then the Windows tests under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/setup.sh"
jobs=$(nproc)
# Rebuilds of the several build folders share one compiler cache where there is one.
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

cmake -S "$root" -B "$root/build" -G Ninja "${launcher[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build" -j "$jobs"
cmake --build "$root/build" --target format-check
ctest --test-dir "$root/build" --output-on-failure -j "$jobs"

# The Release build, as someone building korvamon to install it builds it
# (g++ -O3): it only has to compile, without a warning.
cmake -S "$root" -B "$root/build-release" -G Ninja "${launcher[@]}" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build-release" -j "$jobs"

# The native tests once more, built by clang with the address and undefined
# behaviour sanitizers: the first finding fails the test that made it.
cmake -S "$root" -B "$root/build-asan" -G Ninja "${launcher[@]}" -DCMAKE_BUILD_TYPE=Debug \
      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DKORVA_SANITIZE=ON \
      -DKORVA_BENCHMARKS=OFF -DKORVA_FUZZ=ON >/dev/null
cmake --build "$root/build-asan" -j "$jobs"
ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:abort_on_error=0 \
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --test-dir "$root/build-asan" --output-on-failure -j "$jobs"

# The tests of what other threads read, built by clang with ThreadSanitizer.
cmake -S "$root" -B "$root/build-tsan" -G Ninja "${launcher[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DKORVA_TSAN=ON \
      -DKORVA_BENCHMARKS=OFF >/dev/null
cmake --build "$root/build-tsan" -j "$jobs" --target toolkit_tests opcserver_tests monitor_tests
TSAN_OPTIONS=halt_on_error=1 "$root/build-tsan/bin/toolkit_tests" --gtest_brief=1
# One test asks for more memory than exists, and must be answered null.
TSAN_OPTIONS=halt_on_error=1:allocator_may_return_null=1 "$root/build-tsan/bin/opcserver_tests" --gtest_brief=1
# The monitor's: its serial event, USB polling, pulse and UDP threads beside
# the main thread, and the programs its end-to-end tests start, built so too.
TSAN_OPTIONS=halt_on_error=1 "$root/build-tsan/bin/monitor_tests" --gtest_brief=1

cmake -S "$root" -B "$root/build-win" -G Ninja "${launcher[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" >/dev/null
cmake --build "$root/build-win" -j "$jobs"
ctest --test-dir "$root/build-win" --output-on-failure
