# Shared by the project's scripts: the packages the native build needs and
# the configure-and-build step.
NATIVE_PACKAGES=(cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev srecord default-jdk-headless)

# The project's own builds treat every warning as an error.  Options given
# come after the defaults and override them (a build type, say).
configure_and_build() {  # build-dir [cmake options...]
  local dir="$1"
  shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNEL_WERROR=ON "$@" \
    > "$dir.configure.log" 2>&1 \
    || { cat "$dir.configure.log"; return 1; }
  cmake --build "$dir" -j "$(nproc)"
}

# The Windows build: the mingw-w64 cross compiler (posix threads) and Wine to
# run its test programs.
WINDOWS_PACKAGES=(cmake ninja-build googletest default-jdk-headless g++-mingw-w64-x86-64-posix wine64 wine)
WINDOWS_TOOLCHAIN=cmake/mingw-w64-x86_64.cmake

# Wine, quiet and without a display, in a prefix of the project's own, with
# one server kept for the whole job: without it every test program pays the
# server's start-up, and ctest can hang on a server that lingers.
start_wine() {  # prefix-dir
  mkdir -p "$1"
  export WINEDEBUG=-all WINEPREFIX="$(cd "$1" && pwd)"
  unset DISPLAY
  # A server already running for this prefix (a run before this one) is
  # kept, and wineserver -p then says so with a failure.
  wineserver -p > /dev/null 2>&1 || true
  wine cmd /c exit > /dev/null 2>&1
}

stop_wine() {
  [ -n "${WINEPREFIX:-}" ] && wineserver -k > /dev/null 2>&1 || true
}
