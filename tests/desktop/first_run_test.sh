# First run on a desktop: the agent asks for its new passphrase in a window, takes it from
# the keyboard, logs the unlock and shows its icon in the tray.
source "$(dirname "$0")/desktop_session.sh"

ds_start
log=$(ds_log_to_file)
ds_start_agent
prompt=$(ds_window "Korvenix SSH Authentication Agent")
ds_focus "$prompt"
ds_screenshot first_run_new_passphrase
ds_type "first secret" Tab
ds_type "first secret" Return
ds_wait_log "$log" "Unlocked successfully"
ds_tray_icon >/dev/null
ds_screenshot first_run_tray_unlocked
kill -TERM "$DS_AGENT_PID"
ds_wait_agent_exit 100
echo "first run on a desktop: ok"
