# A registry file that is not a database: the agent starts locked, its unlock says the store
# cannot be read (not "Invalid passphrase") after one try, and the file is left as it was.
source "$(dirname "$0")/desktop_session.sh"

ds_start
db="$XDG_CONFIG_HOME/kvsshaa/registry.sqlite"
mkdir -p "$(dirname "$db")"
chmod 700 "$(dirname "$db")"
head -c 8192 /dev/urandom >"$db"
chmod 600 "$db"
cp "$db" "$DS_ROOT/registry.before"
ds_start_agent
prompt=$(ds_window "Korvenix SSH Authentication Agent")
ds_focus "$prompt"
ds_type "any passphrase" Return
ds_closed "$prompt"
box=$(ds_window "Korvenix SSH Authentication Agent")
ds_shot unreadable_store_message
ds_focus "$box"
ds_keys Return
ds_closed "$box"
sleep 0.5
# No second try: typing again cannot help.
ds_no_window "Korvenix SSH Authentication Agent"
grep -q "kvsshaa: unlocked" "$DS_ROOT/agent.stderr" && ds_fail "a store that cannot be read was unlocked"
cmp -s "$db" "$DS_ROOT/registry.before" || ds_fail "the registry file was changed"
kill -TERM "$DS_AGENT_PID"
ds_wait_agent_exit 100
echo "unreadable store: ok"
