#!/usr/bin/env python3
"""The real SCSI path, end to end: simulated enclosures served by the guest
kernel's SCSI target (TCMU behind tcm_loop), found and read by the agent in
the guest through /dev/sg* and SG_IO, and managed from this machine by
halvorinctl through QEMU's port forward. Each case fails on a fault and
prints its figure.

    run_cases.py --kernel VMLINUZ --initramfs FILE --build BUILD_DIR [--work DIR]
                 [--only 1,3]
"""

import argparse
import collections
import json
import os
import re
import socket
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from guest_vm import GuestVm  # noqa: E402

SOURCE = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SCENARIOS = ["jbod24.json", "jbod84-dual-path.json"]
JBOD24_WWN = "500A0B0C0D0E0F00"
SG_IO_TIMEOUT = 30  # what the manager asks of the agent for a read


class CaseFailed(AssertionError):
    pass


def check(condition, message):
    if not condition:
        raise CaseFailed(message)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for_listener(port, process, timeout=20):
    deadline = time.monotonic() + timeout
    while True:
        with socket.socket() as s:
            if s.connect_ex(("127.0.0.1", port)) == 0:
                return
        check(process.poll() is None, f"the agent for port {port} ended")
        check(time.monotonic() < deadline, f"nothing listens on port {port}")
        time.sleep(0.1)


class Rig:
    def __init__(self, args):
        self.args = args
        self.ctl = os.path.join(args.build, "apps", "halvorinctl")
        self.work = args.work or tempfile.mkdtemp(prefix="halvorin-kernel-")
        os.makedirs(self.work, exist_ok=True)
        self.port = free_port()
        self.vm = GuestVm(args.kernel, args.initramfs, self.port,
                          os.path.join(self.work, "console.log"))
        print(f"boot: {self.vm.boot_seconds:.1f} s to a shell "
              f"(guest uptime {self.vm.guest_uptime_at_ready:.1f} s)")
        scenarios = " ".join(f"/scenarios/{s}" for s in SCENARIOS)
        self.vm.run(f"halvorin-sim-tcmu --hold-file /run/hold {scenarios} >/run/bridge.log 2>&1 &")
        self.vm.run("enclosure.sh add 0 1 && enclosure.sh add 1 2")
        self.vm.run("for i in $(seq 300); do [ -e /dev/sg2 ] && break; sleep 0.1; done; [ -e /dev/sg2 ]",
                    timeout=60)
        self.start_agent()

    def start_agent(self):
        # QEMU accepts on the forwarded port whether or not the agent listens.
        self.vm.run(": >/run/agent.log")
        self.vm.run("halvorin-agentd -a 10.0.2.0/24 -v >>/run/agent.log 2>&1 & echo $! >/run/agent.pid")
        self.vm.run("for i in $(seq 200); do grep -q 'agent listening' /run/agent.log && break; "
                    "sleep 0.1; done; grep -q 'agent listening' /run/agent.log")

    def ctl_run(self, *words, timeout=120, port=None):
        command = [self.ctl, "-H", f"127.0.0.1:{port or self.port}", *words]
        done = subprocess.run(command, capture_output=True, text=True, timeout=timeout)
        return done.returncode, done.stdout, done.stderr

    def show(self, port=None, expect=3):
        words = ["--timeout", "60", "show", "--json"]
        if expect is None:
            words.append("--allow-empty")
        else:
            words += ["--expect-enclosures", str(expect)]
        code, out, err = self.ctl_run(*words, port=port)
        check(code == 0, f"show exited {code}: {err}")
        return json.loads(out)

    def sg_nodes(self):
        _, out = self.vm.run("ls /sys/class/scsi_generic")
        return sorted(out.split())

    def scsi_address(self, sg):
        _, out = self.vm.run(f"basename $(readlink /sys/class/scsi_generic/{sg}/device)")
        return out.strip()

    def close(self):
        self.vm.close()


# ---- case 1: the same enclosures as the simulator on this machine, and as sg_ses decodes them

def without_moving_parts(report):
    """What does not move with the clock or the road the report took."""
    for key in ("time", "epoch"):
        report.pop(key, None)
    for host in report["hosts"]:
        host.pop("host", None)
        for enclosure in host["enclosures"]:
            for group in enclosure["groups"]:
                for element in group.get("elements", []):
                    if "reading" in element:
                        element["reading"].pop("value", None)
    return report


def sg_ses_elements(text):
    """(descriptor, status) of every element sg_ses --join lists."""
    elements = []
    current = None
    for line in text.splitlines():
        header = re.match(r"^(.*?)\s*\[(\d+),(-?\d+)\]\s+Element type: ", line)
        if header:
            current = header.group(1).strip() if int(header.group(3)) >= 0 else None
            continue
        status = re.search(r"status: ([A-Za-z][A-Za-z ]*)$", line)
        if status and current is not None:
            elements.append((current, status.group(1).strip().lower()))
            current = None
    return elements


def case_show_matches_simulator_and_sg_ses(rig):
    started = time.monotonic()
    guest = without_moving_parts(rig.show())
    local_port = free_port()
    scenario_args = []
    for s in SCENARIOS:
        scenario_args += ["--simulate", os.path.join(SOURCE, "sim", "scenarios", s)]
    agent = subprocess.Popen([os.path.join(rig.args.build, "apps", "halvorin-agentd"),
                              "-l", "127.0.0.1", "-p", str(local_port), "-a", "127.0.0.1",
                              *scenario_args], stderr=subprocess.DEVNULL)
    try:
        wait_for_listener(local_port, agent)
        local = without_moving_parts(rig.show(port=local_port))
    finally:
        agent.terminate()
        agent.wait()
    check(guest == local, "the guest's enclosures differ from the simulator's:\n" +
          first_difference(guest, local))

    reported = collections.Counter()
    for enclosure in guest["hosts"][0]["enclosures"]:
        for group in enclosure["groups"]:
            for element in group.get("elements", []):
                if "descriptor" in element:
                    reported[(element["descriptor"], element["status"].lower())] += 1
    decoded = collections.Counter()
    primaries = set()
    for sg in rig.sg_nodes():
        _, text = rig.vm.run(f"sg_ses --join /dev/{sg}")
        primary = re.search(r"Primary enclosure logical identifier \(hex\): (\w+)", text)
        check(primary, f"sg_ses names no enclosure on /dev/{sg}")
        if primary.group(1) in primaries:
            continue  # the second path of a dual-path enclosure
        primaries.add(primary.group(1))
        decoded.update(sg_ses_elements(text))
    check(decoded == reported, "sg_ses decodes other elements than show reports: "
          f"only sg_ses {dict(decoded - reported)}, only show {dict(reported - decoded)}")
    return (f"{len(guest['hosts'][0]['enclosures'])} enclosures equal to the simulator's; "
            f"sg_ses decodes the same {sum(decoded.values())} elements "
            f"({time.monotonic() - started:.1f} s)")


def first_difference(a, b, path="$"):
    if type(a) is not type(b):
        return f"{path}: {a!r} != {b!r}"
    if isinstance(a, dict):
        for key in sorted(set(a) | set(b)):
            if a.get(key) != b.get(key):
                return first_difference(a.get(key), b.get(key), f"{path}.{key}")
    if isinstance(a, list):
        if len(a) != len(b):
            return f"{path}: {len(a)} items != {len(b)}"
        for i, (x, y) in enumerate(zip(a, b)):
            if x != y:
                return first_difference(x, y, f"{path}[{i}]")
    return f"{path}: {a!r} != {b!r}"


# ---- case 2: hot removal and return

class Watch:
    def __init__(self, rig):
        self.lines = []
        self.cond = threading.Condition()
        self.process = subprocess.Popen([rig.ctl, "-H", f"127.0.0.1:{rig.port}", "watch", "--json"],
                                        stdout=subprocess.PIPE, text=True)
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.process.stdout:
            with self.cond:
                self.lines.append(json.loads(line))
                self.cond.notify_all()

    def wait_for(self, predicate, timeout, what):
        deadline = time.monotonic() + timeout
        with self.cond:
            while True:
                found = [line for line in self.lines if predicate(line)]
                if found:
                    return found[0]
                left = deadline - time.monotonic()
                check(left > 0, f"watch did not say {what} within {timeout} s; it said {self.lines}")
                self.cond.wait(left)

    def close(self):
        self.process.terminate()
        self.process.wait()


class Desktop:
    """The desktop program, offscreen, following the guest's agent as its one
    remote host; its event list is read from the history it writes."""

    def __init__(self, rig):
        self.program = os.path.join(rig.args.build, "apps", "halvorin")
        self.host = f"127.0.0.1:{rig.port}"
        self.process = None
        if not os.path.exists(self.program):
            return  # a build without the desktop
        home = os.path.join(rig.work, "desktop")
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen",
                   XDG_CONFIG_HOME=os.path.join(home, "config"),
                   XDG_STATE_HOME=os.path.join(home, "state"),
                   XDG_RUNTIME_DIR=os.path.join(home, "runtime"))
        os.makedirs(os.path.join(env["XDG_CONFIG_HOME"], "Halvorin"), exist_ok=True)
        os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700, exist_ok=True)
        with open(os.path.join(env["XDG_CONFIG_HOME"], "Halvorin", "Halvorin.conf"), "w") as f:
            f.write(f'[CONFIG]\nDomains="{self.host}\\n"\n')
        self.history = os.path.join(env["XDG_STATE_HOME"], "Halvorin")
        self.process = subprocess.Popen([self.program, "--port", str(free_port())], env=env,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def events(self):
        lines = []
        if os.path.isdir(self.history):
            for name in sorted(os.listdir(self.history)):
                with open(os.path.join(self.history, name), errors="replace") as f:
                    lines += f.read().splitlines()
        return lines

    def wait_for(self, text, timeout):
        if not self.process:
            return
        deadline = time.monotonic() + timeout
        while not any(text in line for line in self.events()):
            check(self.process.poll() is None, "the desktop program ended")
            check(time.monotonic() < deadline,
                  f"the desktop's event list did not say {text!r}; it said {self.events()}")
            time.sleep(0.5)

    def close(self):
        if self.process:
            self.process.terminate()
            self.process.wait()


def enclosure_line(state, wwn):
    return lambda line: (line.get("type") == "enclosure" and line.get("state") == state
                         and line.get("enclosure_wwn") == wwn)


def case_hot_removal_and_return(rig):
    before = rig.show()["hosts"][0]["enclosures"]
    wwns = sorted({e["wwn"] for e in before})
    check(JBOD24_WWN in wwns and len(wwns) == 3, f"unexpected enclosures {wwns}")
    dual = [w for w in wwns if w != JBOD24_WWN]
    # The dual-path enclosure's devices are the two other SCSI hosts.
    addresses = [rig.scsi_address(sg) for sg in rig.sg_nodes()]
    dual_addresses = [a for a in addresses if not a.startswith("0:")]
    check(len(dual_addresses) == 2, f"dual-path devices at {addresses}")

    watch = Watch(rig)
    desktop = Desktop(rig)
    names = {e["wwn"]: e["name"] for e in before}

    def said_everywhere(state, words):
        """When watch had said it of every enclosure; the desktop follows."""
        for wwn in wwns:
            watch.wait_for(enclosure_line(state, wwn), 90, f"{wwn} {state}")
        said = time.monotonic()
        for wwn in wwns:
            desktop.wait_for(f"Enclosure {names[wwn]} {words} {desktop.host}.", 30)
        return said

    try:
        # Past the first seconds after connecting, when the manager asks for the
        # device list at every step: what follows is the steady state.
        time.sleep(7)
        early = [line for line in watch.lines if line.get("type") == "enclosure"]
        check(not early, f"watch reported enclosures before anything changed: {early}")
        removed = time.monotonic()
        rig.vm.run("enclosure.sh unlink 0 0")  # the LUN leaves the target
        for a in dual_addresses:  # both paths deleted by the SCSI midlayer
            rig.vm.run(f"echo 1 >/sys/class/scsi_device/{a}/device/delete")
        gone_after = said_everywhere("gone", "is gone from") - removed
        check(rig.show(expect=None)["hosts"][0]["enclosures"] == [],
              "the manager's device list still holds enclosures")

        returned = time.monotonic()
        rig.vm.run("enclosure.sh link 0 0")
        for a in dual_addresses:
            rig.vm.run(f"echo '- - -' >/sys/class/scsi_host/host{a.split(':')[0]}/scan")
        back_after = said_everywhere("back", "is back on") - returned
        check(len(rig.show()["hosts"][0]["enclosures"]) == 3, "not every enclosure is back")
        order = [(l["state"], l["enclosure_wwn"]) for l in watch.lines if l.get("type") == "enclosure"]
        check(order.index(("gone", JBOD24_WWN)) < order.index(("back", JBOD24_WWN)), f"order {order}")
    finally:
        watch.close()
        desktop.close()
    said_by = "watch and the desktop's event list" if desktop.process else "watch"
    return (f"configfs unlink and sysfs delete: {said_by} said gone after {gone_after:.0f} s, "
            f"relink and rescan: back after {back_after:.0f} s (the manager's one-minute refresh)")


# ---- case 3: the kernel's abort path

def hold_next(rig, opcode):
    rig.vm.run(f"echo {opcode} >/run/hold.new && mv /run/hold.new /run/hold")


def case_abort_path(rig):
    rig.vm.run(": >/run/agent.log")
    hold_next(rig, "1c")  # the next RECEIVE DIAGNOSTIC RESULTS
    started = time.monotonic()
    code, out, err = rig.ctl_run("--timeout", "20", "show", "--json", "--allow-empty", timeout=120)
    # The read was held past the agent's SG_IO timeout and aborted by the kernel.
    deadline = time.monotonic() + SG_IO_TIMEOUT + 60
    while True:
        _, log = rig.vm.run("cat /run/agent.log")
        timed_out = [l for l in log.splitlines() if "RECEIVE DIAGNOSTIC" in l and "(-7)" in l]
        if timed_out:
            break
        check(time.monotonic() < deadline, f"the agent reported no time-out:\n{log}")
        time.sleep(1)
    reported_after = time.monotonic() - started
    _, bridge = rig.vm.run("cat /run/bridge.log")
    aborted = re.findall(r"aborted after (\d+) ms", bridge)
    check(aborted, f"the bridge saw no abort:\n{bridge}")
    check(not rig.vm.run("[ -e /run/hold ]", check=False)[0] == 0, "the hold was not taken")
    # The next command is served.
    check(len(rig.show()["hosts"][0]["enclosures"]) == 3, "the next reads failed")

    # SIGTERM while a command is held: the agent ends within its stop grace.
    hold_next(rig, "1c")
    shower = subprocess.Popen([rig.ctl, "-H", f"127.0.0.1:{rig.port}", "--timeout", "20", "show"],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    rig.vm.run("for i in $(seq 100); do [ -e /run/hold ] || break; sleep 0.1; done; [ ! -e /run/hold ]")
    _, out = rig.vm.run("a=$(cut -d' ' -f1 /proc/uptime); kill -TERM $(cat /run/agent.pid); "
                        "while kill -0 $(cat /run/agent.pid) 2>/dev/null; do sleep 0.05; done; "
                        "b=$(cut -d' ' -f1 /proc/uptime); echo \"$a $b\"", timeout=60)
    a, b = (float(x) for x in out.split())
    shower.kill()
    shower.wait()
    stop_seconds = b - a
    check(stop_seconds < 3 + 2, f"the agent took {stop_seconds:.1f} s to stop")
    _, log = rig.vm.run("tail -3 /run/agent.log")
    check("still running in the kernel" in log, f"the agent did not say what it left:\n{log}")
    rig.start_agent()
    check(len(rig.show()["hosts"][0]["enclosures"]) == 3, "reads fail after the agent's restart")
    return (f"held read reported as timed out (-7) {reported_after:.0f} s after it was sent "
            f"(SG_IO timeout {SG_IO_TIMEOUT} s; aborted by the kernel after {int(aborted[0])} ms); "
            f"SIGTERM with a held command: the agent ended in {stop_seconds:.1f} s")


# ---- case 4: a firmware upgrade through the kernel

def case_firmware_upgrade(rig):
    package = os.path.join(rig.work, "upgrade.lzma")
    images = []
    for name, size, seed in (("a.bin", 20000, 3), ("b.bin", 9000, 4)):
        path = os.path.join(rig.work, name)
        with open(path, "wb") as f:
            f.write(bytes((i * 7 + seed) & 0xFF for i in range(size)))
        images.append(path)
    subprocess.run([os.path.join(rig.args.build, "apps", "halvorin-mkfw"), "--model", "m810",
                    "--image-a", images[0], "--image-b", images[1], "--revision", "2.0.8",
                    "-o", package], check=True)
    rig.vm.run(": >/run/agent.log")
    started = time.monotonic()
    code, out, err = rig.ctl_run("--yes", "--json", "upgrade", "--activation-wait", "2", JBOD24_WWN,
                                    package, timeout=300)
    took = time.monotonic() - started
    report = json.loads(out) if out.strip() else {}
    check(code == 0 and report.get("ok"), f"upgrade exited {code}: {out} {err}")
    check(report.get("firmware_revision") == "2.0.8", f"revision after: {report}")
    _, log = rig.vm.run("cat /run/agent.log")
    pieces = len([l for l in log.splitlines() if "control write" in l and "page 0x0e" in l])
    check(pieces >= 2, f"the images did not go in pieces:\n{log}")
    revision = [e["firmware_revision"] for e in rig.show()["hosts"][0]["enclosures"]
                if e["wwn"] == JBOD24_WWN]
    check(revision == ["2.0.8"], f"read back {revision}")
    return f"29000 bytes in {pieces} download writes, read back 2.0.8, {took:.0f} s with activation"


# ---- case 5: what SPC asks of every device

def case_test_unit_ready_and_request_sense(rig):
    for sg in rig.sg_nodes():
        rig.vm.run(f"sg_turs /dev/{sg}")
        _, out = rig.vm.run(f"sg_requests /dev/{sg}")
        check("No Sense" in out, f"REQUEST SENSE on /dev/{sg}: {out}")
        _, out = rig.vm.run(f"sg_requests --desc /dev/{sg}")
        check("No Sense" in out, f"REQUEST SENSE (descriptor format) on /dev/{sg}: {out}")
    return f"TEST UNIT READY and REQUEST SENSE answered on {len(rig.sg_nodes())} devices"


CASES = [
    ("5 test unit ready and request sense", case_test_unit_ready_and_request_sense),
    ("1 show matches the simulator and sg_ses", case_show_matches_simulator_and_sg_ses),
    ("2 hot removal and return", case_hot_removal_and_return),
    ("3 abort path", case_abort_path),
    ("4 firmware upgrade", case_firmware_upgrade),
]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--kernel", required=True)
    parser.add_argument("--initramfs", required=True)
    parser.add_argument("--build", required=True)
    parser.add_argument("--work", help="where the console log and scratch files go")
    parser.add_argument("--only", help="comma-separated case numbers")
    args = parser.parse_args()
    started = time.monotonic()
    rig = Rig(args)
    chosen = [(name, case) for name, case in CASES
              if not args.only or name.split()[0] in args.only.split(",")]
    failed = 0
    try:
        for name, case in chosen:
            case_started = time.monotonic()
            try:
                figure = case(rig)
                print(f"PASS case {name}: {figure} [{time.monotonic() - case_started:.0f} s]",
                      flush=True)
            except Exception as e:  # noqa: BLE001 - every case runs and reports
                failed += 1
                print(f"FAIL case {name}: {e}", flush=True)
                for log in ("/run/bridge.log", "/run/agent.log"):
                    _, text = rig.vm.run(f"tail -20 {log}", check=False)
                    print(f"--- {log}\n{text}")
    finally:
        rig.close()
    print(f"kernel cases: {len(chosen) - failed} passed, {failed} failed, "
          f"{time.monotonic() - started:.0f} s in all (console log in {rig.work})")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
