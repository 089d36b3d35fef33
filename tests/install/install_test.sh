#!/usr/bin/env bash
# Installs the build into a fresh prefix outside the build tree and uses it
# as a user would, with nothing of the build tree on any path:
#  - every installed program and library holds no path of the build or
#    source tree; the tools find the library of their own prefix through an
#    $ORIGIN-relative RUNPATH, and hyxsim its simulator, daemons and example
#    hosts beside itself;
#  - the installed hyxinfo and hyxsnap run under the installed hyxsim, by
#    name, and the demo's tour passes from the prefix;
#  - a C program built with pkg-config and a C++ program built with the CMake
#    package (-z defs) run on a simulated host, the C++ project's own tests
#    through hyxuser_add_sim_test; the header's version is the packages';
#  - hyxuser(3)'s example program builds and runs;
#  - the manual pages and the completion are where man and bash look.
#   install_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(cd "$1" && pwd) source=$(cd "$2" && pwd)
top=$(cd "$source/../.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/hyxuser-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(dirname "$(find "$prefix" -name libhyxuser.so)")

fail() {
  printf 'install_test: %s\n' "$*" >&2
  exit 1
}

# Where each installed program finds its libraries, and what it holds.
origin="\$ORIGIN/$(realpath --relative-to="$prefix/bin" "$libdir")"
for tool in hyxinfo hyxsnap; do
  runpath=$(readelf -d "$prefix/bin/$tool" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]$/\1/p')
  [[ $runpath == "$origin" ]] || fail "$tool: RUNPATH '$runpath', not '$origin'"
done
# Debugging information names the sources it was built from; the rest of
# each file must not name the trees.
while IFS= read -r file; do
  objcopy --strip-debug "$file" "$work/stripped"
  strings -a "$work/stripped" >"$work/strings"
  for tree in "$build" "$top"; do
    found=$(grep -F "$tree" "$work/strings" | head -1) || true
    [[ -z $found ]] || fail "$file holds a path of the tree it was built in: $found"
  done
done < <(find "$prefix" -type f \( -perm -u+x -o -name '*.so' \) -exec sh -c 'head -c 4 "$1" | grep -q ELF' _ {} \; -print)
rm -f "$work/stripped" "$work/strings"

# The pkg-config file says where the simulated host is; everything below runs
# through it, the installed programs by name and without LD_LIBRARY_PATH.
export PKG_CONFIG_PATH=$libdir/pkgconfig
hyxsim=$(pkg-config --variable=hyxsim hyxuser)
hostsdir=$(pkg-config --variable=hostsdir hyxuser)
[[ $(realpath "$hyxsim") == "$prefix/bin/hyxsim" ]] || fail "hyxuser.pc: hyxsim is '$hyxsim'"
[[ -f $hostsdir/hxfs.json ]] || fail "hyxuser.pc: hostsdir '$hostsdir' has no hxfs.json"
sim() { env -u LD_LIBRARY_PATH PATH=/usr/bin:/bin "$hyxsim" "$@"; }

live=$(sim --daemons -- hyxinfo --json nics) || fail "hyxinfo --json nics under hyxsim failed"
[[ $live == \[*\] && $live == *vmnic* ]] || fail "hyxinfo --json nics printed: $live"
mkdir "$work/snapshot"
sim --bind "$work/snapshot" -- hyxsnap -o "$work/snapshot/host.hsi" net >/dev/null 2>&1 ||
  fail "hyxsnap under hyxsim failed"
recorded=$(sim --ro "$work/snapshot" -- hyxinfo --snapshot "$work/snapshot/host.hsi" --json nics) ||
  fail "hyxinfo --snapshot under hyxsim failed"
[[ $recorded == "$live" ]] || fail "the snapshot's NICs differ: $recorded"
sim --profile "$hostsdir/hxfs.json" -- sh -c 'hyxinfo hxfs hosts /hxfs/volumes/datastore1' >/dev/null ||
  fail "hyxinfo hxfs hosts from a script in the sandbox failed"

tour=$(bash "$top/scripts/tour.sh" --prefix "$prefix" 2>&1) || fail "the tour from the prefix failed: $tour"

# Programs built on the installed library.
cc -std=c11 -D_POSIX_C_SOURCE=200809L -Wall -Werror "$source/consumer.c" -o "$work/consumer_c" \
  $(pkg-config --cflags --libs hyxuser) -Wl,-z,defs
mkdir "$work/cpp"
cp "$source/consumer.cpp" "$work/cpp/"
cp "$source/CMakeLists.consumer.txt" "$work/cpp/CMakeLists.txt"
cmake -S "$work/cpp" -B "$work/cpp/build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cpp/build" >/dev/null
out=$(LD_LIBRARY_PATH=$libdir "$hyxsim" -- "$work/consumer_c"; sim -- "$work/cpp/build/consumer_cpp")
expected="c: Not found; interface matches
version $(pkg-config --modversion hyxuser)
c++: Not found; interface matches"
[[ $out == "$expected" ]] || fail "unexpected output:"$'\n'"$out"
ctest --test-dir "$work/cpp/build" --output-on-failure >"$work/ctest.log" 2>&1 ||
  fail "the consumer's own tests on simulated hosts failed:"$'\n'"$(cat "$work/ctest.log")"

example=$prefix/share/doc/hyxuser/examples/hostversion.c
cc -std=c11 -D_POSIX_C_SOURCE=200809L -Wall -Wextra -Werror "$example" -o "$work/hostversion" \
  $(pkg-config --cflags --libs hyxuser) -Wl,-rpath,"$libdir"
version=$(sim -- "$work/hostversion") || fail "hyxuser(3)'s example failed under hyxsim"
[[ $version == Hyxkernel* ]] || fail "hyxuser(3)'s example printed: $version"

# The headers point at no file of the project that is not installed.
project_file='\b(hyx[a-z]*|lib|sim|tools|tests|docs|examples|include)/[A-Za-z0-9_./]+\.(h|def|md|cpp|json|txt)\b'
while IFS= read -r named; do
  [[ -f $prefix/include/$named ]] || fail "an installed header names $named, which is not installed"
done < <(grep -ohE "$project_file" "$prefix"/include/hyx*/*.h | sort -u)

# The manual pages and the completion, where man and bash-completion look.
for f in share/man/man3/hyxuser.3 share/man/man3/HyxuserUefi_GetVariable.3 share/man/man1/hyxinfo.1 share/man/man1/hyxhsi.1 \
  share/man/man1/hyxsim.1 share/bash-completion/completions/hyxinfo \
  share/bash-completion/completions/hyxhsi; do
  [[ -s $prefix/$f ]] || fail "not installed: $f"
done
MANPATH=$prefix/share/man man -w HyxuserUefi_GetVariable >/dev/null
# The Python package, imported from where it was installed, on the installed library.
py=$(command -v /usr/bin/python3 || command -v python3)
pydir=$(dirname "$(dirname "$(find "$prefix" -path '*/hyxuser/py.typed')")")
[[ $(PYTHONPATH=$pydir run "$py" -c 'import hyxuser; print(hyxuser.version().product)') == Hyxkernel ]] ||
  { echo "the installed Python package does not work" >&2; exit 1; }

echo "installed tools, library, header, pkg-config file, CMake package, hyxsim, tour, manual pages and completion work"
