#!/usr/bin/env bash
# Installs the build into a fresh prefix, builds a C program with pkg-config
# and a C++ program with the CMake package against it (-z defs), and runs
# both on a simulated host with the installed hyxsim; the manual pages and
# the completion are where man and bash look for them.
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
# The manual pages and the completion, where man and bash-completion look.
for f in share/man/man3/hyxuser.3 share/man/man3/HyxuserUefi_GetVariable.3 share/man/man1/hyxinfo.1 share/man/man1/hyxhsi.1 \
  share/man/man1/hyxsim.1 share/bash-completion/completions/hyxinfo \
  share/bash-completion/completions/hyxhsi; do
  [[ -s $prefix/$f ]] || { echo "not installed: $f" >&2; exit 1; }
done
MANPATH=$prefix/share/man man -w HyxuserUefi_GetVariable >/dev/null

echo "installed library, header, pkg-config file, CMake package, hyxsim, manual pages and completion work"
