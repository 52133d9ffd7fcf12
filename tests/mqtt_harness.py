"""A broker, simulators and lumitraxd services for the MQTT end-to-end test and benchmark.

Everything listens on 127.0.0.1 on free ports and is stopped by process id.
"""

import json
import os
import shutil
import signal
import socket
import subprocess
import time


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(condition, timeout=15.0, what="condition"):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.05)
    raise AssertionError("timed out waiting for " + what)


class Broker:
    """Debian's mosquitto on a free port, anonymous, no persistence."""

    def __init__(self, folder, port=None):
        self.folder = folder
        self.port = port or free_port()
        self.proc = None
        self.start()

    def start(self):
        conf = os.path.join(self.folder, "mosquitto.conf")
        with open(conf, "w") as f:
            f.write("listener %d 127.0.0.1\nallow_anonymous true\n" % self.port)
        with open(os.path.join(self.folder, "mosquitto.log"), "a") as log:
            self.proc = subprocess.Popen(["mosquitto", "-c", conf], stdout=subprocess.DEVNULL, stderr=log)

        def listening():
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=0.5).close()
                return True
            except OSError:
                return False
        wait_for(listening, what="mosquitto listening")

    def stop(self):
        if self.proc and self.proc.poll() is None:
            os.kill(self.proc.pid, signal.SIGTERM)
            self.proc.wait(timeout=10)

    @property
    def url(self):
        return "mqtt://127.0.0.1:%d" % self.port


class Sim:
    """lumitrax-sim on a pseudo-terminal; its first line is the device path."""

    def __init__(self, program, transcript=None, extra=()):
        args = [program] + list(extra)
        if transcript:
            args += ["--transcript", transcript]
        self.transcript = transcript
        self.proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.device = self.proc.stdout.readline().strip()
        if not self.device:
            raise RuntimeError("lumitrax-sim printed no device path")

    def writes(self):
        """The commands that change something, as the transcript has them."""
        with open(self.transcript) as f:
            return [line for line in f.read().splitlines() if line.startswith("#") or line.startswith("set")]

    def stop(self):
        if self.proc.poll() is None:
            os.kill(self.proc.pid, signal.SIGTERM)
            self.proc.wait(timeout=10)
        self.proc.stdout.close()


class Service:
    """lumitraxd with a configuration of the given controllers and an [mqtt] table."""

    def __init__(self, program, folder, name, controllers, broker_url, prefix, recipes, interval=3600):
        self.folder = folder
        self.prefix = prefix
        conf = os.path.join(folder, name + ".toml")
        with open(conf, "w") as f:
            f.write('listen = "127.0.0.1:0"\nrecipes = "%s"\n' % recipes)
            f.write('[mqtt]\nurl = "%s"\nprefix = "%s"\nclient_id = "%s"\nstate_interval_s = %d\n'
                    % (broker_url, prefix, name, interval))
            for cname, device in controllers:
                # Generous: a loaded machine (sanitizers, parallel builds) answers late, not wrong.
                f.write('[controllers.%s]\ntarget = "%s"\ntimeout_ms = 5000\n' % (cname, device))
        self.errors = os.path.join(folder, name + ".log")
        with open(self.errors, "w") as log:
            self.proc = subprocess.Popen([program, "--config", conf], stdout=subprocess.PIPE, stderr=log, text=True)
        self.url = self.proc.stdout.readline().strip()
        if not self.url:
            raise RuntimeError("lumitraxd did not start: " + open(self.errors).read())

    def log(self):
        with open(self.errors) as f:
            return f.read()

    def stop(self, signo=signal.SIGTERM):
        if self.proc.poll() is None:
            os.kill(self.proc.pid, signo)
            self.proc.wait(timeout=15)
        self.proc.stdout.close()


def write_recipe(folder, name="housing-a12-top"):
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name + ".toml"), "w") as f:
        f.write('name = "%s"\nbrightness = [100, 200, 300]\non = [1, 3]\n' % name)


def have_mosquitto():
    return shutil.which("mosquitto") is not None


def loads(payload):
    return json.loads(payload.decode("utf-8"))
