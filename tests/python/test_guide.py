"""tests/python/test_guide.py: every Python snippet of docs/guide.md runs against the simulated
server, so that the guide cannot drift from the module; and the queue consumer example stops
cleanly on Ctrl-C and logs out when its main thread fails.

Each section of the guide runs in an interpreter of its own: the set-up section's blocks first,
then the section's blocks in order. A `stderr` block lists lines the section writes to the
standard error stream, in order."""

import os
import pathlib
import re
import signal
import subprocess

import pytest

from helpers import BUILD_DIR, PYTHON, run_python

ROOT = pathlib.Path(__file__).resolve().parents[2]
GUIDE = ROOT / "docs" / "guide.md"
SETUP = "Set-up and the simulated server"
FENCE = re.compile(r"^```(\w*)[^\n]*\n(.*?)^```\s*$", re.M | re.S)


def sections():
    """{section title: [(fence language, block text)]}, in the guide's order."""
    found, title = {}, None
    for part in re.split(r"^## ", GUIDE.read_text(encoding="utf-8"), flags=re.M)[1:]:
        title, _, body = part.partition("\n")
        found[title.strip()] = [(m.group(1), m.group(2)) for m in FENCE.finditer(body)]
    return found


SECTIONS = sections()


def failing_line(source, err):
    """The snippet line the child's traceback ends at, to find it in the guide."""
    lines = re.findall(r'File "<string>", line (\d+)', err)
    return f"at: {source.splitlines()[int(lines[-1]) - 1].strip()}" if lines else ""


def test_the_guide_has_its_flows_and_each_has_snippets():
    assert list(SECTIONS)[0] == SETUP
    for title, blocks in SECTIONS.items():
        assert any(lang == "python" for lang, _ in blocks), f"no snippet under '{title}'"


@pytest.mark.parametrize("title", [t for t in SECTIONS if t != SETUP])
def test_each_sections_snippets_run(title):
    setup = [text for lang, text in SECTIONS[SETUP] if lang == "python"]
    snippets = [text for lang, text in SECTIONS[title] if lang == "python"]
    expected = [line for lang, text in SECTIONS[title] if lang == "stderr"
                for line in text.splitlines() if line.strip()]
    source = "\n\n".join(setup + snippets)
    code, out, err = run_python(source, timeout=90)
    assert code == 0, f"{failing_line(source, err)}\n--- stdout\n{out}\n--- stderr\n{err}"
    position = 0
    for line in expected:
        found = err.find(line, position)
        assert found >= 0, f"'{line}' not written in order\n--- stderr\n{err}"
        position = found + len(line)


def test_the_queue_consumer_stops_cleanly_on_ctrl_c():
    env = dict(os.environ, PYTHONPATH=BUILD_DIR)
    proc = subprocess.Popen([PYTHON, str(ROOT / "examples" / "queue_consumer.py"), "--seconds", "60"],
                            env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        # The first item shows the consumer is running; Ctrl-C then comes to the main thread.
        first = proc.stdout.readline()
        assert first.startswith("  "), first
        proc.send_signal(signal.SIGINT)
        out, err = proc.communicate(timeout=30)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.communicate()
    assert proc.returncode == 0, err
    assert "Ctrl-C: logging out" in out and out.rstrip().splitlines()[-1].startswith("consumer ended")


def test_the_queue_consumer_logs_out_when_the_main_thread_fails():
    # The consumer thread is not a daemon: were the logout skipped, the child would never exit.
    code = f"""
import runpy, sys
sys.argv = ["queue_consumer.py", "--seconds", "60"]
example = runpy.run_path({str(ROOT / "examples" / "queue_consumer.py")!r})

def failing_buy(session, manager):
    raise RuntimeError("the order could not be sent")

example["main"].__globals__["buy"] = failing_buy
example["main"]()
"""
    returncode, out, err = run_python(code, timeout=30)
    assert returncode == 1, err
    assert "RuntimeError: the order could not be sent" in err
