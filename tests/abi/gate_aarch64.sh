#!/usr/bin/env bash
# The cross-built library's kernel-call gate, read from its machine code
# (no simulated kernel runs under qemu-user, so no call can show it):
#   gate_aarch64.sh OBJDUMP LIBRARY
# The library holds exactly one svc, in the gate, and gate_aarch64.awk
# follows the registers through the gate.  First the checker itself must
# pass a sound gate and refuse each broken copy of it.
set -euo pipefail
objdump=$1 library=$2
here=$(dirname "$0")
check() { awk -f "$here/gate_aarch64.awk"; }

sound='0000000000000000 <_Z12Kernel_Call6jmmmmmm>:
   0:	stp	x29, x30, [sp, #-32]!
   4:	mov	w8, w0
   8:	mov	x0, x1
   c:	mov	x29, sp
  10:	mov	x1, x2
  14:	mov	x2, x3
  18:	mov	x3, x4
  1c:	mov	x4, x5
  20:	mov	x5, x6
  24:	stp	x19, x20, [sp, #16]
  28:	svc	#0x0
  2c:	mov	x20, x0
  30:	cbz	w1, 44 <_Z12Kernel_Call6jmmmmmm+0x44>
  34:	mov	x19, x1
  38:	bl	0 <__errno_location>
  3c:	neg	w19, w19
  40:	str	w19, [x0]
  44:	mov	w0, w20
  48:	ldp	x19, x20, [sp, #16]
  4c:	ldp	x29, x30, [sp], #32
  50:	ret'
check <<<"$sound" >/dev/null || { echo "the checker refuses a sound gate"; check <<<"$sound"; exit 1; }
# Each broken copy: the sed expression that breaks it, and why it is wrong.
broken=(
  's/mov\tw8, w0/mov\tx8, x0/|the call number with the caller'\''s upper half'
  's/mov\tx2, x3/mov\tx2, x4/|argument 2 from the wrong register'
  's/mov\tx4, x5/mov\tw4, w5/|argument 4 cut to 32 bits'
  's/svc\t#0x0/svc\t#0x1/|an svc other than svc #0'
  's/cbz\tw1/cbz\tw0/|the status tested for the error'
  's/neg\tw19, w19/nop/|the error stored without its sign changed'
  's/str\tw19, \[x0\]/nop/|errno never written'
  's/mov\tw0, w20/mov\tw0, w19/|the error handed back as the status'
)
for entry in "${broken[@]}"; do
  expression=${entry%%|*} why=${entry#*|}
  mutated=$(sed "$expression" <<<"$sound")
  [[ $mutated != "$sound" ]] || { echo "fixture does not apply: $expression"; exit 1; }
  if check <<<"$mutated" >/dev/null; then
    echo "the checker passes a broken gate: $why"
    exit 1
  fi
done

svcs=$("$objdump" -d --no-show-raw-insn "$library" | grep -c $'\tsvc\t' || true)
if [[ $svcs != 1 ]]; then
  echo "$library holds $svcs svc instructions, not one"
  "$objdump" -d --no-show-raw-insn "$library" | grep -B12 $'\tsvc\t' || true
  exit 1
fi
symbol=$("${objdump%objdump}nm" "$library" | awk '$3 ~ /Kernel_Call6/ { print $3 }')
[[ -n $symbol ]] || { echo "no Kernel_Call6 in $library"; exit 1; }
gate=$("$objdump" -d --no-show-raw-insn --disassemble="$symbol" "$library")
grep -q $'\tsvc\t' <<<"$gate" || { echo "the one svc is not in $symbol"; exit 1; }
if ! check <<<"$gate"; then
  echo "$gate"
  exit 1
fi
