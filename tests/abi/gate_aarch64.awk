# Checks the aarch64 kernel-call gate's machine code, as objdump -d prints
# it (one function, --no-show-raw-insn), by following what each register
# holds on every path through the function:
#   - before the one `svc #0`: the call number (zero-extended from w0) in x8
#     and the six arguments (x1..x6 on entry, whole) in x0..x5;
#   - after it: x0 is the status and x1 the error; the error alone decides
#     whether errno is written, a non-zero error is negated into errno
#     (the pointer __errno_location gives), and every return hands back
#     the status in w0.
# Prints what is wrong and exits 1, or prints "gate ok".
# Values: "number", "a0".."a5", "status", "error", "errno@", "neg:V", "sp@N"
# (the stack pointer at offset N), "?" (anything else); "w:V" is the low 32
# bits of V, zero-extended; "number?" is w0 on entry (its upper half is not
# the caller's).

function fail(message) {
  printf "gate: %s\n", message
  failed = 1
}

function low(v) { return v ~ /^w:/ ? v : "w:" v }
function strip(v) { return v ~ /^w:/ ? substr(v, 3) : v }
function num(register) { return substr(register, 2) + 0 }
function isreg(op) { return op ~ /^[wx]([0-9]|[12][0-9]|30)$/ }
function readreg(op, state,    v) {
  if (op == "sp") return "sp@" state["sp"]
  if (op ~ /^[wx]zr$/) return "zero"
  if (!isreg(op)) return "?"
  v = state["r" num(op)]
  return substr(op, 1, 1) == "w" ? low(v) : v
}
function writereg(op, v, state) {
  if (op == "sp") {
    if (v ~ /^sp@/) state["sp"] = substr(v, 4) + 0
    else fail("the stack pointer is set from " v)
    return
  }
  if (!isreg(op)) return
  if (substr(op, 1, 1) == "w") v = v == "?" ? "?" : low(v)
  state["r" num(op)] = v
}
function imm(text,    negative, value, i, digit) {
  sub(/^#/, "", text)
  negative = substr(text, 1, 1) == "-"
  if (negative) text = substr(text, 2)
  if (text !~ /^0x/) return negative ? -text : text + 0
  value = 0
  for (i = 3; i <= length(text); i++) {
    digit = index("0123456789abcdef", tolower(substr(text, i, 1))) - 1
    value = value * 16 + digit
  }
  return negative ? -value : value
}
# The stack slot an address names, from its base register: "" when it is
# no stack slot.  Updates the base for pre- and post-indexed forms.
function address(ops, n, state,    base, offset, slot, v, pre, post) {
  base = ops[n]
  sub(/^\[/, "", base)
  post = base ~ /\]$/
  sub(/\]!?$/, "", base)
  offset = 0
  if (!post && n + 1 <= count) {
    offset = ops[n + 1]
    pre = offset ~ /!$/
    sub(/\]!?$/, "", offset)
    offset = imm(offset)
  }
  v = readreg(base, state)
  if (v !~ /^sp@/) return ""
  slot = substr(v, 4) + offset
  if (post) {
    writereg(base, "sp@" (substr(v, 4) + imm(ops[n + 1])), state)
    slot = substr(v, 4) + 0
  } else if (pre) {
    writereg(base, "sp@" slot, state)
  }
  return slot
}
function clobber(state,    i) {
  for (i = 0; i <= 18; i++) state["r" i] = "?"
  state["r30"] = "?"
}

BEGIN {
  n = 0
  svcs = 0
}
/^ *[0-9a-f]+:\t/ {
  split($0, f, "\t")
  at = f[1]
  sub(/^ */, "", at)
  sub(/:$/, "", at)
  insn[n] = f[2]
  raw[n] = $0
  args[n] = f[3]
  sub(/ *\/\/.*$/, "", args[n])
  sub(/ *<.*$/, "", args[n])
  index_of[at] = n
  addr[n] = at
  n++
}
END {
  if (n == 0) {
    fail("no instructions")
    exit 1
  }
  for (i = 0; i < n; i++)
    if (insn[i] == "svc") {
      svcs++
      if (args[i] != "#0x0" && args[i] != "#0") fail("svc " args[i] ", not svc #0")
    }
  if (svcs != 1) fail(svcs " svc instructions, not one")
  if (failed) exit 1

  # Paths: a work list of (instruction, state) pairs; the function has no
  # loops, so every path ends at a return.
  paths = 1
  pc[1] = 0
  start["r0"] = "number?"
  for (i = 1; i <= 6; i++) start["r" i] = "a" (i - 1)
  for (i = 7; i <= 30; i++) start["r" i] = "?"
  start["sp"] = 0
  for (k in start) st[1, k] = start[k]
  st[1, "svc"] = 0
  st[1, "errno"] = ""
  st[1, "errtest"] = ""
  returns = 0
  for (p = 1; p <= paths; p++) {
    delete s
    for (k in start) s[k] = st[p, k]
    s["svc"] = st[p, "svc"]
    s["errno"] = st[p, "errno"]
    s["errtest"] = st[p, "errtest"]
    cond = ""
    for (i = pc[p]; i < n; i++) {
      if (++steps > 10000) {
        fail("too many steps: a loop?")
        exit 1
      }
      op = insn[i]
      count = split(args[i], o, /, */)
      if (op == "svc") {
        if (s["r8"] != "w:number?" && s["r8"] != "w:number") fail("x8 holds " s["r8"] " at the svc, not the call number")
        for (r = 0; r <= 5; r++)
          if (s["r" r] != "a" r) fail("x" r " holds " s["r" r] " at the svc, not argument " r)
        s["svc"] = 1
        clobber(s)
        s["r0"] = "status"
        s["r1"] = "error"
      } else if (op == "mov" || op == "sxtw" || op == "uxtw") {
        v = readreg(o[2], s)
        if (o[2] ~ /^#/) v = "?"
        if (op == "sxtw") v = "?"
        writereg(o[1], v, s)
      } else if (op == "neg") {
        v = readreg(o[2], s)
        writereg(o[1], v == "?" ? "?" : "neg:" strip(v), s)
      } else if (op == "str" || op == "stur") {
        a = address(o, 2, s)
        v = readreg(o[1], s)
        if (a != "") mem[p, a] = v
        base = o[2]
        sub(/^\[/, "", base)
        sub(/\].*$/, "", base)
        if (readreg(base, s) == "errno@") {
          if (substr(o[1], 1, 1) != "w") fail("errno written with " o[1] ", not a 32-bit store")
          s["errno"] = s["errno"] strip(v) ";"
        }
      } else if (op == "stp") {
        a = address(o, 3, s)
        if (a != "") {
          mem[p, a] = readreg(o[1], s)
          mem[p, a + (substr(o[1], 1, 1) == "w" ? 4 : 8)] = readreg(o[2], s)
        }
      } else if (op == "ldr" || op == "ldur") {
        a = address(o, 2, s)
        v = a != "" && (p, a) in mem ? mem[p, a] : "?"
        writereg(o[1], v, s)
      } else if (op == "ldp") {
        a = address(o, 3, s)
        width = substr(o[1], 1, 1) == "w" ? 4 : 8
        writereg(o[1], a != "" && (p, a) in mem ? mem[p, a] : "?", s)
        writereg(o[2], a != "" && (p, a + width) in mem ? mem[p, a + width] : "?", s)
      } else if (op == "add" || op == "sub") {
        v = readreg(o[2], s)
        if (v ~ /^sp@/ && o[3] ~ /^#/) {
          writereg(o[1], "sp@" (substr(v, 4) + (op == "add" ? imm(o[3]) : -imm(o[3]))), s)
        } else {
          writereg(o[1], "?", s)
        }
      } else if (op == "bl") {
        clobber(s)
        if (raw[i] ~ /<__errno_location/) s["r0"] = "errno@"
      } else if (op == "cmp" || op == "tst") {
        cond = (o[2] == "#0x0" || o[2] == "#0" || op == "tst" && o[1] == o[2]) ? strip(readreg(o[1], s)) : "?"
      } else if (op == "cbz" || op == "cbnz" || op == "b.eq" || op == "b.ne" || op == "b.none" || op == "b.any") {
        if (op == "cbz" || op == "cbnz") {
          tested = strip(readreg(o[1], s))
          target = o[2]
          zeroTaken = op == "cbz"
        } else {
          tested = cond
          target = o[1]
          zeroTaken = op == "b.eq" || op == "b.none"
        }
        if (s["svc"] && tested != "error") fail("a branch after the svc tests " tested ", not the error register")
        if (!(target in index_of)) {
          fail("a branch leaves the function (" target ")")
          break
        }
        # The branch taken becomes a new path; this one falls through.
        paths++
        pc[paths] = index_of[target]
        for (k in start) st[paths, k] = s[k]
        st[paths, "svc"] = s["svc"]
        st[paths, "errno"] = s["errno"]
        st[paths, "errtest"] = zeroTaken ? "zero" : "nonzero"
        copies = 0
        for (key in mem) {
          split(key, kk, SUBSEP)
          if (kk[1] == p) copy[++copies] = kk[2]
        }
        for (c = 1; c <= copies; c++) mem[paths, copy[c]] = mem[p, copy[c]]
        s["errtest"] = zeroTaken ? "nonzero" : "zero"
      } else if (op == "b") {
        if (!(args[i] in index_of)) {
          fail("a jump leaves the function (" args[i] ")")
          break
        }
        i = index_of[args[i]] - 1
      } else if (op == "ret") {
        returns++
        if (!s["svc"]) fail("a return before the svc")
        if (strip(s["r0"]) != "status") fail("a return hands back " s["r0"] ", not the status")
        if (s["errtest"] == "") fail("a return without testing the error")
        if (s["errtest"] == "zero" && s["errno"] != "") fail("errno written although the error is 0")
        if (s["errtest"] == "nonzero" && s["errno"] != "neg:error;")
          fail("a non-zero error leaves errno as " (s["errno"] == "" ? "it was" : s["errno"]))
        break
      } else if (op == "nop" || op == "paciasp" || op == "autiasp" || op == "bti" || op == "hint") {
      } else if (op ~ /^b/ || op ~ /^(tb|br|blr)/) {
        fail("unexpected control flow: " op " " args[i])
        break
      } else if (count > 0) {
        writereg(o[1], "?", s)
      }
    }
  }
  if (returns == 0) fail("no return")
  if (failed) exit 1
  print "gate ok: " returns " returns, " paths " paths"
}
