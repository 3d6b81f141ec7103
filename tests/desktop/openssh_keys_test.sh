# OpenSSH's own key files on a desktop, by keystrokes only: an Ed25519 key that ssh-keygen
# wrote under a passphrase is imported from its private key file alone (typed in the open
# dialog without an extension), listed through the OpenSSH socket, shown in its properties
# and exported again, and ssh-keygen reads what the export wrote. Every dialog is photographed.
source "$(dirname "$0")/desktop_session.sh"

title="Korvenix SSH Authentication Agent"

# The Base64 blob of a one-line public key.
blob_of() { awk '{ print $2 }' <<<"$1"; }

ds_start
log=$(ds_log_to_file)

# ssh-keygen's key, its private key file alone: no public key file beside it.
mkdir -p "$HOME/keys" "$HOME/out"
ssh-keygen -q -t ed25519 -N "file pass" -C "desk ed25519" -f "$HOME/keys/id_ed25519"
expected=$(blob_of "$(cat "$HOME/keys/id_ed25519.pub")")
rm "$HOME/keys/id_ed25519.pub"

ds_start_agent_first_use "$title" "desk secret" "$log"

ds_client show-window
window=$(ds_window "$title")
ds_focus "$window"
ds_click_in 60 50 "$window"
ds_keys Down Down

# Import: into the folder, then the file name typed without an extension.
ds_keys alt+i
open=$(ds_window "Open")
ds_type "$HOME/keys/" Return
sleep 0.5
ds_type "id_ed25519"
ds_shot openssh_import_open_dialog
ds_keys Return
ds_closed "$open"
prompt=$(ds_window "id_ed25519")
ds_focus "$prompt"
ds_type "file pass"
ds_shot openssh_import_passphrase
ds_keys Return
ds_wait_log "$log" "Imported private keypair (id_ed25519)"
imported=$(ds_dialog_over "$title" "$window")
ds_shot openssh_import_done
ds_keys Return
ds_closed "$imported"

export SSH_AUTH_SOCK="$XDG_RUNTIME_DIR/kvsshaa/ssh"
listed=$(ssh-add -L) || ds_fail "ssh-add -L failed"
grep -q "^ssh-ed25519 $expected id_ed25519$" <<<"$listed" || ds_fail "the key is not listed: $listed"
ds_screenshot openssh_keys_page_imported

# Properties: the curve, the SHA256 fingerprint ssh-keygen shows, the SSH1 box off.
ds_focus "$window"
ds_click_in 150 62 "$window"
ds_keys alt+p
properties=$(ds_window "id_ed25519")
ds_shot key_properties_ed25519_desktop
ds_keys Escape
ds_closed "$properties"

# Export under a new passphrase, then ssh-keygen derives the same key from the file.
ds_export_to "$window" "$HOME/out/desk.pub"
passphrase=$(ds_dialog_over "$title" "$window")
ds_focus "$passphrase"
ds_type "export pass" Tab
ds_type "export pass" Return
ds_wait_log "$log" "Exported keypair \"id_ed25519\" : private key to \"$HOME/out/desk\""
saved=$(ds_dialog_over "$title" "$window")
ds_shot openssh_export_saved
ds_keys Return
ds_closed "$saved"
head -n 1 "$HOME/out/desk" | grep -q "BEGIN OPENSSH PRIVATE KEY" ||
    ds_fail "the private key file is not in OpenSSH's format"
derived=$(ssh-keygen -y -P "export pass" -f "$HOME/out/desk") ||
    ds_fail "ssh-keygen cannot read the exported private key"
[ "$(blob_of "$derived")" = "$expected" ] || ds_fail "the exported file holds another key"
[ "$(blob_of "$(cat "$HOME/out/desk.pub")")" = "$expected" ] ||
    ds_fail "the exported public key file holds another key"

kill -TERM "$DS_AGENT_PID"
ds_wait_agent_exit 100
echo "OpenSSH key files on a desktop: ok"
