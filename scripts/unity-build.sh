# Sourced by the test scripts: configures a build folder as a unity build made by Ninja.
#
# Unity builds: each target compiles as a few large translation units instead of one per file,
# which saves parsing GoogleTest's (and on Windows, Windows') headers again for every file, the
# largest cost of building the tests. So a helper in an anonymous namespace must not share its
# name with one in another file of the same target; such a clash shows in these builds when the
# two files share a batch. The normal build (scripts/test.sh) stays one file at a time, so a file
# that lacks an include it needs still fails there.
# Ninja keeps both cores busy across targets (a test's files compile while the library is still
# being built).
unity_batch=16

# configure_unity DIR CMAKE_ARGS…: a folder configured with another generator is made afresh.
configure_unity() {
  local dir=$1
  shift
  if [ -e "$dir/CMakeCache.txt" ] &&
    ! grep -qx 'CMAKE_GENERATOR:INTERNAL=Ninja' "$dir/CMakeCache.txt"; then
    rm -rf "$dir"
  fi
  cmake -S . -B "$dir" -G Ninja -DCMAKE_UNITY_BUILD=ON -DCMAKE_UNITY_BUILD_BATCH_SIZE=$unity_batch \
    "$@" >/dev/null
}
