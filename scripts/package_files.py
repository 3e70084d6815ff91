#!/usr/bin/env python3
"""Helpers of scripts/package.sh.

  package_files.py readme GUIDE.md OUT.txt    the user guide as plain ASCII text, CR LF line ends
  package_files.py zip OUT.zip EPOCH FILE...   a zip whose bytes depend only on the files' contents,
                                               their order and EPOCH (seconds, the entries' time)
"""
import re
import sys
import textwrap
import time
import zipfile

WIDTH = 78


def wrap(text, **kw):
    # "plug-in" must not be broken into "plug-" and "in".
    return textwrap.wrap(text, WIDTH, break_on_hyphens=False, **kw)


# readme.txt is read by whatever text viewer the user has, in whatever code page: ASCII only.
# A character missing here stops the build rather than turning into mojibake.
ASCII_FOR = {
    "\u2013": "-", "\u2014": "--", "\u2018": "'", "\u2019": "'", "\u201c": '"', "\u201d": '"',
    "\u2026": "...", "\u00d7": "x", "\u2212": "-", "\u2264": "<=", "\u2265": ">=", "\u2260": "!=",
    "\u00b1": "+/-", "\u2192": "->", "\u00a0": " ", "\u00df": "ss", "\u00e4": "ae", "\u00f6": "oe",
    "\u00fc": "ue", "\u00c4": "Ae", "\u00d6": "Oe", "\u00dc": "Ue", "\u00b5": "u", "\u00b0": " deg",
    # The toolbar buttons' symbols: their words say it all.
    "\u25b6": ">", "\u23ed": ">>", "\u21ba": "", "\u2699": "", "\u2630": "",
}


def to_ascii(text):
    out = []
    for ch in text:
        if ord(ch) < 128:
            out.append(ch)
        elif ch in ASCII_FOR:
            out.append(ASCII_FOR[ch])
        else:
            raise ValueError(f"no plain-text form for {ch!r} (U+{ord(ch):04X}); add one to ASCII_FOR")
    return "".join(out)


def inline(text):
    """Markdown inline markup to plain text."""
    text = re.sub(r"!?\[([^\]]*)\]\(([^)]*)\)", lambda m: link(m.group(1), m.group(2)), text)
    text = re.sub(r"`([^`]*)`", r"\1", text)
    text = re.sub(r"\*\*([^*]+)\*\*", r"\1", text)
    text = re.sub(r"(?<![\w*])\*([^*\s][^*]*)\*(?![\w*])", r"\1", text)
    text = text.replace("\\|", "|").replace("\\*", "*").replace("\\_", "_")
    return text


def link(label, target):
    # Links within the guide or to files beside it mean nothing in a lone text file.
    if target.startswith("#") or not re.match(r"[a-z]+://", target):
        return label
    return f"{label} ({target})"


def table_cells(line):
    line = line.strip()
    if line.startswith("|"):
        line = line[1:]
    if line.endswith("|") and not line.endswith("\\|"):
        line = line[:-1]
    return [inline(c.strip()) for c in re.split(r"(?<!\\)\|", line)]


def render_table(rows):
    header, body = rows[0], rows[1:]
    ncols = len(header)
    body = [r + [""] * (ncols - len(r)) for r in body]
    widths = [max(len(r[i]) for r in [header] + body) for i in range(ncols)]
    if sum(widths) + 2 * (ncols - 1) <= WIDTH:
        lines = ["  ".join(c.ljust(w) for c, w in zip(header, widths)).rstrip(),
                 "  ".join("-" * w for w in widths)]
        lines += ["  ".join(c.ljust(w) for c, w in zip(r, widths)).rstrip() for r in body]
        return lines
    # Too wide for a text window: one block per row, the first column as its title.
    lines = []
    for r in body:
        lines += wrap(r[0]) or [""]
        if ncols == 2:
            lines += wrap(r[1], initial_indent="    ", subsequent_indent="    ")
        else:
            for name, value in zip(header[1:], r[1:]):
                if value:
                    lines += wrap(f"{name}: {value}", initial_indent="    ", subsequent_indent="      ")
        lines.append("")
    return lines[:-1]


def markdown_to_text(md):
    out = []
    lines = to_ascii(md).splitlines()
    i = 0

    def blank():
        if out and out[-1] != "":
            out.append("")

    while i < len(lines):
        line = lines[i]
        stripped = line.strip()
        if stripped.startswith("```"):
            blank()
            i += 1
            while i < len(lines) and not lines[i].strip().startswith("```"):
                out.append(("    " + lines[i]).rstrip())
                i += 1
            i += 1
            blank()
            continue
        m = re.match(r"(#{1,6})\s+(.*)", stripped)
        if m:
            title = inline(m.group(2))
            blank()
            level = len(m.group(1))
            if level == 1:
                out += [title.upper(), "=" * len(title)]
            elif level == 2:
                out += [title, "-" * len(title)]
            else:
                out += [title, "~" * len(title)]
            out.append("")
            i += 1
            continue
        if stripped.startswith("|"):
            rows = []
            while i < len(lines) and lines[i].strip().startswith("|"):
                cells = table_cells(lines[i])
                if not all(re.fullmatch(r":?-+:?", c) for c in cells):
                    rows.append(cells)
                i += 1
            blank()
            out += render_table(rows)
            blank()
            continue
        if not stripped:
            blank()
            i += 1
            continue
        m = re.match(r"(\s*)([-*]|\d+\.)\s+(.*)", line)
        if m:
            # A list item with its continuation lines; nesting by the source indentation.
            indent = len(m.group(1))
            marker = "-" if m.group(2) in "-*" else m.group(2)
            text = [m.group(3).strip()]
            i += 1
            while i < len(lines) and lines[i].strip() and not re.match(
                    r"\s*([-*]|\d+\.)\s+", lines[i]) and not lines[i].strip().startswith(("|", "```", "#")):
                text.append(lines[i].strip())
                i += 1
            pad = " " * (indent + 2)
            out += wrap(inline(" ".join(text)), initial_indent=pad + marker + " ",
                                 subsequent_indent=pad + " " * (len(marker) + 1))
            continue
        para = []
        while i < len(lines) and lines[i].strip() and not lines[i].strip().startswith(
                ("|", "```", "#")) and not re.match(r"\s*([-*]|\d+\.)\s+", lines[i]):
            para.append(lines[i].strip())
            i += 1
        out += wrap(inline(" ".join(para)))
    while out and out[-1] == "":
        out.pop()
    return "\n".join(out) + "\n"


def write_readme(src, dst):
    with open(src, encoding="utf-8") as f:
        text = markdown_to_text(f.read())
    with open(dst, "wb") as f:
        f.write(text.replace("\n", "\r\n").encode("ascii"))


def write_zip(dst, epoch, files):
    # Zip times are local-time fields from 1980 on; UTC keeps them independent of the machine.
    stamp = time.gmtime(max(int(epoch), 315532800))[:6]
    with zipfile.ZipFile(dst, "w") as z:
        for path in files:
            info = zipfile.ZipInfo(path.rsplit("/", 1)[-1], date_time=stamp)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 3
            info.external_attr = 0o100644 << 16
            with open(path, "rb") as f:
                z.writestr(info, f.read(), compresslevel=9)


def main(argv):
    if len(argv) == 3 and argv[0] == "readme":
        write_readme(argv[1], argv[2])
    elif len(argv) >= 4 and argv[0] == "zip":
        write_zip(argv[1], argv[2], argv[3:])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv[1:])
