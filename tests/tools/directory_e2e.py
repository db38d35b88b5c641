#!/usr/bin/env python3
"""The directory of the running media host against the component's own word.

The host serves a folder of the test recordings (native, or the Windows build
under Wine through the runner). Its ContentDirectory is browsed with SOAP
written here and read with Python's XML reader; every item's resources must
be what `classify --json` says the component offers for that file (MIME
type, PN, time seek, media properties), GetProtocolInfo what `profiles`
lists, a restart (facts from the cache file) must answer the same documents,
and a recording added while it runs must show on the next browse with a
higher SystemUpdateID.

Exit 77 (skipped) when the fixture made no recordings.
"""
import json
import os
import re
import shutil
import sys
import urllib.parse
import urllib.request
import xml.etree.ElementTree as ET

from hosttest import Host, Server, argument_parser, check, failures, made_recordings

CD = "urn:schemas-upnp-org:service:ContentDirectory:1"
CM = "urn:schemas-upnp-org:service:ConnectionManager:1"
DIDL = {"d": "urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/", "dc": "http://purl.org/dc/elements/1.1/",
        "upnp": "urn:schemas-upnp-org:metadata-1-0/upnp/"}
def control(base, service, action, arguments=""):
    body = ('<?xml version="1.0" encoding="utf-8"?><s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/envelope/" '
            's:encodingStyle="http://schemas.xmlsoap.org/soap/encoding/"><s:Body>'
            f'<u:{action} xmlns:u="{service}">{arguments}</u:{action}></s:Body></s:Envelope>').encode()
    name = "ContentDirectory" if service == CD else "ConnectionManager"
    request = urllib.request.Request(f"{base}/upnp/control/{name}", data=body, method="POST", headers={
        "Content-Type": 'text/xml; charset="utf-8"', "SOAPACTION": f'"{service}#{action}"'})
    with urllib.request.urlopen(request, timeout=60) as answer:
        envelope = ET.fromstring(answer.read())
    response = envelope.find("{http://schemas.xmlsoap.org/soap/envelope/}Body")[0]
    return {child.tag.split("}")[-1]: child.text or "" for child in response}


def children(base, object_id):
    out = control(base, CD, "Browse", f"<ObjectID>{object_id}</ObjectID><BrowseFlag>BrowseDirectChildren</BrowseFlag>"
                                      "<Filter>*</Filter><StartingIndex>0</StartingIndex><RequestedCount>0</RequestedCount>"
                                      "<SortCriteria></SortCriteria>")
    return out, ET.fromstring(out["Result"])


def start(host, folder, log_path):
    server = Server(host, folder, log_path, "--no-discovery")
    if not server.port:
        server.stop()
        sys.exit("the server did not say where it listens")
    # Until the first scan is done every browse still answers, but a whole
    # one is what is compared here.
    server.wait_for("library ready")
    return server, server.url()


def didl_duration(text):
    """The component's HH:MM:SS.mmm as DIDL-Lite's H:MM:SS.mmm."""
    hours, rest = text.split(":", 1)
    return f"{int(hours)}:{rest}"


def main():
    args = argument_parser().parse_args()
    names = made_recordings(args.recordings)
    if not names:
        print("recordings unavailable: skipped")
        return 77

    shutil.rmtree(args.work, ignore_errors=True)
    folder = os.path.join(args.work, "served")
    os.makedirs(os.path.join(folder, "sub"))
    for name in names:
        shutil.copyfile(os.path.join(args.recordings, name), os.path.join(folder, "sub", name))
    host = Host(args.host, args.runner, env=dict(os.environ, XDG_CACHE_HOME=os.path.join(args.work, "cache")))

    # What the component says, through the host's own commands.
    classify = json.loads(host.run("classify", "--json", *[host.path(os.path.join(folder, "sub", n)) for n in names],
                                   timeout=300).stdout)
    offered = {os.path.basename(entry["file"].replace("\\", "/")): entry for entry in classify}
    # "  N  NAME  MIME  time seek yes|no", NAME "-" for an empty name.
    catalogue = []
    for line in host.run("profiles").stdout.decode().splitlines():
        row = re.match(r"\s*\d+\s+(\S+)\s+(\S+/\S+)\s+time seek (yes|no)", line)
        if row:
            catalogue.append(("" if row.group(1) == "-" else row.group(1), row.group(2), row.group(3)))

    server, base = start(host, folder, os.path.join(args.work, "server.log"))
    try:
        root, root_didl = children(base, "0")
        containers = root_didl.findall("d:container", DIDL)
        check(len(containers) == 1 and containers[0].findtext("dc:title", "", DIDL) == "sub", "the root holds sub")
        sub_id = containers[0].get("id")
        check(containers[0].get("childCount") == str(len(names)), "sub counts its recordings")
        first, didl = children(base, sub_id)
        check(first["TotalMatches"] == str(len(names)) and first["NumberReturned"] == str(len(names)),
              "every recording is returned")
        for item in didl.findall("d:item", DIDL):
            title = item.findtext("dc:title", "", DIDL)
            # Titles drop the extension, so two recordings can share one:
            # the URL tells them apart.
            first_res = item.find("d:res", DIDL)
            url = urllib.parse.unquote(first_res.text.split("?")[0]) if first_res is not None else ""
            name = next((n for n in names if url.endswith("/sub/" + n) and os.path.splitext(n)[0] == title), None)
            if not check(name in offered, f"{title} is one of the recordings"):
                continue
            entry = offered[name]
            resources = item.findall("d:res", DIDL)
            duration_known = entry.get("facts", {}).get("durationMs", -1) not in (-1, 0, None)
            expected = [(p["mimeType"], p["profileName"] or p["alternativeName"], p["timeSeek"] and duration_known)
                        for p in entry["profiles"]]
            seen = []
            for res in resources:
                fields = res.get("protocolInfo", "").split(":", 3)
                pn = re.search(r"DLNA\.ORG_PN=([^;]*)", fields[3])
                op = re.search(r"DLNA\.ORG_OP=(\d\d)", fields[3])
                seen.append((fields[2], pn.group(1) if pn else "", bool(op and op.group(1) == "11")))
                check(res.text.startswith(base + "/media/sub/"), f"{name}: the URL is on the host asked")
                properties = entry.get("properties", {})
                for attribute in ("size", "bitrate", "resolution", "nrAudioChannels", "sampleFrequency"):
                    if entry["profiles"] and attribute in properties:
                        check(res.get(attribute) == properties[attribute], f"{name}: {attribute}")
                if entry["profiles"] and "duration" in properties:
                    check(res.get("duration") == didl_duration(properties["duration"]), f"{name}: duration")
            if entry["profiles"]:
                check(seen == expected, f"{name}: resources {seen} are the offers {expected}")
            else:
                check(len(seen) == 1 and seen[0][1] == "" and not seen[0][2],
                      f"{name}: the component offers nothing: one plain resource, no PN, no seek ({seen})")
            check(item.findtext("upnp:class", "", DIDL) == "object.item.videoItem", f"{name}: a video item")

        source = control(base, CM, "GetProtocolInfo")["Source"].split(",")
        listed = [(f.split(":", 3)[2], (re.search(r"DLNA\.ORG_PN=([^;]*)", f) or [None, ""])[1],
                   "DLNA.ORG_OP=11" in f) for f in source]
        wanted = [(m, n, s == "yes") for n, m, s in catalogue]
        check(listed == wanted, f"GetProtocolInfo lists the catalogue: {listed} against {wanted}")
        before = int(control(base, CD, "GetSystemUpdateID")["Id"])
    finally:
        server.stop()

    # A restart reads the facts from the cache: the same answers.
    server, base = start(host, folder, os.path.join(args.work, "server-again.log"))
    try:
        again, _ = children(base, sub_id)
        check(again["Result"].replace(base, "") == first["Result"].replace(first_base(first), ""),
              "a restart answers the same document")
        check(int(control(base, CD, "GetSystemUpdateID")["Id"]) == before, "an unchanged folder keeps its update id")
        shutil.copyfile(os.path.join(args.recordings, names[0]), os.path.join(folder, "sub", "added.ts"))
        added, _ = children(base, sub_id)
        check(added["TotalMatches"] == str(len(names) + 1), "a recording added shows on the next browse")
        check(int(control(base, CD, "GetSystemUpdateID")["Id"]) > before, "and the update id rises")
    finally:
        server.stop()

    print(f"{len(failures)} failed" if failures else "directory end to end: all checks passed")
    return 1 if failures else 0


def first_base(answer):
    found = re.search(r"http://127\.0\.0\.1:\d+", answer["Result"])
    return found.group(0) if found else ""


if __name__ == "__main__":
    sys.exit(main())
