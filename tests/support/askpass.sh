#!/usr/bin/env bash
# A scripted askpass program for tests. Answers come from the file named by KV_ASKPASS_QUEUE,
# one per line, first line first, each used once:
#   any text   a passphrase prompt prints it and succeeds
#   !cancel    the prompt is cancelled (exit 1)
#   yes / no   a confirm prompt (SSH_ASKPASS_PROMPT=confirm) allows or denies
#   !hold      wait until the file "$KV_ASKPASS_QUEUE.release" exists, then take the next line
# An empty or missing queue cancels. Every prompt shown is appended to the file named by
# KV_ASKPASS_LOG (confirm prompts prefixed "confirm: ").
set -u
prompt=${1-}
if [ -n "${KV_ASKPASS_LOG:-}" ]; then
    if [ "${SSH_ASKPASS_PROMPT:-}" = confirm ]; then
        printf 'confirm: %s\n' "$prompt" >>"$KV_ASKPASS_LOG"
    else
        printf '%s\n' "$prompt" >>"$KV_ASKPASS_LOG"
    fi
fi
queue=${KV_ASKPASS_QUEUE:-}

next_answer() {
    [ -n "$queue" ] || { printf '!cancel'; return; }
    exec 9>"$queue.lock"
    flock 9
    if [ -s "$queue" ]; then
        head -n 1 "$queue"
        tail -n +2 "$queue" >"$queue.rest" && mv "$queue.rest" "$queue"
    else
        printf '!cancel'
    fi
    flock -u 9
}

answer=$(next_answer)
if [ "$answer" = "!hold" ]; then
    while [ ! -e "$queue.release" ]; do sleep 0.05; done
    answer=$(next_answer)
fi
[ "$answer" = "!cancel" ] && exit 1
if [ "${SSH_ASKPASS_PROMPT:-}" = confirm ]; then
    [ "$answer" = yes ] && exit 0
    exit 1
fi
printf '%s\n' "$answer"
