# The Debian package: built with CPack from this build, its contents and dependencies
# checked, unpacked into a temporary root, and the agent started from there: it must find
# its module and help pages relative to its installed executable and serve ssh-add.
set -euo pipefail
fail() { echo "FAIL: $*" >&2; [ -f "${work:-}/agent.stderr" ] && cat "$work/agent.stderr" >&2; exit 1; }
work=$(mktemp -d /tmp/kvsshaa-package.XXXXXX)
agent_pid=""
cleanup() {
    [ -n "$agent_pid" ] && kill "$agent_pid" 2>/dev/null && wait "$agent_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

cpack --config "$KV_BUILD_DIR/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; fail "cpack failed"; }
deb=$(ls "$work"/out/kvsshaa_*.deb)

contents=$(dpkg-deb -c "$deb" | awk '{print $6 ($7 == "->" ? " -> " $8 : "")}')
for path in ./usr/bin/kvsshaa ./usr/bin/kvsshaa-client ./usr/lib/kvsshaa/kvsshaa \
    ./usr/lib/kvsshaa/kvsshaa-client ./usr/lib/kvsshaa/crypto/libkvclm.so \
    ./usr/lib/kvsshaa/Documentation ./usr/share/kvsshaa/Documentation/index.html \
    ./usr/share/applications/kvsshaa.desktop ./etc/xdg/autostart/kvsshaa.desktop \
    ./usr/lib/systemd/user/kvsshaa.service ./usr/share/man/man1/kvsshaa.1.gz \
    ./usr/share/man/man1/kvsshaa-client.1.gz ./usr/share/icons/hicolor/scalable/apps/kvsshaa.svg; do
    grep -q "^$path\( \|$\)" <<<"$contents" || fail "the package lacks $path"
done
dpkg-deb -I "$deb" conffiles | grep -qx /etc/xdg/autostart/kvsshaa.desktop ||
    fail "the autostart entry is not a conffile"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libqt6widgets6 libqt6dbus6 libsqlite3-0 libssl3; do
    grep -q "\b$lib\b" <<<"$depends" || fail "Depends lacks $lib: $depends"
done
unit=$(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/lib/systemd/user/kvsshaa.service)
grep -q 'ExecStart=/usr/bin/kvsshaa$' <<<"$unit" || fail "the user unit does not start /usr/bin/kvsshaa"

root="$work/root"
dpkg-deb -x "$deb" "$root"
"$root/usr/bin/kvsshaa" --version | grep -q "^kvsshaa " || fail "the installed agent does not run"

# Started from the unpacked root, in an isolated home, answering through an askpass script.
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/config" XDG_RUNTIME_DIR="$work/run"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
printf '#!/bin/sh\necho package secret\n' >"$work/askpass" && chmod 700 "$work/askpass"
unset DISPLAY WAYLAND_DISPLAY KVSSHAA_MODULE_DIR
export SSH_ASKPASS="$work/askpass" QT_QPA_PLATFORM=offscreen
setsid "$root/usr/bin/kvsshaa" >"$work/agent.stdout" 2>"$work/agent.stderr" &
agent_pid=$!
for _ in $(seq 100); do [ -S "$XDG_RUNTIME_DIR/kvsshaa/ssh" ] && break; sleep 0.1; done
[ -S "$XDG_RUNTIME_DIR/kvsshaa/ssh" ] || fail "the installed agent does not serve"
eval "$("$root/usr/bin/kvsshaa-client" env)"
ssh-keygen -q -t rsa -b 2048 -N '' -C packaged -f "$work/id_rsa"
ssh-add "$work/id_rsa" </dev/null >/dev/null 2>&1 || fail "ssh-add to the installed agent failed"
echo "signed by the installed agent" >"$work/message"
ssh-keygen -q -Y sign -n file -f "$work/id_rsa.pub" "$work/message" </dev/null >/dev/null 2>&1 ||
    fail "the installed agent could not sign (is its module found?)"
! grep -qi "module\|libkvclm" "$work/agent.stderr" || fail "the installed agent reports a module problem"
listed=$("$root/usr/bin/kvsshaa-client" list)
grep -q packaged <<<"$listed" || fail "kvsshaa-client list misses the key: $listed"
echo "package: $(basename "$deb"), $(wc -l <<<"$contents") entries, Depends: $depends"
