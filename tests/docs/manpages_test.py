#!/usr/bin/env python3
"""The manual pages as built: every export has its entry, every page renders.

  manpages_test.py MAN_DIR MANIFEST [TOOL ...]

Each export of the manifest has a page of its name that leads to its
family's page; the family page has the export's entry, whose Returns names
its statuses and whose Gated says yes or no.  Each TOOL has a section 1
page.  Every page renders through man (groff when man-db is missing)
without a warning.
"""
import os
import re
import shutil
import subprocess
import sys

failures = []


def fail(message):
    failures.append(message)


def entries(page_text):
    """The export entries of a family page: names -> the entry's text."""
    found = {}
    functions = page_text.split("\n.SH FUNCTIONS\n", 1)
    if len(functions) < 2:
        return found
    body = functions[1].split("\n.SH ", 1)[0]
    for chunk in body.split(".SS ")[1:]:
        heading, _, text = chunk.partition("\n")
        for name in heading.split(", "):
            found[name.strip()] = text
    return found


def check_exports(man_dir, manifest):
    exports = sorted({m.group(1) for line in open(manifest) for m in [re.match(r"export (\w+) ", line)] if m})
    for name in exports:
        link = os.path.join(man_dir, "man3", name + ".3")
        if not os.path.exists(link):
            fail("%s: no page" % name)
            continue
        target = re.match(r"\.so (man3/\S+)$", open(link).read().strip())
        if not target or not os.path.exists(os.path.join(man_dir, target.group(1))):
            fail("%s: its page leads to no family page" % name)
            continue
        entry = entries(open(os.path.join(man_dir, target.group(1))).read()).get(name)
        if entry is None:
            fail("%s: no entry on %s" % (name, target.group(1)))
            continue
        returns = re.search(r"\.B Returns\n(.*)\n", entry)
        if not returns or not re.search(r"\bHYX_[A-Z_]+\b", returns.group(1)):
            fail("%s: its entry names no status" % name)
        if not re.search(r"\.B Gated\n(yes|no)\.", entry):
            fail("%s: its entry does not say whether it is gated" % name)
    return len(exports)


def sections(text):
    """A page's sections: title -> body."""
    found = {}
    for chunk in text.split("\n.SH ")[1:]:
        title, _, body = chunk.partition("\n")
        found[title.strip().strip('"')] = body
    return found


# What a reader looks up in the pages: the environment each program reads,
# a whole example program, what loading may do, and how fork-exec treats
# its program and descriptors.
EXPECTED = {
    "man3/hyxuser.3": {"ENVIRONMENT": ["HYXUSER_HSI_SNAPSHOT", "HYXSIM_PROFILE", "HYXSIM_TRACE"],
                       "EXAMPLES": ["int main(void)", "pkg-config"],
                       "LOADING": ["Error during version check", "255"],
                       "LINKING": ["SONAME", "-lhyxuser"]},
    "man1/hyxinfo.1": {"ENVIRONMENT": ["HYXUSER_HSI_SNAPSHOT", "HYXSIM_PROFILE"],
                       "EXIT STATUS": ["255", "Error during version check"]},
    "man1/hyxsnap.1": {"ENVIRONMENT": ["HYXUSER_HSI_SNAPSHOT"]},
    "man1/hyxsim.1": {"ENVIRONMENT": ["HYXSIM_PROFILE", "HYXSIM_TRACE", "PATH"],
                      "FILES": ["PREFIX/share/hyxuser/hosts/"],
                      "SANDBOX ACCOUNTS": ["hyx-secret", "hyxexpired"]},
    "man3/hyxuser_forkexec.3": {"FUNCTIONS": ["PATH is not searched", "not even standard input"]},
}


def check_contents(man_dir):
    for page, wanted in EXPECTED.items():
        path = os.path.join(man_dir, page)
        if not os.path.exists(path):
            continue  # a tool this build has not, or reported missing above
        found = sections(open(path).read())
        for title, words in wanted.items():
            body = found.get(title)
            if body is None:
                fail("%s: no %s section" % (page, title))
                continue
            flat = " ".join(body.split())
            for word in words:
                if word not in flat:
                    fail("%s: %s does not say %s" % (page, title, word))


def render(man_dir, page):
    if shutil.which("man"):
        command = ["man", "--warnings=w", "-E", "UTF-8", "-l", page]
    else:
        command = ["groff", "-man", "-Tutf8", "-ww", page]
    env = dict(os.environ, MANWIDTH="80", MAN_KEEP_FORMATTING="0")
    result = subprocess.run(command, cwd=man_dir, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            text=True)
    if result.returncode != 0 or result.stderr.strip():
        fail("%s: %s" % (page, result.stderr.strip() or "exit %d" % result.returncode))
    elif len(result.stdout.strip().split("\n")) < 5:
        fail("%s: renders to almost nothing" % page)


def main(argv):
    man_dir, manifest, tools = argv[1], argv[2], argv[3:]
    count = check_exports(man_dir, manifest)
    for tool in tools:
        if not os.path.exists(os.path.join(man_dir, "man1", tool + ".1")):
            fail("%s: no section 1 page" % tool)
    pages = []
    for section in ("man1", "man3"):
        directory = os.path.join(man_dir, section)
        for name in sorted(os.listdir(directory)) if os.path.isdir(directory) else []:
            if not open(os.path.join(directory, name)).read().startswith(".so "):
                pages.append(os.path.join(section, name))
    for page in pages:
        render(man_dir, page)
    check_contents(man_dir)
    for message in failures:
        print("FAIL", message)
    print("%d exports, %d pages rendered, %d failures" % (count, len(pages), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
