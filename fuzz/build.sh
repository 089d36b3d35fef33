#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build/fuzz.  They are kept out
# of the CMake presets, so the tests and CI never run them; run them by hand:
#   bash fuzz/build.sh && build/fuzz/format_diff_fuzz -max_total_time=600
set -euo pipefail
cd "$(dirname "$0")/.."
out=build/fuzz
mkdir -p "$out"
flags=(-std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined
       -Wall -Wextra -Werror -Wno-format-security -Iinclude -Ilib)
sources=(lib/misc/util.cpp lib/misc/hashTable.cpp lib/misc/err.cpp lib/misc/msgfmt.cpp
         lib/string/bsd_vsnprintf.cpp lib/string/fmt_args.cpp lib/string/fmt_digits.cpp
         lib/string/fmt_float.cpp lib/string/str.cpp)
for target in format_diff_fuzz msgfmt_fuzz; do
  clang++ "${flags[@]}" "fuzz/$target.cpp" "${sources[@]}" -o "$out/$target"
done
# The observation message builder (it asks the kernel for the uptime: off
# the Hyxkernel that call fails and the field stays 0) and the SNMP OID rules.
clang++ "${flags[@]}" fuzz/hob_msg_fuzz.cpp lib/hyxuser/hobWire.cpp lib/hyxsysinfo/kernelCall.cpp "${sources[@]}" \
  -o "$out/hob_msg_fuzz"
clang++ "${flags[@]}" fuzz/snmp_oid_fuzz.cpp lib/hyxuser/snmpSpool.cpp -o "$out/snmp_oid_fuzz"
# Volume descriptors and heartbeat regions through the HXFS reader's codec.
clang++ "${flags[@]}" fuzz/hxfs_volume_fuzz.cpp lib/hyxuser/hxfsVolume.cpp lib/status/status.cpp "${sources[@]}" \
  -o "$out/hxfs_volume_fuzz"
