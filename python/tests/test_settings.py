"""The library's progress lines: dropped by default, on sys.stdout under
foresting.verbose, per thread; and the package's version."""

import contextlib
import io
import pathlib
import re
import threading

import numpy as np

import foresting


def _talkative_calls(coins, workdir):
    foresting.area_opening(coins, 30)              # "There are N regional maxima", "in ifLabelImage"
    foresting.alternating_filter(coins[:20, :20], 2)  # "radius is 1", "radius is 2"
    foresting.rgb_to_luv(np.stack([coins[:4, :4]] * 3, 2))  # "in xyz2luv"
    foresting.histogram_by_skeleton(coins[:20, :20] > 100, 50, workdir=workdir)  # "thresh = ..." (on stderr)


def test_progress_lines_are_dropped_by_default(coins, capfd, tmp_path):
    assert not foresting.verbose.enabled()
    _talkative_calls(coins, tmp_path)
    out, err = capfd.readouterr()
    assert out == "" and err == ""


def test_verbose_sends_them_to_sys_stdout(coins, capfd, tmp_path):
    out = io.StringIO()
    with contextlib.redirect_stdout(out), foresting.verbose():
        assert foresting.verbose.enabled()
        _talkative_calls(coins, tmp_path)
    assert not foresting.verbose.enabled()
    text = out.getvalue()
    assert re.search(r"There are \d+ regional maxima\n", text)
    assert "in ifLabelImage\n" in text and "radius is 1\nradius is 2\n" in text and "in xyz2luv\n" in text
    assert "thresh = " in text
    # Nothing reached the process's own streams.
    assert capfd.readouterr() == ("", "")

    out = io.StringIO()
    with contextlib.redirect_stdout(out):
        foresting.verbose(True)
        try:
            foresting.label(coins > 100)
        finally:
            foresting.verbose(False)
        foresting.label(coins > 100)
    assert out.getvalue() == "in ifLabelImage\n"


def test_verbose_holds_for_the_calling_thread_only(coins, capsys):
    seen = []

    def other():
        seen.append(foresting.verbose.enabled())
        foresting.label(coins > 100)

    with foresting.verbose(True):
        t = threading.Thread(target=other)
        t.start()
        t.join()
        with foresting.verbose(False):
            foresting.label(coins > 100)
    assert seen == [False]
    assert capsys.readouterr().out == ""


def test_version_is_the_projects():
    cmake = (pathlib.Path(__file__).resolve().parents[2] / "CMakeLists.txt").read_text()
    assert foresting.__version__ == re.search(r"project\(ift_toolkit VERSION ([0-9.]+)", cmake).group(1)
