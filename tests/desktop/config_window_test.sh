# The configuration window on a desktop: kvsshaa-client show-window opens it, a second
# request raises the same window, Escape hides it; every page and every settings page is
# photographed, and the settings sheet refuses 30001 minutes.
source "$(dirname "$0")/desktop_session.sh"

title="Korvenix SSH Authentication Agent"
sheet_title="Korvenix Authentication Agent configuration"

# Clicks at ($1,$2) inside window $3.
click_in() {
    eval "$(xdotool getwindowgeometry --shell "$3")"
    xdotool mousemove $((X + $1)) $((Y + $2)) click 1
}

ds_start
log=$(ds_log_to_file)
ds_start_agent_first_use "$title" "desk secret" "$log"

# A key through the OpenSSH socket, so that the Keys page has a row to show.
cp "$KV_TEST_SOURCE_DIR/tests/openssh/keys/rsa2048" "$DS_ROOT/id_rsa"
chmod 600 "$DS_ROOT/id_rsa"
SSH_AUTH_SOCK="$XDG_RUNTIME_DIR/kvsshaa/ssh" ssh-add "$DS_ROOT/id_rsa" >/dev/null 2>&1 ||
    ds_fail "ssh-add could not add the key"
ds_wait_log "$log" "Adding private keypair"

ds_client show-window
window=$(ds_window "$title")
xdotool windowactivate --sync "$window" 2>/dev/null || true
ds_screenshot config_status

# A second request raises the same window, even from behind a minimised state. Asked a moment
# after the window manager iconified it, as a person would: a request that comes before the
# agent has seen the new state would only raise a window it still takes for shown.
xdotool windowminimize --sync "$window" 2>/dev/null || true
ds_wait 50 bash -c "xprop -id $window WM_STATE | grep -q Iconic" || ds_fail "the window was not minimised"
sleep 0.5
ds_client show-window
again=$(ds_window "$title")
sleep 0.7  # the window manager gives the focus back once it has drawn the frame again
[ "$again" = "$window" ] || ds_fail "a second window ($again, first $window)"
[ "$(xdotool search --onlyvisible --name "^$title\$" | wc -l)" -eq 1 ] || ds_fail "more than one window"

# The other pages, chosen in the page list with the keyboard.
xdotool windowactivate --sync "$window" 2>/dev/null || true
ds_click_in 60 50 "$window"
ds_keys Down
ds_screenshot config_event_log
ds_keys Down
ds_screenshot config_keys

# Escape hides the window; the next request shows it again on the same page.
ds_keys Escape
ds_wait 50 bash -c "! xdotool search --onlyvisible --name '^$title\$'" || ds_fail "Escape did not hide the window"
ds_client show-window
window=$(ds_window "$title")
xdotool windowactivate --sync "$window" 2>/dev/null || true
ds_screenshot config_keys_again

# Read a stored setting as the registry holds it: a 4-byte value in hex.
stored() {
    sqlite3 -cmd ".timeout 5000" "$XDG_CONFIG_HOME/kvsshaa/registry.sqlite" \
        "SELECT hex(data) FROM registry_values WHERE name = '$1';"
}

# The settings sheet from the Status page's "Settings" link, reached with the keyboard:
# the first page's first control has the focus, the link is the next one.
ds_click_in 60 50 "$window"
ds_keys Home Tab Tab
ds_keys Return
sheet=$(ds_window "$sheet_title")
xdotool windowactivate --sync "$sheet" 2>/dev/null || true
ds_screenshot settings_access_control
ds_keys ctrl+Tab
ds_screenshot settings_lock

# 30001 minutes are refused with the standard message; the sheet stays open.
ds_keys Tab Tab ctrl+a
ds_type 30001 Return
ds_window "$title" >/dev/null
ds_screenshot settings_minutes_refused
ds_keys Return
ds_window "$sheet_title" >/dev/null
ds_keys ctrl+a
ds_type 10
ds_keys ctrl+Tab
ds_screenshot settings_logging
ds_keys Return
ds_wait 50 bash -c "! xdotool search --onlyvisible --name '^$sheet_title\$'" || ds_fail "OK did not close the sheet"
[ "$(stored AutoLockMinutes)" = "0A000000" ] || ds_fail "AutoLockMinutes is $(stored AutoLockMinutes)"

# "Lock", reached backwards from the page list (Close, Help, Lock), locks the agent; the
# window says so at once.
window=$(ds_window "$title")
xdotool windowactivate --sync "$window" 2>/dev/null || true
ds_click_in 60 50 "$window"
ds_keys shift+Tab shift+Tab shift+Tab space
ds_wait_log "$log" "Lock:Locked"
ds_click_in 60 50 "$window"
ds_keys Home
ds_screenshot config_status_locked

echo "configuration window on a desktop: ok"
