"""Waits until velmora shows a title, as a screen reader reads it: a text whose name is the title.
   shows_title.py TITLE"""
import sys
import time

import pyatspi

TITLE = sys.argv[1]


def shown():
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.name == "velmora":
            return pyatspi.findDescendant(
                app, lambda node: node is not None and node.name == TITLE
                and node.getRole() in (pyatspi.ROLE_STATIC, pyatspi.ROLE_LABEL, pyatspi.ROLE_TEXT))
    return None


deadline = time.monotonic() + 30
while not shown():
    if time.monotonic() > deadline:
        raise SystemExit("shows_title: velmora never showed %r" % TITLE)
    time.sleep(0.1)
