#!/usr/bin/env bash
# Installs what is missing, builds a Release build, starts the reference tracking service on
# loopback and opens Kuvona pointed at it. The service stops when Kuvona ends.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/deps.sh run
build=$root/build-release
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DKUVONA_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"

# Kuvona keeps Danhao.edb and set.ini beside its executable; give the demo a folder of its own.
home=${KUVONA_HOME:-$root/out/kuvona}
mkdir -p "$home"
cp "$build/app/kuvona" "$build/saved/kuvona-store" "$home/"

service_pid=
if [ -x "$build/service/kuvona-service" ]; then
    log=$(mktemp)
    "$build/service/kuvona-service" --port 0 --data "$root/service/parcels.txt" --version-text 2.2 >"$log" 2>"$home/service.log" &
    service_pid=$!
    trap '[ -n "$service_pid" ] && kill "$service_pid" 2>/dev/null; rm -f "$log"' EXIT
    for _ in $(seq 100); do
        grep -q 'listening on' "$log" && break
        sleep 0.05
    done
    address=$(grep -o '127\.0\.0\.1:[0-9]*' "$log" | head -1)
    export KUVONA_QUERY_HOST=$address KUVONA_HOMEPAGE_HOST=$address
    echo "Reference tracking service on http://$address (requests logged to $home/service.log)"
    echo "Sample numbers to try (tick the courier, then press Enter):"
    awk -F': *' 'BEGIN { name["zhongtong"] = "中通"; name["shunfeng"] = "顺丰"; name["ems"] = "EMS" }
        /^number:/ { number = $2 }
        /^com:/ && ($2 in name) { printf "  %-16s %s\n", number, name[$2] }' service/parcels.txt
    echo "  1000000000500    any courier: 500 rows, one every 50 ms (try 停止查询)"
fi

echo "Starting Kuvona from $home"
"$home/kuvona"
