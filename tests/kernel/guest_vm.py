"""A Debian kernel booted under QEMU from the test's initramfs, driven
through its serial console: commands go to the guest's shell and come back
with their output and exit status."""

import os
import re
import subprocess
import threading
import time


class GuestError(RuntimeError):
    pass


class GuestVm:
    def __init__(self, kernel, initramfs, agent_port, log_path):
        self.agent_port = agent_port
        self._log = open(log_path, "wb")
        self._output = b""
        self._lock = threading.Condition()
        self._sequence = 0
        command = [
            "qemu-system-x86_64", "-accel", "tcg", "-m", "768", "-smp", "2",
            "-kernel", kernel, "-initrd", initramfs,
            "-append", "console=ttyS0 quiet panic=-1",
            "-display", "none", "-serial", "stdio", "-monitor", "none", "-no-reboot",
            "-netdev", f"user,id=n0,restrict=on,hostfwd=tcp:127.0.0.1:{agent_port}-:6000",
            "-device", "virtio-net-pci,netdev=n0",
        ]
        self.started = time.monotonic()
        self._process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                         stderr=subprocess.STDOUT)
        threading.Thread(target=self._read, daemon=True).start()
        match = self._wait_for(rb"guest ready: ([0-9.]+) s", 0, 120)
        self.boot_seconds = time.monotonic() - self.started
        self.guest_uptime_at_ready = float(match.group(1))

    def _read(self):
        while True:
            chunk = os.read(self._process.stdout.fileno(), 65536)
            with self._lock:
                if not chunk:
                    self._output += b"\n@@QEMU-EXITED@@\n"
                    self._lock.notify_all()
                    return
                self._log.write(chunk)
                self._log.flush()
                self._output += chunk
                self._lock.notify_all()

    def _wait_for(self, pattern, start, timeout):
        deadline = time.monotonic() + timeout
        with self._lock:
            while True:
                match = re.compile(pattern, re.S).search(self._output, start)
                if match:
                    return match
                if b"@@QEMU-EXITED@@" in self._output[start:]:
                    raise GuestError("the guest stopped")
                left = deadline - time.monotonic()
                if left <= 0:
                    raise GuestError(f"no {pattern!r} within {timeout} s")
                self._lock.wait(left)

    def run(self, command, timeout=60, check=True):
        """Runs a shell command in the guest; returns (status, output)."""
        self._sequence += 1
        n = self._sequence
        with self._lock:
            start = len(self._output)
        # One line, so the shell's echo of it comes before the output; the
        # markers are printed from formats, so that echo never holds them.
        separator = " " if command.rstrip().endswith("&") else "; "
        line = f"printf '@@B%s@@\\n' {n}; {command}{separator}printf '@@E%s %s@@\\n' {n} $?\n"
        self._process.stdin.write(line.encode())
        self._process.stdin.flush()
        begin = self._wait_for(rb"@@B%d@@\r?\n" % n, start, timeout)
        end = self._wait_for(rb"@@E%d (\d+)@@" % n, begin.end(), timeout)
        status = int(end.group(1))
        output = self._output[begin.end():end.start()].decode(errors="replace").replace("\r", "")
        if check and status != 0:
            raise GuestError(f"guest: {command!r} exited {status}:\n{output}")
        return status, output

    def close(self):
        if self._process.poll() is None:
            try:
                self._process.stdin.write(b"\npoweroff -f\n")
                self._process.stdin.flush()
                self._process.wait(timeout=10)
            except (OSError, subprocess.TimeoutExpired):
                self._process.kill()
                self._process.wait()
        self._log.close()
