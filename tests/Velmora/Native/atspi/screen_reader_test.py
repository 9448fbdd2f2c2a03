"""The play/pause button of the native widget as a screen reader finds it: by its accessible name, its
press action pausing the desktop app, and its name changing with the state. Waits for each state with a
bound, never for a fixed time."""
import json
import subprocess
import sys
import time

import pyatspi

CTL = sys.argv[1]


def wait_for(what, describe, timeout=30.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        found = what()
        if found:
            return found
        time.sleep(0.1)
    raise SystemExit("screen reader test: timed out waiting for " + describe)


def velmora():
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.name == "velmora":
            return app
    return None


def button(app, name):
    return pyatspi.findDescendant(
        app, lambda node: node is not None and node.getRole() == pyatspi.ROLE_PUSH_BUTTON and node.name == name)


def press(node):
    action = node.queryAction()
    for index in range(action.nActions):
        if action.getName(index).lower() in ("press", "click"):
            action.doAction(index)
            return
    raise SystemExit("screen reader test: %r offers no press action" % node.name)


def status():
    run = subprocess.run([CTL, "status"], capture_output=True, text=True, timeout=30)
    return json.loads(run.stdout) if run.returncode == 0 else {}


app = wait_for(velmora, "velmora on the accessibility bus")
pause = wait_for(lambda: button(app, "Pause"), 'a button named "Pause"')
title = (status().get("track") or {}).get("name")


def text_named(name):
    return pyatspi.findDescendant(
        app, lambda node: node is not None and node.name == name
        and node.getRole() in (pyatspi.ROLE_STATIC, pyatspi.ROLE_LABEL, pyatspi.ROLE_TEXT))


wait_for(lambda: text_named(title), "the playing track's title, %r, as a text" % title)
press(pause)
wait_for(lambda: status().get("is_paused") is True, "corvana-sim to pause")
wait_for(lambda: button(app, "Play"), 'the button to be named "Play"')
print("screen reader test: play/pause found by name, pressed, renamed")
