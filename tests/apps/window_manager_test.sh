#!/usr/bin/env bash
# The main window under a real window manager (openbox on an X server run
# by xvfb-run), or on a bare X server without one, driven by real pointer
# input (xdotool) as a person would: maximise and restore through the
# caption's button, then a drag of the bottom-right corner. The window
# manager's state must follow each click (without one, the window maximises
# and restores itself, and minimise puts it below the others), and the
# window stay on screen.
# Usage: window_manager_test.sh HALVORIN [openbox|none]
set -euo pipefail
halvorin="$1"
manager="${2:-openbox}"
source "$(dirname "$0")/desktop_session.sh"
require_tools openbox xdotool xprop xwininfo
[ "$manager" = openbox ] && start_openbox
start_demo "$halvorin"
find_main_window

# x y width height of the window, as the X server has it.
geometry() {
    eval "$(xdotool getwindowgeometry --shell "$window")"
    echo "$X $Y $WIDTH $HEIGHT"
}
# Under a window manager its state says so; without one, the window covers
# the screen.
maximised() {
    if [ "$manager" = openbox ]; then
        xprop -id "$window" _NET_WM_STATE | grep -q MAXIMIZED_HORZ
    else
        [ "$(geometry)" = "0 0 $screen_w $screen_h" ]
    fi
}
click() {
    xdotool mousemove "$1" "$2"
    sleep 0.3
    xdotool click 1
    sleep 1
}
# The caption's middle button: the buttons are 22 px wide, 4 px down, the
# last one 8 px in from the right edge.
middle_button() {
    read -r x y w _ <<<"$(geometry)"
    echo "$((x + w - 8 - 22 - 11)) $((y + 15))"
}

read -r x0 y0 w0 h0 <<<"$(geometry)"
screen_w=$(xdotool getdisplaygeometry | cut -d' ' -f1)
screen_h=$(xdotool getdisplaygeometry | cut -d' ' -f2)
for round in 1 2 3; do
    # shellcheck disable=SC2046
    click $(middle_button)
    maximised || fail "round $round: maximise left the window manager's state at: $(xprop -id "$window" _NET_WM_STATE)"
    read -r x y w h <<<"$(geometry)"
    [ "$x" -eq 0 ] && [ "$y" -eq 0 ] && [ "$w" -eq "$screen_w" ] ||
        fail "round $round: maximised to $x,$y ${w}x$h"
    # shellcheck disable=SC2046
    click $(middle_button)
    ! maximised || fail "round $round: the first restore did nothing"
    [ "$(geometry)" = "$x0 $y0 $w0 $h0" ] || fail "round $round: restored to $(geometry)"
done

# The bottom-right corner, dragged by +60,+40.
corner_x=$((x0 + w0 - 1))
corner_y=$((y0 + h0 - 1))
xdotool mousemove "$corner_x" "$corner_y"
sleep 0.3
xdotool mousedown 1
for step in 1 2 3; do
    xdotool mousemove $((corner_x + 20 * step)) $((corner_y + 40 * step / 3))
    sleep 0.1
done
xdotool mouseup 1
sleep 1
read -r x y w h <<<"$(geometry)"
[ "$x" -eq "$x0" ] && [ "$y" -eq "$y0" ] || fail "the corner drag moved the window to $x,$y"
[ "$w" -eq $((w0 + 60)) ] && [ "$h" -eq $((h0 + 40)) ] || fail "the corner drag made it ${w}x$h"
[ $((x + w)) -le "$screen_w" ] && [ $((y + h)) -le "$screen_h" ] || fail "off the screen: $x,$y ${w}x$h"
if [ "$manager" = none ]; then
    # Maximised by hand, then dragged away by the caption: no longer maximised,
    # so the middle button maximises again instead of restoring.
    # shellcheck disable=SC2046
    click $(middle_button)
    maximised || fail "maximise before the drag"
    xdotool mousemove 300 12
    sleep 0.3
    xdotool mousedown 1
    for step in 1 2 3; do xdotool mousemove 300 $((12 + 30 * step)); sleep 0.1; done
    xdotool mouseup 1
    sleep 1
    ! maximised || fail "the caption drag did not move the maximised window"
    dragged=$(geometry)
    # shellcheck disable=SC2046
    click $(middle_button)
    maximised || fail "after the drag the middle button did not maximise: $(geometry)"
    # shellcheck disable=SC2046
    click $(middle_button)
    [ "$(geometry)" = "$dragged" ] || fail "restored to $(geometry), not $dragged, after the drag"
    # Minimise, with nobody to iconify the window, puts it below every other
    # (xwininfo lists the top one first).
    read -r x y w _ <<<"$(geometry)"
    click $((x + w - 8 - 3 * 22 + 11)) $((y + 15))
    bottom=$(xwininfo -root -children | sed -n 's/^ *\(0x[0-9a-f]*\) .*/\1/p' | tail -1)
    [ "$((bottom))" -eq "$window" ] || fail "minimise left the window above $bottom"
fi

echo "maximise, restore and a corner drag follow the window manager ($manager)"
