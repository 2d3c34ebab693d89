#!/usr/bin/env bash
# Converts 8 generated mailboxes with --jobs 1 and with --jobs 2 (and more when given) and
# prints the time, rate and speed-up of each. Usage:
#   bash bench/mailboxes_bench.sh [BUILD] [MESSAGES_PER_MAILBOX] [ROUNDS] [JOBS...]
# (defaults: build, 1500, 3, "1 2"). The best of ROUNDS runs counts for each number of jobs.
set -euo pipefail
build=${1:-build}
per=${2:-1500}
rounds=${3:-3}
shift $(($# < 3 ? $# : 3))
jobs=("$@")
[ ${#jobs[@]} -eq 0 ] && jobs=(1 2)
cli=$(realpath "$build/cli/eml2pst")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Messages of about 12 KB: text, the same as HTML and a small attachment, in three folders.
python3 - "$work/root" "$per" <<'PY'
import os, sys, base64, random
root, per = sys.argv[1], int(sys.argv[2])
rng = random.Random(7)
words = "lorem ipsum dolor sit amet consectetur adipiscing elit sed do eiusmod tempor".split()
for box in range(8):
    for i in range(per):
        folder = os.path.join(root, f"user{box:02d}", ["Inbox", "Sent", "Archive/2025"][i % 3])
        os.makedirs(folder, exist_ok=True)
        text = " ".join(rng.choice(words) for _ in range(500))
        data = base64.encodebytes(bytes(rng.getrandbits(8) for _ in range(1200))).decode()
        with open(os.path.join(folder, f"m{i}.eml"), "w", newline="\r\n") as f:
            f.write(f"From: User {box} <u{box}@example.org>\nTo: Peer <peer@example.net>\n"
                    f"Subject: Message {i} of mailbox {box}\nDate: Tue, 03 Nov 2026 10:00:00 +0000\n"
                    "MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=b\n\n"
                    f"--b\nContent-Type: text/plain\n\n{text}\n"
                    f"--b\nContent-Type: text/html\n\n<p>{text}</p>\n"
                    "--b\nContent-Type: application/octet-stream; name=a.bin\n"
                    f"Content-Transfer-Encoding: base64\n\n{data}--b--\n")
PY
total=$((8 * per))
echo "8 mailboxes, $total messages ($(du -sh "$work/root" | cut -f1)), $(nproc) cores, best of $rounds"
declare -A best
for j in "${jobs[@]}"; do
  for ((r = 1; r <= rounds; r++)); do
    rm -rf "$work/out"; mkdir "$work/out"
    start=$(date +%s.%N)
    "$cli" convert --mailboxes --quiet --jobs "$j" "$work/root" "$work/out"
    secs=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { print b - a }')
    if [ -z "${best[$j]:-}" ] || awk -v a="$secs" -v b="${best[$j]}" 'BEGIN { exit !(a < b) }'; then
      best[$j]=$secs
    fi
  done
  printf -- "--jobs %-2s %7.2f s  %7.0f messages/s\n" "$j" "${best[$j]}" \
    "$(awk -v n="$total" -v s="${best[$j]}" 'BEGIN { print n / s }')"
done
for j in "${jobs[@]}"; do
  [ "$j" = 1 ] && continue
  [ -n "${best[1]:-}" ] && printf -- "speed-up of --jobs %s over --jobs 1: %.2f\n" "$j" \
    "$(awk -v a="${best[1]}" -v b="${best[$j]}" 'BEGIN { print a / b }')"
done
