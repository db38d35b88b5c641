#!/usr/bin/env python3
"""The media server's HTTP answers end to end, in both builds.

Part one is one table: every request a new user was seen to send that
stopped the server, was refused, or was answered wrongly, each with what the
server must answer now, sent over plain sockets (so HTTP/1.0, absolute-form
targets and undecodable names go out exactly as written) to the host program
(natively, or the Windows build under Wine). Bodies are checked byte for
byte against the file, time seeks against the component's own answers
through `VskMediaHost stream`, and the bytes a time range serves against
ffprobe's reading of them.

Part two is the load: 64 well-behaved clients from eight addresses and 32
sockets that send their request heads a byte at a time, all at once; every
well-behaved client must be served, or answered 503 with Retry-After, within
a bounded time, and then the same from one address. The test stops the
server itself.

Exit 77 (skipped) without curl or ffprobe.
"""
import concurrent.futures
import os
import shutil
import socket
import sys
import threading
import time

import media_host_e2e as e2e
from hosttest import check, failures, ffprobe

# The recordings the table uses (made by the recording fixture): a 188-byte
# MPEG-2 stream with time seek and a duration of several seconds, an AVC
# recording in 192-byte units for the sub-folder, and a program stream,
# which the component offers nothing for.
TIMED = "mpeg2-ac3.ts"
UNITS = "h264-hd-ac3.m2ts"
PLAIN = "mpeg2-ac3.vob"
BOUND_S = 60  # every client of the load is done within this


class Answer:
    def __init__(self, data, closed):
        head, _, self.body = data.partition(b"\r\n\r\n")
        lines = head.decode("latin-1").split("\r\n")
        self.status_line = lines[0]
        parts = lines[0].split()
        self.status = int(parts[1]) if len(parts) > 1 and parts[1].isdigit() else 0
        self.headers = {}
        for line in lines[1:]:
            key, _, value = line.partition(":")
            self.headers[key.strip().lower()] = value.strip()
        self.closed = closed

    def __repr__(self):
        return f"<{self.status_line} {self.headers} {len(self.body)} bytes{' closed' if self.closed else ''}>"


def exchange(address, text, source="127.0.0.1", timeout=30):
    """One request as written; the answer read to its Content-Length (or to
    the close), and whether the server then closed the connection."""
    with socket.create_connection(address, timeout=timeout, source_address=(source, 0)) as s:
        s.sendall(text.encode("latin-1") if isinstance(text, str) else text)
        data = b""
        while b"\r\n\r\n" not in data:
            chunk = s.recv(65536)
            if not chunk:
                return Answer(data, True)
            data += chunk
        answer = Answer(data, False)
        length = int(answer.headers.get("content-length", "-1"))
        wanted = 0 if text.startswith("HEAD") else length
        while length < 0 or len(answer.body) < wanted:
            chunk = s.recv(1 << 20)
            if not chunk:
                answer.closed = True
                return answer
            answer.body += chunk
        s.settimeout(0.3)
        try:
            answer.closed = s.recv(1) == b""
        except socket.timeout:
            answer.closed = False
        except ConnectionResetError:
            answer.closed = True
        return answer


def get(path, *headers, method="GET", version="1.1"):
    lines = [f"{method} {path} HTTP/{version}", "Host: test"] + list(headers)
    return "\r\n".join(lines) + "\r\n\r\n"


def flag_bits(features):
    flags = features.partition("DLNA.ORG_FLAGS=")[2][:8]
    return int(flags, 16) if flags else 0


def video_pts(path):
    data = ffprobe(path, "-select_streams", "v:0", "-show_entries", "packet=pts")
    return [int(p["pts"]) for p in data.get("packets", []) if "pts" in p]


def component_seek(host, path, seconds, work):
    """The component's time seek, through the CLI: (found ms, byte)."""
    return e2e.time_seek_answer(host, path, "", seconds, os.path.join(work, "seek.ts"))


# ---------------------------------------------------------------------------
def phase(what):
    print(f"{time.strftime('%H:%M:%S')} {what}", flush=True)


def check_what_was_seen(host, address, folder, work):
    timed = open(os.path.join(folder, TIMED), "rb").read()
    plain = open(os.path.join(folder, PLAIN), "rb").read()
    units = e2e.zero_prefixes(open(os.path.join(folder, "sub", UNITS), "rb").read())
    t = "/media/" + TIMED

    found2, at2 = component_seek(host, os.path.join(folder, TIMED), "2", work)
    _, at4 = component_seek(host, os.path.join(folder, TIMED), "4", work)

    def alive(a):
        return exchange(address, get("/")).status == 200

    def body_is(data):
        return lambda a: a.body == data

    def header(name, value):
        return lambda a: a.headers.get(name.lower()) == value

    def no_header(name):
        return lambda a: name.lower() not in a.headers

    def to_end_of_time(a):
        """The bytes of npt=2-4 as ffprobe reads them: every video unit's
        presentation at most 4 s after the first."""
        part = os.path.join(work, "range.ts")
        open(part, "wb").write(a.body)
        first = e2e.first_video_pts(os.path.join(folder, TIMED))
        pts = video_pts(part)
        return pts and first is not None and max(pts) - first <= 4 * 90000

    rows = [
        # (what was seen, request, status, checks)
        ("%FF ended the Windows server", get("/media/%FF.ts"), 404, [alive]),
        ("an overlong .. ended the Windows server", get("/media/%C0%AE%C0%AE"), 404, [alive]),
        ("the same outside /media/", get("/%FF.ts"), 404, [alive]),
        ("Range with TimeSeekRange was 400", get(t, "Range: bytes=0-", "TimeSeekRange.dlna.org: npt=2-"), 206,
         [body_is(timed), header("Content-Range", f"bytes 0-{len(timed) - 1}/{len(timed)}"),
          no_header("TimeSeekRange.dlna.org")]),
        ("Interactive on a video was 406", get(t, "transferMode.dlna.org: Interactive"), 200,
         [body_is(timed), header("transferMode.dlna.org", "Streaming")]),
        ("npt hours overflowed into 1.368 s", get(t, "TimeSeekRange.dlna.org: npt=3007844103129863:00:00-"), 416, []),
        ("npt=2-4 ran to the end of the file", get(t, "TimeSeekRange.dlna.org: npt=2-4"), 200,
         [header("Content-Length", str(at4 - at2)), body_is(timed[at2:at4]), to_end_of_time,
          lambda a: a.headers.get("timeseekrange.dlna.org", "").endswith(f" bytes={at2}-{at4 - 1}/{len(timed)}"),
          lambda a: a.headers.get("timeseekrange.dlna.org", "").startswith(
              f"npt={found2 // 1000}.{found2 % 1000:03d}-4.000/")]),
        ("the next range follows on without a gap", get(t, "TimeSeekRange.dlna.org: npt=4-"), 200,
         [body_is(timed[at4:])]),
        ("PlaySpeed 2 was ignored", get(t, "PlaySpeed.dlna.org: speed=2"), 406, []),
        ("PlaySpeed 1 is served", get(t, "PlaySpeed.dlna.org: speed=1"), 200,
         [header("PlaySpeed.dlna.org", "speed=1"), body_is(timed)]),
        ("realTimeInfo and Date were missing", get(t, method="HEAD"), 200,
         [header("realTimeInfo.dlna.org", "DLNA.ORG_TLAG=*"), lambda a: a.headers.get("date", "").endswith(" GMT"),
          header("Content-Length", str(len(timed))), lambda a: a.body == b""]),
        ("the flags announce http-stalling", get(t, method="HEAD"), 200,
         [lambda a: flag_bits(a.headers.get("contentfeatures.dlna.org", "")) & (1 << 21)]),
        ("HTTP/1.0 is answered in 1.1 and closed", get(t, version="1.0"), 200,
         [lambda a: a.status_line.startswith("HTTP/1.1 "), header("Connection", "close"), lambda a: a.closed,
          body_is(timed)]),
        ("HTTP/1.1 stays open", get(t, method="HEAD"), 200,
         [header("Connection", "keep-alive"), lambda a: not a.closed]),
        ("the absolute form", get(f"http://{address[0]}:{address[1]}{t}"), 200, [body_is(timed)]),
        ("a link leading out of the folder", get("/media/link-out.ts"), 404, []),
        ("a link staying inside", get("/media/link-in.ts"), 200, [body_is(timed)]),
        ("a sub-folder", get("/media/sub/" + UNITS), 200, [body_is(units)]),
        ("a hidden file", get("/media/.hidden.ts"), 404, []),
        ("a file in a hidden folder", get("/media/.private/" + TIMED), 404, []),
        ("a plain recording byte for byte", get("/media/" + PLAIN, "Range: bytes=100-"), 206,
         [body_is(plain[100:]), header("Content-Type", "video/mpeg"),
          lambda a: a.headers.get("contentfeatures.dlna.org", "").startswith("DLNA.ORG_OP=01;")]),
        ("a plain recording has no time seek", get("/media/" + PLAIN, "TimeSeekRange.dlna.org: npt=1-"), 406, []),
        ("a plain recording has no profile", get("/media/" + PLAIN + "?profile=MPEG_PS_PAL"), 404, []),
        ("a request head over 8 KiB", get("/", "X-Big: " + "a" * 9000), 431, [lambda a: a.closed]),
        ("a broken request line", "GET\r\n\r\n", 400, [lambda a: a.closed]),
        ("a version past 1.1", get("/", version="2.0"), 505, []),
    ]
    phase("the table")
    for what, request, status, checks in rows:
        try:
            answer = exchange(address, request)
        except OSError as error:
            check(False, f"{what}: {error}")
            continue
        ok = answer.status == status
        for index, c in enumerate(checks):
            if not c(answer):
                ok = False
                print(f"  {what}: check {index} failed")
        check(ok, f"{what}: {answer!r}"[:400])

    # A client that pauses mid-body (DLNA http-stalling) for longer than the
    # server's time-outs, then reads on, gets every byte.
    phase("a paused client")
    with socket.create_connection(address, timeout=30) as s:
        # A receive window small enough that the server's writes wait while
        # the client pauses, large enough to read on at speed.
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 65536)
        s.sendall(get(t).encode())
        data = s.recv(65536)
        time.sleep(6)
        while len(data) < len(timed) + 200:
            chunk = s.recv(1 << 20)
            if not chunk:
                break
            data += chunk
        check(data.partition(b"\r\n\r\n")[2] == timed, f"a client paused for 6 s gets the whole body ({len(data)})")

    # Half-sent heads do not hold what others need; a full house answers.
    phase("half-sent heads and a full house")
    slow = []
    for _ in range(32):
        s = socket.create_connection(address, timeout=10, source_address=("127.0.0.50", 0))
        s.sendall(b"GET / HTTP/1.1\r\nHost: x\r\n")
        slow.append(s)
    check(exchange(address, get("/")).status == 200, "a client is served while 32 heads are half-sent")
    for s in slow:
        s.close()

    # 32 requests in service that take nothing (stalled readers on four
    # addresses); the 33rd client, and a ninth from one address, get 503.
    stalled = []
    for i in range(32):
        s = socket.create_connection(address, timeout=10, source_address=(f"127.0.0.{60 + i // 8}", 0))
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        s.sendall(get(t).encode())
        s.recv(1024)  # the head: the request is in service
        stalled.append(s)
    busy = exchange(address, get("/"), source="127.0.0.70")
    check(busy.status == 503 and busy.headers.get("retry-after", "").isdigit() and busy.closed,
          f"the 33rd client is answered 503 with Retry-After: {busy!r}"[:300])
    for s in stalled:
        s.close()
    deadline = time.monotonic() + 20
    while time.monotonic() < deadline and exchange(address, get("/")).status != 200:
        time.sleep(0.2)
    check(exchange(address, get("/")).status == 200, "served again once the stalled readers are gone")

    cap = []
    for _ in range(8):
        s = socket.create_connection(address, timeout=10, source_address=("127.0.0.80", 0))
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        s.sendall(get(t).encode())
        s.recv(1024)
        cap.append(s)
    ninth = exchange(address, get("/"), source="127.0.0.80")
    other = exchange(address, get("/"), source="127.0.0.81")
    check(ninth.status == 503 and other.status == 200,
          f"a ninth request from one address is 503, another address is served: {ninth.status} {other.status}")
    for s in cap:
        s.close()


# ---------------------------------------------------------------------------
def slow_header(address, source, stop, counts):
    """A socket that sends its head a byte every half second, opened again
    whenever the server closes it; until told to stop (bounded by the test)."""
    head = b"GET / HTTP/1.1\r\nHost: slow\r\nX-Padding: " + b"p" * 200 + b"\r\n"
    for _ in range(200):
        if stop.is_set():
            return
        try:
            with socket.create_connection(address, timeout=5, source_address=(source, 0)) as s:
                for byte in head:
                    if stop.wait(0.5):
                        return
                    s.sendall(bytes([byte]))
        except OSError:
            counts["closed"] += 1


def well_behaved(address, source, path, expected):
    """GET with a range; on 503 it waits as Retry-After says, at most twice."""
    began = time.monotonic()
    status = 0
    for _ in range(3):
        try:
            answer = exchange(address, get(path, "Range: bytes=0-999999"), source=source, timeout=BOUND_S)
        except OSError as error:
            return ("error " + str(error), time.monotonic() - began)
        status = answer.status
        if status == 206:
            return ("served" if answer.body == expected else "wrong bytes", time.monotonic() - began)
        if status != 503 or not answer.headers.get("retry-after", "").isdigit():
            return (f"status {status}", time.monotonic() - began)
        time.sleep(int(answer.headers["retry-after"]))
    return ("503", time.monotonic() - began)


def check_load(address, folder, sources, what):
    phase("load " + what)
    path = "/media/" + TIMED
    expected = open(os.path.join(folder, TIMED), "rb").read()[:1000000]
    stop = threading.Event()
    counts = {"closed": 0}
    slow = [threading.Thread(target=slow_header, args=(address, "127.0.0.99", stop, counts)) for _ in range(32)]
    for thread in slow:
        thread.start()
    time.sleep(1)
    try:
        with concurrent.futures.ThreadPoolExecutor(64) as pool:
            results = list(pool.map(lambda i: well_behaved(address, sources[i % len(sources)], path, expected),
                                    range(64)))
    finally:
        stop.set()
        for thread in slow:
            thread.join(timeout=10)
    outcomes = {}
    for outcome, _ in results:
        outcomes[outcome] = outcomes.get(outcome, 0) + 1
    slowest = max(seconds for _, seconds in results)
    print(f"load {what}: {outcomes}, slowest client {slowest:.1f} s, slow heads closed {counts['closed']} times")
    check(set(outcomes) <= {"served", "503"} and outcomes.get("served", 0) > 0,
          f"load {what}: every client served or answered 503: {outcomes}")
    check(slowest < BOUND_S, f"load {what}: every client done within {BOUND_S} s ({slowest:.1f} s)")


# ---------------------------------------------------------------------------
def make_folder(work, recordings):
    folder = os.path.join(work, "serve")
    os.makedirs(os.path.join(folder, "sub"))
    os.makedirs(os.path.join(folder, ".private"))
    shutil.copyfile(os.path.join(recordings, TIMED), os.path.join(folder, TIMED))
    shutil.copyfile(os.path.join(recordings, PLAIN), os.path.join(folder, PLAIN))
    shutil.copyfile(os.path.join(recordings, UNITS), os.path.join(folder, "sub", UNITS))
    shutil.copyfile(os.path.join(recordings, TIMED), os.path.join(folder, ".hidden.ts"))
    shutil.copyfile(os.path.join(recordings, TIMED), os.path.join(folder, ".private", TIMED))
    shutil.copyfile(os.path.join(recordings, TIMED), os.path.join(work, "outside.ts"))
    os.symlink(os.path.join(work, "outside.ts"), os.path.join(folder, "link-out.ts"))
    os.symlink(os.path.join(folder, TIMED), os.path.join(folder, "link-in.ts"))
    return folder


def main():
    args, made = e2e.arguments()
    if args is None:
        return 77
    if not {TIMED, UNITS, PLAIN} <= set(made):
        print(f"recordings unavailable: the fixture made {sorted(made)}")
        return 0

    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    folder = make_folder(args.work, args.recordings)
    host = e2e.Host(args.host, args.runner)
    log_path = os.path.join(args.work, "server.log")
    server, base = e2e.start_server(host, folder, log_path)
    try:
        if check(base is not None, "the server says where it listens"):
            address = ("127.0.0.1", int(base.rsplit(":", 1)[1]))
            check_what_was_seen(host, address, folder, args.work)
            check_load(address, folder, [f"127.0.0.{i}" for i in range(1, 9)], "from eight addresses")
            check_load(address, folder, ["127.0.0.1"], "from one address")
            check(exchange(address, get("/")).status == 200, "the server still answers after the load")
    finally:
        e2e.stop_server(server, "the server")
    log = open(log_path, "rb").read().decode("utf-8", "replace")
    check("stopped" in log, "the server logs its stop")
    check(all(line[:2].isdigit() and line[2] == ":" for line in log.splitlines()),
          "every log line is one line of the server's")
    print(f"{'passed' if not failures else 'FAILED'}: {len(failures)} failure(s)")
    if failures:
        print("server log:\n" + log[-4000:])
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
