"""Recordings made by the tova tool, found through TOVA_CLI or beside a build's libraries (TOVA_LIBRARY/cli/tova)."""
import os
import subprocess

import pytest


@pytest.fixture(scope="session")
def tova_cli():
    folder = os.environ.get("TOVA_LIBRARY", "")
    tool = os.environ.get("TOVA_CLI") or os.path.join(folder if os.path.isdir(folder) else os.path.dirname(folder),
                                                      "cli", "tova")
    if not os.path.exists(tool):
        pytest.skip("the tova tool is needed (set TOVA_CLI or TOVA_LIBRARY to a build)")
    return lambda *args: subprocess.run([tool, *map(str, args)], check=True, capture_output=True, text=True).stdout


@pytest.fixture(scope="session")
def sample(tova_cli, tmp_path_factory):
    """A sample recording of 30 frames of 160 x 120."""
    path = tmp_path_factory.mktemp("sample") / "sample.tova"
    tova_cli("sample", path, "--frames", 30)
    return path
