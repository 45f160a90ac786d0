#!/usr/bin/python3
"""Prints the accessibility tree of the running rastova as screen readers see it
over AT-SPI, and checks that the controls without a caption of their own carry
names. Run through tools/a11y-check.sh."""
import sys

import pyatspi

WANTED = [
    ("list", "Files"), ("combo box", "Folder"), ("text", "Path"), ("combo box", "File extension"),
    ("panel", "Conversion from"), ("panel", "Conversion to"), ("panel", "File extension"),
    ("panel", "Color resolution"), ("panel", "Mirror"), ("panel", "Rotate"),
    ("push button", "Go Up"), ("push button", "New Folder"), ("push button", "Start"),
    ("radio button", "True color (24 bit)"), ("progress bar", "Progress"),
]


def walk(node, depth, found):
    try:
        role, name = node.getRoleName(), node.name
    except Exception:
        return
    print("  " * depth + f"[{role}] {name!r}")
    found.add((role, name))
    # Item views list every file; their children say nothing about the window.
    if role in ("list", "table", "tree table"):
        return
    for child in node:
        if child is not None:
            walk(child, depth + 1, found)


def main():
    desktop = pyatspi.Registry.getDesktop(0)
    apps = [app for app in desktop if app is not None and app.name.lower() == "rastova"]
    if not apps:
        print("a11y: rastova is not on the accessibility bus", file=sys.stderr)
        return 1
    found = set()
    walk(apps[0], 0, found)
    missing = [item for item in WANTED if item not in found]
    for role, name in missing:
        print(f"a11y: no {role} named {name!r}", file=sys.stderr)
    return 1 if missing else 0


sys.exit(main())
