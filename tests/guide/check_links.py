#!/usr/bin/env python3
"""Checks the user guide: every local link and image of every page leads to a
file that exists (and an anchor to an id on that page), and no page carries a
script. Usage: check_links.py GUIDE_FOLDER"""

import html.parser
import os
import sys
import urllib.parse


class Page(html.parser.HTMLParser):
    def __init__(self):
        super().__init__()
        self.targets = []  # (attribute, value, line)
        self.ids = set()
        self.scripts = 0

    def handle_starttag(self, tag, attrs):
        if tag == "script":
            self.scripts += 1
        for name, value in attrs:
            if name == "id" or (tag == "a" and name == "name"):
                self.ids.add(value)
            if name in ("href", "src") and value is not None:
                self.targets.append((name, value, self.getpos()[0]))
            if name.startswith("on"):
                self.scripts += 1


def parse(path):
    page = Page()
    with open(path, encoding="utf-8") as f:
        page.feed(f.read())
    return page


def main():
    folder = os.path.abspath(sys.argv[1])
    pages = {}
    for dirpath, _, names in os.walk(folder):
        for name in names:
            if name.endswith((".htm", ".html")):
                path = os.path.join(dirpath, name)
                pages[path] = parse(path)
    if os.path.join(folder, "index.htm") not in pages:
        print("no index.htm in", folder)
        return 1
    faults = []
    for path, page in sorted(pages.items()):
        where = os.path.relpath(path, folder)
        if page.scripts:
            faults.append(f"{where}: has a script")
        for attribute, value, line in page.targets:
            parts = urllib.parse.urlsplit(value)
            if parts.scheme or value.startswith("//"):
                if parts.scheme not in ("http", "https", "mailto"):
                    faults.append(f"{where}:{line}: {attribute}={value!r} is neither local nor a web address")
                continue
            target = path if not parts.path else os.path.normpath(
                os.path.join(os.path.dirname(path), urllib.parse.unquote(parts.path)))
            if not target.startswith(folder + os.sep):
                faults.append(f"{where}:{line}: {value!r} leaves the guide's folder")
            elif not os.path.isfile(target):
                faults.append(f"{where}:{line}: {value!r} does not exist")
            elif parts.fragment and target in pages and parts.fragment not in pages[target].ids:
                faults.append(f"{where}:{line}: {value!r}: no such anchor")
    for fault in faults:
        print(fault)
    print(f"{len(pages)} pages, {sum(len(p.targets) for p in pages.values())} links and images, {len(faults)} faults")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
