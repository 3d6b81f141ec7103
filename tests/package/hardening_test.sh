# The programs and the module carry the release hardening: PIE, full RELRO with immediate
# binding, a non-executable stack, the stack protector, fortified libc calls and
# control-flow protection (endbr64 landing pads), and every file was compiled with it.
set -euo pipefail
cd "$KV_BUILD_DIR"
case "$KV_BUILD_TYPE" in
    Release | RelWithDebInfo | MinSizeRel) ;;
    *) echo "skipped: hardening applies to release builds, this is '$KV_BUILD_TYPE'"; exit 0 ;;
esac
fail() { echo "FAIL: $*" >&2; exit 1; }

# Outputs are read whole before grep: with pipefail, grep -q closing a pipe early would fail.
for elf in bin/kvsshaa bin/kvsshaa-client bin/crypto/libkvclm.so; do
    [ -f "$elf" ] || fail "$elf is not built"
    header=$(readelf -hW "$elf")
    dynamic=$(readelf -dW "$elf")
    segments=$(readelf -lW "$elf")
    symbols=$(readelf -sW --dyn-syms "$elf")
    grep -q 'Type:.*DYN' <<<"$header" || fail "$elf is not position-independent"
    grep -q 'BIND_NOW' <<<"$dynamic" || fail "$elf binds lazily (no -z now)"
    grep -q 'GNU_RELRO' <<<"$segments" || fail "$elf has no RELRO segment"
    grep 'GNU_STACK' <<<"$segments" | grep -q ' RW ' || fail "$elf has an executable stack"
    grep -q '__stack_chk_fail' <<<"$symbols" || fail "$elf has no stack protector"
    pads=$(objdump -d --no-show-raw-insn "$elf" | grep -c endbr64 || true)
    [ "$pads" -gt 50 ] || fail "$elf has $pads endbr64 landing pads (no -fcf-protection)"
    if [[ "$elf" != *.so ]]; then
        grep -q 'INTERP' <<<"$segments" || fail "$elf is not an executable"
        grep -qE '__[a-z0-9]+_chk' <<<"$symbols" || fail "$elf calls no fortified function"
    fi
done

# Every translation unit of the product got the flags, not just the ones that show above.
python3 - <<'PY'
import json, sys
need = ["-D_FORTIFY_SOURCE=3", "-fstack-protector-strong", "-fstack-clash-protection",
        "-fcf-protection"]
units = [u for u in json.load(open("compile_commands.json"))
         if "/tests/" not in u["file"] and "/bench/" not in u["file"] and "/fuzz/" not in u["file"]]
bad = [(u["file"], f) for u in units for f in need if f not in u.get("command", " ".join(u.get("arguments", [])))]
if not units or bad:
    print("FAIL: compiled without hardening:", bad[:5] or "no compile commands", file=sys.stderr)
    sys.exit(1)
print(f"hardening: {len(units)} translation units, 3 ELF files: ok")
PY
