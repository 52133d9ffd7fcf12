"""lumitraxd on MQTT end to end: Debian's mosquitto, two services each with a simulated
controller, paho as the other side, and lumitrax fleet.

    test_mqtt_e2e.py LUMITRAXD LUMITRAX_SIM LUMITRAX

Exit 77 (skipped) when mosquitto or paho is missing.
"""

import json
import urllib.request
import os
import signal
import subprocess
import sys
import tempfile
import threading
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import mqtt_harness as h  # noqa: E402

try:
    import paho.mqtt.client as mqtt
    from paho.mqtt.packettypes import PacketTypes
    from paho.mqtt.properties import Properties
except ImportError:
    mqtt = None

LUMITRAXD, SIM, CLI = (sys.argv[1:4] + [None, None, None])[:3]
RECIPE = "housing-a12-top"


class Listener:
    """A paho client (MQTT 5) that keeps every message it gets."""

    def __init__(self, port, topics):
        self.messages = []
        self.lock = threading.Lock()
        self.client = mqtt.Client(protocol=mqtt.MQTTv5)
        self.client.on_message = self._on_message
        self.client.connect("127.0.0.1", port)
        self.client.loop_start()
        for t in topics:
            result, mid = self.client.subscribe(t, qos=1)
            assert result == mqtt.MQTT_ERR_SUCCESS
        self.subscribed = True

    def _on_message(self, client, userdata, msg):
        with self.lock:
            self.messages.append(msg)

    def find(self, predicate):
        with self.lock:
            for m in self.messages:
                if predicate(m):
                    return m
        return None

    def wait(self, predicate, what, timeout=15):
        return h.wait_for(lambda: self.find(predicate), timeout, what)

    def publish(self, topic, payload, properties=None):
        info = self.client.publish(topic, payload, qos=1, properties=properties)
        info.wait_for_publish(10)

    def close(self):
        self.client.loop_stop()
        self.client.disconnect()


def result_for(listener, cid, timeout=15):
    m = listener.wait(lambda m: m.topic.endswith("/result") and h.loads(m.payload).get("id") == cid,
                      "the result of " + cid, timeout)
    return h.loads(m.payload)


class MqttE2E(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        d = cls.tmp.name
        cls.recipes = os.path.join(d, "recipes")
        h.write_recipe(cls.recipes, RECIPE)
        cls.broker = h.Broker(d)
        cls.sims = [h.Sim(SIM, os.path.join(d, "t%d.txt" % i)) for i in range(2)]
        cls.services = [
            h.Service(LUMITRAXD, d, "a", [("top", cls.sims[0].device)], cls.broker.url, "lumitrax/t/a", cls.recipes),
            h.Service(LUMITRAXD, d, "b", [("top", cls.sims[1].device)], cls.broker.url, "lumitrax/t/b", cls.recipes),
        ]

    @classmethod
    def tearDownClass(cls):
        for s in cls.services:
            s.stop()
        for s in cls.sims:
            s.stop()
        cls.broker.stop()
        cls.tmp.cleanup()

    def listener(self, topics):
        listener = Listener(self.broker.port, topics)
        self.addCleanup(listener.close)
        return listener

    def connected_state(self, listener, prefix, check=lambda s: True):
        def ok(m):
            if m.topic != prefix + "/top/state":
                return False
            s = h.loads(m.payload)
            return s.get("connection") == "connected" and "channels" in s and check(s)
        return h.loads(listener.wait(ok, "a connected state under " + prefix).payload)

    def fleet(self, *args):
        return subprocess.run([CLI] + list(args), capture_output=True, text=True, timeout=60)

    def test_1_state_retained_and_commands(self):
        listen = self.listener(["lumitrax/t/a/#"])
        state = self.connected_state(listen, "lumitrax/t/a")
        self.assertEqual(state["controller"], "top")
        self.assertTrue(state["identity"]["serial"])
        self.assertEqual(len(state["channels"]), 16)
        for key in ("error_status", "io", "last_recipe"):
            self.assertIn(key, state)
        self.assertEqual(listen.wait(lambda m: m.topic == "lumitrax/t/a/status", "status").payload, b"online")
        # Retained: a subscriber that comes later gets it at once.
        late = self.listener(["lumitrax/t/a/top/state"])
        self.assertEqual(h.loads(late.wait(lambda m: m.retain, "the retained state").payload)["controller"], "top")

        # A set goes to the wire; the result comes on the response topic with the correlation data.
        props = Properties(PacketTypes.PUBLISH)
        props.ResponseTopic = "reply/here"
        props.CorrelationData = b"corr-1"
        replies = self.listener(["reply/here"])
        listen.publish("lumitrax/t/a/top/set", json.dumps({"id": "c1", "channel": 3, "brightness": 512, "on": True}),
                       props)
        reply = replies.wait(lambda m: m.topic == "reply/here", "the reply on the response topic")
        self.assertEqual(reply.properties.CorrelationData, b"corr-1")
        body = h.loads(reply.payload)
        self.assertEqual((body["id"], body["ok"]), ("c1", True), body)
        h.wait_for(lambda: "# 2 512" in self.sims[0].writes(), what="brightness 512 on the wire (from 0)")
        # The state follows the change (read after it, published because it differs).
        self.connected_state(listen, "lumitrax/t/a", lambda s: s["channels"][2]["brightness"] == 512)
        # A write from another front end is followed from what it set, as the list's "on" says:
        # exactly those channels on.
        put = urllib.request.Request(self.services[0].url + "/api/v1/controllers/top/channels", method="PUT",
                                     data=json.dumps({"brightness": [7, 8], "on": [2]}).encode(),
                                     headers={"Content-Type": "application/json"})
        urllib.request.urlopen(put, timeout=10).read()
        self.connected_state(listen, "lumitrax/t/a", lambda s: [(c["brightness"], c["on"]) for c in s["channels"][:3]]
                             == [(7, False), (8, True), (512, False)])
        event = listen.wait(lambda m: m.topic == "lumitrax/t/a/top/event" and b'"change"' in m.payload, "an event")
        self.assertEqual(h.loads(event.payload)["event"]["client"], "mqtt")
        self.assertEqual(h.loads(event.payload)["event"]["via"], "mqtt")

        # Bad commands: each answered with its kind, none writes anything.
        before = self.sims[0].writes()
        bad = [
            ("b1", "top", b"not json", "argument"),
            ("b2", "top", json.dumps({"id": "b2", "channel": 3, "brightness": 1, "colour": "red"}), "argument"),
            ("b3", "top", json.dumps({"id": "b3", "channel": 3, "brightness": 1025}), "argument"),
            ("b4", "top", json.dumps({"id": "b4", "channel": 17, "on": True}), "argument"),
            ("b5", "top", json.dumps({"id": "b5", "recipe": "no-such-recipe"}), "not found"),
            ("b6", "top", json.dumps({"id": "b6", "channel": 1, "brightness": 1, "pad": "x" * 70000}), "too large"),
            ("b7", "nope", json.dumps({"id": "b7", "channel": 1, "brightness": 1}), "not found"),
            ("b8", "top", json.dumps({"id": "b8", "channel": 1, "brightness": 9, "sent": "2020-01-01T00:00:00Z"}),
             "expired"),
            ("b9", "top", json.dumps({"id": "b9", "channel": 1, "brightness": 9, "recipe": RECIPE}), "argument"),
        ]
        for cid, controller, payload, kind in bad:
            listen.publish("lumitrax/t/a/%s/set" % controller, payload)
        for cid, controller, payload, kind in bad:
            if cid in ("b1", "b6"):  # not read far enough for an id: answered with a null one
                continue
            r = result_for(listen, cid)
            self.assertFalse(r["ok"], r)
            self.assertEqual(r["error"]["kind"], kind, (cid, r))
            self.assertTrue(r["error"]["message"])

        def anonymous():
            with listen.lock:
                found = [h.loads(m.payload) for m in listen.messages
                         if m.topic.endswith("/result") and h.loads(m.payload)["id"] is None]
            return found if len(found) >= 2 else None
        self.assertEqual(sorted((r["ok"], r["error"]["kind"]) for r in h.wait_for(anonymous, what="two null ids")),
                         [(False, "argument"), (False, "too large")])
        # A good command after them: once its result is in, everything before it was handled.
        listen.publish("lumitrax/t/a/top/set", json.dumps({"id": "c2", "channel": 5, "on": False}))
        self.assertTrue(result_for(listen, "c2")["ok"])
        after = self.sims[0].writes()
        self.assertEqual(after[:len(before)], before)
        self.assertEqual([w for w in after[len(before):] if not w.startswith("setonex")], [], after[len(before):])

    def test_2_fleet_lists_and_applies(self):
        listen = self.listener(["lumitrax/t/#"])
        for p in ("lumitrax/t/a", "lumitrax/t/b"):
            self.connected_state(listen, p)
        r = self.fleet("--json", "fleet", "--broker", self.broker.url, "--prefix", "lumitrax/t/#")
        self.assertEqual(r.returncode, 0, r.stderr)
        doc = json.loads(r.stdout)
        where = sorted(c["where"] for c in doc["controllers"])
        self.assertEqual(where, ["lumitrax/t/a/top", "lumitrax/t/b/top"])
        self.assertTrue(all(c["connection"] == "connected" and c["serial"] for c in doc["controllers"]), doc)

        r = self.fleet("fleet", "--broker", self.broker.url, "apply", RECIPE, "--where", "lumitrax/t/+/top")
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        lines = r.stdout.splitlines()
        self.assertIn("lumitrax/t/a/top  verified", lines)
        self.assertIn("lumitrax/t/b/top  verified", lines)
        for sim in self.sims:
            h.wait_for(lambda: "# 1 200" in sim.writes(), what="the recipe on the wire")
        # The state says which recipe was last applied, and that it was verified.
        self.connected_state(listen, "lumitrax/t/b",
                             lambda s: (s["last_recipe"] or {}).get("recipe") == RECIPE
                             and s["last_recipe"]["result"] == "verified")

        # Usage errors: exit 2, nothing sent.
        writes = [sim.writes() for sim in self.sims]
        for args in (["--broker", "http://127.0.0.1:1"], ["--broker", self.broker.url, "apply", RECIPE],
                     ["--broker", self.broker.url, "apply", RECIPE, "--where", "a/#/b"],
                     ["--broker", self.broker.url, "--where", "lumitrax/t/#"], ["--prefix", "lumitrax/#"],
                     ["--broker", self.broker.url, "--wait", "0"], ["--broker", self.broker.url, "--colour"]):
            r = self.fleet("--json", "fleet", *args)
            self.assertEqual(r.returncode, 2, (args, r.stdout, r.stderr))
            self.assertEqual(json.loads(r.stdout)["error"]["kind"], "argument", args)
        r = self.fleet("fleet", "--broker", "mqtt://127.0.0.1:%d" % h.free_port())
        self.assertEqual(r.returncode, 3, r.stderr)
        self.assertEqual([sim.writes() for sim in self.sims], writes)

        r = self.fleet("fleet", "--broker", self.broker.url, "apply", "no-such-recipe", "--where", "lumitrax/t/#")
        self.assertEqual(r.returncode, 1, r.stdout)
        self.assertEqual(r.stdout.count("failed (not found"), 2, r.stdout)

    def test_3_broker_restart_then_will(self):
        self.broker.stop()
        self.broker.start()  # no persistence: the retained states are gone until republished
        listen = self.listener(["lumitrax/t/#"])
        for p in ("lumitrax/t/a", "lumitrax/t/b"):
            self.connected_state(listen, p)
        listen.wait(lambda m: m.topic == "lumitrax/t/b/status" and m.payload == b"online", "b online again")

        self.services[1].stop(signal.SIGKILL)
        listen.wait(lambda m: m.topic == "lumitrax/t/b/status" and m.payload == b"offline", "b's will", 30)
        late = self.listener(["lumitrax/t/b/status"])
        late.wait(lambda m: m.retain and m.payload == b"offline", "the will retained")
        r = self.fleet("fleet", "--broker", self.broker.url, "--prefix", "lumitrax/t/#")
        self.assertIn("lumitrax/t/b/top  service-offline", r.stdout)
        # apply does not wait for a service that is gone; the one that is there still verifies.
        before = self.sims[1].writes()
        r = self.fleet("fleet", "--broker", self.broker.url, "apply", RECIPE, "--where", "lumitrax/t/#")
        self.assertEqual(r.returncode, 1, r.stdout)
        self.assertIn("lumitrax/t/a/top  verified", r.stdout)
        self.assertIn("lumitrax/t/b/top  failed (port: its service is offline", r.stdout)
        self.assertEqual(self.sims[1].writes(), before)

        # A clean stop says offline itself and ends well.
        self.services[0].stop()
        self.assertEqual(self.services[0].proc.returncode, 0, self.services[0].log())
        listen.wait(lambda m: m.topic == "lumitrax/t/a/status" and m.payload == b"offline", "a offline")


if __name__ == "__main__":
    if mqtt is None or not h.have_mosquitto() or not all((LUMITRAXD, SIM, CLI)):
        print("skipped: mosquitto, python3-paho-mqtt or the programs are missing")
        sys.exit(77)
    result = unittest.main(argv=[sys.argv[0], "-v"], exit=False).result
    sys.exit(0 if result.wasSuccessful() else 1)
