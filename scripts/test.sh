#!/usr/bin/env bash
# Sets everything up and runs the complete test suite: the unit tests in the release build and in
# the AddressSanitizer + UndefinedBehaviorSanitizer build, short fuzz runs of every parser (from the
# committed corpus), a ThreadSanitizer build of the show, then the end-to-end tests of the real
# programs (among them the whole show and a damaged data folder under the sanitizers), then the
# browser build's page.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
"$here/scripts/setup.sh"

echo "== unit tests (release)"
ctest --test-dir "$here/build" --output-on-failure -j"$jobs"

echo "== unit tests (address and undefined-behaviour sanitizers)"
cmake -S "$here" -B "$here/build-sanitize" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLET_SANITIZE=ON \
  -DQUILLET_BENCH=OFF -DQUILLET_DATASET=OFF >/dev/null
cmake --build "$here/build-sanitize" -j"$jobs"
# The tests that read the stand-in data set find it where they look in every build tree.
ln -sfn "$here/build/data" "$here/build-sanitize/data"
ctest --test-dir "$here/build-sanitize" --output-on-failure -j"$jobs" --label-exclude heavy

if ls "$here"/tests/fuzz/*.cpp >/dev/null 2>&1; then
  echo "== fuzz targets (short runs)"
  CC=clang CXX=clang++ cmake -S "$here" -B "$here/build-fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQUILLET_FUZZ=ON -DQUILLET_TESTS=OFF -DQUILLET_BENCH=OFF -DQUILLET_DATASET=OFF >/dev/null
  fuzzers=$(cmake --build "$here/build-fuzz" --target help | sed -n 's/^\.\.\. \(fuzz_[A-Za-z0-9_]*\).*/\1/p')
  cmake --build "$here/build-fuzz" -j"$jobs" --target $fuzzers
  "$here/scripts/fuzz.sh" "$here/build-fuzz" 20
fi

echo "== ThreadSanitizer build (the show and the offline renderer, for tests/e2e/threads_e2e.sh)"
cmake -S "$here" -B "$here/build-tsan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLET_TSAN=ON \
  -DQUILLET_TESTS=OFF -DQUILLET_BENCH=OFF -DQUILLET_DATASET=OFF >/dev/null
cmake --build "$here/build-tsan" -j"$jobs" --target quillet-show quillet-render
# The end-to-end tests that run the sanitizer and ThreadSanitizer builds fail rather than skip here.
export QUILLET_E2E_ALL=1

echo "== end-to-end tests"
"$here/tests/e2e/run.sh" "$here/build"

echo "== web page (the WebAssembly build in headless Chromium)"
"$here/scripts/web.sh" --build
(cd "$here/tests/web" && npm ci --no-audit --no-fund --loglevel=error)
node "$here/tests/web/web_test.mjs" "$here/build-web" "$here/build"
