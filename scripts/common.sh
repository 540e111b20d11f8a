# Shared by the project's scripts: the packages the native build needs and
# the configure-and-build step.
NATIVE_PACKAGES=(cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev srecord default-jdk-headless)

configure_and_build() {  # build-dir [cmake options...]
  local dir="$1"
  shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" > "$dir.configure.log" 2>&1 \
    || { cat "$dir.configure.log"; return 1; }
  cmake --build "$dir" -j "$(nproc)"
}
