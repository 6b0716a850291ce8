#!/usr/bin/env bash
# System calls per readField and per writeField of the store, counted with strace.
# Usage: bench/store_syscalls.sh BUILD_DIR [CALLS]
set -euo pipefail
build=${1:?usage: $0 BUILD_DIR [CALLS]}
calls=${2:-1000}
probe=$build/bench/bench_store
log=$(mktemp)
trap 'rm -f "$log"' EXIT
for what in read write; do
    strace -qq -o "$log" "$probe" --syscall-probe "$what" "$calls"
    # The probe brackets the measured calls with getppid().
    echo "== ${what}Field: system calls per call ($calls calls)"
    awk -v n="$calls" '
        /^getppid\(/ { inside = !inside; next }
        inside { name = $0; sub(/\(.*/, "", name); count[name]++; total++ }
        END { for (c in count) printf "  %-10s %.2f\n", c, count[c] / n; printf "  %-10s %.2f\n", "total", total / n }
    ' "$log"
done
