#!/usr/bin/env bash
# A scripted askpass program for tests. It answers from the queue file named by
# KV_ASKPASS_QUEUE, one line per prompt, and appends every prompt it was shown, followed by
# a line "--", to KV_ASKPASS_LOG.
#   any text     printed as the answer (a passphrase), exit 0
#   yes / no     for confirm prompts (SSH_ASKPASS_PROMPT=confirm): exit 0 / exit 1
#   !cancel      exit 1, as a closed dialog
#   !hold        wait until the file "$KV_ASKPASS_QUEUE.release" exists, then take the
#                next line as the answer
# An empty queue cancels.
set -u
queue=${KV_ASKPASS_QUEUE:?}
log=${KV_ASKPASS_LOG:-/dev/null}
printf '%s\n--\n' "$1" >> "$log"

next_answer() {
    exec 9>"$queue.lock"
    flock 9
    local line
    line=$(head -n 1 "$queue" 2>/dev/null) || line=""
    if [ -s "$queue" ]; then
        tail -n +2 "$queue" > "$queue.rest" && mv "$queue.rest" "$queue"
    else
        line="!cancel"
    fi
    flock -u 9
    printf '%s' "$line"
}

answer=$(next_answer)
if [ "$answer" = "!hold" ]; then
    while [ ! -e "$queue.release" ]; do sleep 0.05; done
    answer=$(next_answer)
fi
case "$answer" in
    "!cancel") exit 1 ;;
esac
if [ "${SSH_ASKPASS_PROMPT:-}" = "confirm" ]; then
    [ "$answer" = "yes" ] && exit 0
    exit 1
fi
printf '%s\n' "$answer"
