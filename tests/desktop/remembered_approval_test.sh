# Remembered approvals and locking with the desktop session, on a desktop: the confirmation
# prompt offers "Remember for this program", the box is ticked with the keyboard, the same
# program then signs without a prompt; the screen saver of a private session bus locks the
# agent, and the next signature asks for the passphrase and the confirmation again.
source "$(dirname "$0")/desktop_session.sh"

title="Korvenix SSH Authentication Agent"

ds_start
log=$(ds_log_to_file)
ds_setting AskBeforeAgentOp 1
ds_setting RememberApprovalMinutes 15

# Private session and system buses, and a fake screen saver and login manager on them.
cat >"$DS_ROOT/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig><type>session</type><listen>unix:dir=$DS_ROOT</listen><auth>EXTERNAL</auth>
<policy context="default"><allow send_destination="*" eavesdrop="true"/>
<allow eavesdrop="true"/><allow own="*"/></policy></busconfig>
CONF
start_bus() {
    dbus-daemon --config-file="$DS_ROOT/bus.conf" --nofork --nopidfile --print-address=1 \
        >"$DS_ROOT/$1.address" 2>/dev/null &
    DS_PIDS+=($!)
    ds_wait 50 test -s "$DS_ROOT/$1.address" || ds_fail "dbus-daemon did not start"
}
start_bus session
start_bus system
export DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$DS_ROOT/session.address")
export DBUS_SYSTEM_BUS_ADDRESS=$(head -n 1 "$DS_ROOT/system.address")
mkfifo "$DS_ROOT/desktop.in"
"$KV_BIN_DIR/../tests/fake_desktop_bus" <"$DS_ROOT/desktop.in" >"$DS_ROOT/desktop.out" 2>&1 &
DS_PIDS+=($!)
exec 7>"$DS_ROOT/desktop.in"
ds_wait 50 grep -qx ready "$DS_ROOT/desktop.out" || ds_fail "the fake desktop did not start"

ds_start_agent_first_use "$title" "desk secret" "$log"
ds_wait 100 grep -q "desktop session: screen saver" "$DS_ROOT/agent.stderr" ||
    ds_fail "the agent does not follow the desktop session"

cp "$KV_TEST_SOURCE_DIR/tests/openssh/keys/rsa2048" "$DS_ROOT/id_rsa"
chmod 600 "$DS_ROOT/id_rsa"
SSH_AUTH_SOCK="$XDG_RUNTIME_DIR/kvsshaa/ssh" ssh-add "$DS_ROOT/id_rsa" >/dev/null 2>&1 ||
    ds_fail "ssh-add could not add the key"
pub="$KV_TEST_SOURCE_DIR/tests/openssh/keys/rsa2048.pub"
sign() { ds_client op sign "$pub" --data-hex 0102 --timeout 20000 >/dev/null 2>&1; }

# The prompt, with the box; the focus starts on "Deny", two steps back is the box.
sign &
signer=$!
prompt=$(ds_window "$title")
ds_focus "$prompt"
sleep 1  # Allow takes nothing in the confirmation's first moment
ds_screenshot remember_prompt
ds_keys shift+Tab shift+Tab space
ds_screenshot remember_prompt_ticked
ds_keys alt+a
wait "$signer" || ds_fail "the allowed signature failed"

# The same program again: no window, and the log says the approval was remembered.
sign || ds_fail "the remembered signature failed"
ds_no_window "$title"
ds_wait_log "$log" "(remembered)"

# The screen saver locks the agent; the tray shows it.
echo screensaver-active >&7
ds_wait_log "$log" "Agent locked because the screen was locked"
ds_screenshot remember_session_locked

# What was remembered went with the lock: the passphrase, then the confirmation again.
sign &
signer=$!
prompt=$(ds_window "$title")
ds_focus "$prompt"
ds_type "desk secret" Return
ds_wait 100 bash -c "grep -c 'Unlocked successfully' '$log' | grep -qx 2" || ds_fail "not unlocked"
prompt=$(ds_window "$title")
ds_focus "$prompt"
ds_screenshot remember_asked_again
ds_keys Return
if wait "$signer"; then ds_fail "a denied signature succeeded"; fi
ds_wait_log "$log" "private key operation denied by user."
exec 7>&-
echo "remembered approvals and the desktop session on a desktop: ok"
