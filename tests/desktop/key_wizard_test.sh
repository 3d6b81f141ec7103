# The Keys page on a desktop, by keystrokes only: the wizard generates a key (after a 3072-bit
# generation is cancelled), the key is listed and signs through the OpenSSH socket; then it is
# exported, its properties shown, deleted and imported back. Every dialog is photographed.
source "$(dirname "$0")/desktop_session.sh"

title="Korvenix SSH Authentication Agent"
# Window titles as xdotool's (extended) regular expressions.
step1='\(Step 1/3\) Select key type and size'
step2='\(Step 2/3\) Generating key\.\.\.'
step2_done='\(Step 2/3\) Generating key\.\.\. Done\.'
step3='\(Step 3/3\) Key generated successfully'

ds_start
log=$(ds_log_to_file)
ds_start_agent_first_use "$title" "desk secret" "$log"

# The Keys page: the third entry of the page list.
ds_client show-window
window=$(ds_window "$title")
ds_focus "$window"
ds_click_in 60 50 "$window"
ds_keys Down Down
ds_screenshot keys_page_empty

# True while the wizard's window shows the finished step 2.
generation_done() { xdotool search --onlyvisible --name "^$step2_done\$" >/dev/null 2>&1; }

# Presses Back until step 1 shows (Back is usable once the page has seen the worker end).
back_to_step1() {
    for ((i = 0; i < 100; i++)); do
        ds_keys alt+b
        xdotool search --onlyvisible --name "^$step1\$" >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    ds_fail "Back did not lead to step 1"
}

# A 3072-bit DSA key takes seconds to make: Escape at once, and Yes stops it. When the key was
# quicker than the question (its page then says done), a 2048-bit key is made in between so
# that the next 3072-bit one is new, and the stop is tried again.
cancel_3072() {
    ds_keys alt+t Home alt+l End alt+n
    ds_window "$step2" >/dev/null
    ds_keys Escape
    question=$(ds_dialog_over "$title" "$window")
    ds_keys y
    ds_closed "$question"
    sleep 0.7  # more than one tick: a finished generation shows by now
    if generation_done; then
        back_to_step1
        ds_keys alt+l End Up alt+n
        ds_window "$step2_done" >/dev/null
        back_to_step1
        return 1
    fi
}

# The wizard opens on DSA and 2048.
ds_keys alt+g
wizard=$(ds_window "$step1")
ds_focus "$wizard"
ds_shot wizard_desktop_step1
cancelled=""
for attempt in 1 2 3 4; do
    if cancel_3072; then
        cancelled=yes
        break
    fi
done
[ -n "$cancelled" ] || ds_fail "four 3072-bit keys were quicker than Escape and Yes"
sleep 0.5
ds_screenshot wizard_desktop_cancelled

# Cancelled, the same choice makes a new key. Escape asks again; No lets it run to the end.
back_to_step1
ds_keys alt+n
ds_window "$step2" >/dev/null
ds_keys Escape
question=$(ds_dialog_over "$title" "$window")
ds_shot wizard_desktop_generating_stop_question
ds_keys n
ds_closed "$question"
ds_screenshot wizard_desktop_generating
ds_wait 1200 generation_done || ds_fail "the 3072-bit key was not finished after No"
ds_screenshot wizard_desktop_done_3072
back_to_step1

# RSA 1024, and a key is made.
ds_keys alt+t Down alt+l Home Down
ds_screenshot wizard_desktop_rsa_1024
ds_keys alt+n
ds_window "$step2_done" >/dev/null
ds_screenshot wizard_desktop_done
ds_keys alt+n
ds_window "$step3" >/dev/null
ds_screenshot wizard_desktop_step3
ds_keys alt+f ctrl+a
ds_type "desk key"
ds_keys alt+c ctrl+a
ds_type "desk comment" Return
ds_wait_log "$log" 'Generated and added private keypair "desk key" : rsa 1024-bit'
ds_no_window "$step3"
ds_screenshot keys_page_generated

# Listed, and usable through the OpenSSH socket: ssh-keygen signs with it, and the signature
# checks out against the listed public key.
export SSH_AUTH_SOCK="$XDG_RUNTIME_DIR/kvsshaa/ssh"
listed=$(ssh-add -L) || ds_fail "ssh-add -L failed"
grep -q " desk key: desk comment$" <<<"$listed" || ds_fail "the key is not listed: $listed"
grep " desk key: desk comment$" <<<"$listed" >"$DS_ROOT/desk_listed.pub"
echo "signed by the wizard's key" >"$DS_ROOT/message"
ssh-keygen -Y sign -f "$DS_ROOT/desk_listed.pub" -n file "$DS_ROOT/message" >/dev/null 2>&1 ||
    ds_fail "ssh-keygen could not sign through the agent"
echo "tester $(cat "$DS_ROOT/desk_listed.pub")" >"$DS_ROOT/allowed"
ssh-keygen -Y verify -f "$DS_ROOT/allowed" -I tester -n file -s "$DS_ROOT/message.sig" \
    <"$DS_ROOT/message" >/dev/null 2>&1 || ds_fail "the signature does not verify"
ds_wait_log "$log" "Private key operation"

# Export: the row, the save dialog, the passphrase prompt, then the message.
ds_focus "$window"
ds_click_in 150 62 "$window"
ds_shot keys_page_selected
ds_keys alt+e
save=$(ds_window "Save As")
ds_shot export_save_dialog
ds_type "$DS_ROOT/desk.pub" Return
ds_closed "$save"
passphrase=$(ds_dialog_over "$title" "$window")
ds_focus "$passphrase"
ds_type "export pass" Tab
ds_type "export pass"
ds_shot export_passphrase
ds_keys Return
ds_wait_log "$log" "Exported keypair \"desk key\" : private key to \"$DS_ROOT/desk\""
saved=$(ds_dialog_over "$title" "$window")
ds_shot export_saved
ds_keys Return
ds_closed "$saved"
[ -s "$DS_ROOT/desk" ] && [ -s "$DS_ROOT/desk.pub" ] || ds_fail "the key files were not written"

# A private key file already beside the chosen name: asked before it is replaced, with No
# the default, which keeps it.
echo "the user's own key" >"$DS_ROOT/desk2"
ds_export_to "$window" "$DS_ROOT/desk2.pub"
replace=$(ds_dialog_over "$title" "$window")
ds_shot export_replace_question
ds_keys Return
ds_closed "$replace"
[ "$(cat "$DS_ROOT/desk2")" = "the user's own key" ] || ds_fail "the private key file was replaced"
[ ! -e "$DS_ROOT/desk2.pub" ] || ds_fail "a public key file was written"

# Properties, then Escape. Every command refills the list, so the row is chosen again.
ds_focus "$window"
ds_click_in 150 62 "$window"
ds_keys alt+p
properties=$(ds_window "desk key")
ds_shot key_properties_desktop
ds_keys Escape
ds_closed "$properties"

# Delete asks first.
ds_focus "$window"
ds_click_in 150 62 "$window"
ds_keys alt+d
question=$(ds_dialog_over "$title" "$window")
ds_shot delete_question
ds_keys y
ds_wait_log "$log" 'Deleted private keypair "desk key"'
[ "$(ssh-add -L 2>/dev/null | grep -c 'desk key')" = 0 ] || ds_fail "the key is still listed"
ds_screenshot keys_page_after_delete

# Import: the open dialog, the key's passphrase, the message.
ds_focus "$window"
ds_keys alt+i
open=$(ds_window "Open")
ds_shot import_open_dialog
ds_type "$DS_ROOT/desk.pub" Return
ds_closed "$open"
prompt=$(ds_window "desk")
ds_focus "$prompt"
ds_type "export pass"
ds_shot import_passphrase
ds_keys Return
ds_wait_log "$log" "Imported private keypair (desk)"
imported=$(ds_dialog_over "$title" "$window")
ds_shot import_done
ds_keys Return
ds_closed "$imported"
ssh-add -L | grep -q " desk: desk comment$" || ds_fail "the imported key is not listed"
ds_screenshot keys_page_imported

kill -TERM "$DS_AGENT_PID"
ds_wait_agent_exit 100
echo "key wizard and key dialogs on a desktop: ok"
