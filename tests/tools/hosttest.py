"""What the media host's end-to-end tests share: the list of failed checks,
the host program (native, or the Windows build under Wine through a runner),
a running `serve` stopped with Ctrl-C, and curl and ffprobe as the
independent client and reader."""
import argparse
import json
import os
import re
import signal
import subprocess
import time

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAILED: " + what, flush=True)
    return condition


def argument_parser():
    """The arguments every end-to-end script of the host takes: the host
    program, the runner that starts it (Wine, or none), the folder of the
    recordings the fixture made, and a work folder of the script's own."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--host", required=True)
    parser.add_argument("--runner", default="")
    parser.add_argument("--recordings", required=True)
    parser.add_argument("--work", required=True)
    return parser


def made_recordings(folder):
    """The names of the recordings the fixture made in `folder`, as its
    status file lists them; none where it wrote no status."""
    status = os.path.join(folder, "status.txt")
    if not os.path.exists(status):
        return []
    with open(status) as lines:
        return [name for name in (line[3:].strip() for line in lines if line.startswith("ok ")) if name]


class Host:
    """The host program; `env` for a Wine prefix of a test's own."""

    def __init__(self, exe, runner, env=None):
        self.command = ([runner] if runner else []) + [exe]
        self.wine = bool(runner)
        self.env = env

    def path(self, path):
        """A path as the host program sees it (drive Z: under Wine)."""
        return "Z:" + path.replace("/", "\\") if self.wine else path

    def run(self, *args, timeout=120):
        return subprocess.run(self.command + list(args), capture_output=True, timeout=timeout, env=self.env)


class Server:
    """`serve` in a session of its own, Ctrl-C ignored by the runner's shell
    as in a shell's background job: the signal is the server's to handle."""

    def __init__(self, host, folder, log_path, *extra):
        self.log_path = log_path
        self.log = open(log_path, "wb")
        self.process = subprocess.Popen(host.command + ["serve", host.path(folder), "--port", "0", *extra],
                                        stdout=subprocess.PIPE, stderr=self.log, env=host.env,
                                        start_new_session=True,
                                        preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_IGN))
        self.port = None
        self.started = None
        deadline = time.monotonic() + 90
        while time.monotonic() < deadline:
            line = self.process.stdout.readline()
            if not line:
                break
            match = re.search(rb"listening on http://[0-9.]+:(\d+)/", line)
            if match:
                self.port = int(match.group(1))
                self.started = time.monotonic()
                break

    def url(self, path="", address="127.0.0.1"):
        return f"http://{address}:{self.port}{path}"

    def wait_for(self, text, seconds=60):
        """True once the log holds `text`."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if text in self.text():
                return True
            time.sleep(0.05)
        return False

    def stop(self):
        """Ctrl-C; the exit code (None when it had to be killed)."""
        os.killpg(self.process.pid, signal.SIGINT)
        try:
            return self.process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            os.killpg(self.process.pid, signal.SIGKILL)
            self.process.wait()
            return None
        finally:
            self.log.close()

    def text(self):
        return open(self.log_path, "rb").read().decode("utf-8", "replace")


def curl(url, *args):
    """(status, headers with lower-case names, body) of one request."""
    out = subprocess.run(["curl", "-s", "-g", "--path-as-is", "-D", "-", "-o", "-", "--max-time", "60", *args, url],
                         capture_output=True, timeout=90)
    head, _, body = out.stdout.partition(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    status = int(lines[0].split()[1]) if lines and lines[0].startswith("HTTP/") else 0
    headers = {}
    for line in lines[1:]:
        key, _, value = line.partition(":")
        headers[key.strip().lower()] = value.strip()
    return status, headers, body


def ffprobe(path, *extra):
    out = subprocess.run(["ffprobe", "-v", "error", "-of", "json", *extra, path], capture_output=True, timeout=60)
    return json.loads(out.stdout or b"{}")
