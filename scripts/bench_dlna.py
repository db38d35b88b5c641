#!/usr/bin/python3
"""The media server beside MiniDLNA, run by scripts/bench-dlna.sh inside its
network namespace: both servers on loopback, the same folder, the same
requests. Prints what each offers per recording, scan and restart times,
and serving throughput, with the ratios."""

import argparse
import html
import os
import re
import subprocess
import sys
import threading
import time
import urllib.error
import urllib.request
import xml.etree.ElementTree as ET

CD = "urn:schemas-upnp-org:service:ContentDirectory:1"
NS = {"d": "urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/", "dc": "http://purl.org/dc/elements/1.1/"}
OURS_PORT = 18280
PEER_PORT = 18200


def browse(port, path, object_id, start=0, count=0, timeout=30):
    body = ('<?xml version="1.0"?><s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/envelope/" '
            's:encodingStyle="http://schemas.xmlsoap.org/soap/encoding/"><s:Body>'
            f'<u:Browse xmlns:u="{CD}"><ObjectID>{html.escape(object_id)}</ObjectID>'
            '<BrowseFlag>BrowseDirectChildren</BrowseFlag><Filter>*</Filter>'
            f'<StartingIndex>{start}</StartingIndex><RequestedCount>{count}</RequestedCount>'
            '<SortCriteria></SortCriteria></u:Browse></s:Body></s:Envelope>').encode()
    request = urllib.request.Request(f"http://127.0.0.1:{port}{path}", data=body, method="POST", headers={
        "Content-Type": 'text/xml; charset="utf-8"', "SOAPACTION": f'"{CD}#Browse"'})
    with urllib.request.urlopen(request, timeout=timeout) as answer:
        envelope = ET.fromstring(answer.read())
    out = {}
    for element in envelope.iter():
        tag = element.tag.split("}")[-1]
        if tag in ("Result", "NumberReturned", "TotalMatches"):
            out[tag] = element.text or ""
    items = []
    for item in ET.fromstring(out["Result"]).findall("d:item", NS):
        title = item.findtext("dc:title", "", NS)
        resources = [(res.get("protocolInfo", ""), (res.text or "").strip()) for res in item.findall("d:res", NS)]
        items.append((title, resources))
    return int(out["NumberReturned"]), int(out["TotalMatches"]), items


def browse_all(port, path, object_id):
    items = []
    total = None
    while total is None or len(items) < total:
        returned, total, page = browse(port, path, object_id, len(items), 0)
        if returned == 0:
            break
        items += page
    return total, items


class Server:
    """One server process of ours or MiniDLNA's."""

    def __init__(self, name, command, env, port, control, container, ready_line, log=None):
        self.name, self.command, self.env, self.port = name, command, env, port
        self.control, self.container, self.ready_line, self.log = control, container, ready_line, log
        self.process = None
        self.lines = []
        self.ready_at = None

    def start(self):
        self.lines, self.ready_at = [], None
        if self.log and os.path.exists(self.log):
            os.remove(self.log)
        self.started = time.monotonic()
        self.process = subprocess.Popen(self.command, env=self.env, stdout=subprocess.PIPE,
                                        stderr=subprocess.STDOUT, text=True, errors="replace")
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.process.stdout:
            self.lines.append(line)
            if self.ready_at is None and self.ready_line.search(line):
                self.ready_at = time.monotonic()

    def wait_ready(self, limit=600):
        """Seconds from the start to the server's own word that its scan is done."""
        end = time.monotonic() + limit
        while self.ready_at is None:
            if self.log and os.path.exists(self.log):
                with open(self.log, errors="replace") as log:
                    if self.ready_line.search(log.read()):
                        self.ready_at = time.monotonic()
                        break
            if time.monotonic() > end or self.process.poll() is not None:
                sys.exit(f"{self.name}: no end of scan seen:\n" + "".join(self.lines[-20:]))
            time.sleep(0.005)
        return self.ready_at - self.started

    def wait_browsable(self, count, limit=600):
        """Seconds from the start until a browse of the folder answers every recording."""
        end = time.monotonic() + limit
        while time.monotonic() < end:
            if self.process.poll() is not None:
                sys.exit(f"{self.name} ended:\n" + "".join(self.lines[-20:]))
            try:
                returned, total, _ = browse(self.port, self.control, self.container, 0, 0, timeout=5)
                if returned == count and total == count:
                    return time.monotonic() - self.started
            except OSError:
                pass
            time.sleep(0.01)
        sys.exit(f"{self.name}: the folder never answered {count} recordings")

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=30)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


def time_seek(url):
    """Whether the server answers a time seek from 1 s on."""
    request = urllib.request.Request(url, headers={"TimeSeekRange.dlna.org": "npt=1.000-",
                                                   "getcontentFeatures.dlna.org": "1"})
    try:
        with urllib.request.urlopen(request, timeout=30) as answer:
            return answer.status == 200 and answer.headers.get("TimeSeekRange.dlna.org") is not None
    except OSError:
        return False


def throughput(url, clients, rounds):
    total = [0] * clients
    busy = [0]

    def fetch(index):
        done = 0
        while done < rounds:
            try:
                with urllib.request.urlopen(url, timeout=60) as answer:
                    while True:
                        chunk = answer.read(256 * 1024)
                        if not chunk:
                            break
                        total[index] += len(chunk)
                done += 1
            except urllib.error.HTTPError as refused:
                # A server at its limit says so: ask again shortly, as a player would.
                if refused.code != 503:
                    raise
                busy[0] += 1
                time.sleep(0.05)

    threads = [threading.Thread(target=fetch, args=(i,)) for i in range(clients)]
    start = time.monotonic()
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    return sum(total) / (time.monotonic() - start) / 1e6, busy[0]


def pn(protocol_info):
    found = re.search(r"DLNA\.ORG_PN=([^;]*)", protocol_info)
    return found.group(1) if found else "-"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--host", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--recordings", required=True)
    parser.add_argument("--count", type=int, default=200)
    parser.add_argument("--rounds", type=int, default=10)
    args = parser.parse_args()

    sources = []
    for line in open(os.path.join(args.recordings, "status.txt")):
        if line.startswith("ok "):
            sources.append(line[3:].strip())
    folder = os.path.join(args.work, "served")
    os.makedirs(folder)
    for i in range(args.count):
        source = sources[i % len(sources)]
        stem, ext = os.path.splitext(source)
        os.link(os.path.join(args.recordings, source), os.path.join(folder, f"{stem}_{ext[1:]}-{i:03d}{ext}"))

    env = dict(os.environ, XDG_CACHE_HOME=os.path.join(args.work, "cache"))
    ours = Server("VskMediaHost", [args.host, "serve", folder, "--port", str(OURS_PORT), "--no-discovery"], env,
                  OURS_PORT, "/upnp/control/ContentDirectory", "0", re.compile(r"library ready"))
    db = os.path.join(args.work, "minidlna")
    os.makedirs(db)
    with open(os.path.join(db, "minidlna.conf"), "w") as conf:
        conf.write(f"media_dir=V,{folder}\ndb_dir={db}\nlog_dir={db}\nport={PEER_PORT}\nnetwork_interface=lo\n"
                   "friendly_name=bench\ninotify=no\nlog_level=general,artwork,database,inotify,metadata,http,ssdp,"
                   "tivo=warn,scanner=info\n")
    peer = Server("MiniDLNA", ["/usr/sbin/minidlnad", "-S", "-f", os.path.join(db, "minidlna.conf"),
                               "-P", os.path.join(db, "minidlna.pid")], env, PEER_PORT, "/ctl/ContentDir", "2$8",
                  re.compile(r"Scanning .* finished"), os.path.join(db, "minidlna.log"))

    scans = {}
    try:
        for server in (ours, peer):
            print(f"{server.name}: first scan", flush=True)
            server.start()
            first = server.wait_ready()
            server.wait_browsable(args.count)
            server.stop()
            server.start()
            restart = server.wait_browsable(args.count)
            scans[server.name] = (first, restart)

        # Both running now: what each offers per recording.
        offers = {}
        for server in (ours, peer):
            _, items = browse_all(server.port, server.control, server.container)
            offers[server.name] = {title: resources for title, resources in items}
        print(f"\nper recording ({len(sources)} test recordings): DLNA.ORG_PN offered, and whether a time seek is answered")
        print(f"{'recording':<22} {'VskMediaHost':<44} {'MiniDLNA':<30}")
        for number, source in enumerate(sources):
            stem, ext = os.path.splitext(source)
            title = f"{stem}_{ext[1:]}-{number:03d}"
            cells = []
            for server in (ours, peer):
                resources = offers[server.name].get(title, [])
                cell = ", ".join(f"{pn(p)} ({'seek' if time_seek(url) else 'no seek'})" for p, url in resources)
                cells.append(cell or "(not listed)")
            print(f"{source:<22} {cells[0]:<44} {cells[1]:<30}")

        print(f"\n{args.count} recordings (hard links to the test recordings)")
        print(f"{'':<28} {'VskMediaHost':>13} {'MiniDLNA':>10} {'ratio':>8}")
        for label, index in (("first scan, s", 0), ("restart to a full browse, s", 1)):
            a, b = scans["VskMediaHost"][index], scans["MiniDLNA"][index]
            print(f"{label:<28} {a:>13.3f} {b:>10.3f} {a / b:>8.2f}")

        # The same recording from each, whole: the first resource it lists.
        probe = next(s for s in sources if s.startswith("mpeg2-hd")) if any(
            s.startswith("mpeg2-hd") for s in sources) else sources[0]
        stem, ext = os.path.splitext(probe)
        title = f"{stem}_{ext[1:]}-{sources.index(probe):03d}"
        print(f"\nserving throughput, MB/s ({probe} whole, {args.rounds} times per client)")
        print(f"{'clients':<28} {'VskMediaHost':>13} {'MiniDLNA':>10} {'ratio':>8}")
        for clients in (1, 8):
            (a, busy_a), (b, busy_b) = [throughput(offers[s.name][title][0][1], clients, args.rounds) for s in (ours, peer)]
            note = f"   (503 answers: {busy_a} and {busy_b})" if busy_a or busy_b else ""
            print(f"{clients:<28} {a:>13.1f} {b:>10.1f} {a / b:>8.2f}{note}")
    finally:
        ours.stop()
        peer.stop()


if __name__ == "__main__":
    main()
