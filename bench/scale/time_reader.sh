#!/usr/bin/env bash
# Times a terminal mail reader showing the benchmark's Maildir, so the tool's
# start-up can be set beside it. BRIS_BENCH_READER is the reader's command line,
# with {} standing for the Maildir; BRIS_BENCH_READER_READY is an extended regex
# the reader's screen matches once its index is up (default: any subject's
# "#<number>"). Prints one line per run: start to index shown, in seconds.
set -euo pipefail
maildir=$1
runs=${2:-3}
command=${BRIS_BENCH_READER//\{\}/$maildir}
ready=${BRIS_BENCH_READER_READY:-#[0-9]+}
session=bris-reader-$$
bound_s=120

for ((run = 1; run <= runs; run++)); do
  start=$(date +%s.%N)
  tmux new-session -d -s "$session" -x 160 -y 50 "$command"
  shown=""
  while :; do
    if tmux capture-pane -p -t "$session" 2>/dev/null | grep -Eq -- "$ready"; then
      shown=$(date +%s.%N)
      break
    fi
    if ! tmux has-session -t "$session" 2>/dev/null ||
      awk -v a="$start" -v b="$(date +%s.%N)" -v m=$bound_s 'BEGIN { exit !(b - a > m) }'; then
      break
    fi
    sleep 0.01
  done
  tmux kill-session -t "$session" 2>/dev/null || true
  if [ -n "$shown" ]; then
    awk -v r=$run -v a="$start" -v b="$shown" 'BEGIN { printf "reader run %d: index shown after %.2f s\n", r, b - a }'
  else
    echo "reader run $run: no screen matched /$ready/ (ended or over ${bound_s} s)"
  fi
done
