# The tray icon on a desktop, used as a person uses it: the splash clicked away, the menu
# opened with a right click, "&Lock", "&Unlock" and "&Help" chosen by their accelerators,
# a prompt brought back by a click on the icon, the About box, and Exit answered No, then Yes.
source "$(dirname "$0")/desktop_session.sh"

# The agent's visible windows, one id a line.
agent_windows() { xdotool search --onlyvisible --class kvsshaa 2>/dev/null | sort || true; }

# A visible agent window of exactly $1 x $2 pixels, waited for up to 10 s.
window_sized() {
    local w
    for ((i = 0; i < 100; i++)); do
        for w in $(agent_windows); do
            eval "$(xdotool getwindowgeometry --shell "$w")"
            if [ "$WIDTH" -eq "$1" ] && [ "$HEIGHT" -eq "$2" ]; then
                echo "$w"
                return 0
            fi
        done
        sleep 0.1
    done
    ds_fail "no ${1}x$2 window"
}

# Right-clicks the tray icon and prints the id of the menu that opens.
open_menu() {
    local before new
    before=$(agent_windows)
    ds_click_tray 3
    for ((i = 0; i < 50; i++)); do
        new=$(comm -13 <(echo "$before") <(agent_windows) | head -n 1)
        [ -n "$new" ] && { echo "$new"; return 0; }
        sleep 0.1
    done
    ds_screenshot failed_menu
    ds_fail "no menu after a right click on the tray icon (windows: $(agent_windows | tr '\n' ' '))"
}

# Clicks item $1 (from 1) of the seven-item menu $2.
click_item() {
    eval "$(xdotool getwindowgeometry --shell "$2")"
    xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT * (2 * $1 - 1) / 14)) click 1
}

log_count() { grep -cF -- "$2" "$1" || true; }

step() { echo "--- $*" >&2; }

ds_start
log=$(ds_log_to_file)
# The desktop's way of opening a page, recorded instead of starting a browser.
mkdir -p "$DS_ROOT/bin"
printf '#!/bin/sh\necho "$1" >>"%s/opened"\n' "$DS_ROOT" >"$DS_ROOT/bin/xdg-open"
chmod +x "$DS_ROOT/bin/xdg-open"

step "splash"
# A splash that would stay ten minutes: only the click can have ended it.
PATH="$DS_ROOT/bin:$PATH" KVSSHAA_SPLASH_MS=600000 ds_start_agent
splash=$(window_sized 440 280)
ds_screenshot splash
eval "$(xdotool getwindowgeometry --shell "$splash")"
xdotool mousemove $((X + 200)) $((Y + 140)) click 1
prompt=$(ds_window "Korvenix SSH Authentication Agent")
ds_focus "$prompt"
ds_type "tray secret" Tab
ds_type "tray secret" Return
ds_wait_log "$log" "Unlocked successfully"
ds_tray_icon >/dev/null

step "lock"
# Unlocked: "&Lock" by its accelerator.
menu=$(open_menu)
ds_screenshot tray_menu_unlocked
ds_keys l
ds_wait_log "$log" "Lock:Locked"
ds_wait 30 bash -c "! xdotool search --onlyvisible --class kvsshaa | grep -qx $menu" || ds_fail "the menu stayed open"

step "unlock, the prompt brought forward"
# Locked: "&Unlock" opens the prompt. Another program's window then covers it and takes the
# focus; a click on the icon shows no menu and brings the prompt back on top, focused.
menu=$(open_menu)
ds_screenshot tray_menu_locked
ds_keys u
prompt=$(ds_window "Korvenix SSH Authentication Agent")
ds_ensure_wm
xmessage -geometry 900x700+60+30 "another program" &
cover_pid=$!
DS_PIDS+=($cover_pid)
cover=$(ds_window xmessage)
eval "$(xdotool getwindowgeometry --shell "$cover")"
xdotool mousemove $((X + 450)) $((Y + 100)) click 1  # the person turns to it
cover_active() { [ "$(xdotool getactivewindow 2>/dev/null)" = "$cover" ]; }
# A busy (sanitized) run may lose the click's focus change: ask the window manager then.
ds_wait 30 cover_active || { ds_focus "$cover"; ds_wait 50 cover_active; } || {
    a=$(xdotool getactivewindow 2>/dev/null || true)
    ds_screenshot failed_cover
    ds_fail "the cover did not get the focus ($a $(xdotool getwindowname "$a" 2>/dev/null || true) / $cover; $(xdotool search --name '^xmessage$' | tr '\n' ' '))"
}
before=$(agent_windows)
ds_click_tray 3
ds_wait 30 bash -c "[ \"\$(xdotool getactivewindow)\" = $prompt ]" || {
    ds_screenshot failed_focus
    ds_fail "the prompt did not get the focus (active: $(xdotool getactivewindow 2>/dev/null || true))"
}
stacking=$(xprop -root _NET_CLIENT_LIST_STACKING | tr -d ',' | tr ' ' '\n' | grep '^0x' || true)
top=""
for id in $stacking; do
    [ $((id)) -eq "$prompt" ] && top=prompt
    [ $((id)) -eq "$cover" ] && top=cover
done
[ "$top" = prompt ] || ds_fail "the prompt is still below the other window"
sleep 0.5
[ "$(comm -13 <(echo "$before") <(agent_windows) | grep -vx "$prompt" || true)" = "" ] ||
    ds_fail "a window opened while the prompt was open"
ds_screenshot prompt_brought_forward
ds_type "tray secret" Return
ds_wait 100 bash -c "[ \$(grep -c 'Unlocked successfully' '$log') -ge 2 ]" ||
    ds_fail "the second unlock was not logged"
kill "$cover_pid"

step "about, help"
# About: stays until a key; then "&Help" opens the default page.
menu=$(open_menu)
click_item 2 "$menu"
about=$(window_sized 440 280)
sleep 1.5  # longer than a splash lives
xdotool search --onlyvisible --class kvsshaa | grep -qx "$about" || ds_fail "the About box closed by itself"
ds_screenshot about_box
xdotool windowactivate --sync "$about" 2>/dev/null || true
ds_keys space
ds_wait 30 bash -c "! xdotool search --onlyvisible --class kvsshaa | grep -qx $about" ||
    ds_fail "the About box stayed after a key"
menu=$(open_menu)
ds_keys h
ds_wait 50 test -s "$DS_ROOT/opened" || ds_fail "help was not opened"
grep -q "/Documentation/index.html$" "$DS_ROOT/opened" || ds_fail "help opened $(cat "$DS_ROOT/opened")"
[ -f "$KV_BIN_DIR/Documentation/index.html" ] || ds_fail "no help pages beside the agent"

step "exit"
# Exit: No keeps the agent, Yes ends it as SIGTERM would (socket removed).
menu=$(open_menu)
click_item 7 "$menu"
question=$(ds_window "Korvenix SSH Authentication Agent")
ds_screenshot exit_question
xdotool windowactivate --sync "$question" 2>/dev/null || true
ds_keys n
sleep 1
ds_agent_running || ds_fail "the agent ended after No"
ds_client list >/dev/null || ds_fail "the agent stopped answering after No"
step "exit: yes"
menu=$(open_menu)
click_item 7 "$menu"
question=$(ds_window "Korvenix SSH Authentication Agent")
xdotool windowactivate --sync "$question" 2>/dev/null || true
ds_keys y
ds_wait_agent_exit 100
[ ! -e "$XDG_RUNTIME_DIR/kvsshaa/agent" ] || ds_fail "the socket was left behind"
[ "$(log_count "$log" "Lock:Locked")" -eq 1 ] || ds_fail "Locked logged more than once"
echo "tray menu on a desktop: ok"
