"""The Python module against lumitrax-sim (path in LUMITRAX_SIM), checked at the wire through
the simulator's transcript where the module's promise is about what is sent."""

import hashlib
import json
import os
import pathlib
import queue
import signal
import subprocess
import sys
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
    lambda c: c.set_on_mask(-1),
    lambda c: c.set_on_mask(0x10000),
    lambda c: lumitrax.Controller(c.target, 0),  # refused before the port is opened (it is held)
    lambda c: lumitrax.Controller(c.target, connect_timeout_ms=600001),
    lambda c: lumitrax.Controller(c.target, heartbeat_ms=99),
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
    lambda c: c.set_outputs(1, 0),
    lambda c: c.set_buzzer(None),
    lambda c: c.set_error_ignore(0.0),
    lambda c: c.on_connection_change(None),
    lambda c: lumitrax.Controller(c.target, reconnect=0),
]])
def test_bad_arguments_raise_and_send_nothing(sim, call, error):
    with lumitrax.Controller(sim.path) as c:
        with pytest.raises(error):
            call(c)
    assert sim.received() == []


def outputs_both_ways(c):
    c.set_outputs(True, False)
    first = c.port_status()
    c.set_outputs(False, True)
    return [first, c.port_status()]


def on_mask_read_back(c):
    c.set_brightness(3, 512)
    c.set_on_mask(0b101)
    b, s = c.current_brightness(), c.state()
    third = b.channels[2]
    return b.on_mask, b.memory == s.bright_memory, b.channels == s.channels, (third.channel, third.brightness, third.on)


def factory_reset_undoes(c):
    fresh = c.current_brightness()
    c.set_brightness(3, 512)
    changed = c.current_brightness()
    c.factory_reset()
    return changed != fresh, c.current_brightness() == fresh


@pytest.mark.parametrize("sim, action, expected", [
    (("--channels", "12"), lambda c: c.channel_count(), 12),
    (("--error", "3,17"), lambda c: c.error_status(), lumitrax.ErrorStatus(code=3, detail=17)),
    (("--inputs", "2"), outputs_both_ways,
     [lumitrax.PortStatus(in1=True, out0=True), lumitrax.PortStatus(in1=True, out1=True)]),
    ((), on_mask_read_back, (5, True, True, (3, 512, True))),
    ((), factory_reset_undoes, (True, True)),
], indirect=["sim"])
def test_single_questions_read_what_was_set(sim, action, expected):
    with lumitrax.Controller(sim.path) as c:
        assert action(c) == expected


@pytest.mark.parametrize("call, line", [
    (lambda c: c.set_outputs(False, True), "setoutportall 2"),
    (lambda c: c.set_on_mask(0x0005), "setonex 00000005"),
    (lambda c: c.set_error_ignore(True), "seterrignore 1"),
    (lambda c: c.set_error_ignore(False), "seterrignore 0"),
    (lambda c: c.set_buzzer(True), "setbuzzer 1"),
    (lambda c: c.factory_reset(), "factoryreset"),
])
def test_commands_on_the_wire(sim, call, line):
    with lumitrax.Controller(sim.path) as c:
        call(c)
    assert [sent for sent in sim.received() if not sent.startswith("get")] == [line]


@pytest.mark.parametrize("call", [
    lambda c: c.set_brightness(9, 100),
    lambda c: c.switch_channels([2, 9], True),
    lambda c: c.set_on_mask(0x0100),
])
def test_a_channel_above_the_models_count_raises_and_sends_no_command(sim, call):
    with lumitrax.Controller(sim.path) as c:  # the simulator's model has 8 channels
        with pytest.raises(ValueError):
            call(c)
    assert sim.received() and all(line.startswith("get") for line in sim.received())


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


def within_deadline(lines, take, deadline_s=20):
    """take(lines), with the monitor stopped should it wait past the deadline."""
    guard = threading.Timer(deadline_s, lines.stop)
    guard.start()
    try:
        return take(lines)
    finally:
        guard.cancel()


def first_line(prefix):
    return lambda lines: next((line for line in lines if line.startswith(prefix)), None)


@pytest.mark.parametrize("sim", [("--switch-every", "30")], indirect=True)
def test_monitor_runs_beside_calls(sim):
    with lumitrax.Controller(sim.path) as c:
        # A call from the loop itself: the monitor then sees its answer.
        for n, line in enumerate(c.monitor()):
            assert n < 1000, "the answer never came"
            if line.startswith("getswitch "):
                assert c.error_status() == lumitrax.ErrorStatus()
            elif line.startswith("geterrstatus"):
                break
        # A monitor on another thread while this one makes calls.
        lines = c.monitor()
        found = []
        watcher = threading.Thread(target=lambda: found.append(within_deadline(lines, first_line("getportstatus"))))
        watcher.start()
        assert c.port_status() == lumitrax.PortStatus()
        watcher.join()
        assert found[0] is not None


def next_state(states, deadline_s=20):
    """The next state a connection change callback put into states, waiting with a deadline."""
    return states.get(timeout=deadline_s)


@pytest.mark.parametrize("reconnect", [True, False])
def test_the_simulator_killed_and_started_again(tmp_path, reconnect):
    link = str(tmp_path / "lumitrax")
    sims = [Sim(tmp_path, "--link", link)]
    states = queue.Queue()
    c = lumitrax.Controller(link, reconnect=reconnect)
    try:
        c.on_connection_change(states.put)  # the Controller keeps the subscription
        lines = c.monitor()
        assert c.is_connected and c.connection_state == lumitrax.ConnectionState.CONNECTED
        sims[0].process.kill()
        sims[0].process.wait(timeout=10)
        down = lumitrax.ConnectionState.RECONNECTING if reconnect else lumitrax.ConnectionState.LOST
        assert next_state(states) == down
        assert not c.is_connected and c.connection_state == down
        with pytest.raises(lumitrax.PortError):
            c.identity()
        if not reconnect:
            with pytest.raises(lumitrax.PortError):
                within_deadline(lines, next)
        sims.append(Sim(tmp_path, "--link", link))
        if not reconnect:
            c.reconnect()
        seen = [next_state(states)]
        while seen[-1] != lumitrax.ConnectionState.CONNECTED:
            seen.append(next_state(states))
        assert c.is_connected and c.error_status() == lumitrax.ErrorStatus()
        if reconnect:  # the monitor went on across the reconnection
            assert within_deadline(lines, first_line("geterrstatus")) is not None
        c.close()
        assert next_state(states) == lumitrax.ConnectionState.CLOSED
        assert c.connection_state == lumitrax.ConnectionState.CLOSED and not c.is_connected
    finally:
        c.close()
        for s in sims:
            s.stop()


def test_connection_callbacks_cancel_and_report_their_errors(sim, monkeypatch):
    reported = []
    monkeypatch.setattr(sys, "unraisablehook", lambda u: reported.append(u.exc_value))
    heard, cancelled = [], []

    def failing(state):
        heard.append(state)
        raise RuntimeError("a callback's own fault")

    c = lumitrax.Controller(sim.path)
    c.on_connection_change(failing)
    c.on_connection_change(cancelled.append).cancel()
    c.close()  # delivers CLOSED before it returns
    assert heard == [lumitrax.ConnectionState.CLOSED] and cancelled == []
    assert [type(e) for e in reported] == [RuntimeError]


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


# Channel 3 at 512, channels 1 and 3 on; the simulator's model has 8 channels.
TOP_RECIPE = 'name = "housing-a12-top"\nnumber = 12\nbrightness = [100, 0, 512]\non = [1, 3]\n'


@pytest.mark.parametrize("text, attributes", [
    (TOP_RECIPE, dict(name="housing-a12-top", number=12, brightness=[100, 0, 512], on=[1, 3], triggers=[],
                      bright_memory=None, trigger_memory=None)),
    ('name = "strobe"\n[[trigger]]\nrow = 2\ndelay_us = 100\non_us = 50\nedge = "negative"\n'
     '[store]\nbright_memory = 3\ntrigger_memory = 4\n',
     dict(name="strobe", number=None, brightness=[], on=[],
          triggers=[lumitrax.RecipeTrigger(2, delay_us=100, on_us=50, edge=lumitrax.Edge.Negative)],
          bright_memory=3, trigger_memory=4)),
])
def test_recipes_load_with_their_fields_and_hash_and_write_back(tmp_path, text, attributes):
    path = tmp_path / "r.toml"
    path.write_bytes(text.encode())
    loaded = lumitrax.Recipe.load(path)
    assert {name: getattr(loaded, name) for name in attributes} == attributes
    assert loaded.sha256 == hashlib.sha256(text.encode()).hexdigest()
    assert lumitrax.Recipe.from_text(str(loaded)) == loaded
    assert loaded.to_toml() == str(loaded)


@pytest.mark.parametrize("text, where", [
    ('name = "x"\nbrightness = [1100]\n', ":2:"),
    ('name = "x"\ncolour = 3\n', ":2:"),
    ('name = "two words"\n', ":1:"),
    ('name = "x"\n[[trigger]]\nrow = 5\ndelay_us = 1\non_us = 1\n', ":3:"),
])
def test_bad_recipes_raise_file_error_naming_the_line(tmp_path, text, where):
    path = tmp_path / "bad.toml"
    path.write_text(text)
    with pytest.raises(lumitrax.FileError, match="bad.toml" + where):
        lumitrax.Recipe.load(path)


def test_a_recipe_folder_is_a_set(tmp_path):
    (tmp_path / "a.toml").write_text('name = "left"\nnumber = 1\n')
    (tmp_path / "b.toml").write_text('name = "right"\nnumber = 2\n')
    assert [r.name for r in lumitrax.check_recipe_folder(tmp_path)] == ["left", "right"]
    (tmp_path / "c.toml").write_text('name = "left"\nnumber = 3\n')
    with pytest.raises(lumitrax.FileError, match="left"):
        lumitrax.check_recipe_folder(str(tmp_path))


def test_recipe_applies_verifies_and_finds_a_channel_set_behind_its_back(sim, tmp_path):
    recipe = lumitrax.Recipe.from_text(TOP_RECIPE)
    record = tmp_path / "applied.jsonl"
    with lumitrax.Controller(sim.path) as c:
        applied = c.apply_recipe(recipe, record=record)
        assert (applied.result, applied.differences, applied.error) == ("verified", [], "")
        assert applied.steps_written and applied.steps_not_written == []
        assert c.verify_recipe(recipe).result == "verified"
        assert [ch.brightness for ch in c.state().channels[:3]] == [100, 0, 512]
        c.set_brightness(3, 600)
        differs = c.verify_recipe(recipe, record=str(record))
        assert differs.result == "differs"
        assert differs.differences == [lumitrax.RecipeDifference("brightness 3", "512", "600")]
        assert "600" in repr(differs)
        captured = c.capture_recipe("bench-7")
    assert (captured.name, captured.brightness[:3], captured.on) == ("bench-7", [100, 0, 600], [1, 3])
    lines = [json.loads(line) for line in record.read_text().splitlines()]
    assert [(r["action"], r["result"]) for r in lines] == [("apply", "verified"), ("verify", "differs")]


@pytest.mark.parametrize("call, error", [
    (lambda c: c.apply_recipe(lumitrax.Recipe("wide", on=[12])), ValueError),  # 8 channels
    (lambda c: c.apply_recipe(lumitrax.Recipe("bright", brightness=[2000])), ValueError),
    (lambda c: c.capture_recipe("two words"), ValueError),
])
def test_recipes_that_cannot_be_applied_send_nothing(sim, call, error):
    with lumitrax.Controller(sim.path) as c:
        with pytest.raises(error):
            call(c)
    assert all(line.startswith("get") for line in sim.received())
