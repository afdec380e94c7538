#!/usr/bin/python3
"""Drives the running desktop program through the AT-SPI accessibility bus,
as a screen reader would: finds its controls by role and name, presses them
through their actions and reads the rows of its lists."""
import os

from atspi_helpers import Atspi, application, descendants, enabled, fail, find, press, wait_for


def event_rows(app):
    events = wait_for("event list", lambda: find(app, "list", "Device Event"))
    return [r.get_name() for r in descendants(events)
            if r.get_role_name() == "list item" and r.get_name()]


def upgrade_through_the_file_dialog(app):
    """Upgrade is shown but inert until a package is chosen; Browse opens the
    file dialog, where the package's path is typed; then Upgrade asks, and
    Yes starts the upgrade, as the event list tells."""
    upgrade = wait_for("Upgrade button", lambda: find(app, "push button", "Upgrade"))
    if enabled(upgrade):
        fail("Upgrade can be pressed before a package is chosen")
    press(wait_for("Browse button", lambda: find(app, "push button", "Browse")))
    dialog = wait_for("file dialog", lambda: find(app, "dialog"))
    field = wait_for("file name field", lambda: next(
        (n for n in descendants(dialog)
         if n.get_role_name() == "text" and "name" in n.get_name().lower()), None))
    field.get_editable_text_iface().set_text_contents(os.environ["HALVORIN_TEST_PACKAGE"])
    press(wait_for("Open button", lambda: find(dialog, "push button", "Open")))
    wait_for("the file dialog to close", lambda: find(app, "dialog") is None)
    wait_for("Upgrade to become pressable", lambda: enabled(upgrade))
    press(upgrade)
    box = wait_for("question box", lambda: find(app, "dialog"))
    press(wait_for("Yes button in the box", lambda: find(box, "push button", "Yes")))
    started = wait_for("event row of the upgrade", lambda: [
        r for r in event_rows(app) if "starts firmware upgrade" in r])
    print("package chosen in the file dialog, Upgrade pressed: " + started[0])


def main():
    Atspi.init()
    app = wait_for("application named halvorin on the bus", application)
    window = wait_for("main window", lambda: find(app, "frame"))
    if not window.get_name():
        fail("the main window has no name")

    buttons = {}
    for name in ("Dashboard", "Agent Mode", "About"):
        buttons[name] = wait_for("push button " + name, lambda n=name: find(app, "push button", n))
    unnamed = [n for n in descendants(app) if n.get_role_name() == "push button" and not n.get_name()]
    if unnamed:
        fail("%d push buttons have no name" % len(unnamed))
    entry = find(app, "text", "Enter server name or IP address.")
    if entry is None:
        fail("the host entry is not a text field")
    print("found Dashboard, Agent Mode, About and the host entry")

    press(buttons["Dashboard"])
    overview = wait_for("dashboard list", lambda: find(app, "list", "Dashboard"))
    print("Dashboard pressed: the right pane lists %d rows" % overview.get_child_count())

    # An overview row opens its enclosure; its panel's controls are buttons
    # and switches.
    row = wait_for("enclosure row on the dashboard", lambda: next(
        (r for r in descendants(overview)
         if r.get_role_name() == "list item" and r.get_action_iface() is not None
         and r.get_action_iface().get_n_actions() > 0), None))
    press(row)
    for name in ("Change", "Restart", "Shutdown"):
        wait_for("panel button " + name, lambda n=name: find(app, "push button", n))
    print("an enclosure opened from the dashboard shows Change, Restart and Shutdown")

    # The UID LED switch, pressed, says so in the event list.
    uid_led = wait_for("UID LED switch", lambda: next(
        (n for n in descendants(app)
         if n.get_role_name() == "check box" and "identification" in n.get_name()), None))
    press(uid_led)
    events = wait_for("event list", lambda: find(app, "list", "Device Event"))
    rows = wait_for("event rows", lambda: [
        r.get_name() for r in descendants(events) if r.get_role_name() == "list item" and r.get_name()])
    if not any("LED" in r for r in rows):
        fail("no event row tells of the UID LED: " + repr(rows))
    print("UID LED switch pressed; event rows: " + " | ".join(rows[:3]))

    upgrade_through_the_file_dialog(app)

    windows = app.get_child_count()
    press(buttons["About"])
    wait_for("About window", lambda: app.get_child_count() > windows)
    about = app.get_child_at_index(app.get_child_count() - 1)
    if about.get_role_name() not in ("frame", "window") or not about.get_name():
        fail("the About window reads as %s '%s'" % (about.get_role_name(), about.get_name()))
    print("About pressed: window '%s' opened" % about.get_name())

    press(buttons["Agent Mode"])
    box = wait_for("question box", lambda: find(app, "dialog"))
    no = wait_for("No button in the box", lambda: find(box, "push button", "No"))
    press(no)
    wait_for("the box to close", lambda: find(app, "dialog") is None)
    print("Agent Mode pressed: the question box was answered No through its button")
    print("PASSED")


if __name__ == "__main__":
    main()
