"""Starting children: fork-exec with argv, environment and descriptor map; system."""

import os

import pytest

import hyxuser
from conftest import hyxkernel_only, linux_only


def _run(argv, **kwargs):
    return hyxuser.wait(hyxuser.fork_exec(argv[0], argv, **kwargs))


@hyxkernel_only
def test_argv_environment_and_exit_status():
    assert _run(["/bin/sh", "-c", "exit 7"]) == 7
    assert _run(["/bin/sh", "-c", 'test "$HYX_A" = "b c" && test -z "$HOME"'], env={"HYX_A": "b c"}) == 0
    assert _run(["/bin/sh", "-c", "kill -TERM $$"]) == -15


@hyxkernel_only
def test_descriptor_map_becomes_the_childs_descriptors(tmp_path):
    out = tmp_path / "out"
    read_end, write_end = os.pipe()
    with open(out, "w") as target:
        # The child's 0 is the pipe's read end, its 1 the file.
        os.write(write_end, b"through the pipe\n")
        os.close(write_end)
        assert _run(["/bin/sh", "-c", "cat; echo done"], fd_map=[read_end, target.fileno(), 2]) == 0
    os.close(read_end)
    assert out.read_text() == "through the pipe\ndone\n"


@hyxkernel_only
def test_programs_that_cannot_start():
    with pytest.raises(hyxuser.NotFound):
        hyxuser.fork_exec("/no/such/program", ["x"])
    with pytest.raises(hyxuser.HyxError) as raised:
        hyxuser.fork_exec("/etc/passwd", ["passwd"])
    assert raised.value.status != 0
    with pytest.raises(ValueError):
        hyxuser.fork_exec("/bin/true", [])


@hyxkernel_only
def test_system_and_its_resource_group(sim):
    assert hyxuser.system("exit 3") == 3
    assert hyxuser.system("true", resource_group="host/vim/tmp", mem_mb=64) == 0
    with pytest.raises(ValueError):
        hyxuser.system("true", mem_mb=64)


@linux_only
def test_off_host():
    with pytest.raises(hyxuser.NotOnHost):
        hyxuser.fork_exec("/bin/true", ["true"])
    with pytest.raises(hyxuser.NotOnHost):
        hyxuser.system("true")
