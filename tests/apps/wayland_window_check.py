#!/usr/bin/python3
"""Maximises and restores the running desktop program's main window on a
Wayland compositor through its caption's button, pressed over the AT-SPI
accessibility bus (nothing else can press a button there): each press must
change the window's size as the compositor gave it, every round alike."""
from atspi_helpers import Atspi, application, fail, press, wait_for


def main_window():
    app = application()
    if app is None:
        return None
    for i in range(app.get_child_count()):
        window = app.get_child_at_index(i)
        if window is not None and window.get_role_name() == "frame":
            return window
    return None


def caption_button(window, names):
    """The caption's maximise/restore button, whichever name it has now."""
    def walk(node, depth):
        for i in range(node.get_child_count()):
            child = node.get_child_at_index(i)
            if child is None:
                continue
            if child.get_role_name() == "push button" and child.get_name() in names:
                return child
            if depth < 6:
                found = walk(child, depth + 1)
                if found:
                    return found
        return None
    return walk(window, 0)


def size(window):
    point = window.get_component_iface().get_size()
    return (point.x, point.y)


def main():
    Atspi.init()
    window = wait_for("main window on the accessibility bus", main_window)
    normal = wait_for("size of the main window", lambda: size(window) if size(window)[0] > 0 else None)
    print("the main window is %dx%d" % normal)
    maximised = None
    for round_number in (1, 2, 3):
        press(wait_for("Maximize button", lambda: caption_button(window, ("Maximize",))))
        grown = wait_for("change of size after Maximize in round %d" % round_number,
                         lambda: size(window) if size(window) != normal else None)
        if maximised and grown != maximised:
            fail("round %d: maximised to %dx%d, before to %dx%d" % ((round_number,) + grown + maximised))
        maximised = grown
        if grown[0] <= normal[0] or grown[1] <= normal[1]:
            fail("round %d: maximised to %dx%d from %dx%d" % ((round_number,) + grown + normal))
        press(wait_for("Restore Down button", lambda: caption_button(window, ("Restore Down", "Maximize"))))
        wait_for("return to %dx%d after Restore Down in round %d" % (normal + (round_number,)),
                 lambda: size(window) == normal)
        print("round %d: maximised to %dx%d and restored to %dx%d" % ((round_number,) + grown + normal))
    print("PASSED")


if __name__ == "__main__":
    main()
