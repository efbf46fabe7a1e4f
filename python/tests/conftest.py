"""Simulated readers for the tests: morvent-sim (MORVENT_SIM) on a free TCP port."""

import json
import os
import re
import subprocess
import time

import pytest


class Simulator:
    def __init__(self, tmp_path, scenario=None, extra=()):
        command = [os.environ.get("MORVENT_SIM", "morvent-sim"), "--tcp", "0", "--run-for", "300", *extra]
        if scenario is not None:
            path = tmp_path / "scenario.json"
            path.write_text(json.dumps(scenario))
            command += ["--scenario", str(path)]
        self.process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        line = self.process.stdout.readline()
        match = re.search(r"tcp=127\.0\.0\.1:(\d+)", line)
        if not match:
            self.stop()
            raise RuntimeError(f"morvent-sim did not start: {line!r}")
        self.port = int(match.group(1))

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self.process.stdout.close()


@pytest.fixture
def simulator(tmp_path):
    started = []

    def start(scenario=None, *extra):
        sim = Simulator(tmp_path, scenario, extra)
        started.append(sim)
        return sim

    yield start
    for sim in started:
        sim.stop()


@pytest.fixture
def sim(simulator):
    return simulator()
