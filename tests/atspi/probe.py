#!/usr/bin/python3
"""Starts kavurio in a folder and reads its window through AT-SPI, as a screen
reader does. Prints one JSON object on its last line: the name, role, states,
actions and description of every named control, the outcome of each step, and
the controls again after the steps.

Usage: probe.py BINARY FOLDER [STEP ...]
  press:NAME    performs the press action of the control with that accessible name
  answer:TEXT   types TEXT into the open input box through AT-SPI and presses its OK
Run inside its own D-Bus session (dbus-run-session) with DISPLAY set."""
import json
import os
import subprocess
import sys
import time

import pyatspi


def find_app(pid, seconds=20):
    deadline = time.time() + seconds
    while time.time() < deadline:
        desktop = pyatspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            app = desktop.getChildAtIndex(i)
            try:
                if app is not None and app.get_process_id() == pid and app.childCount > 0:
                    return app
            except Exception:
                pass
        time.sleep(0.2)
    return None


def walk(node, out):
    try:
        name = node.name
        role = node.getRoleName()
        states = sorted(pyatspi.stateToString(s) for s in node.getState().getStates())
        actions = []
        try:
            action = node.queryAction()
            actions = [action.getName(i) for i in range(action.nActions)]
        except NotImplementedError:
            pass
        if name:
            out.append({"name": name, "role": role, "states": states, "actions": actions,
                        "description": node.description})
        for i in range(node.childCount):
            walk(node.getChildAtIndex(i), out)
    except Exception as error:  # a node that went away while read
        out.append({"error": str(error)})


def controls(app):
    out = []
    walk(app, out)
    return out


def find(node, test):
    if test(node):
        return node
    for i in range(node.childCount):
        found = find(node.getChildAtIndex(i), test)
        if found is not None:
            return found
    return None


def do_press(node):
    action = node.queryAction()
    for i in range(action.nActions):
        if action.getName(i).lower() == "press":
            return bool(action.doAction(i))
    return False


def press(app, name):
    node = find(app, lambda n: n.name == name)
    return node is not None and do_press(node)


def answer(app, text, seconds=10):
    """The input box: its one editable text gets the text, then OK is pressed."""
    deadline = time.time() + seconds
    while time.time() < deadline:
        for i in range(app.childCount):
            window = app.getChildAtIndex(i)
            if window is None or window.getRole() != pyatspi.ROLE_DIALOG:
                continue
            field = find(window, lambda n: n.getRole() == pyatspi.ROLE_TEXT)
            ok = find(window, lambda n: n.getRole() == pyatspi.ROLE_PUSH_BUTTON and n.name == "OK")
            if field is None or ok is None:
                continue
            field.queryEditableText().setTextContents(text)
            return do_press(ok)
        time.sleep(0.2)
    return False


def main():
    binary, folder, to_press = sys.argv[1], sys.argv[2], sys.argv[3:]
    env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb")
    program = subprocess.Popen([binary], cwd=folder, env=env)
    result = {"started": False}
    try:
        app = find_app(program.pid)
        if app is None:
            print(json.dumps(result))
            return 1
        time.sleep(0.5)
        result["started"] = True
        result["before"] = controls(app)
        result["steps"] = []
        for step in to_press:
            kind, _, value = step.partition(":")
            done = press(app, value) if kind == "press" else answer(app, value)
            result["steps"].append(done)
            time.sleep(0.7)
        result["after"] = controls(app)
        result["running"] = program.poll() is None
    finally:
        program.terminate()
        try:
            program.wait(5)
        except subprocess.TimeoutExpired:
            program.kill()
    print(json.dumps(result, ensure_ascii=False))
    return 0


if __name__ == "__main__":
    sys.exit(main())
