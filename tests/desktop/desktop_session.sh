# A desktop for tests of the agent's windows, as a person uses them: a virtual X display
# (Xvfb), a window manager (openbox), a tray host (trayer) and the agent in an isolated home.
# Source it from a test script; every function is prefixed ds_. The caller sets
#   KV_BIN_DIR       the folder with kvsshaa, kvsshaa-client and crypto/ (ctest sets it)
#   KV_SCREENSHOTS   where PNG screenshots go (default: build/screenshots)
# Everything started here is stopped by ds_stop, which the EXIT trap runs.

set -euo pipefail

DS_PIDS=()
DS_ROOT=""
DS_AGENT_PID=""
DS_WM_PID=""

ds_fail() {
    echo "FAIL: $*" >&2
    [ -n "$DS_ROOT" ] && [ -f "$DS_ROOT/agent.stderr" ] && sed 's/^/  agent: /' "$DS_ROOT/agent.stderr" >&2
    exit 1
}

# Waits up to $1 tenths of a second for the command in the other arguments to succeed.
ds_wait() {
    local tenths=$1
    shift
    for ((i = 0; i < tenths; i++)); do
        if "$@" >/dev/null 2>&1; then return 0; fi
        sleep 0.1
    done
    return 1
}

# Starts the display, the window manager and, unless $1 is "no-tray", the tray host.
ds_start() {
    DS_ROOT=$(mktemp -d /tmp/kvsshaa-desktop.XXXXXX)
    trap ds_stop EXIT
    # Xvfb picks a free display itself: tests running side by side never share one.
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$DS_ROOT/display" \
        >"$DS_ROOT/xvfb.log" 2>&1 &
    DS_PIDS+=($!)
    ds_wait 100 test -s "$DS_ROOT/display" || ds_fail "Xvfb did not start: $(cat "$DS_ROOT/xvfb.log")"
    local display
    display=$(head -n 1 "$DS_ROOT/display")
    export DISPLAY=":$display"
    ds_wait 100 xdpyinfo || ds_fail "Xvfb did not start on $DISPLAY"
    ds_ensure_wm
    [ "${1:-}" = "no-tray" ] || ds_start_tray
    export HOME="$DS_ROOT/home" XDG_CONFIG_HOME="$DS_ROOT/home/.config"
    export XDG_RUNTIME_DIR="$DS_ROOT/run" XDG_DATA_HOME="$DS_ROOT/home/.local/share"
    mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR"
    unset SSH_ASKPASS SSH_ASKPASS_REQUIRE QT_QPA_PLATFORM WAYLAND_DISPLAY
    # No bus of the developer's desktop, whose screen lock would lock the agent under test.
    export DBUS_SESSION_BUS_ADDRESS="unix:path=$DS_ROOT/no-session-bus"
    export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$DS_ROOT/no-system-bus"
    export QT_QPA_PLATFORMTHEME=""  # the same look on every machine
}

# Starts the window manager unless one runs on the display; waits until it has taken it.
# Tests call it again before steps that need window focus: a window manager lost during a
# long run is started anew, and its log shows why.
ds_wm_ready() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"; }
ds_ensure_wm() {
    if [ -n "$DS_WM_PID" ] && kill -0 "$DS_WM_PID" 2>/dev/null && ds_wm_ready; then return 0; fi
    local attempt
    for attempt in 1 2 3; do
        openbox >>"$DS_ROOT/openbox.log" 2>&1 &
        DS_WM_PID=$!
        DS_PIDS+=($DS_WM_PID)
        ds_wait 50 ds_wm_ready && return 0
        kill "$DS_WM_PID" 2>/dev/null || true
        sleep 0.5
    done
    # Windows still open and take input without one; only focus changes would differ.
    echo "warning: no window manager: $(cat "$DS_ROOT/openbox.log")" >&2
}

# Starts the tray host (ds_start does, unless told "no-tray").
ds_start_tray() {
    trayer --edge bottom --align right --widthtype request --height 32 \
        --SetDockType true --transparent false --expand true >"$DS_ROOT/trayer.log" 2>&1 &
    DS_PIDS+=($!)
    ds_wait 50 xdotool search --name panel || ds_fail "trayer did not start"
}

ds_stop() {
    [ -n "$DS_AGENT_PID" ] && kill "$DS_AGENT_PID" 2>/dev/null && wait "$DS_AGENT_PID" 2>/dev/null
    DS_AGENT_PID=""
    local pid
    for pid in "${DS_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${DS_PIDS[@]}"; do wait "$pid" 2>/dev/null || true; done
    DS_PIDS=()
    DS_WM_PID=""
    [ -n "$DS_ROOT" ] && rm -rf "$DS_ROOT"
    DS_ROOT=""
}

# Writes a registry value before the agent starts: ds_setting NAME VALUE. A number is stored
# as a 4-byte value, anything else as text. The registry is made from the published schema
# when it does not exist yet.
ds_setting() {
    local dir="$XDG_CONFIG_HOME/kvsshaa"
    local db="$dir/registry.sqlite"
    mkdir -p "$dir"
    chmod 700 "$dir"
    sqlite3 "$db" "CREATE TABLE IF NOT EXISTS registry_keys (path TEXT PRIMARY KEY COLLATE NOCASE);
        CREATE TABLE IF NOT EXISTS registry_values (key_path TEXT NOT NULL COLLATE NOCASE,
            name TEXT NOT NULL COLLATE NOCASE, type INTEGER NOT NULL, data BLOB NOT NULL,
            PRIMARY KEY (key_path, name));"
    chmod 600 "$db"
    local key='Software\Korvenix\Korvenix SSH Authentication Agent'
    if [[ "$2" =~ ^[0-9]+$ ]]; then
        local hex
        hex=$(printf '%08x' "$2" | sed -E 's/(..)(..)(..)(..)/\4\3\2\1/')
        sqlite3 "$db" "INSERT OR REPLACE INTO registry_values VALUES ('$key', '$1', 3, x'$hex');"
    else
        sqlite3 "$db" "INSERT OR REPLACE INTO registry_values VALUES ('$key', '$1', 1, CAST('$2' AS BLOB) || x'00');"
    fi
}

# The agent's event log as a file: ds_log_to_file sets "LogToFile" (before the agent starts)
# and prints the path.
ds_log_to_file() {
    ds_setting LogToFile "$DS_ROOT/agent.log"
    echo "$DS_ROOT/agent.log"
}

# Starts the agent (arguments are passed on); stdout and stderr go to $DS_ROOT/agent.std*.
ds_start_agent() {
    "$KV_BIN_DIR/kvsshaa" "$@" >"$DS_ROOT/agent.stdout" 2>"$DS_ROOT/agent.stderr" &
    DS_AGENT_PID=$!
}

# Starts the agent on a new store and answers its first-use prompt, titled $1, with the
# passphrase $2 typed twice; waits for "Unlocked successfully" in the log file $3 and for
# the prompt to close.
ds_start_agent_first_use() {
    local prompt
    ds_start_agent
    prompt=$(ds_window "$1")
    ds_focus "$prompt"
    ds_type "$2" Tab
    ds_type "$2" Return
    ds_wait_log "$3" "Unlocked successfully"
    ds_wait 100 bash -c "! xdotool search --onlyvisible --name '^$1\$' 2>/dev/null |
        grep -qx $prompt" || ds_fail "the first-use prompt stayed open"
}

ds_agent_running() { [ -n "$DS_AGENT_PID" ] && kill -0 "$DS_AGENT_PID" 2>/dev/null; }

# Waits for the agent process to end by itself; fails after $1 tenths of a second.
ds_wait_agent_exit() {
    ds_wait "$1" bash -c "! kill -0 $DS_AGENT_PID 2>/dev/null" || ds_fail "the agent did not end"
    wait "$DS_AGENT_PID" 2>/dev/null || true
    DS_AGENT_PID=""
}

ds_client() { "$KV_BIN_DIR/kvsshaa-client" "$@"; }

# The id of the visible window titled exactly $1 (waits up to 10 s), on stdout.
ds_window() {
    local id=""
    for ((i = 0; i < 100; i++)); do
        id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | tail -n 1) || true
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.1
    done
    ds_fail "no window titled '$1'"
}

ds_no_window() {
    ! xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1 || ds_fail "window '$1' is open"
}

# The agent's tray icon: its small window embedded in the tray host.
ds_tray_icon() {
    local w
    for ((i = 0; i < 100; i++)); do
        for w in $(xdotool search --onlyvisible --class kvsshaa 2>/dev/null); do
            eval "$(xdotool getwindowgeometry --shell "$w")"
            if [ "$WIDTH" -le 48 ] && [ "$HEIGHT" -le 48 ]; then
                echo "$w"
                return 0
            fi
        done
        sleep 0.1
    done
    ds_fail "no tray icon"
}

# Clicks the tray icon: ds_click_tray BUTTON (1 left, 3 right) [COUNT]. It waits out the
# double-click time first: a click that follows the last one on the icon more closely than
# that counts as the second half of a double click, which a right click does not have.
ds_click_tray() {
    local icon
    sleep 0.5
    icon=$(ds_tray_icon)
    eval "$(xdotool getwindowgeometry --shell "$icon")"
    xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click --repeat "${2:-1}" --delay 80 "$1"
}

# Types text into the focused window, then optional keys: ds_type TEXT [KEY...]
ds_type() {
    xdotool type --delay 20 "$1"
    shift
    [ $# -eq 0 ] || xdotool key --delay 50 "$@"
}

ds_keys() { xdotool key --delay 60 "$@"; }

ds_focus() { xdotool windowactivate --sync "$1" 2>/dev/null || true; }

# Clicks at ($1,$2) inside window $3.
ds_click_in() { xdotool mousemove --window "$3" "$1" "$2" click 1; }

# The id of a visible window titled $1 other than window $2 (message boxes and prompts share
# the configuration window's caption); waits up to 10 s.
ds_dialog_over() {
    local id
    for ((i = 0; i < 100; i++)); do
        for id in $(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null); do
            [ "$id" != "$2" ] && { echo "$id"; return 0; }
        done
        sleep 0.1
    done
    ds_fail "no window titled '$1' besides $2"
}

# Exports the first key row of the configuration window $1 to public key file $2: the row,
# Alt+E, the file typed into the save dialog.
ds_export_to() {
    ds_focus "$1"
    ds_click_in 150 62 "$1"
    ds_keys alt+e
    local save
    save=$(ds_window "Save As")
    ds_type "$2" Return
    ds_closed "$save"
}

# Waits until window $1 is no longer on screen.
ds_closed() {
    ds_wait 100 bash -c "! xwininfo -id $1 2>/dev/null | grep -q IsViewable" ||
        ds_fail "window $1 is still open"
}

# A screenshot once the window manager has drawn the frame of a window just opened.
ds_shot() {
    sleep 0.7
    ds_screenshot "$1"
}

# Saves the whole screen as $KV_SCREENSHOTS/$1.png.
ds_screenshot() {
    local dir=${KV_SCREENSHOTS:-build/screenshots}
    mkdir -p "$dir"
    sleep 0.3  # let the last paint reach the screen
    import -window root "$dir/$1.png"
}

# Waits until the event log file $1 has a line containing $2 (up to 10 s).
ds_wait_log() {
    ds_wait 100 grep -qF -- "$2" "$1" || {
        echo "--- $1:" >&2
        cat "$1" >&2 || true
        ds_fail "no log line with '$2'"
    }
}
