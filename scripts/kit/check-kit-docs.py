#!/usr/bin/env python3
"""Checks that the kit carries everything its README and guide name.

  check-kit-docs.py KIT [--edk2 DIR] [--optional GLOB]...

KIT is the unpacked kit's folder (tavrix-display-<version>/). Its README.md
and docs/INTEGRATION.md are read as a board maker reads them, and these must
hold:
  - every link and picture (markdown "[..](target)", "![..](target)") that
    is no web address names a file of the kit, relative to the document;
  - every path in code (`...` spans and ``` blocks) that starts with one of
    the kit's top-level folders (Binaries/, Tools/, TavrixRefPlatformPkg/,
    ...) names something in the kit ("<TARGET>" and "*" stand for any one
    name, "{a,b}" for either); one that the kit does not hold may be EDK
    II's when DIR, the EDK II tree, holds it (MdePkg/Library/...);
  - every file name in code that is one of the drivers' images
    (TavrixGopDxe*.efi, *.rom, Prelumen*.efi) is in Binaries/, every Python
    tool (*.py) in the kit;
  - every command of a shell block (```sh) is a tool of the kit (a path into
    it, also after python3) or one the documents assume a board maker has
    (EDK II's build and BaseTools, Debian's sbsigntool, coreutils, QEMU);
  - nothing names what only the product's repository has: its make targets,
    its scripts/ folder, TavrixDevPkg, the repository's other documents,
    its build and output folders, its cache.
A name matching an --optional GLOB (fnmatch, against the file name) is one
the documents say only some kits hold (the vendor-signed ROM). Prints one
line per problem, "README.md:LINE: ..."; exits 1 when there is any.
"""
import fnmatch
import glob
import os
import re
import sys

DOCUMENTS = ("README.md", "docs/INTEGRATION.md")

# Commands a board maker has without the kit: EDK II's build and BaseTools,
# Debian's sbsigntool and coreutils, OpenSSL, QEMU, the shell's own.
KNOWN_COMMANDS = {
    "build", "EfiRom", "GenFw", "sbsign", "sbverify", "openssl", "sha256sum", "tar", "cp", "mkdir", "cd",
    "export", "sed", ".", "source", "qemu-system-x86_64", "python3", "make", "cat", "ls",
}

# What only the product's repository has, anywhere in a document.
REPOSITORY_ONLY = [
    (re.compile(r"(?<![\w/])scripts/"), "the repository's scripts/ folder"),
    (re.compile(r"TavrixDevPkg"), "the repository's TavrixDevPkg"),
    (re.compile(r"\b(PERFORMANCE|RELIABILITY|DEVELOPMENT)\.md\b"), "a document of the repository"),
    (re.compile(r"(?<![\w/])out/[a-z]"), "the repository's out/ folder"),
    (re.compile(r"Build/(TavrixDev|TavrixRefPlatform/|TavrixRefPlatformSecureBoot|Dist|TestKey)"), "a build folder of the repository"),
    (re.compile(r"\.cache/tavrix-fw|TAVRIX_CACHE"), "the repository's cache"),
    (re.compile(r"setup-qemu|qemu-build"), "the repository's QEMU build"),
]
# In code only: "make <target>" (EDK II's "make -C .../BaseTools" is fine).
MAKE_TARGET = re.compile(r"(?<![\w-])make\s+(?!-C\b)[A-Za-z]")

LINK = re.compile(r"!?\[[^\]]*\]\(([^)\s]+)\)")
IMAGE_NAME = re.compile(r"^(TavrixGopDxe[\w.]*\.(efi|rom)|Prelumen[\w.]*\.efi)$")


def code_of(text):
    """[(line number, code text)...]: each inline code span, and each line
    of a fenced block with the block's language."""
    pieces, fence, pending = [], None, None
    for number, line in enumerate(text.splitlines(), 1):
        match = re.match(r"^\s*```(\w*)", line)
        if match:
            fence = None if fence is not None else match.group(1)
            continue
        if fence is not None:
            # A line ending in a backslash goes on in the next one.
            start, code = pending if pending else (number, "")
            code += line
            if code.endswith("\\"):
                pending = (start, code[:-1] + " ")
            else:
                pieces.append((start, code, fence))
                pending = None
        else:
            pieces.extend((number, span, None) for span in re.findall(r"`([^`]+)`", line))
    return pieces


def expand(pattern):
    """Glob patterns for a name with "{a,b}" choices and "<...>" places."""
    pattern = re.sub(r"<[^>]*>", "*", pattern)
    match = re.search(r"\{([^{}]*)\}", pattern)
    if not match:
        return [pattern]
    return [p for choice in match.group(1).split(",")
            for p in expand(pattern[:match.start()] + choice + pattern[match.end():])]


def exists(root, name):
    return any(glob.glob(os.path.join(root, p)) for p in expand(name))


def tokens(code):
    for word in re.split(r"[\s=|;,()\"'\[\]]+", code):
        word = word.strip(":.`")
        if word:
            yield word


def shell_commands(line):
    """The commands of one shell line: first words of its pipeline parts,
    after variable assignments; a script after python3 counts as the command."""
    line = re.sub(r"'[^']*'|\"[^\"]*\"", "ARG", line)
    line = re.sub(r"(^|\s)#.*$", "", line).strip()
    for part in re.split(r"&&|\|\||[;|()]", line):
        words = part.split()
        while words and re.match(r"^\w+=", words[0]):
            words.pop(0)
        if not words:
            continue
        if words[0] in ("python3", "bash", "sh") and len(words) > 1 and not words[1].startswith("-"):
            yield words[1]
        else:
            yield words[0]


class Checker:
    def __init__(self, kit, edk2, optional):
        self.kit = kit
        self.edk2 = edk2
        self.optional = optional
        self.tops = sorted(e for e in os.listdir(kit) if os.path.isdir(os.path.join(kit, e)))
        self.files = {os.path.basename(f) for f in glob.glob(os.path.join(kit, "**"), recursive=True)}
        self.binaries = {os.path.basename(f) for f in glob.glob(os.path.join(kit, "Binaries", "*", "*"))}
        self.problems = []

    def report(self, where, what):
        self.problems.append(f"{where}: {what}")

    def is_optional(self, name):
        return any(fnmatch.fnmatch(os.path.basename(n), g) for g in self.optional for n in expand(name))

    def kit_path(self, where, name):
        if exists(self.kit, name) or self.is_optional(name):
            return
        if self.edk2 and exists(self.edk2, name):
            return
        self.report(where, f"names {name}, which the kit does not hold")

    def check(self, document):
        path = os.path.join(self.kit, document)
        if not os.path.isfile(path):
            self.report(document, "is not in the kit")
            return
        text = open(path, encoding="utf-8").read()
        folder = os.path.dirname(path)
        for number, line in enumerate(text.splitlines(), 1):
            where = f"{document}:{number}"
            for target in LINK.findall(line):
                if re.match(r"^[a-z]+:", target) or target.startswith("#"):
                    continue
                target = target.split("#")[0]
                if not os.path.exists(os.path.normpath(os.path.join(folder, target))):
                    self.report(where, f"links to {target}, which the kit does not hold")
            for pattern, what in REPOSITORY_ONLY:
                if pattern.search(line):
                    self.report(where, f"names {what}: {line.strip()[:100]}")
        for number, code, fence in code_of(text):
            where = f"{document}:{number}"
            if MAKE_TARGET.search(code):
                self.report(where, f"names a make target, which only the repository has: {code.strip()[:100]}")
            for word in tokens(code):
                if word.startswith("$"):
                    continue
                if "/" in word and word.split("/")[0] in self.tops:
                    self.kit_path(where, word)
                elif "/" not in word and IMAGE_NAME.match(word) and word not in self.binaries and not self.is_optional(word):
                    self.report(where, f"names the image {word}, which Binaries/ does not hold")
                elif "/" not in word and word.endswith(".py") and word not in self.files:
                    self.report(where, f"names the tool {word}, which the kit does not hold")
            if fence == "sh":
                for command in shell_commands(code):
                    if "/" in command and not command.startswith(("$", "/")):
                        self.kit_path(where, command)
                    elif "/" not in command and command not in KNOWN_COMMANDS:
                        self.report(where, f"runs {command}, neither a tool of the kit nor one a board maker has")


def main(argv):
    args, edk2, optional = [], None, []
    it = iter(argv)
    for arg in it:
        if arg == "--edk2":
            edk2 = next(it, None)
        elif arg == "--optional":
            optional.append(next(it, ""))
        else:
            args.append(arg)
    if len(args) != 1 or not os.path.isdir(args[0]):
        print(__doc__)
        return 2
    checker = Checker(args[0], edk2, optional)
    for document in DOCUMENTS:
        checker.check(document)
    for problem in checker.problems:
        print(problem)
    return 1 if checker.problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
