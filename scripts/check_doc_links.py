#!/usr/bin/env python3
"""Checks that every relative link in the given Markdown pages resolves: the file exists and,
where the link names an #anchor in a Markdown page, that page has a heading with that anchor.
Anchors are made the way the repository's web view makes them, so a link that works here works
there. Prints each broken link as FILE:LINE: TARGET: REASON and exits 1 if there was one."""

import re
import sys
from pathlib import Path

LINK = re.compile(r"!?\[(?:[^\]\\]|\\.)*\]\(\s*<?([^)\s>]+)>?(?:\s+\"[^\"]*\")?\s*\)")
HEADING = re.compile(r"^ {0,3}(#{1,6})\s+(.*?)\s*#*\s*$")
FENCE = re.compile(r"^ {0,3}(```|~~~)")


def prose_lines(text):
    """The page's lines outside fenced and indented code, with their numbers."""
    in_fence = False
    previous_blank = True
    in_indented = False
    for number, line in enumerate(text.splitlines(), 1):
        if FENCE.match(line):
            in_fence = not in_fence
            continue
        if in_fence:
            continue
        if line.startswith("    ") and (previous_blank or in_indented):
            in_indented = True
            continue
        in_indented = False
        previous_blank = not line.strip()
        yield number, line


def without_code_spans(line):
    return re.sub(r"(`+).*?\1", "", line)


def slug(heading):
    text = re.sub(r"\[([^\]]*)\]\([^)]*\)", r"\1", heading)  # a link's text stays
    text = text.replace("`", "").replace("*", "")
    text = text.lower()
    text = re.sub(r"[^\w\- ]", "", text)
    return text.replace(" ", "-")


def anchors(path):
    seen = {}
    result = set()
    for _, line in prose_lines(path.read_text(encoding="utf-8")):
        match = HEADING.match(line)
        if not match:
            continue
        base = slug(match.group(2))
        count = seen.get(base, 0)
        seen[base] = count + 1
        result.add(base if count == 0 else f"{base}-{count}")
    return result


def broken_links(page):
    problems = []
    for number, line in prose_lines(page.read_text(encoding="utf-8")):
        for match in LINK.finditer(without_code_spans(line)):
            target = match.group(1)
            if re.match(r"^[a-z][a-z0-9+.-]*:", target, re.I):
                continue  # http:, mailto: and the like are not ours to check
            path_part, _, anchor = target.partition("#")
            resolved = (page.parent / path_part).resolve() if path_part else page.resolve()
            if not resolved.exists():
                problems.append((number, target, "no such file"))
            elif anchor and resolved.suffix == ".md" and anchor not in anchors(resolved):
                problems.append((number, target, f"no heading with the anchor #{anchor}"))
    return problems


def main(pages):
    if not pages:
        print("usage: check_doc_links.py PAGE.md...", file=sys.stderr)
        return 2
    failed = False
    for name in pages:
        page = Path(name)
        for number, target, reason in broken_links(page):
            print(f"{page}:{number}: {target}: {reason}")
            failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
