"""The Python module against lumitrax-sim (path in LUMITRAX_SIM), checked at the wire through
the simulator's transcript where the module's promise is about what is sent."""

import os
import pathlib
import signal
import subprocess
import threading
import time

import pytest

import lumitrax


class Sim:
    def __init__(self, tmp_path, *args):
        self.transcript = tmp_path / "transcript.txt"
        self.process = subprocess.Popen(
            [os.environ["LUMITRAX_SIM"], "--transcript", str(self.transcript), *args],
            stdout=subprocess.PIPE, text=True)
        self.path = self.process.stdout.readline().strip()
        assert self.path, "lumitrax-sim printed no device path"

    def received(self):
        return self.transcript.read_text().splitlines() if self.transcript.exists() else []

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=10)


@pytest.fixture
def sim(tmp_path, request):
    s = Sim(tmp_path, *getattr(request, "param", ()))
    yield s
    s.stop()


@pytest.mark.parametrize("sim", [("--model", "LX-0416", "--serial", "SN42", "--module-id", "7")], indirect=True)
def test_identity(sim):
    with lumitrax.Controller(pathlib.Path(sim.path)) as c:  # a path object as well as a str
        i = c.identity()
    assert (i.model, i.serial_number, i.module_id, i.firmware) == ("LX-0416", "SN42", 7, "2.5.0")


def test_sets_are_seen_by_state(sim):
    with lumitrax.Controller(sim.path) as c:
        c.set_brightness_packet([10 * k for k in range(16)])
        c.set_brightness(3, 512)
        c.switch_all(False)
        assert c.switch_channels([2, 8], True) == 0x0082
        c.set_trigger(lumitrax.TriggerRow(2, enable=True, edge=lumitrax.Edge.Negative, delay_us=100, on_us=50))
        s = c.state()
    assert [ch.brightness for ch in s.channels[:4]] == [0, 10, 512, 30]
    assert [ch.channel for ch in s.channels if ch.on] == [2, 8]
    t = s.triggers[1]
    assert (t.row, t.enable, t.edge, t.delay_us, t.on_us) == (2, True, lumitrax.Edge.Negative, 100, 50)


MISPLACED_DAC_ROW = lumitrax.Configuration(dac=[lumitrax.DacRow(5, 0.1, 1.0)] + [None] * 15)


@pytest.mark.parametrize("call, error", [(call, ValueError) for call in [
    lambda c: c.set_brightness(0, 1),
    lambda c: c.set_brightness(17, 1),
    lambda c: c.set_brightness(1, 1025),
    lambda c: c.set_brightness(1, 2**40),  # beyond a C int: once a TypeError
    lambda c: c.set_all_brightness(-1),
    lambda c: c.set_brightness_packet([0] * 15),
    lambda c: c.set_brightness_packet([0] * 15 + [2000]),
    lambda c: c.switch_channels([], True),
    lambda c: c.set_trigger(lumitrax.TriggerRow(5, delay_us=1, on_us=1)),
    lambda c: c.set_trigger(lumitrax.TriggerRow(1, delay_us=4001, on_us=1)),
    lambda c: c.save_bright_memory(10),
    lambda c: c.load_trigger_memory(-1),
    lambda c: c.raw("x" * 63),
    lambda c: setattr(c, "timeout", 0),
    lambda c: c.verify_configuration(lumitrax.Configuration(module_id=257)),  # would agree with ID 1
    lambda c: c.apply_configuration(MISPLACED_DAC_ROW),  # channel 5's row in channel 1's place
    lambda c: c.verify_configuration(MISPLACED_DAC_ROW),
]] + [(call, TypeError) for call in [
    # None or 0.0 taken for False would switch the lights off.
    lambda c: c.switch_all(None),
    lambda c: c.switch_all(0.0),
    lambda c: c.switch_channels([3], None),
    lambda c: c.set_brightness(True, 100),  # True is no channel number
    lambda c: c.set_trigger(lumitrax.TriggerRow(1, enable=None)),
    lambda c: setattr(lumitrax.TriggerRow(), "enable", 1),
    lambda c: lumitrax.Configuration(use_pwm=0),
    lambda c: c.set_traffic_handler(5),
]])
def test_bad_arguments_raise_and_send_nothing(sim, call, error):
    with lumitrax.Controller(sim.path) as c:
        with pytest.raises(error):
            call(c)
    assert sim.received() == []


def test_close_lets_a_call_on_another_thread_finish(sim):
    c = lumitrax.Controller(sim.path)
    outcome = []
    worker = threading.Thread(target=lambda: outcome.append(c.set_all_brightness(333)))
    worker.start()
    while not sim.received():
        time.sleep(0.001)
    c.close()
    worker.join()
    assert outcome == [None]
    with lumitrax.Controller(sim.path) as again:
        assert {ch.brightness for ch in again.state().channels} == {333}


def using(sim, action, timeout_ms=1000):
    # Closed by with, not left to the garbage collector: an exception's traceback would keep
    # the port open beyond the test.
    with lumitrax.Controller(sim.path, timeout_ms) as c:
        action(c)


def call_after_hangup(c):
    c.fire_one_shot()  # the simulator answers, then closes its terminal
    time.sleep(0.3)
    c.fire_one_shot()


@pytest.mark.parametrize("sim, call, error, kind", [
    ((), lambda s: lumitrax.Controller(s.path + "-missing"), lumitrax.PortError, lumitrax.ErrorKind.Port),
    (("--silent",), lambda s: using(s, lumitrax.Controller.identity, 200), lumitrax.NoAnswerError,
     lumitrax.ErrorKind.NoAnswer),
    ((), lambda s: using(s, lambda c: c.raw("nonsense"), 200), lumitrax.RefusedError, lumitrax.ErrorKind.Refused),
    (("--hangup-after", "1"), lambda s: using(s, call_after_hangup), lumitrax.PortError, lumitrax.ErrorKind.Port),
], indirect=["sim"])
def test_failures_raise_lumitrax_errors(sim, call, error, kind):
    with pytest.raises(error) as caught:
        call(sim)
    assert isinstance(caught.value, lumitrax.Error) and caught.value.kind == kind


def test_error_kinds_are_named_as_the_tools_json_names_them():
    # The names scripts match on, as docs/json.md publishes them and C++ ErrorKindName() gives them.
    kinds = ("Argument", "Port", "NoAnswer", "Refused", "File", "Interrupted")
    assert [lumitrax.error_kind_name(getattr(lumitrax.ErrorKind, k)) for k in kinds] == [
        "argument", "port", "no answer", "refused", "file", "interrupted"]


def test_leaving_with_closes_the_port_and_sends_nothing(sim):
    with lumitrax.Controller(sim.path) as c:
        c.switch_all(True)
        with pytest.raises(lumitrax.PortError):
            lumitrax.Controller(sim.path)
    sent = sim.received()
    with pytest.raises(lumitrax.PortError):
        c.identity()
    with lumitrax.Controller(sim.path) as again:
        assert all(ch.on for ch in again.state().channels)
    assert sim.received()[:len(sent)] == sent and "setonex 00000000" not in sim.received()


def test_close_from_the_traffic_handler_raises_instead_of_hanging(sim):
    refused = []

    def handler(direction, text):
        refused.append(pytest.raises(ValueError, c.close))

    with lumitrax.Controller(sim.path) as c:
        c.set_traffic_handler(handler)
        c.set_brightness(1, 5)
        assert refused and not c.closed
    assert c.closed


@pytest.mark.parametrize("sim", [("--silent",)], indirect=True)
def test_ctrl_c_does_not_wait_out_a_long_timeout(sim):
    with lumitrax.Controller(sim.path, 20000) as c:
        threading.Timer(0.3, os.kill, (os.getpid(), signal.SIGINT)).start()
        with pytest.raises(KeyboardInterrupt) as caught:
            c.identity()
        assert isinstance(caught.value.__context__, lumitrax.CancelledError)
    started = time.monotonic()
    threading.Timer(0.3, os.kill, (os.getpid(), signal.SIGINT)).start()
    with pytest.raises(KeyboardInterrupt):
        lumitrax.search([sim.path], 20000)
    assert time.monotonic() - started < 10  # not the search's 20 s


@pytest.mark.parametrize("sim", [("--switch-every", "30")], indirect=True)
def test_monitor_yields_lines_and_ends_on_ctrl_c(sim):
    with lumitrax.Controller(sim.path) as c:
        lines = []
        for line in c.monitor():
            lines.append(line)
            if len(lines) == 3:
                break
        assert all(line.startswith("getswitch ") for line in lines)
        threading.Timer(0.2, os.kill, (os.getpid(), signal.SIGINT)).start()
        with pytest.raises(KeyboardInterrupt):
            for _ in c.monitor():
                pass
        assert c.identity().model  # the monitor let go of the controller
    # A monitor keeps its Controller open, even one the script holds no name for.
    lines = lumitrax.Controller(sim.path).monitor()
    time.sleep(0.1)
    assert next(lines).startswith("getswitch ")
    lines.stop()


def test_configuration_round_trip(sim, tmp_path):
    path = pathlib.Path(tmp_path / "rig.ini")
    with lumitrax.Controller(sim.path) as c:
        lumitrax.write_configuration_file(path, c.read_configuration())
        read = lumitrax.read_configuration_file(path)
        assert c.verify_configuration(read) == []
        read.offset = 1234
        assert [(d.field, d.configuration) for d in c.verify_configuration(read)] == [("pwm_offset", "1234")]
    with pytest.raises(lumitrax.ConfigError) as caught:
        lumitrax.parse_configuration("pwm_offset 1\nbogus 3\n", "rig.ini")
    assert [p.line for p in caught.value.problems] == [2]
    # DAC values read back as the decimals written, not as their float32 neighbours.
    row = lumitrax.parse_configuration("dac_bandwidth 0 0.2 1.5\n").dac[0]
    assert (row.low, row.high) == (0.2, 1.5)
