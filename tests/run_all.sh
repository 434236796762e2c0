#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds what the tests need, runs every suite and
# ends with one line "N passed, N failed" summed over all of them. Exits non-zero on any failure.
#   native build: engine and tool tests
#   native build with AddressSanitizer and UndefinedBehaviorSanitizer (clang-14): the same tests, and a
#     short bounded libFuzzer run on the volume reader
#   x86_64 Windows build under wine64: the engine tests against the Win32 layer, the resource test,
#     the wizard's unit tests and the wizard driven as a user meets it on a headless display
#   i686 Windows build: the shipped Setup.exe must compile and link, and build again to the same bytes
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
build=${SETUP_BUILD_DIR:-$root/build/test}
jobs=${SETUP_JOBS:-$(nproc)}
logs=$build/logs
mkdir -p "$logs"

bash "$root/scripts/setup-machine.sh" || { echo "0 passed, 1 failed"; exit 1; }
# shellcheck source=../scripts/wine-env.sh
. "$root/scripts/wine-env.sh"

passed=0
failed=0
failures=()

count_gtest() {  # log file -> adds its gtest counts; returns 1 when none were found
  local log=$1 p f
  p=$(grep -aE '^\[  PASSED  \] [0-9]+ test' "$log" | awk '{s+=$4} END {print s+0}')
  f=$(grep -aE '^\[  FAILED  \] [0-9]+ test' "$log" | awk '{s+=$4} END {print s+0}')
  passed=$((passed + p))
  failed=$((failed + f))
  [ "$p" -gt 0 ] || [ "$f" -gt 0 ]
}

# gtest_suite NAME COMMAND...: runs a GoogleTest program and counts its tests; a crash or a non-zero
# exit without a failed test counts as one failure.
gtest_suite() {
  local name=$1 log rc
  shift
  log=$logs/$name.log
  echo "=== $name"
  "$@" >"$log" 2>&1
  rc=$?
  grep -aE '^\[  (FAILED|PASSED) |^\[==========\]|Failure|error' "$log" | tail -n 40
  local before=$failed
  if ! count_gtest "$log" || { [ $rc -ne 0 ] && [ $failed -eq $before ]; }; then
    failed=$((failed + 1))
    echo "$name: exit code $rc (see $log)"; tail -n 30 "$log"
  fi
  [ $failed -eq $before ] || failures+=("$name")
}

# gtest_each NAME RUNNER EXE: like gtest_suite, one process per test, for programs whose tests each
# need a fresh process (the copy page runs once per process, as in the real program).
gtest_each() {
  local name=$1 runner=$2 exe=$3 suite="" line test
  while IFS= read -r line; do
    line=${line%$'\r'}
    case "$line" in
      "  "*) test=${line#  }; test=${test%% *}; gtest_suite "$name-$suite$test" "$runner" "$exe" --gtest_filter="$suite$test" ;;
      *.*) suite=${line%% *} ;;
    esac
  done < <("$runner" "$exe" --gtest_list_tests 2>/dev/null)
}

# check NAME COMMAND...: one pass or one failure.
check() {
  local name=$1 log
  shift
  log=$logs/$name.log
  echo "=== $name"
  if "$@" >"$log" 2>&1; then
    passed=$((passed + 1))
    tail -n 3 "$log"
  else
    failed=$((failed + 1))
    failures+=("$name")
    tail -n 30 "$log"
  fi
}

configure_and_build() {  # dir, cmake args...
  local dir=$1
  shift
  cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Release "$@" && cmake --build "$dir" -j "$jobs"
}

# --- native
if check build-native configure_and_build "$build/native"; then
  gtest_suite native-engine "$build/native/tests/engine/engine_tests"
  for exe in "$build"/native/tests/*/*_tests; do
    [ -x "$exe" ] && [ "$(basename "$exe")" != engine_tests ] && gtest_suite "native-$(basename "$exe")" "$exe"
  done
fi

# --- native with the sanitizers, and the fuzzer
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
if check build-sanitizers configure_and_build "$build/asan" -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
    -DSETUP_SANITIZE=ON -DSETUP_FUZZ=ON; then
  gtest_suite asan-engine "$build/asan/tests/engine/engine_tests"
  for exe in "$build"/asan/tests/*/*_tests; do
    [ -x "$exe" ] && [ "$(basename "$exe")" != engine_tests ] && gtest_suite "asan-$(basename "$exe")" "$exe"
  done
  if [ -x "$build/asan/tests/fuzz/fuzz_extract" ]; then
    check fuzz-extract bash "$root/tests/fuzz/run.sh" "$build/asan/tests/fuzz/fuzz_extract"
  fi
fi

# --- Windows, x86_64, under wine64
if check build-win64 configure_and_build "$build/win64" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake"; then
  if wine_start --xvfb; then
    gtest_suite wine-engine wine_run "$build/win64/tests/engine/engine_tests.exe"
    for exe in "$build"/win64/tests/*/*_tests.exe; do
      case "$(basename "$exe")" in
        engine_tests.exe) ;;
        wizard_unit_tests.exe) gtest_each wine-wizard_unit wine_run "$exe" ;;
        ui_tests.exe) ;;  # below, with the drives and display of its own
        *) [ -f "$exe" ] && gtest_suite "wine-$(basename "$exe" .exe)" wine_run "$exe" ;;
      esac
    done
    wine_stop
    # The disc maker's round trip: its images read back by xorriso here, its discs installed by the
    # UI tests.
    if [ -x "$build/native/tools/discmaker/discmaker" ] &&
      check discmaker-roundtrip bash "$root/tests/discmaker/roundtrip.sh" "$build/native/tools/discmaker/discmaker" \
        "$build/win64/wizard/Setup.exe" "$build/roundtrip"; then
      export UI_ROUNDTRIP_DIR=$build/roundtrip
    fi
    gtest_suite wine-ui bash "$root/tests/wizard/run_ui_tests.sh" "$build/win64"
  else
    failed=$((failed + 1))
    failures+=(wine-start)
  fi
fi

# --- Windows, i686: the shipped build
if check build-i686 configure_and_build "$build/i686" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake"; then
  # Reproducible: Setup.exe built again in another folder is the same, byte for byte.
  rebuilt() {
    cmake -S "$root" -B "$build/i686-again" -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >/dev/null &&
      cmake --build "$build/i686-again" --target Setup -j "$jobs" >/dev/null &&
      cmp "$build/i686/wizard/Setup.exe" "$build/i686-again/wizard/Setup.exe" &&
      echo "Setup.exe (i686): $(stat -c %s "$build/i686/wizard/Setup.exe") bytes, the same from two build folders"
  }
  check i686-reproducible rebuilt
  check i686-image bash "$root/tests/setup-image/check_shipped.sh" "$build/i686/wizard/Setup.exe"
fi

echo
[ ${#failures[@]} -eq 0 ] || echo "failed suites: ${failures[*]}"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
