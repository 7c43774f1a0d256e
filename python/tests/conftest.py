"""Recordings for the tests: made by `tova sample` and read back by the tool.

The tool is found beside the libraries of a build (TOVA_LIBRARY/cli/tova) or
through TOVA_CLI."""
import os
import shutil
import subprocess

import pytest


def _tool():
    tool = os.environ.get("TOVA_CLI")
    if not tool and os.environ.get("TOVA_LIBRARY"):
        folder = os.environ["TOVA_LIBRARY"]
        folder = folder if os.path.isdir(folder) else os.path.dirname(folder)
        tool = os.path.join(folder, "cli", "tova")
    tool = tool or shutil.which("tova")
    if not tool or not os.path.exists(tool):
        pytest.skip("the tova tool is needed (set TOVA_CLI or TOVA_LIBRARY to a build)")
    return tool


@pytest.fixture(scope="session")
def tova_cli():
    tool = _tool()

    def run(*args):
        return subprocess.run([tool, *map(str, args)], check=True, capture_output=True, text=True).stdout
    return run


@pytest.fixture(scope="session")
def sample(tova_cli, tmp_path_factory):
    """A sample recording of 30 frames of 160 x 120."""
    path = tmp_path_factory.mktemp("sample") / "sample.tova"
    tova_cli("sample", path, "--frames", 30)
    return path
