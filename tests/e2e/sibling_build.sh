# Sourced by the end-to-end tests that run another build of the programs (sanitizers, threads).
# sibling_build TEST OVERRIDE FOLDER PROGRAM...: sets sibling to the build folder FOLDER next to
# $build (or to the value of the variable named OVERRIDE) and checks that each PROGRAM is built there.
# When one is missing the calling test ends: a failure under QUILLET_E2E_ALL=1 (the test command),
# otherwise a skip, so run.sh stays usable with only the release build.
sibling_build() {
  local test=$1 override=$2 folder=$3 program
  shift 3
  sibling=${!override:-$(dirname "$build")/$folder}
  for program in "$@"; do
    [ -x "$sibling/$program" ] && continue
    [ "${QUILLET_E2E_ALL:-0}" = 1 ] && { echo "$test: $sibling/$program missing"; exit 1; }
    echo "$test: skipped ($sibling/$program not built)"
    exit 0
  done
}
