"""What the scripts that drive the desktop program over the AT-SPI
accessibility bus share: failing with a message, waiting for a condition,
walking the accessible tree, finding by role and name, and pressing."""
import sys
import time
import warnings

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402,F401  (the scripts use it from here)

# The per-interface getters used here are deprecated, not gone.
warnings.filterwarnings("ignore", category=DeprecationWarning)


def fail(message):
    print("FAILED: " + message)
    sys.exit(1)


def wait_for(what, find, seconds=15):
    """The first true value of find() within the time, or failure naming what."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        found = find()
        if found:
            return found
        time.sleep(0.2)
    fail("no " + what)


def descendants(node, depth=0):
    """Every accessible object under `node`, depth first."""
    if depth > 40:
        return
    for i in range(node.get_child_count()):
        child = node.get_child_at_index(i)
        if child is None:
            continue
        yield child
        yield from descendants(child, depth + 1)


def application(name="halvorin"):
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is not None and app.get_name() == name:
            return app
    return None


def find(under, role, name=None):
    for node in descendants(under):
        if node.get_role_name() == role and (name is None or node.get_name() == name):
            return node
    return None


def press(node):
    action = node.get_action_iface()
    if action is None:
        fail(node.get_role_name() + " '" + node.get_name() + "' has no action")
    names = [action.get_action_name(i).lower() for i in range(action.get_n_actions())]
    if "press" not in names:
        fail("'" + node.get_name() + "' has no press action: " + repr(names))
    action.do_action(names.index("press"))


def enabled(node):
    return node.get_state_set().contains(Atspi.StateType.ENABLED)
