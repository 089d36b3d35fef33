#!/usr/bin/env bash
# Installs the build into a fresh prefix, builds a C program with pkg-config
# and a C++ program with the CMake package against it (-z defs), and runs
# both on a simulated host with the installed hyxsim.
#   install_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1 source=$2
work=$build/install-test
rm -rf "$work" && mkdir -p "$work"
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(dirname "$(find "$prefix" -name libhyxuser.so)")

export PKG_CONFIG_PATH=$libdir/pkgconfig
cc -std=c11 -D_POSIX_C_SOURCE=200809L -Wall -Werror "$source/consumer.c" -o "$work/consumer_c" $(pkg-config --cflags --libs hyxuser) -Wl,-z,defs

mkdir "$work/cpp"
cp "$source/consumer.cpp" "$work/cpp/"
cp "$source/CMakeLists.consumer.txt" "$work/cpp/CMakeLists.txt"
cmake -S "$work/cpp" -B "$work/cpp/build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cpp/build" >/dev/null

run() { LD_LIBRARY_PATH=$libdir "$prefix/bin/hyxsim" --ro "$prefix" -- "$@"; }
out=$(run "$work/consumer_c"; run "$work/cpp/build/consumer_cpp")
expected=$'c: Not found; interface matches\nc++: Not found; interface matches'
if [[ "$out" != "$expected" ]]; then
  printf 'unexpected output:\n%s\n' "$out" >&2
  exit 1
fi
echo "installed library, header, pkg-config file, CMake package and hyxsim work"
