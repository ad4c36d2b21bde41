#!/usr/bin/env bash
# Two hosts on a real, slow link: a client host and a server host, network
# namespaces with an IPv4 and an IPv6 address each, joined through a third
# namespace that routes between them and limits the link with a token bucket.
# The slow link is a hop away from the client, as on a real network: Linux
# keeps what a host's own busy interface cannot take yet as unsent data in the
# socket, where a send may still add to it, so a bottleneck on the client's own
# interface fills its send buffer far less predictably.
# Usage: tests/net/two_hosts_test.sh path/to/quorvel
# Needs root (to make namespaces); otherwise it says so and skips (status 77).
set -euo pipefail

quorvel=$(realpath "$1")
if [ "$(id -u)" -ne 0 ] || ! ip netns list >/dev/null 2>&1; then
    echo "two-hosts test skipped: making network namespaces needs root and iproute2"
    exit 77
fi

tag=$$
client_ns=qv-client-$tag
link_ns=qv-link-$tag
server_ns=qv-server-$tag
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill -KILL "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    # Deleting a namespace deletes its ends of the veth pairs, and with them the others.
    for ns in "$client_ns" "$link_ns" "$server_ns"; do ip netns del "$ns" 2>/dev/null || true; done
    # A pair that failed before it was moved is still here.
    for dev in "qvc$tag" "qvs$tag"; do ip link del "$dev" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

for ns in "$client_ns" "$link_ns" "$server_ns"; do
    ip netns add "$ns"
    ip -n "$ns" link set lo up
done
ip netns exec "$link_ns" sysctl -qw net.ipv4.ip_forward=1 net.ipv6.conf.all.forwarding=1

# attach NS DEV IPV4/24 IPV6/64
attach() {
    ip link set "$2" netns "$1"
    ip -n "$1" addr add "$3/24" dev "$2"
    ip -n "$1" addr add "$4/64" dev "$2" nodad
    ip -n "$1" link set "$2" up
}
ip link add "qvc$tag" type veth peer name "qvlc$tag"
ip link add "qvs$tag" type veth peer name "qvls$tag"
attach "$client_ns" "qvc$tag" 10.201.1.2 fd00:201:1::2
attach "$link_ns" "qvlc$tag" 10.201.1.1 fd00:201:1::1
attach "$link_ns" "qvls$tag" 10.201.2.1 fd00:201:2::1
attach "$server_ns" "qvs$tag" 10.201.2.2 fd00:201:2::2
ip -n "$client_ns" route add default via 10.201.1.1
ip -n "$client_ns" -6 route add default via fd00:201:1::1
ip -n "$server_ns" route add default via 10.201.2.1
ip -n "$server_ns" -6 route add default via fd00:201:2::1
# 16 kbit/s each way: about 2 KB a second, well below what the client offers.
for dev in "qvlc$tag" "qvls$tag"; do
    tc -n "$link_ns" qdisc add dev "$dev" root tbf rate 16kbit burst 4kb latency 400ms
done

failures=0
check() {  # check DESCRIPTION COMMAND...
    local what=$1
    shift
    if "$@"; then echo "ok: $what"; else echo "FAIL: $what"; failures=$((failures + 1)); fi
}

wait_for() {  # wait_for FILE PATTERN SECONDS
    for _ in $(seq $(($3 * 10))); do grep -q -- "$2" "$1" 2>/dev/null && return 0; sleep 0.1; done
    return 1
}

ip netns exec "$server_ns" "$quorvel" -mode server -port 5050 -rate 50 -padlen 400 >"$work/server" &
server=$!
pids+=("$server")
check "server listens" wait_for "$work/server" "Waiting for connection" 10

# run_client NAME HOST SECONDS: runs a client for SECONDS once it is connected,
# and longer (30 s at most) until a '.' shows that is not the client's last mark.
run_client() {
    local out=$work/client-$1
    local accepted_before
    accepted_before=$(grep -c '^Accepted connection' "$work/server" || true)
    ip netns exec "$client_ns" "$quorvel" -mode client -host "$2" -port 5050 -rate 20 -padlen 400 \
        -buflen 4096 >"$out" &
    local pid=$!
    pids+=("$pid")
    # A connect can wait for a retransmitted SYN on this link; time counts from the accept.
    for _ in $(seq 150); do
        [ "$(grep -c '^Accepted connection' "$work/server")" -gt "$accepted_before" ] && break
        sleep 0.1
    done
    sleep "$3"
    # Linux lets a send fill the unsent tail of its queue past the buffer size,
    # so how soon the buffer refuses a whole message varies from run to run.
    wait_for "$out" '\.[.#]' 30 || true
    kill -INT "$pid"
    local status=0
    wait "$pid" || status=$?
    echo "$status" >"$out.status"
}

# Ages of the server's current connection, in order.
ages_since_last_accept() {
    awk '/^Accepted connection/ {n = 0; delete a} /^-?[0-9]+$/ {a[n++] = $1} END {for (i = 0; i < n; i++) print a[i]}' \
        "$work/server"
}

ages_grew() {
    local first last
    first=$(ages_since_last_accept | head -1)
    last=$(ages_since_last_accept | tail -1)
    [ -n "$first" ] && [ $((last - first)) -ge 2 ]
}

for family in IPv4 IPv6; do
    host=10.201.2.2
    [ "$family" = IPv6 ] && host=fd00:201:2::2
    accepted_before=$(grep -c '^Accepted connection' "$work/server" || true)
    run_client "$family" "$host" 10
    echo "$family client marks: $(cat "$work/client-$family")"
    echo "$family server ages: $(ages_since_last_accept | tr '\n' ' ')"
    check "$family client connected across the link" \
        test "$(grep -c '^Accepted connection' "$work/server")" -gt "$accepted_before"
    check "$family client stopped with status 0" test "$(cat "$work/client-$family.status")" = 0
    # The last mark may be the message the stop cut short; look before it.
    check "$family: the slow link fills the send buffer ('.' marks)" \
        bash -c "head -c -2 '$work/client-$family' | grep -q '\.'"
    check "$family: messages wait longer and longer (ages grow)" ages_grew
    # What the client left queued crosses the slow link before its close does;
    # let the server finish with it before the next client comes.
    for _ in $(seq 300); do
        [ "$(grep -c '^Waiting for connection' "$work/server")" -gt "$(grep -c '^Accepted connection' "$work/server")" ] && break
        sleep 0.1
    done
done
check "no message lost its framing" bash -c "! grep -q 'rx parse failed' '$work/server'"

status=0
ip netns exec "$client_ns" "$quorvel" -mode client -host 10.201.2.2 -port 5051 -rate 4 >"$work/refused" ||
    status=$?
check "a client aimed at a port with no listener gets its connect error" \
    test "$(cat "$work/refused")" = "[ERROR] connect failed to 10.201.2.2 on port 5051: Connection refused"
check "... and exit status 1" test "$status" = 1

kill -INT "$server"
server_status=0
wait "$server" || server_status=$?
check "server stopped with status 0" test "$server_status" = 0

[ "$failures" -eq 0 ] || { echo "two-hosts test: $failures check(s) failed"; exit 1; }
echo "two-hosts test: all checks passed"
