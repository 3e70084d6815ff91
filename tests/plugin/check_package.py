#!/usr/bin/env python3
"""Builds the release package twice and checks it: byte-identical zips, the listing, the install
manifest, readme.txt, and in both DLLs the machine type, stripping, the debug link to the symbols
zip, the version resource (read back from the .rsrc section here), exports and imports
(check_dll.sh). Run from anywhere; needs the mingw objdumps."""
import hashlib
import io
import re
import struct
import subprocess
import sys
import tarfile
import tempfile
import zipfile
import zlib
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
PACKAGE_FILES = ["pluginst.inf", "zembrola.wlx", "zembrola.wlx64", "readme.txt", "CHANGELOG.md"]
SYMBOL_FILES = ["zembrola.wlx.debug", "zembrola.wlx64.debug"]
LINUX_FILES = ["zembrola", "zembrola/CHANGELOG.md", "zembrola/detect-string.txt", "zembrola/readme.txt",
               "zembrola/zembrola_gtk2.wlx"]
# File name -> (objdump prefix, PE machine, bits)
DLLS = {"zembrola.wlx": ("i686-w64-mingw32", 0x14C, 32), "zembrola.wlx64": ("x86_64-w64-mingw32", 0x8664, 64)}
RT_VERSION, RT_MANIFEST = 16, 24

failures = []


def check(cond, msg):
    if not cond:
        failures.append(msg)
    return cond


def project_version():
    m = re.search(r"project\(zembrola VERSION ([0-9.]+)", (ROOT / "CMakeLists.txt").read_text())
    return m.group(1)


def run_package():
    r = subprocess.run(["bash", str(ROOT / "scripts/package.sh")], cwd=ROOT, capture_output=True, text=True)
    if r.returncode != 0:
        sys.exit(f"package.sh failed:\n{r.stdout}{r.stderr}")


# --- PE reading -------------------------------------------------------------------------------

class PE:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("not a PE file")
        (self.machine, nsect, _, _, self.nsymbols, opt_size, _) = struct.unpack_from("<HHIIIHH", data, pe + 4)
        opt = pe + 24
        magic = struct.unpack_from("<H", data, opt)[0]
        dirs = opt + (96 if magic == 0x10B else 112)
        self.rsrc_rva = struct.unpack_from("<I", data, dirs + 2 * 8)[0]
        self.sections = {}
        for i in range(nsect):
            s = opt + opt_size + 40 * i
            raw_name = data[s:s + 8].rstrip(b"\0").decode("ascii")
            vsize, rva, rsize, roff = struct.unpack_from("<IIII", data, s + 8)
            self.sections[self.long_name(raw_name)] = (rva, vsize, roff, rsize)

    def long_name(self, name):
        # Names over 8 characters stand in the string table after the (possibly empty) symbols.
        if not name.startswith("/"):
            return name
        pe = struct.unpack_from("<I", self.data, 0x3C)[0]
        symtab = struct.unpack_from("<I", self.data, pe + 12)[0]
        off = symtab + 18 * self.nsymbols + int(name[1:])
        return self.data[off:self.data.index(b"\0", off)].decode("ascii")

    def section_bytes(self, name):
        rva, vsize, roff, rsize = self.sections[name]
        return self.data[roff:roff + min(vsize, rsize)]

    def at_rva(self, rva, size):
        for srva, vsize, roff, rsize in self.sections.values():
            if srva <= rva < srva + max(vsize, rsize):
                return self.data[roff + rva - srva:roff + rva - srva + size]
        raise ValueError(f"RVA {rva:#x} in no section")

    def resources(self):
        """{(type id, name id): bytes} of the first language of every resource with numeric ids."""
        if ".rsrc" not in self.sections:
            return {}
        rsrc = self.section_bytes(".rsrc")

        def entries(off):
            named, ids = struct.unpack_from("<HH", rsrc, off + 12)
            for k in range(named + ids):
                yield struct.unpack_from("<II", rsrc, off + 16 + 8 * k)

        out = {}
        for type_id, type_off in entries(0):
            for name_id, name_off in entries(type_off & 0x7FFFFFFF):
                _, leaf = next(entries(name_off & 0x7FFFFFFF))
                rva, size = struct.unpack_from("<II", rsrc, leaf)
                out[(type_id, name_id)] = self.at_rva(rva, size)
        return out


def parse_version_block(buf, off=0):
    """One node of a VS_VERSIONINFO tree: (key, value, children); offsets are 4-aligned."""
    align = lambda p: (p + 3) & ~3
    length, vlen, vtype = struct.unpack_from("<HHH", buf, off)
    end = off + length
    p = off + 6
    k = p
    while buf[k:k + 2] != b"\0\0":
        k += 2
    key = buf[p:k].decode("utf-16-le")
    p = align(k + 2)
    if vtype == 1:
        value = buf[p:p + 2 * vlen].decode("utf-16-le").rstrip("\0")
        p += 2 * vlen
    else:
        value = buf[p:p + vlen]
        p += vlen
    children = []
    p = align(p)
    while p < end:
        child, p = parse_version_block(buf, p)
        children.append(child)
        p = align(p)
    return (key, value, children), end


def version_strings(block):
    (key, fixed, children), _ = parse_version_block(block)
    strings = {}
    for ckey, _, tables in children:
        if ckey == "StringFileInfo":
            for _, _, pairs in tables:
                strings.update({k: v for k, v, _ in pairs})
    return key, fixed, strings


# --- checks -----------------------------------------------------------------------------------

def check_dll(name, data, symbols, version, workdir):
    prefix, machine, bits = DLLS[name]
    pe = PE(data)
    check(pe.machine == machine, f"{name}: machine {pe.machine:#x}, expected {machine:#x}")

    debug = sorted(s for s in pe.sections if s.startswith(".debug"))
    check(not debug, f"{name}: not stripped, has {debug}")
    check(pe.nsymbols == 0, f"{name}: still has {pe.nsymbols} symbols")

    # .gnu_debuglink: the debug file's name, zero padding to 4 bytes, its CRC-32.
    if check(".gnu_debuglink" in pe.sections, f"{name}: no .gnu_debuglink"):
        link = pe.section_bytes(".gnu_debuglink")
        target = link[:link.index(b"\0")].decode()
        crc = struct.unpack_from("<I", link, (len(target) + 4) & ~3)[0]
        if check(target in symbols, f"{name}: debug link names {target}, not in the symbols zip"):
            check(crc == zlib.crc32(symbols[target]), f"{name}: debug link checksum does not match {target}")
            check(".debug_info" in PE(symbols[target]).sections, f"{target}: holds no .debug_info")

    res = pe.resources()
    check((RT_MANIFEST, 2) in res, f"{name}: manifest resource 2 missing")
    if check((RT_VERSION, 1) in res, f"{name}: no version resource"):
        key, fixed, strings = version_strings(res[(RT_VERSION, 1)])
        check(key == "VS_VERSION_INFO", f"{name}: version resource key {key!r}")
        sig, _, fms, fls, pms, pls = struct.unpack_from("<6I", fixed)
        major, minor, patch = (int(x) for x in version.split("."))
        want = ((major << 16) | minor, patch << 16)
        check(sig == 0xFEEF04BD, f"{name}: VS_FIXEDFILEINFO signature {sig:#x}")
        check((fms, fls) == want and (pms, pls) == want,
              f"{name}: fixed file/product version {(fms, fls, pms, pls)}, expected {want * 2}")
        expected = {"FileVersion": version, "ProductVersion": version, "ProductName": "Zembrola",
                    "OriginalFilename": name, "InternalName": "zembrola"}
        for k, v in expected.items():
            check(strings.get(k) == v, f"{name}: {k} is {strings.get(k)!r}, expected {v!r}")
        desc = strings.get("FileDescription", "")
        check(f"{bits}-bit" in desc, f"{name}: FileDescription {desc!r} does not say {bits}-bit")

    path = Path(workdir) / name
    path.write_bytes(data)
    r = subprocess.run(["sh", str(ROOT / "tests/plugin/check_dll.sh"), f"{prefix}-objdump", str(path)],
                       capture_output=True, text=True)
    if check(r.returncode == 0, f"{name}: check_dll.sh: {r.stdout.strip()} {r.stderr.strip()}"):
        print(f"{name}: {r.stdout.strip()}")


def check_manifest(text, version, listing):
    check(text.endswith("\r\n") and "\n" not in text.replace("\r\n", ""),
          "pluginst.inf: not CR LF throughout")
    lines = text.split("\r\n")[:-1]
    check(lines[:1] == ["[plugininstall]"], f"pluginst.inf: first line {lines[:1]}")
    fields = dict(line.split("=", 1) for line in lines[1:])
    want = {"type": "wlx", "file": "zembrola.wlx", "file64": "zembrola.wlx64", "defaultdir": "zembrola"}
    for k, v in want.items():
        check(fields.get(k) == v, f"pluginst.inf: {k}={fields.get(k)!r}, expected {v!r}")
    check(version in fields.get("description", ""), "pluginst.inf: description lacks the version")
    check(set(fields) == set(want) | {"description"}, f"pluginst.inf: fields {sorted(fields)}")
    for k in ("file", "file64"):
        check(fields.get(k) in listing, f"pluginst.inf: {k} names a file the zip does not hold")


def check_readme(raw):
    try:
        text = raw.decode("ascii")
    except UnicodeDecodeError as e:
        check(False, f"readme.txt: not ASCII ({e})")
        return
    check(re.search(r"(?<!\r)\n|\r(?!\n)", text) is None, "readme.txt: a line end other than CR LF")
    leftovers = [line for line in text.split("\r\n")
                 if re.match(r"\s*(#{1,6} |```|\|)", line) or re.search(r"\*\*|\]\(|`", line)]
    check(not leftovers, f"readme.txt: markdown left in {leftovers[:3]}")
    check(len(text) > 5000, "readme.txt: suspiciously short")


def check_guide_matches_sources():
    """The guide's format table and library lists must follow the code."""
    guide = (ROOT / "docs/user-guide.md").read_text(encoding="utf-8")
    sources = "".join(p.read_text(errors="replace") for p in sorted((ROOT / "src").rglob("*.[ch]*")))
    m = re.search(r"WLX_DETECT_STRING\[\]\s*=\s*((?:\s*\"(?:[^\"\\]|\\.)*\")+)", sources)
    if not check(m, "src/: no definition of WLX_DETECT_STRING found"):
        return
    detect = "".join(re.findall(r"\"((?:[^\"\\]|\\.)*)\"", m.group(1))).replace('\\"', '"')
    check(f"\n{detect}\n" in guide, f"user guide: default detect string {detect!r} not quoted")
    table = guide[guide.index("| Recording |"):]
    table = table[:table.index("\n\n")]
    for ext in re.findall(r'EXT="([A-Z0-9]+)"', detect):
        check(f"`.{ext.lower()}`" in table,
              f"user guide: extension .{ext.lower()} missing from the format table")
    for lib in ("cudart64_", "cufft64_"):
        in_code = re.findall(rf'"({lib}\w+\.dll)"', sources)
        if in_code:
            in_guide = re.findall(rf"`({lib}\w+\.dll)`", guide)
            check(in_code == in_guide,
                  f"user guide: {lib}* list {in_guide} differs from the code's {in_code}")


def check_linux(path, readme):
    """The Linux archive: its listing, an x86-64 shared object with the lister exports, the same
    readme as the zip and the detect string the guide quotes."""
    with tarfile.open(path) as t:
        check(t.getnames() == LINUX_FILES, f"linux listing {t.getnames()}")
        members = {m.name: t.extractfile(m).read() for m in t.getmembers() if m.isfile()}
    so = members.get("zembrola/zembrola_gtk2.wlx", b"")
    check(so[:4] == b"\x7fELF" and struct.unpack_from("<H", so, 18)[0] == 62, "linux plug-in: not x86-64 ELF")
    check(readme is None or members.get("zembrola/readme.txt") == readme, "linux readme.txt differs from the zip's")
    guide = (ROOT / "docs/user-guide.md").read_text(encoding="utf-8")
    detect = members.get("zembrola/detect-string.txt", b"").decode().strip()
    check(detect.startswith('EXT="IQ"') and f"\n{detect}\n" in guide, f"linux detect string {detect!r}")


def main():
    version = project_version()
    dist = ROOT / "dist"
    zips = [dist / f"zembrola-{version}.zip", dist / f"zembrola-{version}-symbols.zip",
            dist / f"zembrola-{version}-linux-x86_64.tar.gz"]

    run_package()
    first = [hashlib.sha256(z.read_bytes()).hexdigest() for z in zips]
    run_package()
    second = [hashlib.sha256(z.read_bytes()).hexdigest() for z in zips]
    for z, a, b in zip(zips, first, second):
        check(a == b, f"{z.name}: two runs gave different bytes")

    with zipfile.ZipFile(zips[0]) as z:
        infos = z.infolist()
        files = {i.filename: z.read(i) for i in infos}
    with zipfile.ZipFile(zips[1]) as z:
        sym_infos = z.infolist()
        symbols = {i.filename: z.read(i) for i in sym_infos}
    check([i.filename for i in infos] == PACKAGE_FILES, f"package listing {[i.filename for i in infos]}")
    check([i.filename for i in sym_infos] == SYMBOL_FILES,
          f"symbols listing {[i.filename for i in sym_infos]}")
    check(len({i.date_time for i in infos + sym_infos}) == 1, "zip entries carry different times")

    if "pluginst.inf" in files:
        check_manifest(files["pluginst.inf"].decode("ascii"), version, files)
    if "readme.txt" in files:
        check_readme(files["readme.txt"])
    if "CHANGELOG.md" in files:
        log = files["CHANGELOG.md"]
        check(log == (ROOT / "CHANGELOG.md").read_bytes(), "CHANGELOG.md differs from the repository's")
        check(f"\n## {version}\n" in log.decode("utf-8"), f"CHANGELOG.md has no entry for {version}")
    with tempfile.TemporaryDirectory() as tmp:
        for name in DLLS:
            if name in files:
                check_dll(name, files[name], symbols, version, tmp)
    check_guide_matches_sources()
    check_linux(zips[2], files.get("readme.txt"))

    cli = ROOT / "build/native/zembrola"
    if cli.exists():
        out = subprocess.run([str(cli), "--version"], capture_output=True, text=True).stdout.strip()
        check(out == f"zembrola {version}", f"zembrola --version printed {out!r}")

    for f in failures:
        print("FAIL:", f)
    if failures:
        sys.exit(1)
    for z in zips:
        print(f"package OK: {z.relative_to(ROOT)} {z.stat().st_size} bytes")


if __name__ == "__main__":
    main()
