"""tests/python/test_python_exit.py: the interpreter gate's hand-over of an ended library thread's
state, through a test build of the gate that makes the hand-over slow (the program
tests/embed/handover_window.cpp, run in a process of its own)."""

import os
import subprocess

from helpers import BUILD_DIR


def test_an_ended_threads_state_is_never_read_after_it_was_deleted():
    # Each thread's first entry deletes the states handed over so far, while the thread before
    # it is still handing its own over.
    ran = subprocess.run([os.path.join(BUILD_DIR, "handover_window")], capture_output=True,
                         text=True, timeout=60)
    assert ran.returncode == 0, ran.stderr
    assert ran.stdout == "20 threads ended\n"
