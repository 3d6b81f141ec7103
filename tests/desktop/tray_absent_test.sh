# A desktop without a tray: the agent still runs, says so once, opens its window when asked
# and shows its icon as soon as a tray host starts. Run at twice the pixel density, so the
# icon, the menu and the About box are also seen on a high-density screen.
source "$(dirname "$0")/desktop_session.sh"

ds_start no-tray
log=$(ds_log_to_file)
QT_SCALE_FACTOR=2 ds_start_agent
prompt=$(ds_window "Korvenix SSH Authentication Agent")
ds_focus "$prompt"
ds_type "no tray" Tab
ds_type "no tray" Return
ds_wait_log "$log" "Unlocked successfully"
ds_client list >/dev/null || ds_fail "the agent does not answer without a tray"
[ "$(grep -c 'the desktop has no tray' "$DS_ROOT/agent.stderr")" -eq 1 ] ||
    ds_fail "the missing tray was not reported exactly once"

# The way in without an icon: the show-window request (a second start sends the same).
ds_client show-window >/dev/null
ds_wait 50 bash -c "grep -q 'configuration window requested' '$DS_ROOT/agent.stderr' ||
    xdotool search --onlyvisible --name '^Korvenix SSH Authentication Agent\$'" ||
    ds_fail "show-window did nothing"

# A tray host arrives: the icon appears in it, unlocked, and its menu works.
ds_start_tray
icon=$(ds_tray_icon)
ds_screenshot tray_appeared_hidpi
before=$(xdotool search --onlyvisible --class kvsshaa | sort)
ds_click_tray 3
menu=""
for ((i = 0; i < 50; i++)); do
    menu=$(comm -13 <(echo "$before") <(xdotool search --onlyvisible --class kvsshaa | sort) | head -n 1)
    [ -n "$menu" ] && break
    sleep 0.1
done
[ -n "$menu" ] || ds_fail "no menu on the late icon"
ds_screenshot tray_menu_hidpi
eval "$(xdotool getwindowgeometry --shell "$menu")"
xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT * 3 / 14)) click 1  # "About..."
ds_wait 50 bash -c "for w in \$(xdotool search --onlyvisible --class kvsshaa); do
    xdotool getwindowgeometry \$w | grep -q 'Geometry: 880x560' && exit 0; done; exit 1" ||
    ds_fail "no About box at twice the size"
ds_screenshot about_box_hidpi
ds_keys Escape
kill -TERM "$DS_AGENT_PID"
ds_wait_agent_exit 100
[ "$(grep -c 'the desktop has no tray' "$DS_ROOT/agent.stderr")" -eq 1 ] ||
    ds_fail "the tray was reported missing again"
echo "no tray, then a tray: ok"
