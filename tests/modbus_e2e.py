"""lumitraxd's Modbus TCP server end to end: pymodbus as the PLC, lumitraxd against lumitrax-sim
on a pseudo-terminal, what reaches the controller read from the simulator's transcript.

    modbus_e2e.py LUMITRAXD LUMITRAX_SIM

Exits 77 (skipped) when pymodbus is not installed. Every wait is for a condition with a
generous deadline; nothing is timed.
"""

import json
import os
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

try:
    from pymodbus.client import ModbusTcpClient
except ImportError:
    print("pymodbus is not installed (python3-pymodbus): skipped")
    sys.exit(77)

FAILURES = []
CHECKS = [0]


def check(condition, what):
    CHECKS[0] += 1
    if not condition:
        FAILURES.append(what)
        print("FAILED: " + what, flush=True)


def wait_for(predicate, timeout=10.0):
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(0.02)


def read(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        return f.read()


def exception_of(response):
    return getattr(response, "exception_code", None) if response.isError() else None


class Rig:
    """One simulator (8 channels) as unit 1, a controller that never connects as unit 2."""

    def __init__(self, lumitraxd, sim):
        self.dir = tempfile.TemporaryDirectory()
        d = self.dir.name
        self.transcript = os.path.join(d, "transcript.txt")
        self.record = os.path.join(d, "record.jsonl")
        self.sim = subprocess.Popen([sim, "--packet", "1", "--transcript", self.transcript], stdout=subprocess.PIPE, text=True)
        device = self.sim.stdout.readline().strip()
        if not device:
            raise SystemExit("lumitrax-sim printed no device path")
        os.mkdir(os.path.join(d, "recipes"))
        with open(os.path.join(d, "recipes", "a12.toml"), "w") as f:
            f.write('name = "housing-a12-top"\nnumber = 12\nbrightness = [300, 301, 302]\non = [1, 3]\n')
        self.config = config = os.path.join(d, "lumitraxd.toml")
        with open(config, "w") as f:
            f.write(f'listen = "127.0.0.1:0"\nmodbus = "127.0.0.1:0"\nrecipes = "{d}/recipes"\n'
                    f'record = "{self.record}"\n'
                    f'[controllers.top]\ntarget = "{device}"\nunit = 1\n'
                    f'[controllers.gone]\ntarget = "{d}/no-such-device"\nunit = 2\n')
        self.errors = open(os.path.join(d, "lumitraxd.err"), "w+")
        self.service = subprocess.Popen([lumitraxd, "--config", config], stdout=subprocess.PIPE,
                                        stderr=self.errors, text=True)
        self.url = self.service.stdout.readline().strip()
        modbus = self.service.stdout.readline().strip()
        if not modbus.startswith("modbus://"):
            raise SystemExit("lumitraxd printed no modbus address:\n" + self.log())
        self.host, port = modbus[len("modbus://"):].rsplit(":", 1)
        self.port = int(port)

    def log(self):
        self.errors.flush()
        return read(self.errors.name)

    def client(self):
        c = ModbusTcpClient(self.host, port=self.port, timeout=5)
        if not c.connect():
            raise SystemExit("cannot connect to the Modbus server")
        return c

    def metrics(self):
        with urllib.request.urlopen(self.url + "/metrics", timeout=10) as r:
            return r.read().decode()

    def close(self):
        """Stops both; the service's exit status (0 after SIGTERM; a sanitizer's report fails it)."""
        status = None
        for p in (self.service, self.sim):
            p.terminate()
            try:
                p.wait(timeout=30)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
            if status is None:
                status = p.returncode
        self.dir.cleanup()
        return status


class EventStream:
    """GET /api/v1/events on a plain socket (what arrives is kept as it comes), read on a thread."""

    def __init__(self, url):
        host, port = url[len("http://"):].rsplit(":", 1)
        self.text = ""
        self.sock = socket.create_connection((host, int(port)), timeout=30)
        self.sock.sendall(f"GET /api/v1/events HTTP/1.1\r\nHost: {host}:{port}\r\n\r\n".encode())
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()

    def _read(self):
        try:
            while True:
                data = self.sock.recv(4096)
                if not data:
                    return
                self.text += data.decode(errors="replace")
        except OSError:
            pass

    def has(self, text):
        return text in self.text

    def close(self):
        self.sock.shutdown(socket.SHUT_RDWR)
        self.thread.join(timeout=10)
        self.sock.close()


def writes_reach_the_wire(rig, plc):
    events = EventStream(rig.url)
    check(wait_for(lambda: events.has("hello")), "the event stream started")
    mark = len(read(rig.transcript))
    # The simulated model has 8 channels and takes packets: all of them go out in one.
    values = [100 + i for i in range(8)]
    check(exception_of(plc.write_registers(0, values, slave=1)) is None, "FC16 of 8 registers answered")
    packet = " ".join(f"{v >> 8:02x} {v & 0xff:02x}" for v in values + [0] * 8)
    check(wait_for(lambda: packet in read(rig.transcript)[mark:]), "the 8 values went out as one packet")
    sent = read(rig.transcript)[mark:]
    check(sent.count(packet) == 1 and "\n# " not in "\n" + sent, "no command per channel beside the packet:\n" + sent)
    check(plc.read_holding_registers(0, 8, slave=1).registers == values, "FC03 reads the 8 values back")

    # Some channels only: one command each, the others left alone.
    mark = len(read(rig.transcript))
    check(exception_of(plc.write_registers(4, [40, 50], slave=1)) is None, "FC16 of 2 registers answered")
    check(wait_for(lambda: "# 4 40\n# 5 50\n" in read(rig.transcript)[mark:]), "two registers are two commands")
    check(plc.read_holding_registers(0, 8, slave=1).registers == values[:4] + [40, 50] + values[6:],
          "the channels not written keep their values")

    check(exception_of(plc.write_register(2, 700, slave=1)) is None, "FC06 answered")
    check(wait_for(lambda: "# 2 700\n" in read(rig.transcript)[mark:]), "FC06 is one brightness command")

    mark = len(read(rig.transcript))
    bits = [True, False, True, False, False, False, False, True]
    check(exception_of(plc.write_coils(0, bits, slave=1)) is None, "FC15 answered")
    check(wait_for(lambda: "setonex 00000085" in read(rig.transcript)[mark:]), "FC15 is one on mask")
    check(read(rig.transcript)[mark:].count("setonex") == 1, "FC15 sends exactly one setonex")
    check(plc.read_coils(0, 8, slave=1).bits[:8] == bits, "FC01 reads the coils back")

    # The simulated model has 8 channels: channel 13 is refused before anything is sent.
    mark = len(read(rig.transcript))
    check(exception_of(plc.write_coil(12, True, slave=1)) == 3, "a channel above the model's count is 03")
    check(exception_of(plc.write_coils(0, [True] * 16, slave=1)) == 3, "a mask above the model's count is 03")
    check("setonex" not in read(rig.transcript)[mark:], "a refused coil write sends no on mask")

    metrics = rig.metrics()
    check('lumitraxd_modbus_requests_total{function="16",exception="0"} 2' in metrics, "FC16 counted:\n" + metrics)
    check('lumitraxd_modbus_requests_total{function="5",exception="3"} 1' in metrics, "refused FC05 counted")
    check('lumitraxd_changes_total{controller="top",via="modbus"} 4' in metrics, "four changes via modbus")
    check("via modbus" in rig.log(), "the change is logged with its front end")
    check(wait_for(lambda: events.has('"via":"modbus"') and events.has('"client":"127.0.0.1"')),
          "the change is an event naming the PLC and its front end")
    check(wait_for(lambda: events.has('"set":{"on":[1,3,8]}')), "the coil write's event carries the on list")
    check(wait_for(lambda: events.has('"set":{"brightness":[100,101,102,103,40,50]}')),
          "a write of some registers carries the channels up to its last")
    events.close()


def recipe_by_number(rig, plc):
    mark = len(read(rig.transcript))
    check(exception_of(plc.write_register(100, 12, slave=1)) is None, "writing recipe 12 is acknowledged")
    state = wait_for(lambda: plc.read_input_registers(100, 3, slave=1).registers[0] not in (0, 1) and
                     plc.read_input_registers(100, 3, slave=1).registers, timeout=20)
    check(state == [2, 12, 0], f"input 100..102 say verified recipe 12, no difference: {state}")
    check("setonex 00000005" in read(rig.transcript)[mark:], "the recipe's on mask reached the wire")
    records = [json.loads(line) for line in read(rig.record).splitlines()]
    check(len(records) == 1 and records[0]["number"] == 12 and records[0]["result"] == "verified",
          f"the apply is on record: {records}")

    check(exception_of(plc.write_register(100, 77, slave=1)) == 3, "an unknown recipe number is 03")
    check(len(read(rig.record).splitlines()) == 1, "an unknown recipe writes no record")
    check(plc.read_input_registers(101, 1, slave=1).registers == [12], "and leaves the last apply as it was")


def exceptions(rig, plc):
    mark = len(read(rig.transcript))
    check(exception_of(plc.write_register(0, 1025, slave=1)) == 3, "brightness 1025 is 03")
    check(exception_of(plc.write_registers(0, [5, 2000], slave=1)) == 3, "one bad value of several is 03")
    check(exception_of(plc.read_holding_registers(50, 1, slave=1)) == 2, "an unmapped register is 02")
    check(exception_of(plc.write_register(16, 1, slave=1)) == 2, "register 16 is 02")
    check(exception_of(plc.read_input_registers(0, 1, slave=9)) == 10, "a unit with no controller is 0A")
    check(exception_of(plc.write_register(0, 5, slave=2)) == 11, "a controller not connected is 0B")
    check(plc.read_input_registers(0, 1, slave=2).registers == [0], "its input 0 reads 0")
    check(exception_of(plc.read_discrete_inputs(0, 1, slave=1)) == 1, "an unsupported function is 01")
    sent = read(rig.transcript)[mark:]
    check("\n# " not in "\n" + sent and "setbrightpacket" not in sent and " 1b 00 20 " not in sent,
          "no refused write reached the wire:\n" + sent)


def bad_clients_do_not_disturb(rig, plc):
    half = socket.create_connection((rig.host, rig.port))
    half.sendall(b"\x00\x01\x00\x00\x00\x06\x01")  # a header, then nothing
    garbage = socket.create_connection((rig.host, rig.port))
    garbage.sendall(b"GET / HTTP/1.1\r\nHost: x\r\n\r\n")
    garbage.settimeout(10)
    check(garbage.recv(100) == b"", "a client sending what is not Modbus is closed")
    for _ in range(20):
        check(plc.read_input_registers(0, 7, slave=1).registers[0] == 1, "another client is answered meanwhile")
    half.settimeout(10)
    check(half.recv(100) == b"", "a client stopping inside a frame is closed")

    # The connection limit: the PLC holds one of 16, so the 16th extra one is closed at once.
    extra = [socket.create_connection((rig.host, rig.port)) for _ in range(16)]
    extra[-1].settimeout(10)
    check(extra[-1].recv(100) == b"", "a connection past the limit is closed")
    check(plc.read_input_registers(6, 1, slave=1).registers == [1], "the PLC is still answered at the limit")
    for s in extra:
        s.close()
    for s in (half, garbage):
        s.close()


def controller_up(plc):
    a = plc.read_input_registers(0, 1, slave=1)
    b = plc.read_input_registers(200, 1, slave=1)
    return not a.isError() and not b.isError() and a.registers == [1] and b.registers == [8]


def reload_moves_a_unit(rig, plc):
    with open(rig.config) as f:
        text = f.read()
    with open(rig.config, "w") as f:
        f.write(text.replace("unit = 1\n", "unit = 5\n"))
    rig.service.send_signal(signal.SIGHUP)

    def on_unit_5():
        r = plc.read_input_registers(0, 1, slave=5)
        return not r.isError() and r.registers == [1]
    check(wait_for(on_unit_5), "after a reload the controller answers its new unit, still connected")
    check(exception_of(plc.read_input_registers(0, 1, slave=1)) == 10, "and its old unit reaches none")


def allow_list_closes_others(lumitraxd):
    """A second service whose allow list names 127.0.0.2 only: 127.0.0.1 is closed at once."""
    with tempfile.TemporaryDirectory() as d:
        config = os.path.join(d, "lumitraxd.toml")
        with open(config, "w") as f:
            f.write('listen = "127.0.0.1:0"\nmodbus = "127.0.0.1:0"\nmodbus_allow = ["127.0.0.2"]\n')
        p = subprocess.Popen([lumitraxd, "--config", config], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                             text=True)
        try:
            p.stdout.readline()
            host, port = p.stdout.readline().strip()[len("modbus://"):].rsplit(":", 1)
            request = b"\x00\x07\x00\x00\x00\x06\x01\x04\x00\x00\x00\x01"  # FC04, unit 1
            other = socket.create_connection((host, int(port)), timeout=10)
            try:
                other.sendall(request)
                answer = other.recv(100)
            except ConnectionResetError:
                answer = b""
            check(answer == b"", f"a client not in modbus_allow is closed unanswered: {answer!r}")
            other.close()
            allowed = socket.create_connection((host, int(port)), timeout=10, source_address=("127.0.0.2", 0))
            allowed.sendall(request)
            check(allowed.recv(100) == b"\x00\x07\x00\x00\x00\x03\x01\x84\x0a",
                  "a client in modbus_allow is answered (0A: no controller on unit 1)")
            allowed.close()
        finally:
            p.terminate()
            p.wait(timeout=30)


def main():
    if len(sys.argv) != 3:
        raise SystemExit(__doc__)
    rig = Rig(sys.argv[1], sys.argv[2])
    try:
        plc = rig.client()
        up = wait_for(lambda: controller_up(plc), timeout=15)
        check(up, "the controller shows as connected with its 8 channels")
        for scenario in (writes_reach_the_wire, recipe_by_number, exceptions, bad_clients_do_not_disturb,
                         reload_moves_a_unit):
            print("--", scenario.__name__, flush=True)
            scenario(rig, plc)
        plc.close()
        print("-- allow_list_closes_others", flush=True)
        allow_list_closes_others(sys.argv[1])
    finally:
        log = rig.log()
        status = rig.close()
    check(status == 0, f"lumitraxd ended with status 0 after SIGTERM, not {status}")
    if FAILURES:
        print(log)
    print(f"{CHECKS[0] - len(FAILURES)} passed, {len(FAILURES)} failed")
    if FAILURES:
        sys.exit(1)


if __name__ == "__main__":
    main()
