#!/usr/bin/env bash
# The demo's tour, run inside `hyxsim --daemons` (scripts/demo.sh):
#   scripts/tour.sh HYXINFO [HYXHSI]
# or, from an installed tree, with that tree's own hyxsim, example host,
# hyxinfo and hyxhsi (found by name inside the sandbox), nothing of the build
# tree used:
#   scripts/tour.sh --prefix PREFIX
# Each step shows a hyxinfo (or hyxhsi, beside it by default) command and
# what it printed; what the host's daemons received is shown from their
# records in /run/hyxsim/.
set -euo pipefail
if [[ ${1:-} == --prefix ]]; then
  prefix=$(cd "${2:?usage: tour.sh --prefix PREFIX}" && pwd)
  here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
  exec env -u LD_LIBRARY_PATH "$prefix/bin/hyxsim" --daemons --profile "$prefix/share/hyxuser/hosts/hxfs.json" \
    --ro "$here" -- bash "$here/tour.sh" hyxinfo hyxhsi
fi
hyxinfo=$1
hyxhsi=${2:-$(dirname "$hyxinfo")/hyxhsi}

step() {
  printf '\n== %s\n' "$1"
}

show() {
  printf '$ hyxinfo %s\n' "$*"
  "$hyxinfo" "$@"
}

show_hsi() {
  printf '$ hyxhsi %s\n' "$*"
  "$hyxhsi" "$@"
}

# A daemon takes what it was sent on its own time: wait (at most 10 s)
# until a line after the first BEFORE lines of its record file holds
# PATTERN, then show that record's KEYS (all of it without python3).
record() {
  local file=$1 before=$2 pattern=$3 i line
  shift 3
  for ((i = 0; i < 200; i++)); do
    # grep and sed read to the end: no reader leaves the pipe early.
    line=$(tail -n +"$((before + 1))" "$file" 2>/dev/null | grep -F -- "$pattern" | sed -n 1p) || true
    if [[ -n $line ]]; then
      printf '%s received:\n' "$file"
      if command -v python3 >/dev/null; then
        python3 -c 'import json, sys
record = json.loads(sys.argv[1])
print(json.dumps({k: record[k] for k in sys.argv[2:] if k in record}, indent=2))' "$line" "$@"
      else
        printf '%s\n' "$line"
      fi
      return
    fi
    sleep 0.05
  done
  echo "tour: nothing reached $file" >&2
  return 1
}

lines() {
  if [[ -f $1 ]]; then wc -l <"$1"; else echo 0; fi
}

step "The host's kernel, and its uptime"
show host
show version
show uptime

step "Network: physical NICs and the TCP/IP stack's interfaces"
show nics
show interfaces

step "Storage: every path from an adapter to a device"
show_hsi storage paths

step "UEFI variables: list, then write, read back and delete one"
show uefi list
name=HyxTour-5f1c2a9e-7b3d-4e8f-a6c0-1d2e3f405162
printf 'hello, host' >/tmp/tour-variable
show uefi set "$name" 7 /tmp/tour-variable
show uefi get "$name"
show uefi rm "$name"

step "An HXFS volume's heartbeats: the hosts that share it"
show hxfs hosts /hxfs/volumes/datastore1

step "An observation, as the observation daemon received it"
before=$(lines /run/hyxsim/hobd.jsonl)
show notify --severity warning --component storage --kb kb.1001 "datastore1 is 90% full"
record /run/hyxsim/hobd.jsonl "$before" '"text":' connection id message args

step "An SNMP trap, as the SNMP agent received it"
before=$(lines /run/hyxsim/snmp-agent.jsonl)
show trap 1.3.6.1.4.1.1234.1.0.7 1.3.6.1.2.1.1.5.0:string:hyx-host-01
record /run/hyxsim/snmp-agent.jsonl "$before" '"enterpriseOid":' file mode enterpriseOid generic specific bindings

step "An event, as the management daemon received it"
before=$(lines /run/hyxsim/mgmtd.jsonl)
show event hyx.tour.DatastoreFull --severity warning datastore=datastore1 used=90
# The library logs in first; the event is the request after.
record /run/hyxsim/mgmtd.jsonl "$before" '"method":"PostEvent"' requestLine method session body

step "The same host from Python: import hyxuser"
code='import hyxuser; print(hyxuser.version())'
printf "\$ python3 -c '%s'\n" "$code"
# The library beside the hyxinfo shown; the package installed beside it, or
# the source tree's.
bindir=$(dirname "$(command -v "$hyxinfo")")
pypath=$(compgen -G "$bindir/../lib/python3*/dist-packages" | head -n 1 || true)
HYXUSER_LIBRARY=$bindir/../lib/libhyxuser.so PYTHONPATH=${pypath:-$(dirname "${BASH_SOURCE[0]}")/../python} \
  PYTHONDONTWRITEBYTECODE=1 python3 -c "$code"

step "Status codes, by name and by number"
show status HYX_NOT_FOUND
show status checksum_mismatch
show status 0x2bad0002   # a code that carries an errno
show --json status BAD_PARAM
