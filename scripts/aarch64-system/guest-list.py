#!/usr/bin/env python3
"""Turns ctest's list of the aarch64-system build's tests into what the
emulated machine runs: one shell function call per suite that runs there,
and a skip, with its reason, for each that needs a tool the machine lacks.

    guest-list.py TESTS.json EMULATOR BUILD_DIR IMAGE_ROOT > tests.sh

TESTS.json is `ctest --show-only=json-v1`; EMULATOR the program the cross
build runs its programs under on the build machine (qemu-aarch64), which the
machine, running them itself, leaves out; BUILD_DIR the build tree, which
the machine holds at the same path; IMAGE_ROOT the machine's file tree.  A
suite runs when its programs are the build tree's or the machine's own.
"""
import json
import os
import shlex
import sys


# Suites whose script, once started, needs the build machine's tools.
NEEDS_BUILD_MACHINE = {
    "install_test": "installs with cmake and builds a program against the install with the "
                    "compiler: tools of the build machine, not of the emulated one",
}


def quote(words):
    return " ".join(shlex.quote(w) for w in words)


def main():
    tests = json.load(open(sys.argv[1]))["tests"]
    emulator = os.path.basename(sys.argv[2])
    build = sys.argv[3]
    image = sys.argv[4]
    out = []
    for test in tests:
        name = test["name"]
        command = test.get("command") or []
        props = {p["name"]: p["value"] for p in test.get("properties", [])}
        if props.get("DISABLED"):
            continue
        if command and os.path.basename(command[0]) == emulator:
            # qemu-aarch64 -L SYSROOT PROGRAM ARGS...
            rest = command[1:]
            while rest and rest[0].startswith("-"):
                rest = rest[2:] if rest[0] in ("-L", "-cpu", "-E", "-U") else rest[1:]
            command = rest
        # A tool found elsewhere here (a python3 of the build machine's own
        # installation) is the machine's own of that name.
        if command and not command[0].startswith(build + "/") and not os.path.lexists(image + command[0]):
            own = "/usr/bin/" + os.path.basename(command[0])
            if os.path.lexists(image + own):
                command = [own] + command[1:]
        # The program itself, or the one hyxsim runs (after its "--").
        programs = command[:1]
        if "--" in command[:-1]:
            programs.append(command[command.index("--") + 1])
        missing = [p for p in programs
                   if not p.startswith(build + "/") and not os.path.lexists(image + p)]
        if not command or missing or name in NEEDS_BUILD_MACHINE:
            if name in NEEDS_BUILD_MACHINE:
                reason = NEEDS_BUILD_MACHINE[name]
            else:
                reason = "runs %s, a build-machine tool the emulated machine does not carry" % (
                    os.path.basename(missing[0]) if command else "nothing")
            out.append("skip %s %s" % (shlex.quote(name), shlex.quote(reason)))
            continue
        env = props.get("ENVIRONMENT", [])
        if isinstance(env, str):
            env = [env]
        env = [e for e in env if e]
        workdir = props.get("WORKING_DIRECTORY", os.path.dirname(command[0]))
        timeout = int(float(props.get("TIMEOUT", 0) or 0)) or 1200
        will_fail = "1" if props.get("WILL_FAIL") else "0"
        skip_code = str(props.get("SKIP_RETURN_CODE", ""))
        out.append("run %s %s %d %s %s %s %s" % (
            shlex.quote(name), shlex.quote(workdir), timeout, will_fail, shlex.quote(skip_code or "-"),
            quote(env), quote(command)))
    print("\n".join(out))


main()
