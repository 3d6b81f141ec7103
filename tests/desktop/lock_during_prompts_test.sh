# The prompts on a desktop, typed and clicked as a person would, while a client locks the
# agent behind them: a signature allowed after the lock is refused; an ssh-add -X sent while
# the unlock prompt is open is refused, and the passphrase typed into the prompt unlocks.
source "$(dirname "$0")/desktop_session.sh"

askpass="$KV_TEST_SOURCE_DIR/tests/support/askpass.sh"
title="Korvenix SSH Authentication Agent"
# True once window $1 is no longer shown.
gone() { ! xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | grep -qx "$1"; }
ds_start
log=$(ds_log_to_file)
ds_setting AskBeforeAgentOp 1
ds_start_agent_first_use "$title" "desk secret" "$log"

export SSH_AUTH_SOCK="$XDG_RUNTIME_DIR/kvsshaa/ssh"
ds_wait 100 test -S "$SSH_AUTH_SOCK" || ds_fail "no OpenSSH socket"
# ssh-add asks its own questions (the lock text, the unlock passphrase) through askpass.
tool() {
    SSH_ASKPASS="$askpass" SSH_ASKPASS_REQUIRE=force KV_ASKPASS_QUEUE="$DS_ROOT/tool_queue" \
        "$@" </dev/null
}
ssh-keygen -q -t rsa -b 2048 -N '' -C desk -f "$DS_ROOT/key"
tool ssh-add "$DS_ROOT/key" 2>/dev/null || ds_fail "ssh-add failed"
echo "to be signed" >"$DS_ROOT/data"

# 1. The confirmation is open; the agent is locked behind it; the user allows.
ssh-keygen -Y sign -f "$DS_ROOT/key.pub" -n file "$DS_ROOT/data" >"$DS_ROOT/sign.out" 2>&1 &
signer=$!
confirm=$(ds_window "$title")
ds_screenshot lock_during_confirmation_open
printf 'lock text\nlock text\n' >"$DS_ROOT/tool_queue"
tool ssh-add -x 2>/dev/null || ds_fail "ssh-add -x failed"
ds_wait_log "$log" "Locked"
xdotool windowactivate --sync "$confirm" 2>/dev/null || true
sleep 1  # Allow takes nothing in the confirmation's first moment
ds_keys alt+a
if wait "$signer"; then ds_fail "signed after the agent was locked"; fi
[ ! -e "$DS_ROOT/data.sig" ] || ds_fail "a signature file was written"
ds_wait_log "$log" "Ignoring private key operation (sign) - agent locked"
ds_wait 100 gone "$confirm" || ds_fail "the confirmation stayed open"
ds_screenshot lock_during_confirmation_refused

# 2. A signature asks for the passphrase; ssh-add -X while that prompt is open is refused;
#    the passphrase typed into the prompt unlocks, and the confirmation allows the signature.
ssh-keygen -Y sign -f "$DS_ROOT/key.pub" -n file "$DS_ROOT/data" >"$DS_ROOT/sign.out" 2>&1 &
signer=$!
unlock=$(ds_window "$title")
ds_screenshot unlock_prompt_open
printf 'desk secret\n' >"$DS_ROOT/tool_queue"
if tool ssh-add -X 2>/dev/null; then ds_fail "ssh-add -X was taken while the prompt was open"; fi
ds_wait_log "$log" "Refusing UNLOCK: not checked: an unlock prompt is open"
xdotool windowactivate --sync "$unlock" 2>/dev/null || true
ds_type "desk secret" Return
ds_wait 100 gone "$unlock" || ds_fail "the unlock prompt stayed open"
confirm=$(ds_window "$title")
xdotool windowactivate --sync "$confirm" 2>/dev/null || true
sleep 1  # Allow takes nothing in the confirmation's first moment
ds_keys alt+a
wait "$signer" || ds_fail "the signature failed: $(cat "$DS_ROOT/sign.out")"
[ -s "$DS_ROOT/data.sig" ] || ds_fail "no signature file"
[ "$(grep -c "Unlocked successfully" "$log")" -eq 2 ] || ds_fail "unlocks logged: $(cat "$log")"
ds_screenshot unlock_prompt_done
kill -TERM "$DS_AGENT_PID"
ds_wait_agent_exit 100
echo "locking behind the prompts on a desktop: ok"
