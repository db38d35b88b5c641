#!/usr/bin/env python3
"""The media server against a real control point, end to end.

GUPnP and GUPnP-AV (GNOME's UPnP stack, through python3-gi) find the server
by SSDP, read its description, browse every container, parse the DIDL-Lite,
fetch every resource by byte range (and by time where its flags offer it),
ask for the protocol info, subscribe to events and see the server leave.
Raw SSDP and GENA exchanges beside it check what GUPnP is lenient about.

Everything runs inside a network namespace the test makes for itself
(unshare -n; loopback up with multicast and a route for 239.0.0.0/8), so
no SSDP datagram reaches a real network. Under Wine the host gets a
private copy of the build's prefix, whose Wine server starts inside the
namespace: Wine opens sockets in its server, so a server outside would put
them on the machine's own network.

In order: discovery within 5 s; every container browsed; every <res>
fetched; GetProtocolInfo against the catalogue; SUBSCRIBE with its initial
event and a later one; ssdp:byebye on stop. Then the UUID across a
restart, --no-discovery, and --bind 0.0.0.0 answering each asker with the
address it can reach.

Exit 77 (skipped, with the reason) where no namespace can be made or the
GUPnP bindings are missing.
"""
import argparse
import http.client
import http.server
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import threading
import time
import urllib.parse
import urllib.request
import xml.etree.ElementTree as ET

from hosttest import Host, Server, argument_parser, check, failures, made_recordings

SSDP = ("239.255.255.250", 1900)
MEDIA_SERVER = "urn:schemas-upnp-org:device:MediaServer:1"
CONTENT_DIRECTORY = "urn:schemas-upnp-org:service:ContentDirectory:1"
CONNECTION_MANAGER = "urn:schemas-upnp-org:service:ConnectionManager:1"
DEVICE_NS = "{urn:schemas-upnp-org:device-1-0}"
SERVICE_NS = "{urn:schemas-upnp-org:service-1-0}"
DLNA_NS = "{urn:schemas-dlna-org:device-1-0}"
EVENT_NS = "{urn:schemas-upnp-org:event-1-0}"
DIDL_NS = "{urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/}"
# A name every writer must escape, with text beyond ASCII.
FRIENDLY_NAME = "Films & <Shows> \"d\u00e9j\u00e0 vu\""
# The actions each service template requires.
REQUIRED_ACTIONS = {
    CONTENT_DIRECTORY: {"Browse", "GetSearchCapabilities", "GetSortCapabilities", "GetSystemUpdateID"},
    CONNECTION_MANAGER: {"GetProtocolInfo", "GetCurrentConnectionIDs", "GetCurrentConnectionInfo"},
}
SUB_FOLDER = "Sub & folder"
PLAIN_NAME = "program-stream.mpg"  # the program stream: no profile, served as it is
LOCAL_NET = "10.99.0.1/24"         # a second interface, inside the namespace only

def step(title):
    print("--- " + title, flush=True)


# ---------------------------------------------------------------------------
# Outside the namespace: what is needed, and the namespace itself.

BINDINGS_PROBE = """
import gi
gi.require_version("GUPnP", "1.6")
gi.require_version("GUPnPAV", "1.0")
from gi.repository import GUPnP, GUPnPAV
"""


def outside(args):
    python = "/usr/bin/python3"
    probe = subprocess.run([python, "-c", BINDINGS_PROBE], capture_output=True, text=True)
    if probe.returncode != 0:
        last = (probe.stderr.strip().splitlines() or ["?"])[-1]
        print("skipped: the GUPnP bindings are missing (python3-gi, gir1.2-gupnp-1.6, gir1.2-gupnp-av-1.0; "
              "scripts/install-deps.sh installs them): " + last)
        return 77
    for tool in ("unshare", "ip"):
        if not shutil.which(tool) and not os.path.exists("/usr/sbin/" + tool):
            print(f"skipped: {tool} is not installed")
            return 77
    trial = subprocess.run(["unshare", "-n", "true"], capture_output=True, text=True)
    if trial.returncode != 0:
        print("skipped: no network namespace can be made here (unshare -n: " + trial.stderr.strip() + ")")
        return 77
    if not made_recordings(args.recordings):
        print("recordings unavailable: the fixture made no recording")
        return 0

    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    env = dict(os.environ)
    if args.runner:
        env["WINEPREFIX"] = private_prefix(args)
        env["WINEDEBUG"] = "-all"
    command = ["unshare", "-n", "--", python, "-B", os.path.abspath(__file__), "--inside"] + sys.argv[1:]
    inner = subprocess.Popen(command, env=env, start_new_session=True)
    try:
        return inner.wait(timeout=args.time_limit)
    except subprocess.TimeoutExpired:
        # Everything it started goes with it: the server, Wine's own server.
        os.killpg(inner.pid, signal.SIGKILL)
        inner.wait()
        print(f"FAILED: the test did not end within {args.time_limit} s")
        return 1


def private_prefix(args):
    """A Wine prefix of the test's own: the build's, linked file by file
    (cheap, and a program's registration stays in the copy), with its
    registry files copied, as Wine rewrites them whole."""
    build = os.path.dirname(os.path.dirname(os.path.dirname(args.host)))
    source = os.environ.get("WINEPREFIX") or os.path.join(build, "wineprefix")
    target = os.path.join(args.work, "wineprefix")
    if os.path.isdir(os.path.join(source, "drive_c")):
        subprocess.run(["cp", "-al", source, target], check=True)
        for name in os.listdir(source):
            if name.endswith(".reg"):
                os.unlink(os.path.join(target, name))
                shutil.copy2(os.path.join(source, name), os.path.join(target, name))
    return target  # else Wine makes a new one there on first use


# ---------------------------------------------------------------------------
# Inside the namespace.

def ip(*words, must=True):
    out = subprocess.run(["ip", *words], capture_output=True, text=True)
    if must and out.returncode != 0:
        raise RuntimeError("ip " + " ".join(words) + ": " + out.stderr.strip())
    return out.returncode == 0


def ssdp_listener():
    """A socket that hears the group on loopback, as any device there does."""
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM, socket.IPPROTO_UDP)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind(("", SSDP[1]))
    s.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                 socket.inet_aton(SSDP[0]) + socket.inet_aton("127.0.0.1"))
    s.settimeout(0.2)
    return s


def read_message(data):
    text = data.decode("utf-8", "replace")
    lines = text.split("\r\n")
    headers = {}
    for line in lines[1:]:
        if not line:
            break
        key, _, value = line.partition(":")
        headers[key.strip().upper()] = value.strip()
    return lines[0], headers


def received(sock, seconds, keep):
    """The SSDP messages `sock` receives within `seconds` whose start line
    and headers `keep` accepts, as their headers."""
    messages = []
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            data, _ = sock.recvfrom(4096)
        except socket.timeout:
            continue
        start, headers = read_message(data)
        if keep(start, headers):
            messages.append(headers)
    return messages


def heard(listener, seconds, nts=None):
    """NOTIFY messages heard within `seconds` (of that NTS, if given)."""
    return received(listener, seconds,
                    lambda start, headers: start.startswith("NOTIFY") and (nts is None or headers.get("NTS") == nts))


def search(target, mx="1", source="127.0.0.1", wait=1.6, man='"ssdp:discover"'):
    """The answers to one M-SEARCH sent to the group from `source`."""
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM, socket.IPPROTO_UDP)
    s.bind((source, 0))
    s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(source))
    s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_TTL, 2)
    request = f"M-SEARCH * HTTP/1.1\r\nHOST: {SSDP[0]}:{SSDP[1]}\r\n"
    if man is not None:
        request += f"MAN: {man}\r\n"
    if mx is not None:
        request += f"MX: {mx}\r\n"
    request += f"ST: {target}\r\n\r\n"
    s.sendto(request.encode(), SSDP)
    s.settimeout(0.1)
    answers = received(s, wait, lambda start, headers: start.startswith("HTTP/1.1 200"))
    s.close()
    return answers


def fetch(url, headers=None, limit=None):
    """(status, headers, body) of a GET, at most `limit` bytes of the body."""
    parts = urllib.parse.urlsplit(url)
    connection = http.client.HTTPConnection(parts.hostname, parts.port, timeout=60)
    try:
        connection.request("GET", parts.path + ("?" + parts.query if parts.query else ""), headers=headers or {})
        answer = connection.getresponse()
        body = answer.read(limit) if limit else answer.read()
        return answer.status, {k.lower(): v for k, v in answer.getheaders()}, body
    finally:
        connection.close()


def gena(url, method, headers, source=None):
    parts = urllib.parse.urlsplit(url)
    connection = http.client.HTTPConnection(parts.hostname, parts.port, timeout=30,
                                            source_address=(source, 0) if source else None)
    try:
        connection.request(method, parts.path, headers=headers)
        answer = connection.getresponse()
        answer.read()
        return answer.status, {k.upper(): v for k, v in answer.getheaders()}
    finally:
        connection.close()


class EventSink:
    """A callback URL on loopback that keeps each NOTIFY it is sent."""

    def __init__(self):
        sink = self
        self.events = []
        self.arrived = threading.Condition()

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_NOTIFY(self):
                body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
                with sink.arrived:
                    sink.events.append(({k.upper(): v for k, v in self.headers.items()}, body))
                    sink.arrived.notify_all()
                self.send_response(200)
                self.send_header("Content-Length", "0")
                self.end_headers()

            def log_message(self, *args):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def url(self, name):
        return f"http://127.0.0.1:{self.server.server_port}/{name}"

    def wait(self, predicate, seconds):
        deadline = time.monotonic() + seconds
        with self.arrived:
            while True:
                found = [e for e in self.events if predicate(*e)]
                if found or time.monotonic() >= deadline:
                    return found
                self.arrived.wait(max(0.0, deadline - time.monotonic()))

    def close(self):
        self.server.shutdown()
        self.server.server_close()


def properties(body):
    root = ET.fromstring(body)
    values = {}
    for prop in root.findall(EVENT_NS + "property"):
        for variable in prop:
            values[variable.tag] = variable.text or ""
    return values


# ---------------------------------------------------------------------------
# GUPnP.

class ControlPoint:
    def __init__(self):
        import gi
        gi.require_version("GUPnP", "1.6")
        gi.require_version("GUPnPAV", "1.0")
        from gi.repository import GLib, GObject, GUPnP, GUPnPAV
        self.GLib, self.GObject, self.GUPnP, self.GUPnPAV = GLib, GObject, GUPnP, GUPnPAV
        self.context = GUPnP.Context.new("lo", 0)
        self.point = GUPnP.ControlPoint.new(self.context, MEDIA_SERVER)
        self.available = []
        self.unavailable = []
        self.point.connect("device-proxy-available", lambda _, proxy: self.available.append(proxy))
        self.point.connect("device-proxy-unavailable", lambda _, proxy: self.unavailable.append(proxy.get_udn()))
        self.point.set_active(True)

    def spin(self, predicate, seconds):
        context = self.GLib.MainContext.default()
        deadline = time.monotonic() + seconds
        while not predicate() and time.monotonic() < deadline:
            while context.pending():
                context.iteration(False)
            time.sleep(0.02)
        return predicate()

    def service(self, device, service_type):
        for service in device.list_services():
            if service.get_service_type() == service_type:
                return service
        return None

    def call(self, service, action, arguments, results):
        """results: (name, GType) pairs; their values in that order."""
        G = self.GObject
        values = []
        for value in arguments.values():
            v = G.Value()
            if isinstance(value, int):
                v.init(G.TYPE_UINT)
                v.set_uint(value)
            else:
                v.init(G.TYPE_STRING)
                v.set_string(value)
            values.append(v)
        call = self.GUPnP.ServiceProxyAction.new_from_list(action, list(arguments.keys()), values)
        service.call_action(call, None)
        # (success, values): a failure has been raised by then.
        _, values = call.get_result_list([name for name, _ in results], [kind for _, kind in results])
        return values


def browse(cp, directory, object_id, flag, start, count):
    G = cp.GObject
    return cp.call(directory, "Browse",
                   {"ObjectID": object_id, "BrowseFlag": flag, "Filter": "*", "StartingIndex": start,
                    "RequestedCount": count, "SortCriteria": ""},
                   [("Result", G.TYPE_STRING), ("NumberReturned", G.TYPE_UINT), ("TotalMatches", G.TYPE_UINT),
                    ("UpdateID", G.TYPE_UINT)])


# <res> URL -> its protocolInfo as the DIDL-Lite wrote it (GUPnP-AV writes
# the ones it parsed its own way).
raw_protocol_info = {}


def parse_didl(cp, didl):
    for res in ET.fromstring(didl).iter(DIDL_NS + "res"):
        raw_protocol_info[(res.text or "").strip()] = res.get("protocolInfo", "")
    parser = cp.GUPnPAV.DIDLLiteParser.new()
    containers, items = [], []
    parser.connect("container-available", lambda _, c: containers.append(c))
    parser.connect("item-available", lambda _, i: items.append(i))
    parser.parse_didl(didl)
    return containers, items


def browse_all(cp, directory, page=3):
    """Every container from "0" down, each paged `page` children at a time:
    {container id: (children's ids, items)}."""
    seen = {}
    pending = ["0"]
    while pending and len(seen) < 200:
        container = pending.pop(0)
        children, items = [], []
        start, total = 0, None
        while total is None or start < total:
            didl, returned, total, _ = browse(cp, directory, container, "BrowseDirectChildren", start, page)
            check(returned <= page, f"Browse {container} from {start}: {returned} returned for {page} asked")
            found_containers, found_items = parse_didl(cp, didl)
            check(len(found_containers) + len(found_items) == returned,
                  f"Browse {container}: NumberReturned {returned}, DIDL-Lite holds "
                  f"{len(found_containers) + len(found_items)}")
            for c in found_containers:
                check(c.get_parent_id() == container, f"container {c.get_id()} names parent {c.get_parent_id()}")
                children.append(c.get_id())
                pending.append(c.get_id())
            items.extend(found_items)
            if returned == 0:
                break
            start += returned
        check(start == total, f"Browse {container}: paged through {start} of TotalMatches {total}")
        seen[container] = (children, items)
    return seen


# ---------------------------------------------------------------------------
# What the answers are checked against.

def catalogue(host):
    """(mime, PN, time seek) of every entry of `VskMediaHost profiles`."""
    out = host.run("profiles")
    entries = set()
    for line in out.stdout.decode().splitlines():
        match = re.match(r"\s*\d+\s+(\S+)\s+(\S+)\s+time seek (yes|no)", line)
        if match:
            name = None if match.group(1) == "-" else match.group(1)  # "-": an entry without a PN
            entries.add((match.group(2), name, match.group(3) == "yes"))
    return entries


def unit_size(path):
    with open(path, "rb") as f:
        head = f.read(192 * 3 + 4)
    if len(head) >= 392 and head[4] == 0x47 and head[196] == 0x47 and head[388] == 0x47:
        return 192
    return 188


def expected_bytes(path, profile, first, length):
    """The bytes a client is owed: the file's, with the time-stamp prefixes
    of 192-byte units cleared where an AVC profile serves them."""
    with open(path, "rb") as f:
        f.seek(first)
        data = bytearray(f.read(length))
    if profile.startswith("AVC_TS") and unit_size(path) == 192:
        for unit in range((-first) % 192, len(data), 192):
            data[unit:unit + 4] = b"\0" * len(data[unit:unit + 4])
        for at in range(first, first + min(len(data), 4)):  # a range starting inside a prefix
            if at % 192 < 4:
                data[at - first] = 0
    return bytes(data)


def component_time_seek(host, path, profile, start, work):
    out = host.run("stream", host.path(path), "--profile", profile, "--seek-time", start,
                   "-o", host.path(os.path.join(work, "seek.out")))
    match = re.search(rb"found (\d+) ms at byte (\d+)", out.stderr)
    return (int(match.group(1)), int(match.group(2))) if match else (None, None)


# ---------------------------------------------------------------------------
def make_folder(args, folder):
    made = made_recordings(args.recordings)
    os.makedirs(os.path.join(folder, SUB_FOLDER))

    def place(source, target):
        try:
            os.link(source, target)
        except OSError:
            shutil.copyfile(source, target)

    streams = [name for name in made if name.endswith((".ts", ".m2ts"))]
    for name in streams:
        place(os.path.join(args.recordings, name), os.path.join(folder, name))
    if streams:
        place(os.path.join(args.recordings, streams[0]), os.path.join(folder, SUB_FOLDER, "again " + streams[0]))
    if "mpeg2-ac3.vob" in made:
        place(os.path.join(args.recordings, "mpeg2-ac3.vob"), os.path.join(folder, PLAIN_NAME))
    with open(os.path.join(folder, "notes.txt"), "w") as f:
        f.write("not a recording\n")
    recordings = set()
    for root, _, files in os.walk(folder):
        for name in files:
            if name != "notes.txt":
                recordings.add(os.path.relpath(os.path.join(root, name), folder))
    return recordings, streams


def check_description(server, cp_device):
    step("description documents")
    status, _, body = fetch(server.url("/upnp/description.xml"))
    if not check(status == 200, f"description.xml: {status}"):
        return
    root = ET.fromstring(body)
    device = root.find(DEVICE_NS + "device")
    check(root.tag == DEVICE_NS + "root" and device is not None, "the device description's root and device")
    text = lambda element, name: (element.findtext(DEVICE_NS + name) or "").strip()
    check(text(device, "deviceType") == MEDIA_SERVER, "deviceType")
    check(text(device, "friendlyName") == FRIENDLY_NAME, f"friendlyName {text(device, 'friendlyName')!r}")
    check(re.fullmatch(r"uuid:[0-9a-f]{8}-[0-9a-f]{4}-5[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}",
                       text(device, "UDN")), f"UDN {text(device, 'UDN')}")
    check(text(device, "UDN") == cp_device.get_udn(), "the UDN GUPnP found is the description's")
    check((device.findtext(DLNA_NS + "X_DLNADOC") or "").strip() == "DMS-1.50", "dlna:X_DLNADOC DMS-1.50")
    for name in ("manufacturer", "modelName"):
        check(text(device, name) != "", f"{name} present")
    services = device.findall(DEVICE_NS + "serviceList/" + DEVICE_NS + "service")
    types = {text(s, "serviceType"): s for s in services}
    check(set(types) == set(REQUIRED_ACTIONS), f"services {sorted(types)}")
    for service_type, service in types.items():
        status, _, scpd = fetch(urllib.parse.urljoin(server.url("/upnp/description.xml"), text(service, "SCPDURL")))
        if not check(status == 200, f"SCPD of {service_type}: {status}"):
            continue
        scpd_root = ET.fromstring(scpd)
        actions = {a.findtext(SERVICE_NS + "name") for a in scpd_root.iter(SERVICE_NS + "action")}
        check(REQUIRED_ACTIONS[service_type] <= actions, f"{service_type} actions {sorted(actions)}")
        declared = {v.findtext(SERVICE_NS + "name"): v.get("sendEvents")
                    for v in scpd_root.iter(SERVICE_NS + "stateVariable")}
        for argument in scpd_root.iter(SERVICE_NS + "argument"):
            check(argument.findtext(SERVICE_NS + "relatedStateVariable") in declared,
                  f"{service_type}: argument {argument.findtext(SERVICE_NS + 'name')} names a declared variable")
        evented = {"SystemUpdateID"} if service_type == CONTENT_DIRECTORY else \
            {"SourceProtocolInfo", "SinkProtocolInfo", "CurrentConnectionIDs"}
        for name in evented:
            check(declared.get(name) == "yes", f"{service_type}: {name} is evented")


def check_searches(server):
    step("M-SEARCH answers")
    location = server.url("/upnp/description.xml")
    udn = None
    answers = search("ssdp:all")
    targets = {a.get("ST") for a in answers}
    for a in answers:
        if a.get("ST", "").startswith("uuid:"):
            udn = a["ST"]
    expected = {"upnp:rootdevice", MEDIA_SERVER, CONTENT_DIRECTORY, CONNECTION_MANAGER, udn}
    check(len(answers) == 5 and targets == expected, f"ssdp:all: {len(answers)} answers, {sorted(map(str, targets))}")
    for a in answers:
        check(a.get("LOCATION") == location, f"LOCATION {a.get('LOCATION')} is not {location}")
        check(a.get("EXT") == "" and re.fullmatch(r"max-age=\d+", a.get("CACHE-CONTROL", "")) is not None and
              int(a["CACHE-CONTROL"][8:]) >= 1800, f"answer headers {a}")
        st, usn = a.get("ST"), a.get("USN")
        check(usn == (udn if st == udn else f"{udn}::{st}"), f"USN {usn} for ST {st}")
    for target in ("upnp:rootdevice", udn, MEDIA_SERVER, CONTENT_DIRECTORY, CONNECTION_MANAGER):
        one = search(target)
        check(len(one) == 1 and one[0].get("ST") == target, f"search {target}: {[a.get('ST') for a in one]}")
    for target, mx, man, why in (
            ("urn:schemas-upnp-org:device:MediaServer:2", "1", '"ssdp:discover"', "a later version"),
            ("urn:schemas-upnp-org:device:MediaRenderer:1", "1", '"ssdp:discover"', "another device type"),
            ("ssdp:all", None, '"ssdp:discover"', "a multicast search without MX"),
            ("ssdp:all", "x", '"ssdp:discover"', "MX not a number"),
            ("ssdp:all", "1", None, "no MAN"),
            ("ssdp:all", "1", '"ssdp:alive"', "another MAN")):
        none = search(target, mx=mx, man=man, wait=1.2)
        check(not none, f"{why} is not answered ({len(none)} answers)")
    return udn


def check_browse_and_fetch(cp, device, host, folder, recordings, work):
    step("browse every container")
    directory = cp.service(device, CONTENT_DIRECTORY)
    if not check(directory is not None, "a ContentDirectory service"):
        return
    try:
        tree = browse_all(cp, directory)
    except Exception as error:  # a SOAP fault or a transport failure, as GUPnP raises it
        check(False, f"Browse: {error}")
        return
    items = [item for _, found in tree.values() for item in found]
    check(len(tree) >= 2, f"containers browsed: {sorted(tree)} (the folder and its sub-folder)")
    served = {}
    for item in items:
        check(item.get_upnp_class().startswith("object.item.videoItem"), f"{item.get_title()}: {item.get_upnp_class()}")
        check(bool(item.get_title()), f"item {item.get_id()} has a title")
        resources = item.get_resources()
        check(len(resources) >= 1, f"{item.get_title()}: {len(resources)} resources")
        for res in resources:
            path = urllib.parse.unquote(urllib.parse.urlsplit(res.get_uri()).path)
            check(path.startswith("/media/"), f"{res.get_uri()} is a /media/ URL")
            served.setdefault(path[len("/media/"):], []).append(res)
    check(set(served) == recordings, f"recordings listed {sorted(served)}, in the folder {sorted(recordings)}")
    # Metadata of one item and of the root, each alone.
    if items:
        didl, returned, total, _ = browse(cp, directory, items[0].get_id(), "BrowseMetadata", 0, 0)
        _, again = parse_didl(cp, didl)
        check(returned == 1 and total == 1 and len(again) == 1 and again[0].get_id() == items[0].get_id(),
              f"BrowseMetadata of {items[0].get_id()}")

    step("fetch every resource")
    counted = {"ranges": 0, "time seeks": 0}
    for rel, resources in sorted(served.items()):
        path = os.path.join(folder, rel)
        size = os.path.getsize(path)
        for res in resources:
            info = res.get_protocol_info()
            profile = info.get_dlna_profile() or ""
            label = f"{rel} as {profile or info.get_mime_type()}"
            check(res.get_size64() in (size, -1), f"{label}: size {res.get_size64()}, file {size}")
            first = size // 3
            length = min(65536, size - first)
            status, headers, body = fetch(res.get_uri(), {"Range": f"bytes={first}-{first + length - 1}"})
            check(status == 206, f"{label}: Range answered {status}")
            check(headers.get("content-type", "").lower() == info.get_mime_type().lower(),
                  f"{label}: Content-Type {headers.get('content-type')} vs protocolInfo {info.get_mime_type()}")
            check(body == expected_bytes(path, profile, first, length), f"{label}: the bytes of the range")
            counted["ranges"] += 1
            fourth = raw_protocol_info.get(res.get_uri(), "").split(":", 3)[-1]
            if profile:
                check(headers["contentfeatures.dlna.org"] == fourth,
                      f"{label}: contentFeatures {headers['contentfeatures.dlna.org']} vs protocolInfo {fourth}")
            timeseek = bool(int(info.get_dlna_operation()) & int(cp.GUPnPAV.DLNAOperation.TIMESEEK))
            if rel == PLAIN_NAME:
                check(not profile and not timeseek and len(resources) == 1,
                      f"{label}: the one plain resource of a recording the component offers nothing for")
                continue
            if not timeseek:
                continue
            duration = res.get_duration()
            if not check(duration > 0, f"{label}: time seek without a duration"):
                continue
            start = f"{duration * 0.4:.3f}"
            found, byte = component_time_seek(host, path, profile, start, work)
            status, headers, body = fetch(res.get_uri(), {"TimeSeekRange.dlna.org": f"npt={start}-"}, limit=65536)
            answer = headers.get("timeseekrange.dlna.org", "")
            match = re.match(r"npt=(\d+(?:\.\d+)?)-[^ ]* bytes=(\d+)-(\d+)/(\d+)", answer)
            if check(status == 200 and match, f"{label}: time seek {start}: {status} {answer!r}"):
                check(round(float(match.group(1)) * 1000) == found and int(match.group(2)) == byte,
                      f"{label}: time seek {start} answered {answer}, the component found {found} ms at {byte}")
                check(body == expected_bytes(path, profile, byte, len(body)), f"{label}: the bytes from the time seek")
                counted["time seeks"] += 1


    print(f"{len(items)} items in {len(tree)} containers; {counted['ranges']} byte ranges and "
          f"{counted['time seeks']} time seeks fetched")


def check_protocol_info(cp, device, host):
    step("GetProtocolInfo against the catalogue")
    manager = cp.service(device, CONNECTION_MANAGER)
    if not check(manager is not None, "a ConnectionManager service"):
        return None
    G = cp.GObject
    try:
        source, sink = cp.call(manager, "GetProtocolInfo", {}, [("Source", G.TYPE_STRING), ("Sink", G.TYPE_STRING)])
    except Exception as error:
        check(False, f"GetProtocolInfo: {error}")
        return None
    offered = set()
    for entry in source.split(","):
        info = cp.GUPnPAV.ProtocolInfo.new_from_string(entry)
        timeseek = bool(int(info.get_dlna_operation()) & int(cp.GUPnPAV.DLNAOperation.TIMESEEK))
        offered.add((info.get_mime_type(), info.get_dlna_profile(), timeseek))
    expected = catalogue(host)
    check(expected and offered == expected,
          f"GetProtocolInfo Source: {len(offered)} entries; the catalogue {len(expected)}; "
          f"apart: {sorted(offered ^ expected, key=str)[:6]}")
    check(sink == "", f"GetProtocolInfo Sink {sink!r}")
    return source


def check_events(cp, device, server, folder, streams, source_protocol_info):
    step("SUBSCRIBE through GUPnP")
    directory = cp.service(device, CONTENT_DIRECTORY)
    heard_ids = []
    lost = []
    directory.connect("subscription-lost", lambda *_: lost.append(True))
    directory.add_notify("SystemUpdateID", cp.GObject.TYPE_UINT, lambda _, name, value: heard_ids.append(value))
    directory.set_subscribed(True)
    check(cp.spin(lambda: heard_ids or lost, 5) and heard_ids and not lost,
          f"GUPnP's subscription: initial event {heard_ids}, lost {bool(lost)}")

    step("SUBSCRIBE, renewal, UNSUBSCRIBE as GENA has them")
    sink = EventSink()
    try:
        cd_url = server.url("/upnp/event/ContentDirectory")
        cm_url = server.url("/upnp/event/ConnectionManager")
        status, headers = gena(cd_url, "SUBSCRIBE", {"CALLBACK": f"<{sink.url('cd')}>", "NT": "upnp:event",
                                                     "TIMEOUT": "Second-300"})
        sid = headers.get("SID", "")
        check(status == 200 and sid.startswith("uuid:") and re.fullmatch(r"Second-\d+", headers.get("TIMEOUT", "")),
              f"SUBSCRIBE: {status} SID {sid!r} TIMEOUT {headers.get('TIMEOUT')!r}")
        initial = sink.wait(lambda h, b: h.get("SID") == sid, 5)
        if check(initial, "the initial ContentDirectory event within 5 s"):
            h, body = initial[0]
            check(h.get("SEQ") == "0" and h.get("NT") == "upnp:event" and h.get("NTS") == "upnp:propchange",
                  f"initial event headers {h}")
            values = properties(body)
            check({"SystemUpdateID", "ContainerUpdateIDs"} <= set(values), f"initial event variables {values}")
            first_id = int(values.get("SystemUpdateID") or 0)
            # A new recording: the next browse sees it, and an event follows.
            if streams:
                shutil.copyfile(os.path.join(folder, streams[0]), os.path.join(folder, "new " + streams[0]))
                try:
                    browse(cp, directory, "0", "BrowseDirectChildren", 0, 0)
                except Exception:
                    pass
                later = sink.wait(lambda h, b: h.get("SID") == sid and h.get("SEQ") == "1", 10)
                if check(later, "an event after a recording was added"):
                    changed = properties(later[0][1])
                    check(int(changed.get("SystemUpdateID") or 0) > first_id,
                          f"SystemUpdateID {changed.get('SystemUpdateID')} after {first_id}")
        status, headers = gena(cd_url, "SUBSCRIBE", {"SID": sid, "TIMEOUT": "Second-600"})
        check(status == 200 and headers.get("SID") == sid, f"renewal: {status} {headers.get('SID')}")
        for why, extra, expected in (("SID with NT", {"SID": sid, "NT": "upnp:event"}, 400),
                                     ("no NT", {"CALLBACK": f"<{sink.url('x')}>"}, 412),
                                     ("a callback on another network",
                                      {"CALLBACK": "<http://10.1.2.3:4004/x>", "NT": "upnp:event"}, 412),
                                     ("a callback by host name",
                                      {"CALLBACK": f"<http://localhost:{sink.server.server_port}/x>",
                                       "NT": "upnp:event"}, 412)):
            status, _ = gena(cd_url, "SUBSCRIBE", extra)
            check(status == expected, f"SUBSCRIBE with {why}: {status}, not {expected}")
        status, _ = gena(cd_url, "UNSUBSCRIBE", {"SID": sid})
        check(status == 200, f"UNSUBSCRIBE: {status}")
        status, _ = gena(cd_url, "SUBSCRIBE", {"SID": sid})
        check(status == 412, f"renewal after UNSUBSCRIBE: {status}")

        status, headers = gena(cm_url, "SUBSCRIBE", {"CALLBACK": f"<{sink.url('cm')}>", "NT": "upnp:event"})
        cm_sid = headers.get("SID", "")
        initial = sink.wait(lambda h, b: h.get("SID") == cm_sid, 5)
        if check(status == 200 and initial, f"ConnectionManager SUBSCRIBE {status} and its initial event"):
            values = properties(initial[0][1])
            check(set(values) == {"SourceProtocolInfo", "SinkProtocolInfo", "CurrentConnectionIDs"},
                  f"ConnectionManager's evented variables {sorted(values)}")
            if source_protocol_info is not None:
                check(values.get("SourceProtocolInfo") == source_protocol_info,
                      "SourceProtocolInfo evented as GetProtocolInfo answers it")
            check(values.get("CurrentConnectionIDs") == "0", f"CurrentConnectionIDs {values.get('CurrentConnectionIDs')!r}")
    finally:
        sink.close()


def inside(args):
    ip("link", "set", "lo", "up")
    ip("link", "set", "lo", "multicast", "on")
    ip("route", "add", "239.0.0.0/8", "dev", "lo")
    # A second network for --bind 0.0.0.0: a pair of virtual links with an
    # address on one end, or else a second address on loopback.
    second = (ip("link", "add", "vskcp0", "type", "veth", "peer", "name", "vskcp1", must=False) and
              ip("addr", "add", LOCAL_NET, "dev", "vskcp0", must=False) and
              ip("link", "set", "vskcp1", "up", must=False) and ip("link", "set", "vskcp0", "up", must=False)) or \
        ip("addr", "add", LOCAL_NET, "dev", "lo", must=False)
    host = Host(args.host, args.runner)
    if host.wine:
        # The prefix's own Wine server, started here, inside the namespace;
        # Wine's services started apart from the server's output pipe.
        # (No pipe to either: the server and the services outlive the call.)
        subprocess.run(["wineserver", "-p"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(["wine", "cmd.exe", "/c", "exit"], stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        return run_inside(args, host, second)
    finally:
        if host.wine:
            subprocess.run(["wineserver", "-k"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def run_inside(args, host, second):
    folder = os.path.join(args.work, "serve")
    recordings, streams = make_folder(args, folder)
    listener = ssdp_listener()
    cp = ControlPoint()
    step("discovery")
    server = Server(host, folder, os.path.join(args.work, "server.log"), "--name", FRIENDLY_NAME)
    udn = None
    try:
        if not check(server.port is not None, "the server says where it listens"):
            return report(server)
        found = cp.spin(lambda: any(d.get_friendly_name() == FRIENDLY_NAME for d in cp.available), 5)
        check(found, f"GUPnP finds the server within 5 s of its start ({len(cp.available)} devices found)")
        alive = heard(listener, 0.5, "ssdp:alive")
        check({m.get("NT") for m in alive} >= {"upnp:rootdevice", MEDIA_SERVER, CONTENT_DIRECTORY,
                                              CONNECTION_MANAGER},
              f"ssdp:alive for every type: {sorted({m.get('NT') for m in alive})}")
        if not found:
            return report(server)
        device = [d for d in cp.available if d.get_friendly_name() == FRIENDLY_NAME][0]
        check(device.get_location() == server.url("/upnp/description.xml"), f"LOCATION {device.get_location()}")
        check_description(server, device)
        udn = check_searches(server)
        check_browse_and_fetch(cp, device, host, folder, recordings, args.work)
        source = check_protocol_info(cp, device, host)
        check_events(cp, device, server, folder, streams, source)
        step("ssdp:byebye on stop")
        heard(listener, 0.1)  # what was announced before
    finally:
        code = server.stop()
    check(code == 0, f"the server ends with 0 on Ctrl-C, not {code}")
    gone = heard(listener, 2, "ssdp:byebye")
    check({m.get("USN") for m in gone} == ({f"{udn}::upnp:rootdevice", udn, f"{udn}::{MEDIA_SERVER}",
                                            f"{udn}::{CONTENT_DIRECTORY}", f"{udn}::{CONNECTION_MANAGER}"}
                                           if udn else set()) and udn is not None,
          f"ssdp:byebye for every type: {sorted(str(m.get('USN')) for m in gone)}")
    check(cp.spin(lambda: udn in cp.unavailable, 3), "GUPnP sees the server leave")
    log = server.text()

    step("the same UUID after a restart; --no-discovery")
    quiet = Server(host, folder, os.path.join(args.work, "server-quiet.log"), "--no-discovery")
    try:
        if check(quiet.port is not None, "the server without discovery starts"):
            status, _, body = fetch(quiet.url("/upnp/description.xml"))
            again = (ET.fromstring(body).findtext(f"{DEVICE_NS}device/{DEVICE_NS}UDN") or "").strip() \
                if status == 200 else None
            check(again == udn, f"UDN after a restart {again}, before {udn}")
            check(not heard(listener, 1.5, "ssdp:alive"), "--no-discovery announces nothing")
            check(not search("ssdp:all"), "--no-discovery answers no search")
    finally:
        quiet.stop()

    if second:
        step("--bind 0.0.0.0: each asker gets the address it can reach")
        wide = Server(host, folder, os.path.join(args.work, "server-wide.log"), "--bind", "0.0.0.0")
        try:
            if check(wide.port is not None, "the server on 0.0.0.0 starts"):
                time.sleep(0.3)
                for source in ("127.0.0.1", LOCAL_NET.split("/")[0]):
                    locations = {a.get("LOCATION") for a in search(MEDIA_SERVER, source=source)}
                    check(locations == {wide.url("/upnp/description.xml", source)},
                          f"asked from {source}: LOCATION {sorted(map(str, locations))}")
                # A subscriber is called back on its own network only: not,
                # from another one, on this machine's loopback.
                outer = LOCAL_NET.split("/")[0]
                url = wide.url("/upnp/event/ContentDirectory", outer)
                for callback, expected in ((f"http://{outer}:4004/e", 200), ("http://127.0.0.1:4004/e", 412)):
                    status, _ = gena(url, "SUBSCRIBE", {"CALLBACK": f"<{callback}>", "NT": "upnp:event"}, source=outer)
                    check(status == expected, f"SUBSCRIBE from {outer} with callback {callback}: {status}")
        finally:
            wide.stop()
    else:
        print("(no second network could be made here: --bind 0.0.0.0 across two networks not tried)")
    listener.close()
    return report(server, log)


def report(server, log=None):
    print(f"{'passed' if not failures else 'FAILED'}: {len(failures)} failure(s)")
    if failures:
        print("server log:\n" + (log or server.text())[-5000:])
    return 1 if failures else 0


def main():
    parser = argument_parser()
    parser.add_argument("--time-limit", type=int, default=280)
    parser.add_argument("--inside", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    return inside(args) if args.inside else outside(args)


if __name__ == "__main__":
    sys.exit(main())
