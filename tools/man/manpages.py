#!/usr/bin/env python3
"""Writes the manual pages from their sources, at build time.

  manpages.py library HEADER MANIFEST STATUS_DEF OUTDIR VERSION [SECTIONS]
      Section 3 from the public header: hyxuser.3 (the library, its
      families and its status codes), one page per family (hyxuser_<file>.3,
      named after the family's source file in the manifest) and one link
      page per export that leads to its family's page.  SECTIONS is a
      hand-written file of further sections of hyxuser.3 ("@SH TITLE"
      lines, paragraphs, lines indented by four spaces kept as they are, and
      "@FILE PATH" for a file shown whole, PATH relative to SECTIONS).

  manpages.py tool NAME DESCRIPTION OUTFILE VERSION -- COMMAND...
      Section 1 for a tool: the hand-written DESCRIPTION file (NAME line,
      then paragraphs, lines indented by four spaces shown as written; a
      line "@HELP" marks where the help goes) and the
      tool's own --help text.  For a tool whose help lists commands
      (hyxinfo), each command's --help is added as well.

The header's comment format is described at its top: a comment right
above declarations documents them, and ends with Returns:, Frees: and
Gated: lines.
"""
import os
import re
import subprocess
import sys

TAGS = ("Returns", "Frees", "Gated")


def roff(text):
    """Escapes text for a roff line."""
    text = text.replace("\\", "\\e")
    if text.startswith((".", "'")):
        text = "\\&" + text
    return text


def verbatim(lines):
    out = [".PP", ".nf", ".RS 4"]
    out += [roff(line) if line else "" for line in lines]
    out += [".RE", ".fi"]
    return out


def comment_text(lines):
    """The text of a /* ... */ comment, one entry per line, markers gone."""
    text = []
    for line in lines:
        line = line.strip()
        if line.startswith("/*"):
            line = line[2:]
        if line.endswith("*/"):
            line = line[:-2]
        line = line.strip()
        if line.startswith("*"):
            line = line[1:].strip() if line == "*" or line[1] == " " else line
        text.append(line)
    while text and not text[0]:
        text.pop(0)
    while text and not text[-1]:
        text.pop()
    return text


def split_tags(text):
    """Prose paragraphs and the tagged fields of a doc comment."""
    prose, tags, current = [[]], {}, None
    for line in text:
        match = re.match(r"(%s):\s*(.*)$" % "|".join(TAGS), line)
        if match:
            current = match.group(1)
            tags[current] = [match.group(2)]
        elif current:
            tags[current].append(line)
        elif not line:
            prose.append([])
        else:
            prose[-1].append(line)
    paragraphs = [" ".join(p) for p in prose if p]
    return paragraphs, {k: " ".join(v).strip() for k, v in tags.items()}


class Family:
    def __init__(self, title):
        self.title = title
        self.intro = []  # paragraphs
        self.types = []  # verbatim blocks
        self.entries = []  # (names, prototypes, paragraphs, tags)
        self.slug = None


CONDITIONALS = ("#if", "#else", "#endif", "#pragma", "#undef", "#define HYXUSER_ANY_ARGUMENTS")


def parse_header(path):
    families, family = [], None
    lines = open(path, encoding="utf-8").read().split("\n")
    i, pending, entry = 0, None, None
    preamble = None
    while i < len(lines):
        line = lines[i]
        heading = re.match(r"/\* ---- (.+?) -+ \*/$", line)
        if heading:
            family = Family(heading.group(1))
            families.append(family)
            pending = entry = None
            i += 1
            continue
        if line.startswith("/*"):
            start = i
            while "*/" not in lines[i]:
                i += 1
            raw = lines[start : i + 1]
            text = comment_text(raw)
            i += 1
            if family is None:
                if preamble is None:
                    preamble = text
                continue
            # What follows decides what the comment is about.
            j = i
            while j < len(lines) and lines[j].startswith(CONDITIONALS):
                j += 1
            following = lines[j] if j < len(lines) else ""
            if following.startswith("HYXUSER_API"):
                pending, entry = text, None
            elif following == "" or following.startswith("/*"):
                family.intro += split_tags(text)[0]
            else:
                block = list(raw)
                pending = entry = None
                while i < len(lines) and lines[i] and not lines[i].startswith(("/*", "HYXUSER_API")):
                    if not lines[i].startswith(CONDITIONALS):
                        block.append(lines[i])
                    i += 1
                family.types.append(block)
            continue
        if line.startswith("HYXUSER_API") and family is not None:
            start = i
            while not lines[i].rstrip().endswith(";"):
                i += 1
            decl = " ".join(l.strip() for l in lines[start : i + 1])
            decl = re.sub(r"^HYXUSER_API\s+", "", decl)
            decl = re.sub(r"\(\s*", "(", decl).replace("HYXUSER_ANY_ARGUMENTS", "...")
            decl = decl.replace("()", "(...)")
            name = re.search(r"(\w+)\(", decl).group(1)
            i += 1
            if entry is None:
                paragraphs, tags = split_tags(pending or [])
                entry = ([], [], paragraphs, tags)
                family.entries.append(entry)
                pending = None
            if name not in entry[0]:
                entry[0].append(name)
                entry[1].append(decl)
            continue
        if family is not None and line and not line.startswith(CONDITIONALS):
            # Records, enums and macros: kept as they are written.
            block = []
            while i < len(lines) and lines[i] and not lines[i].startswith(("/*", "HYXUSER_API")):
                if not lines[i].startswith(CONDITIONALS):
                    block.append(lines[i])
                i += 1
            if block:
                family.types.append(block)
            entry = None
            continue
        if not line:
            entry = None
        i += 1
    return preamble or [], families


def parse_manifest(path):
    """Family slugs by title, and each export's versions."""
    slugs, versions, title = {}, {}, None
    for line in open(path, encoding="utf-8"):
        section = re.match(r"# ([^:]+): (\S+)$", line.rstrip())
        if section:
            title = section.group(1)
            slugs[title] = os.path.splitext(os.path.basename(section.group(2)))[0].lower()
            continue
        export = re.match(r"export (\w+) (\S+) (default|compat)", line)
        if export:
            mark = "@@" if export.group(3) == "default" else "@"
            versions.setdefault(export.group(1), []).append(mark + export.group(2))
    return slugs, versions


def th(name, section, version, title):
    # Left-adjusted and unhyphenated: the long export names cannot be
    # spread or split.
    return ['.TH %s %s "" "libhyxuser %s" "%s"' % (name.upper(), section, version, title), ".ad l", ".nh"]


def family_page(family, versions, version):
    names = [n for entry in family.entries for n in entry[0]]
    out = th("hyxuser_" + family.slug, 3, version, "libhyxuser")
    out += [".SH NAME", roff(", ".join(names)) + " \\- " + roff(family.title)]
    out += [".SH SYNOPSIS", ".nf", ".B #include <hyxuser/hyxuser.h>", ".PP"]
    for entry in family.entries:
        out += [roff(p) for p in entry[1]]
    out += [".fi", ".PP", "Link with \\fB\\-lhyxuser\\fR (pkg-config: \\fBhyxuser\\fR)."]
    if family.intro or family.types:
        out += [".SH DESCRIPTION"]
    for paragraph in family.intro:
        out += [".PP", roff(paragraph)]
    for block in family.types:
        out += verbatim(block)
    out += [".SH FUNCTIONS"]
    for names_, prototypes, paragraphs, tags in family.entries:
        out += [".SS " + roff(", ".join(names_))]
        for paragraph in paragraphs:
            out += [".PP", roff(paragraph)]
        for tag in TAGS:
            if tag in tags:
                out += [".TP", ".B " + tag, roff(tags[tag])]
        out += [".TP", ".B Symbol versions", ".nf"]
        out += [roff(n + v) for n in names_ for v in versions.get(n, [])]
        out += [".fi"]
    out += [".SH SEE ALSO", "\\fBhyxuser\\fR(3), \\fBhyxinfo\\fR(1)"]
    return "\n".join(out) + "\n"


def extra_sections(path):
    """The roff of a hand-written sections file (see the usage above)."""
    out, paragraph, block = [], [], []

    def flush():
        if paragraph:
            out.extend([".PP", roff(" ".join(paragraph))])
            paragraph.clear()
        if block:
            while block and not block[-1]:
                block.pop()
            out.extend(verbatim(block))
            block.clear()

    for line in open(path, encoding="utf-8").read().rstrip("\n").split("\n") + [""]:
        if line.startswith("@SH "):
            flush()
            out.append(".SH " + roff(line[4:]))
        elif line.startswith("@FILE "):
            flush()
            shown = os.path.join(os.path.dirname(path), line[6:].strip())
            out.extend(verbatim(open(shown, encoding="utf-8").read().rstrip("\n").split("\n")))
        elif line.startswith("    ") or (block and not line):
            if paragraph:
                flush()
            block.append(line[4:])
        elif line:
            if block:
                flush()
            paragraph.append(line)
        else:
            flush()
    flush()
    return out


def overview_page(preamble, families, status_def, version, sections=None):
    out = th("hyxuser", 3, version, "libhyxuser")
    out += [".SH NAME", "libhyxuser \\- user-space access to the Hyxkernel and the host's local services"]
    out += [".SH SYNOPSIS", ".nf", ".B #include <hyxuser/hyxuser.h>", ".fi", ".PP",
            "Link with \\fB\\-lhyxuser\\fR (pkg-config: \\fBhyxuser\\fR; CMake: "
            "\\fBfind_package(hyxuser)\\fR, target \\fBhyxuser::hyxuser\\fR)."]
    out += [".SH DESCRIPTION"]
    # The header's opening comment, up to where it turns to its own format.
    for paragraph in split_tags(preamble)[0]:
        if paragraph.startswith("How the exports are documented"):
            break
        if not paragraph.startswith("libhyxuser:"):
            out += [".PP", roff(paragraph)]
    out += [".PP", "Each family's page gives, for every export, what it does, \\fBReturns\\fR: the statuses "
            "it gives and when, \\fBFrees\\fR: who releases what it hands out, \\fBGated\\fR: whether it "
            "answers the load-time check's failure at once (see \\fBHyxuserCompat_VerifyHSISigniture\\fR), "
            "and its symbol versions."]
    out += [".SH FAMILIES"]
    for family in families:
        out += [".TP", "\\fBhyxuser_%s\\fR(3)" % family.slug, roff(family.title)]
    out += [".SH STATUS CODES",
            ".PP",
            "Every code but \\fBHYX_OK\\fR (0) is 0x0bad0000 + n; a code 0x2bad0000 + e carries "
            "the errno e.  Each row: the name, the code, the errno it converts to and its text.",
            "\\fBhyxinfo status\\fR NAME|CODE shows one of them."]
    for line in open(status_def, encoding="utf-8"):
        row = re.match(r'HYX_STATUS\(\s*(\w+),\s*(\w+),\s*([^,]+),\s*"(.*)"\)', line)
        if row:
            n = int(row.group(1), 0)
            code = 0 if n == 0 else 0x0BAD0000 + n
            out += [".TP", ".B " + row.group(2),
                    roff("0x%08x, errno %s: %s" % (code, row.group(3).strip(), row.group(4)))]
    if sections:
        out += extra_sections(sections)
    out += [".SH SEE ALSO", ", ".join("\\fBhyxuser_%s\\fR(3)" % f.slug for f in families)
            + ", \\fBhyxinfo\\fR(1), \\fBhyxsim\\fR(1)"]
    return "\n".join(out) + "\n"


def library(header, manifest, status_def, outdir, version, sections=None):
    preamble, families = parse_header(header)
    slugs, versions = parse_manifest(manifest)
    os.makedirs(outdir, exist_ok=True)
    for family in families:
        family.slug = slugs.get(family.title, re.sub(r"\W+", "_", family.title.lower()))
        with open(os.path.join(outdir, "hyxuser_%s.3" % family.slug), "w", encoding="utf-8") as f:
            f.write(family_page(family, versions, version))
        for entry in family.entries:
            for name in entry[0]:
                with open(os.path.join(outdir, name + ".3"), "w", encoding="utf-8") as f:
                    f.write(".so man3/hyxuser_%s.3\n" % family.slug)
    with open(os.path.join(outdir, "hyxuser.3"), "w", encoding="utf-8") as f:
        f.write(overview_page(preamble, families, status_def, version, sections))


def run_help(command, args):
    result = subprocess.run(command + args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if result.returncode != 0:
        sys.exit("%s: --help exits %d: %s" % (" ".join(command + args), result.returncode, result.stderr))
    return result.stdout.rstrip("\n").split("\n")


def tool(name, description, outfile, version, command):
    text = open(description, encoding="utf-8").read().rstrip("\n").split("\n")
    summary, body = text[0], text[1:]
    out = th(name, 1, version, "User Commands")
    out += [".SH NAME", roff(name) + " \\- " + roff(summary)]
    top = run_help(command, ["--help"])
    usage = top[: top.index("")] if "" in top else top  # the lines up to the first blank one
    out += [".SH SYNOPSIS"] + verbatim([l.replace("usage: ", "", 1).strip() for l in usage])
    out += [".SH DESCRIPTION"]
    paragraph, block = [], []

    def flush():
        if paragraph:
            out.extend([".PP", roff(" ".join(paragraph))])
            paragraph.clear()
        if block:
            out.extend(verbatim(block))
            block.clear()

    for line in body + [""]:
        if line.startswith("    "):  # an indented line is shown as written
            if paragraph:
                flush()
            block.append(line[4:])
            continue
        if block:
            flush()
        if line == "@HELP":
            flush()
            # A tool with commands ("  COMMAND ..." lines) gets each one's own
            # help, with its JSON shapes; the usage lines are the synopsis.
            rest = top[len(usage) + 1 :]
            commands = [m.group(1) for l in rest for m in [re.match(r"  ([a-z][a-z0-9-]*) ", l)] if m]
            out += [".SH " + ("COMMANDS" if commands else "OPTIONS")] + verbatim(rest)
            for c in dict.fromkeys(commands):
                out += [".SS " + roff(c)] + verbatim(run_help(command, [c, "--help"])[2:])
        elif line.startswith("@SH "):
            flush()
            out += [".SH " + roff(line[4:])]
        elif line:
            paragraph.append(line)
        else:
            flush()
    with open(outfile, "w", encoding="utf-8") as f:
        f.write("\n".join(out) + "\n")


def main(argv):
    if len(argv) in (7, 8) and argv[1] == "library":
        library(*argv[2:])
    elif len(argv) > 7 and argv[1] == "tool" and argv[6] == "--":
        tool(argv[2], argv[3], argv[4], argv[5], argv[7:])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
