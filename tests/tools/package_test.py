#!/usr/bin/env python3
"""The Windows archive as a person gets it, in a Wine prefix nobody has used.

CPack builds the archive from the windows build; the test unpacks it and
checks, in order:
- it holds exactly the files the read-me lists, and no test program, test
  support code or path of the build machine shows in their strings;
- every binary carries a version resource with the project's version, read
  back with pefile (an independent PE reader), and the host's manifest names
  the classes the component's registry scripts register;
- the interface header compiles on its own, with nothing of the build tree
  on the include path;
- in a fresh prefix with nothing registered, probe, classify and serve work
  from the unpacked folder, curl's byte range and time seek are exact (the
  body is the file's bytes from the answered position, where ffprobe finds a
  video packet), and no class id of the component is in the registry;
- after regsvr32, the host created through the registry (with the DLL in
  another folder, so only the registry can lead to it) gives the same
  answers.

Exit 77 (skipped) without curl, ffprobe, pefile or the cross compiler.
"""
import argparse
import importlib.util
import json
import os
import re
import shutil
import subprocess
import sys
import zipfile

from hosttest import Host, Server, check, curl, failures

SHIPPED = {"VskMediaHost.exe", "VskMpeg2TsTranscoder.dll", "VskMpegParser.dll", "VskMpeg2TsTranscoder.h",
           "README.txt"}
BINARIES = ["VskMediaHost.exe", "VskMpeg2TsTranscoder.dll", "VskMpegParser.dll"]
# What test code leaves in a binary even when stripped: its namespaces in
# RTTI names, GoogleTest's, and its program and library names.
TEST_MARKS = [b"vsktest", b"gtest", b"N7testing", b"vsk_test_support", b"_tests.exe"]
RECORDING = "mpeg2-hd-ac3.ts"

def run(command, env=None, timeout=180, **kwargs):
    return subprocess.run(command, capture_output=True, timeout=timeout, env=env, **kwargs)


def strings_hold(data, text):
    return text.encode() in data or text.encode("utf-16-le") in data


def check_archive(archive, unpacked, source_dir, binary_dir):
    with zipfile.ZipFile(archive) as z:
        names = z.namelist()
        z.extractall(unpacked)
    top = {n.split("/", 1)[0] for n in names}
    check(len(top) == 1, f"one folder at the top of the archive, not {top}")
    folder = os.path.join(unpacked, top.pop())
    files = {n.split("/", 1)[1] for n in names if "/" in n and not n.endswith("/")}
    check(files == SHIPPED, f"the archive holds {sorted(files)}, not {sorted(SHIPPED)}")
    readme = open(os.path.join(folder, "README.txt"), "rb").read()
    check(b"\r\n" in readme and b"\n" not in readme.replace(b"\r\n", b""), "README.txt has Windows line ends")
    for name in SHIPPED:
        check(name.encode() in readme or name == "README.txt", f"README.txt names {name}")
    for name in files:
        data = open(os.path.join(folder, name), "rb").read()
        for path in (source_dir, binary_dir, "/work/"):
            check(not strings_hold(data, path), f"{name} holds the build machine's path {path}")
        for mark in TEST_MARKS:
            check(mark not in data, f"{name} holds {mark!r}, a mark of test code")
    return folder


def check_resources(folder, version, registry_dir):
    import pefile
    four = tuple(int(p) for p in version.split(".")) + (0,)
    for name in BINARIES:
        pe = pefile.PE(os.path.join(folder, name))
        fixed = pe.VS_FIXEDFILEINFO[0] if getattr(pe, "VS_FIXEDFILEINFO", None) else None
        if not check(fixed is not None, f"{name} has a version resource"):
            continue
        numbers = (fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF, fixed.FileVersionLS >> 16,
                   fixed.FileVersionLS & 0xFFFF)
        check(numbers == four, f"{name}: file version {numbers}, the project's is {four}")
        strings = {}
        for info in pe.FileInfo[0] if pe.FileInfo else []:
            if info.Key == b"StringFileInfo":
                for table in info.StringTable:
                    strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
        for key in ("FileVersion", "ProductVersion"):
            check(strings.get(key) == version, f"{name}: {key} {strings.get(key)!r}, the project's is {version}")
        for key in ("ProductName", "FileDescription"):
            check(bool(strings.get(key)), f"{name} names its {key}")
        check(strings.get("OriginalFilename") == name, f"{name}: OriginalFilename {strings.get('OriginalFilename')!r}")

    pe = pefile.PE(os.path.join(folder, "VskMediaHost.exe"))
    manifests = []
    for kind in getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None).entries if hasattr(pe, "DIRECTORY_ENTRY_RESOURCE") else []:
        if kind.id == 24:
            for entry in kind.directory.entries:
                for language in entry.directory.entries:
                    rva, size = language.data.struct.OffsetToData, language.data.struct.Size
                    manifests.append(pe.get_data(rva, size).decode("utf-8", "replace"))
    registered = set()
    for script in os.listdir(registry_dir):
        registered |= set(re.findall(r"ForceRemove \{([0-9A-F-]+)\}", open(os.path.join(registry_dir, script)).read()))
    named = set(re.findall(r'comClass clsid="\{([0-9A-F-]+)\}" threadingModel="Both"', "".join(manifests)))
    check(len(registered) == 2 and named == registered,
          f"the host's manifest names {sorted(named)}, the registry scripts register {sorted(registered)}")


def check_header(folder, work):
    compiler = shutil.which("x86_64-w64-mingw32-g++-posix") or shutil.which("x86_64-w64-mingw32-g++")
    source = os.path.join(work, "media_server.cpp")
    with open(source, "w") as f:
        f.write('#include "VskMpeg2TsTranscoder.h"\n'
                "using namespace MediaTranscoderLib;\n"
                "HRESULT Make(IVskMediaTranscoderInfo** info) {\n"
                "    return CoCreateInstance(CLSID_Mpeg2TSConverterInfo, nullptr, CLSCTX_INPROC_SERVER,\n"
                "                            IID_IVskMediaTranscoderInfo, reinterpret_cast<void**>(info));\n"
                "}\n"
                "static_assert(sizeof(IVskMediaTranscoder) == sizeof(void*), \"one vtable pointer\");\n")
    out = run([compiler, "-std=c++17", "-fsyntax-only", "-Wall", "-Wextra", "-Werror", "-I", folder, source])
    check(out.returncode == 0, f"the interface header compiles on its own: {out.stderr[-800:]!r}")


class Prefix:
    """A Wine prefix of the test's own, made on first use and ended at the end."""

    def __init__(self, path):
        self.path = path
        shutil.rmtree(path, ignore_errors=True)
        self.env = dict(os.environ, WINEPREFIX=path, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")

    def run(self, *args, timeout=180):
        return run(["wine", *args], env=self.env, timeout=timeout)

    def registry_holds(self, clsid):
        return self.run("reg", "query", "HKCR\\CLSID\\{" + clsid + "}").returncode == 0

    def end(self):
        run(["wineserver", "-k"], env=self.env, timeout=60)


def video_packet_positions(path):
    out = run(["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries", "packet=pos", "-of", "json", path])
    return {int(p["pos"]) for p in json.loads(out.stdout or b"{}").get("packets", []) if "pos" in p}


def serve_answers(host, folder, extra, work):
    """A byte range and a time seek from a running serve, as curl gets them."""
    server = Server(host, folder, os.path.join(work, "serve.log"), "--no-discovery", *extra)
    answers = {}
    try:
        if check(server.port is not None, f"serve {' '.join(extra)} says where it listens: {server.text()[-300:]}"):
            url = server.url(f"/media/{RECORDING}")
            answers["range"] = curl(url, "-H", "Range: bytes=1000-200999")
            answers["time"] = curl(url, "-H", "TimeSeekRange.dlna.org: npt=2-")
    finally:
        server.stop()
    return answers


def host_answers(host, folder, recording, extra, work):
    """What probe, classify and serve answer, for comparing two ways in."""
    probe = host.run("probe", "--json", *extra, host.path(recording))
    classify = host.run("classify", "--json", *extra, host.path(recording))
    check(probe.returncode == 0 and b'"durationMs"' in probe.stdout,
          f"probe {' '.join(extra)}: {probe.stdout[-300:]!r} {probe.stderr[-300:]!r}")
    check(classify.returncode == 0 and b'"profiles"' in classify.stdout,
          f"classify {' '.join(extra)}: {classify.stdout[-300:]!r} {classify.stderr[-300:]!r}")
    return {"probe": probe.stdout, "classify": classify.stdout, "serve": serve_answers(host, folder, extra, work)}


def check_served(answers, recording, what):
    data = open(recording, "rb").read()
    status, headers, body = answers.get("range", (0, {}, b""))
    check(status == 206 and body == data[1000:201000],
          f"{what}: the byte range is the file's bytes 1000-200999 ({status}, {len(body)} bytes)")
    status, headers, body = answers.get("time", (0, {}, b""))
    match = re.search(r"bytes=(\d+)-(\d+)/(\d+)", headers.get("timeseekrange.dlna.org", ""))
    if check(status == 200 and match is not None, f"{what}: the time seek answers its range ({status} {headers})"):
        first, last = int(match.group(1)), int(match.group(2))
        check(body == data[first:last + 1], f"{what}: the time seek's body is the file's bytes {first}-{last}")
        check(first in video_packet_positions(recording),
              f"{what}: the time seek starts at byte {first}, where ffprobe finds no video packet")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--recordings", required=True)
    parser.add_argument("--work", required=True)
    args = parser.parse_args()
    for tool in ("curl", "ffprobe", "wine", "cpack"):
        if not shutil.which(tool):
            print(f"skipped: {tool} is not installed (scripts/install-deps.sh installs it)")
            return 77
    if importlib.util.find_spec("pefile") is None:
        print("skipped: python3-pefile is not installed (scripts/install-deps.sh installs it)")
        return 77
    recording_source = os.path.join(args.recordings, RECORDING)
    if not os.path.exists(recording_source):
        print(f"recordings unavailable: the fixture made no {RECORDING}")
        return 0

    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    out = run(["cpack", "--config", os.path.join(args.build, "CPackConfig.cmake"), "-B", args.work], timeout=300)
    archives = [n for n in os.listdir(args.work) if n.endswith(".zip")]
    if not check(out.returncode == 0 and archives == [f"VskMediaHost-{args.version}-win64.zip"],
                 f"cpack makes VskMediaHost-{args.version}-win64.zip: {archives} {out.stdout[-500:]!r}"):
        return 1
    folder = check_archive(os.path.join(args.work, archives[0]), os.path.join(args.work, "unpacked"),
                           os.path.realpath(args.source), os.path.realpath(args.build))
    check_resources(folder, args.version, os.path.join(args.source, "component", "registry"))
    check_header(folder, args.work)

    library = os.path.join(args.work, "library")
    os.makedirs(library)
    recording = os.path.join(library, RECORDING)
    shutil.copyfile(recording_source, recording)
    exe = os.path.join(folder, "VskMediaHost.exe")
    prefix = Prefix(os.path.join(args.work, "prefix"))
    host = Host(exe, "wine", env=prefix.env)
    classes = set()
    for script in os.listdir(os.path.join(args.source, "component", "registry")):
        text = open(os.path.join(args.source, "component", "registry", script)).read()
        classes |= set(re.findall(r"ForceRemove \{([0-9A-F-]+)\}", text))
    try:
        out = host.run("--version")
        check(out.stdout.strip() == f"VskMediaHost {args.version}".encode(), f"--version: {out.stdout!r}")
        free = host_answers(host, library, recording, [], args.work)
        check_served(free["serve"], recording, "registration-free")
        for clsid in sorted(classes):
            check(not prefix.registry_holds(clsid), f"registration-free: class {clsid} was written to the registry")

        # The registered way, with the DLL in a folder of its own: only the
        # registry can lead COM there.
        elsewhere = os.path.join(args.work, "installed")
        shutil.copytree(folder, elsewhere)
        os.remove(os.path.join(elsewhere, "VskMediaHost.exe"))
        component = host.path(os.path.join(elsewhere, "VskMpeg2TsTranscoder.dll"))
        registered = host_answers(host, library, recording,
                                  ["--registered", "--component", component, "--parser-dir", host.path(elsewhere)],
                                  args.work)
        out = prefix.run("reg", "query", "HKCR\\CLSID\\{" + sorted(classes)[0] + "}\\InprocServer32")
        check(out.returncode == 0 and b"installed" in out.stdout,
              f"regsvr32 registered the copy in its own folder: {out.stdout[-300:]!r}")
        check_served(registered["serve"], recording, "registered")
        for key in ("probe", "classify"):
            check(free[key] == registered[key], f"{key} answers the same both ways")
        for key in ("range", "time"):
            a, b = free["serve"].get(key), registered["serve"].get(key)
            same = a is not None and b is not None and a[0] == b[0] and a[2] == b[2] and \
                a[1].get("timeseekrange.dlna.org") == b[1].get("timeseekrange.dlna.org")
            check(same, f"serve's {key} answer is the same both ways")
    finally:
        prefix.end()
    if not failures:
        shutil.rmtree(prefix.path, ignore_errors=True)
    print(f"{len(failures) == 0 and 'passed' or 'FAILED'}: {len(failures)} failure(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
