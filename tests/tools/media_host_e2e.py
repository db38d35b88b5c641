#!/usr/bin/env python3
"""The media host end to end, on the ffmpeg recordings of the test run.

The host program (native, or the Windows build under Wine through the runner)
probes, classifies and streams the recordings, and serves a folder of them
on a free loopback port; curl and ffprobe, the independent client and
reader, check what it answers: probe facts against ffprobe's, each recording
in its family, a time-seek stream's first PTS against the component's
answer, whole bodies, byte ranges and time seeks byte for byte, the DLNA
headers, refusals, path escapes, eight clients at once, the header cap, the
time-out for a slow client, and the stop on Ctrl-C.

Exit 77 (skipped) without curl or ffprobe; "recordings unavailable:" when
the fixture made none.
"""
import concurrent.futures
import json
import os
import re
import shutil
import socket
import sys
import time
import urllib.parse

from hosttest import Host, Server, argument_parser, check, curl, failures, ffprobe, made_recordings

# Recording -> the profile names its family offers (order as offered), and
# whether the probe's packet format is 1, 2 or 3. Families: 16-18 MPEG-2 HD
# Korea and North America, 22-24 SD Europe, 25-27 AVC 60 Hz.
FAMILIES = {
    "mpeg2-hd-ac3.ts": (["MPEG_TS_HD_KO_ISO", "MPEG_TS_HD_NA_ISO"], 1),         # code 18
    "mpeg2-sd-mp2.ts": (["MPEG_TS_SD_EU_ISO"], 1),                              # code 24
    "h264-hd-ac3.m2ts": (["AVC_TS_HD_60_AC3"], 3),                              # code 26
    "h264-hd-ac3-zeroed.m2ts": (["AVC_TS_HD_60_AC3"], 2),                       # code 25
}
TWO_PROGRAMS = "two-programs.ts"
# A copy under a name beyond ASCII, with a blank.
UNICODE_NAME = "pr\u00f8ve \u00e9t\u00e9.ts"
# Transport packets without any programme: no duration, so no time seek.
NO_CLOCK = "no-clock.ts"
FFPROBE_CODECS = {"mpeg2video": "mpeg2video", "mpeg1video": "mpeg2video", "h264": "h264", "ac3": "ac3", "mp2": "mpeg-audio", "mp3": "mpeg-audio"}

refusals_caused = 0


def first_video_pts(path):
    data = ffprobe(path, "-select_streams", "v:0", "-show_entries", "packet=pts", "-read_intervals", "%+#5")
    for packet in data.get("packets", []):
        if "pts" in packet:
            return int(packet["pts"])
    return None


def zero_prefixes(data):
    out = bytearray(data)
    for unit in range(0, len(out) - 191, 192):
        out[unit:unit + 4] = b"\0\0\0\0"
    return bytes(out)


def fraction(text):
    num, den = (int(x) for x in text.split("/"))
    return num / den if den else 0.0


# ---------------------------------------------------------------------------
def check_probe(host, files):
    out = host.run("probe", "--json", *[host.path(f) for f in files])
    facts = json.loads(out.stdout or b"[]")
    by_name = {}
    for f, p in zip(files, facts):
        name = os.path.basename(f)
        by_name[name] = p
        if not check(p.get("result", "").startswith("0x00000000"), f"probe {name}: {p.get('result')}"):
            continue
        reference = ffprobe(f, "-show_streams", "-show_format")
        ours = [s for s in p["streams"] if s["category"] in ("video", "audio")]
        # The probe lists the streams of the codecs it reads (no AAC, say).
        theirs = [s for s in reference.get("streams", [])
                  if s.get("codec_type") in ("video", "audio") and s.get("codec_name") in FFPROBE_CODECS]
        check(len(ours) == len(theirs), f"probe {name}: {len(ours)} streams, ffprobe {len(theirs)}")
        for s in theirs:
            kind = s["codec_type"]
            match = [o for o in ours if o["category"] == kind and o["pid"] == int(s.get("id", "0"), 16)]
            if not check(match, f"probe {name}: no {kind} stream with pid {s.get('id')}"):
                continue
            o = match[0]
            check(o["codec"] == FFPROBE_CODECS.get(s["codec_name"], "?"), f"probe {name}: codec {o['codec']} vs {s['codec_name']}")
            if kind == "video":
                check((o["width"], o["height"]) == (s["width"], s["height"]),
                      f"probe {name}: {o['width']}x{o['height']} vs {s['width']}x{s['height']}")
                check(abs(fraction(o["frameRate"]) - fraction(s["r_frame_rate"])) < 0.01,
                      f"probe {name}: frame rate {o['frameRate']} vs {s['r_frame_rate']}")
            else:
                check(o["channels"] == s["channels"], f"probe {name}: {o['channels']} channels vs {s['channels']}")
                check(o["samplingRate"] == int(s["sample_rate"]), f"probe {name}: {o['samplingRate']} Hz vs {s['sample_rate']}")
        video = [s for s in theirs if s["codec_type"] == "video"]
        if video and "duration" in video[0]:
            frame = 1000.0 / fraction(video[0]["r_frame_rate"])
            check(abs(p["durationMs"] - float(video[0]["duration"]) * 1000) <= frame + 1,
                  f"probe {name}: duration {p['durationMs']} ms vs ffprobe {video[0]['duration']} s")
        check(p["fileSize"] == os.path.getsize(f), f"probe {name}: size")
        if name in FAMILIES:
            check(p["packetFormat"] == FAMILIES[name][1], f"probe {name}: packet format {p['packetFormat']}")
    return by_name


def check_classify(host, files):
    out = host.run("classify", "--json", *[host.path(f) for f in files])
    answers = {os.path.basename(f): a for f, a in zip(files, json.loads(out.stdout or b"[]"))}
    for name, (names, _) in FAMILIES.items():
        if name in answers:
            offered = [t["profileName"] or t["alternativeName"] for t in answers[name]["profiles"]]
            check(offered == names, f"classify {name}: offered {offered}, family wants {names}")
    if TWO_PROGRAMS in answers:
        offered = [t["profileName"] for t in answers[TWO_PROGRAMS]["profiles"]]
        check(offered == [""], f"classify {TWO_PROGRAMS}: the classifier should refuse two video streams, offered {offered}")
    return answers


def served_bytes(path, answer, probe):
    """The file as a converter of its first entry delivers it."""
    data = open(path, "rb").read()
    first = answer["profiles"][0] if answer["profiles"] else {}
    stamped_avc = (first.get("profileName") or first.get("alternativeName") or "").startswith("AVC_TS_") \
        and probe.get("packetFormat") == 3
    return zero_prefixes(data) if stamped_avc else data


def time_seek_answer(host, path, profile, start, output):
    out = host.run("stream", host.path(path), "--profile", profile, "--seek-time", start, "-o", host.path(output))
    match = re.search(rb"found (\d+) ms at byte (\d+)", out.stderr)
    check(out.returncode == 0 and match, f"stream --seek-time {start} {os.path.basename(path)}: {out.stderr[-300:]!r}")
    return (int(match.group(1)), int(match.group(2))) if match else (None, None)


def check_stream_seek(host, path, profile, duration_ms, work):
    output = os.path.join(work, "seek-" + os.path.basename(path))
    found, _ = time_seek_answer(host, path, profile, f"{duration_ms * 0.6 / 1000:.3f}", output)
    source_pts, out_pts = first_video_pts(path), first_video_pts(output)
    if check(found is not None and source_pts is not None and out_pts is not None,
             f"stream seek {os.path.basename(path)}: ffprobe reads both files"):
        expected = max(0, int((out_pts - source_pts) / 90))
        check(expected == found, f"stream seek {os.path.basename(path)}: component found {found} ms, PTS say {expected} ms")


# ---------------------------------------------------------------------------
def head(url, *extra_headers):
    """HEAD over a plain socket, read to the close: curl would not show a
    body that should not be there."""
    host_port, _, path = url[len("http://"):].partition("/")
    address, _, port = host_port.partition(":")
    request = f"HEAD /{path} HTTP/1.1\r\nHost: {host_port}\r\nConnection: close\r\n"
    request += "".join(h + "\r\n" for h in extra_headers) + "\r\n"
    with socket.create_connection((address, int(port)), timeout=30) as s:
        s.sendall(request.encode())
        data = b""
        while chunk := s.recv(65536):
            data += chunk
    head_text, _, body = data.partition(b"\r\n\r\n")
    lines = head_text.decode("latin-1").split("\r\n")
    headers = {k.strip().lower(): v.strip() for k, _, v in (line.partition(":") for line in lines[1:])}
    return (int(lines[0].split()[1]) if lines[0].startswith("HTTP/") else 0), headers, body


def refused(status, expected, what):
    global refusals_caused
    refusals_caused += 1
    check(status == expected, f"{what}: status {status}, expected {expected}")


def check_server(host, base, folder, answers, probes, work):
    files = sorted(n for n in answers if answers[n]["profiles"] and os.path.exists(os.path.join(folder, n)))
    status, _, listing = curl(base + "/")
    links = [f'href="/media/{n}' + (f"?profile={p['profileName'] or p['alternativeName']}" if p['profileName'] or
                               p['alternativeName'] else "") + '"' for n in files for p in answers[n]["profiles"]]
    check(status == 200 and all(link.encode() in listing for link in links),
          f"GET / links every profile of every recording: {[l for l in links if l.encode() not in listing]}")

    # A name beyond ASCII, percent-encoded in UTF-8 as browsers send it.
    if UNICODE_NAME in os.listdir(folder):
        data = open(os.path.join(folder, UNICODE_NAME), "rb").read()
        status, _, body = curl(base + "/media/" + urllib.parse.quote(UNICODE_NAME))
        check(status == 200 and body == data, f"GET {UNICODE_NAME!r}: {status}, {len(body)} of {len(data)} bytes")

    for name in files:
        path = os.path.join(folder, name)
        expected = served_bytes(path, answers[name], probes.get(name, {}))
        size = len(expected)
        entry = answers[name]["profiles"][0]
        dlna = entry["profileName"] or entry["alternativeName"]
        url = base + "/media/" + name + ("?profile=" + dlna if dlna else "")
        status, headers, body = curl(url)
        check(status == 200 and body == expected, f"GET {name}: whole body byte-exact ({status}, {len(body)} of {size})")
        features = ("DLNA.ORG_PN=" + dlna + ";" if dlna else "") + \
            f"DLNA.ORG_OP={1 if entry['timeSeek'] else 0}1;DLNA.ORG_CI=0;DLNA.ORG_FLAGS=01700000000000000000000000000000"
        check(headers.get("contentfeatures.dlna.org") == features,
              f"GET {name}: contentFeatures {headers.get('contentfeatures.dlna.org')} != {features}")
        check(headers.get("content-type") == entry["mimeType"] and headers.get("transfermode.dlna.org") == "Streaming"
              and headers.get("accept-ranges") == "bytes", f"GET {name}: DLNA headers {headers}")

        status, headers, body = head(url)
        check(status == 200 and body == b"" and headers.get("content-length") == str(size)
              and headers.get("contentfeatures.dlna.org") == features, f"HEAD {name}: {status} {headers} {len(body)}")

        for asked, first, last in (("1000-1999", 1000, 1999), ("1234-", 1234, size - 1), ("-777", size - 777, size - 1),
                                   ("100-99999999999", 100, size - 1)):
            status, headers, body = curl(url, "-H", "Range: bytes=" + asked)
            check(status == 206 and headers.get("content-range") == f"bytes {first}-{last}/{size}"
                  and body == expected[first:last + 1], f"Range {asked} of {name}: {status} {headers.get('content-range')}")
        status, headers, _ = curl(url, "-H", f"Range: bytes={size}-")
        refused(status, 416, f"Range past the end of {name}")
        check(headers.get("content-range") == f"bytes */{size}", f"416 of {name} names the size")
        status, _, _ = curl(url, "-H", "Range: bytes=-0")
        refused(status, 416, "Range -0")
        status, _, _ = curl(url, "-H", "Range: bytes=5-1")
        refused(status, 400, "Range 5-1")

        if not entry["timeSeek"]:
            status, _, _ = curl(url, "-H", "TimeSeekRange.dlna.org: npt=1-")
            refused(status, 406, f"time seek on {name} without time seek")
            continue
        duration = probes[name]["durationMs"]
        dur = f"{duration // 1000}.{duration % 1000:03d}"
        for start, end in ((f"{duration * 0.7 / 1000:.3f}", None), ("0:00:00.500", "1.250"), (dur, None)):
            found, first = time_seek_answer(host, path, dlna, start, os.path.join(work, "answer.ts"))
            # An end time ends the body right before the unit a time seek to
            # it finds.
            stop = time_seek_answer(host, path, dlna, end, os.path.join(work, "answer.ts"))[1] if end else size
            npt = f"npt={start}-" + (end or "")
            status, headers, body = curl(url, "-H", "TimeSeekRange.dlna.org: " + npt)
            if found is None or stop is None:
                continue
            want = f"npt={found // 1000}.{found % 1000:03d}-{end or dur}/{dur} bytes={first}-{stop - 1}/{size}"
            check(status == 200 and headers.get("timeseekrange.dlna.org") == want and "content-range" not in headers
                  and headers.get("content-length") == str(stop - first) and body == expected[first:stop],
                  f"time seek {npt} on {name}: {status} {headers.get('timeseekrange.dlna.org')} want {want}, "
                  f"{len(body)} bytes")
        for npt, code in ((f"npt={duration // 1000 + 1}-", 416), (f"npt=1-{duration // 1000 + 1}", 416),
                          ("npt=3-2", 400), ("npt=abc-", 400), ("npt=now-", 400)):
            status, _, _ = curl(url, "-H", "TimeSeekRange.dlna.org: " + npt)
            refused(status, code, f"time seek {npt} on {name}")
        # Both: the bytes asked for are served, the time seek is ignored.
        status, headers, body = curl(url, "-H", "TimeSeekRange.dlna.org: npt=1-", "-H", "Range: bytes=0-10")
        check(status == 206 and body == expected[:11] and "timeseekrange.dlna.org" not in headers,
              f"Range and TimeSeekRange together on {name}: {status} {headers}")

    name = files[0]
    url = base + "/media/" + name
    status, _, _ = curl(url, "-H", "getcontentFeatures.dlna.org: 2")
    refused(status, 400, "getcontentFeatures.dlna.org: 2")
    status, headers, _ = head(url, "getcontentFeatures.dlna.org: 1")
    check(status == 200 and "contentfeatures.dlna.org" in headers, "getcontentFeatures.dlna.org: 1")
    status, headers, _ = head(url, "transferMode.dlna.org: Interactive")
    check(status == 200 and headers.get("transfermode.dlna.org") == "Streaming",
          f"transferMode Interactive on a video is served as Streaming: {status} {headers}")
    status, _, _ = curl(url + "?profile=NO_SUCH_PROFILE")
    refused(status, 404, "unknown profile")
    # A name that would end the log line and forge another: still one line.
    status, _, _ = curl(url + "?profile=X%0A00:00:00%20forged%20refused")
    refused(status, 404, "profile name with a line break")
    status, _, _ = curl(url, "-X", "DELETE")
    refused(status, 405, "DELETE")
    escapes = ["/media/../" + name, "/media/%2e%2e/" + name, "/media/..%2f..%2fetc%2fpasswd",
               "/media/%2e%2e%5c" + name, "/media/sub/../" + name, "/media/notes.txt", "/media/missing.ts",
               "/media/" + "%2F" + "etc%2Fpasswd", "/media/C:%5Cwindows%5Cwin.ini", "/" + name,
               "/media/link-out.ts"]
    for escape in escapes:
        status, _, _ = curl(base + escape)
        refused(status, 404, "escape " + escape)

    # ffprobe reads a stream from the server.
    reference = ffprobe(base + "/media/" + name, "-show_streams")
    check(any(s.get("codec_type") == "video" for s in reference.get("streams", [])), "ffprobe over HTTP finds the video")

    # Eight clients at once, each the whole file.
    biggest = max(files, key=lambda n: os.path.getsize(os.path.join(folder, n)))
    expected = served_bytes(os.path.join(folder, biggest), answers[biggest], probes.get(biggest, {}))
    with concurrent.futures.ThreadPoolExecutor(8) as pool:
        bodies = list(pool.map(lambda _: curl(base + "/media/" + biggest)[2], range(8)))
    check(all(b == expected for b in bodies), f"8 clients at once: {[len(b) for b in bodies]} of {len(expected)}")

    # Header cap and a slow client.
    host_port = base[len("http://"):].split(":")
    with socket.create_connection((host_port[0], int(host_port[1])), timeout=10) as s:
        s.sendall(b"GET / HTTP/1.1\r\nHost: x\r\nX-Big: " + b"a" * 9000 + b"\r\n\r\n")
        answer = s.recv(64).split()
        refused(int(answer[1]) if len(answer) > 1 else 0, 431, "9000-byte header")
    with socket.create_connection((host_port[0], int(host_port[1])), timeout=20) as s:
        s.sendall(b"GET / HTTP/1.1\r\nHost: x\r\n")
        began = time.monotonic()
        closed = s.recv(64) == b""
        global refusals_caused
        refusals_caused += 1
        check(closed and time.monotonic() - began < 10, "a half-sent request is closed after the time-out")


def make_extras(work, folder, sources):
    """The test's own files: a zero-prefix copy, links, a stranger."""
    for name in sources:
        if name.startswith("h264-hd") and FAMILIES.get(name, ([], 0))[1] == 3:
            data = open(os.path.join(folder, name), "rb").read()
            open(os.path.join(folder, "h264-hd-ac3-zeroed.m2ts"), "wb").write(zero_prefixes(data))
    shutil.copyfile(os.path.join(folder, sources[0]), os.path.join(folder, UNICODE_NAME))
    with open(os.path.join(folder, NO_CLOCK), "wb") as f:
        f.write((b"\x47\x1f\xff\x10" + b"\xff" * 184) * 200)
    outside = os.path.join(work, "outside.ts")
    shutil.copyfile(os.path.join(folder, sources[0]), outside)
    os.symlink(outside, os.path.join(folder, "link-out.ts"))
    with open(os.path.join(folder, "notes.txt"), "w") as f:
        f.write("not a recording\n")


def start_server(host, folder, log_path, *extra):
    server = Server(host, folder, log_path, "--timeout", "2", "--header-timeout", "2", *extra)
    return server, (server.url() if server.port else None)


def stop_server(server, what):
    code = server.stop()
    check(code == 0, f"{what} ends with 0 on Ctrl-C, not {code}")


def check_vendor_names(host, folder, work):
    """Vendor mode: an AVC entry has no profile name, and its alternative
    name is the PN the client sees."""
    name = "h264-hd-ac3.m2ts"
    if not os.path.exists(os.path.join(folder, name)):
        return
    server, base = start_server(host, folder, os.path.join(work, "server-vendor.log"), "--vendor")
    try:
        if check(base is not None, "the vendor-mode server says where it listens"):
            status, headers, _ = head(base + "/media/" + name + "?profile=AVC_TS_HD_60_AC3")
            check(status == 200 and headers.get("contentfeatures.dlna.org", "").startswith(
                "DLNA.ORG_PN=AVC_TS_HD_60_AC3;DLNA.ORG_OP=11;"), f"vendor mode PN: {status} {headers}")
    finally:
        stop_server(server, "the vendor-mode server")


def arguments():
    """The arguments every end-to-end script of the host takes, and the
    recordings the fixture made; None when curl or ffprobe is missing (the
    script is then skipped, exit 77)."""
    args = argument_parser().parse_args()
    for tool in ("curl", "ffprobe"):
        if not shutil.which(tool):
            print(f"skipped: {tool} is not installed (scripts/install-deps.sh installs it)")
            return None, []
    made = made_recordings(args.recordings)
    return args, made


def main():
    args, made = arguments()
    if args is None:
        return 77
    made = [name for name in made if not name.endswith(".vob")]
    if not made:
        print("recordings unavailable: the fixture made no transport-stream recording")
        return 0

    shutil.rmtree(args.work, ignore_errors=True)
    folder = os.path.join(args.work, "serve")
    os.makedirs(folder)
    for name in made:
        shutil.copyfile(os.path.join(args.recordings, name), os.path.join(folder, name))
    make_extras(args.work, folder, made)
    files = sorted(os.path.join(folder, n) for n in os.listdir(folder)
                   if n.endswith((".ts", ".m2ts")) and n not in ("link-out.ts", UNICODE_NAME))
    host = Host(args.host, args.runner)

    probes = check_probe(host, [f for f in files if not f.endswith(NO_CLOCK)])
    answers = check_classify(host, files)
    for f in files:
        entry = (answers.get(os.path.basename(f)) or {}).get("profiles", [{}])[0]
        # The first video packet is one programme's only where there is one.
        if entry.get("timeSeek") and os.path.basename(f) != TWO_PROGRAMS:
            check_stream_seek(host, f, entry["profileName"] or entry["alternativeName"],
                              probes[os.path.basename(f)]["durationMs"], args.work)

    log_path = os.path.join(args.work, "server.log")
    server, base = start_server(host, folder, log_path)
    try:
        if check(base is not None, "the server says where it listens"):
            check_server(host, base, folder, answers, probes, args.work)
    finally:
        stop_server(server, "the server")
    check_vendor_names(host, folder, args.work)
    log = open(log_path, "rb").read().decode("utf-8", "replace")
    check("stopped" in log, "the server logs its stop")
    lines = [line for line in log.splitlines() if " refused" in line]
    check(len(lines) == refusals_caused, f"one log line per refusal: {len(lines)} lines, {refusals_caused} refusals")
    print(f"{len(failures) == 0 and 'passed' or 'FAILED'}: {len(failures)} failure(s)")
    if failures:
        print("server log:\n" + log[-4000:])
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
