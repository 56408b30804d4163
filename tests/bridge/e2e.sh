#!/usr/bin/env bash
# End-to-end test of `korvex bridge` against a real Mosquitto broker that it
# starts on 127.0.0.1 on a free port: publish, change, set, refused and
# malformed sets, tables that change size, broker restart, broker down at
# start, clean exit by SIGTERM and by quit, last will, a broker with passwords
# and ACLs (the example configuration), TLS with certificates made here, and a
# stop during a connection attempt.
#
# usage: e2e.sh KORVEX SAMPLE_MACHINE_DIR WORK_DIR EXAMPLES_DIR
set -uo pipefail
KORVEX=$1
SAMPLE=$2
WORK=$3
EXAMPLES=$4
MOSQUITTO=${MOSQUITTO:-$(command -v mosquitto || echo /usr/sbin/mosquitto)}
HOST=127.0.0.1
# Every wait is for an event (a log line, a retained message, a result); the
# limit only ends a test that hangs, so it is generous: on a loaded machine a
# sanitizer build can take many seconds for what a quiet one does at once.
LIMIT=${E2E_LIMIT:-60}

rm -rf "$WORK"
mkdir -p "$WORK/m1"
for file in "$SAMPLE"/*; do
    case "$file" in *.BIN) ;; *) cp "$file" "$WORK/m1/" ;; esac
done
cd "$WORK" || exit 1

pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill -9 "$pid" 2>/dev/null; done
    wait 2>/dev/null
}
trap cleanup EXIT

# eventually CMD...: runs CMD until it succeeds, for at most LIMIT seconds.
eventually() {
    local end=$((SECONDS + LIMIT))
    until "$@"; do
        [ $SECONDS -lt $end ] || return 1
        sleep 0.1
    done
}

fail() {
    echo "FAIL: $*"
    for log in broker.log bridge.err results.log; do
        [ -f "$log" ] && { echo "--- $log"; tail -n 30 "$log"; }
    done
    exit 1
}

# start_broker CONF: starts Mosquitto with CONF (its listener line is added
# here) on $PORT, or on a new free port when PORT is empty.
start_broker() {
    local conf=$1 tries=0 end=$((SECONDS + LIMIT))
    while :; do
        [ -n "${KEEP_PORT:-}" ] || PORT=$((20000 + RANDOM % 30000))
        # As root, Mosquitto would switch to its own user, who cannot read
        # the files here.
        { echo "user $(id -un)"; echo "listener $PORT $HOST"; cat "$conf"; } > broker.conf
        "$MOSQUITTO" -c broker.conf > broker.log 2>&1 &
        BROKER=$!
        pids+=("$BROKER")
        # Running, or gone (its port taken: another one is tried).
        eventually eval 'grep -q running broker.log || ! kill -0 "$BROKER" 2>/dev/null'
        grep -q "running" broker.log && return 0
        kill -9 "$BROKER" 2>/dev/null
        tries=$((tries + 1))
        if [ -n "${KEEP_PORT:-}" ]; then
            # A restart on the same port: clients reconnecting to it (one of
            # them may even connect to itself there) can hold it a moment.
            [ $SECONDS -lt $end ] || fail "broker does not start again on $PORT: $(cat broker.log)"
        else
            [ $tries -lt 20 ] || fail "broker does not start: $(cat broker.log)"
        fi
    done
}

stop_broker() {
    kill "$BROKER" 2>/dev/null
    wait "$BROKER" 2>/dev/null
}

# retained TOPIC [SUB-OPTIONS]: the retained payload of TOPIC, if any.
retained() {
    local topic=$1
    shift
    mosquitto_sub -h $HOST -p "$PORT" -t "$topic" -C 1 -W 1 "$@" 2>/dev/null
}

# wait_for TOPIC TEXT: until the retained payload of TOPIC contains TEXT.
wait_for() {
    local value
    has() {
        value=$(retained "$1")
        [[ "$value" == *"$2"* ]]
    }
    eventually has "$1" "$2" || fail "$1 is '$value', expected '$2'"
}

# wait_result TOPIC JSON: until the result subscriber saw JSON on TOPIC.
wait_result() {
    eventually grep -qxF "$1 $2" results.log || fail "no result '$2' on $1"
}

# start_bridge [ARGS]: the bridge on machine m1, verbs from the fifo.
start_bridge() {
    rm -f in
    mkfifo in
    exec 3<>in
    "$KORVEX" -m m1 --sim state.txt --trace bridge $HOST:"$PORT" --interval 50 "$@" \
        <&3 >>bridge.out 2>>bridge.err &
    BRIDGE=$!
    pids+=("$BRIDGE")
}

ROOT=korvex/m1
"$KORVEX" -m m1 --sim state.txt sim table 3001 8 || fail "cannot prepare the simulated controller"
printf 'allow_anonymous true\npersistence false\n' > open.conf
start_broker open.conf
mosquitto_sub -h $HOST -p "$PORT" -t "$ROOT/0/+/+/result" -v > results.log 2>&1 &
pids+=($!)
# The result subscriber is subscribed once it sees a probe; after a broker
# restart it must have reconnected (on its own back-off) before a result is
# awaited, or the result is lost.
probes=0
await_result_subscriber() {
    probes=$((probes + 1))
    probe() {
        mosquitto_pub -h $HOST -p "$PORT" -t "$ROOT/0/probe/0/result" -m "probe$probes"
        grep -q "probe$probes\$" results.log
    }
    eventually probe || fail "the result subscriber does not subscribe"
}
await_result_subscriber

# Publish.
start_bridge --publish TDiaD --publish MachineName --publish MachineSerial --writable 'tdia*' --writable MachineName --writable CmdLine
wait_for $ROOT/status online
wait_for $ROOT/0/TDiaD/7 '{"handle":3001,"name":"TDiaD","index":7,"raw":0,"text":"0.000","unit":"[mm]"}'
wait_for $ROOT/0/MachineName/0 '"raw":""'
[ -z "$(retained $ROOT/0/TDiaD/8)" ] || fail "an element beyond the table is published"

# A change at the controller.
echo "sim poke 3001 3 e8030000" >&3
wait_for $ROOT/0/TDiaD/3 '"raw":1000,"text":"1.000"'

# The table grows and shrinks at the controller: its elements follow (the
# lost ones are cleared).
echo "sim table 3001 10" >&3
wait_for $ROOT/0/TDiaD/9 '"index":9,"raw":0'
echo "sim table 3001 8" >&3
eventually eval '[ -z "$(retained $ROOT/0/TDiaD/9)" ]' || fail "a lost element is still published"
[ -z "$(retained $ROOT/0/TDiaD/8)" ] || fail "a lost element is still published"

# Sets: the same driver and protocol lines as `input`.
mosquitto_pub -h $HOST -p "$PORT" -t $ROOT/0/TDiaD/4/set -m 1.2
wait_result $ROOT/0/TDiaD/4/result '{"error":0,"text":"","sent":["T5D1.2"]}'
mosquitto_pub -h $HOST -p "$PORT" -t $ROOT/0/CmdLine/0/set -m NOTOL
wait_result $ROOT/0/CmdLine/0/result '{"error":0,"text":"","sent":["NOTOL"]}'
mosquitto_pub -h $HOST -p "$PORT" -t $ROOT/0/MachineName/0/set -m 'Fräse 1'
wait_result $ROOT/0/MachineName/0/result '{"error":0,"text":"","sent":["MachineName[0]=Fräse 1"]}'
wait_for $ROOT/0/MachineName/0 '"raw":"Fräse 1"'
mkdir twin && cp -r m1 twin/m1
# same_as_input ARG...: the bridge traced every line `input ARG...` traces
# on a twin of the machine.
same_as_input() {
    "$KORVEX" -m twin/m1 --trace input "$@" | grep -v '^hello' > expected.trace
    [ -s expected.trace ] || fail "input $* traced nothing"
    while IFS= read -r line; do
        grep -qxF "$line" bridge.out || fail "the set of '$*' lacks: $line"
    done < expected.trace
}
same_as_input TDiaD 1.2 4
same_as_input CmdLine NOTOL
same_as_input MachineName "$(printf 'Fr\xe4se 1')"

# Refused and malformed sets answer with an error and write nothing.
writes=$(grep -c '^WriteByHandle' bridge.out)
printf '\xff' > not-utf8
head -c 1048576 /dev/zero | tr '\0' '1' > big
mosquitto_pub -h $HOST -p "$PORT" -t $ROOT/0/MachineSerial/0/set -m X
wait_result $ROOT/0/MachineSerial/0/result '{"error":2,"text":"Direct access not allowed!","sent":[]}'
mosquitto_pub -h $HOST -p "$PORT" -t $ROOT/0/NoSuchName/0/set -m 1
wait_result $ROOT/0/NoSuchName/0/result '{"error":6,"text":"Handle not found!","sent":[]}'
mosquitto_pub -h $HOST -p "$PORT" -t $ROOT/0/TDiaD/x/set -m 1
wait_result $ROOT/0/TDiaD/x/result '{"error":13,"text":"Parameter error!","sent":[]}'
mosquitto_pub -h $HOST -p "$PORT" -t $ROOT/0/TDiaD/8/set -m 1
wait_result $ROOT/0/TDiaD/8/result '{"error":3,"text":"Value out of range","sent":[]}'
mosquitto_pub -h $HOST -p "$PORT" -t $ROOT/0/TDiaD/3/set -m 99.
wait_result $ROOT/0/TDiaD/3/result '{"error":3,"text":"Value out of range","sent":[]}'
mosquitto_pub -h $HOST -p "$PORT" -t $ROOT/0/TDiaD/3/set -m '1.2 M30'
wait_result $ROOT/0/TDiaD/3/result '{"error":13,"text":"Parameter error!","sent":[]}'
mosquitto_pub -h $HOST -p "$PORT" -t $ROOT/0/TDiaD/1/set -f not-utf8
wait_result $ROOT/0/TDiaD/1/result '{"error":7,"text":"Syntax error!","sent":[]}'
mosquitto_pub -h $HOST -p "$PORT" -t $ROOT/0/TDiaD/2/set -f big
wait_result $ROOT/0/TDiaD/2/result '{"error":4,"text":"Not enough space!","sent":[]}'
sleep 0.3
[ "$(grep -c '^WriteByHandle' bridge.out)" = "$writes" ] || fail "a refused set wrote"

# The broker goes away; a change made meanwhile arrives when it is back
# (it lost its retained messages: everything is published again).
stop_broker
echo "sim poke 3001 5 d0070000" >&3
sleep 0.5
KEEP_PORT=1 start_broker open.conf
wait_for $ROOT/status online
wait_for $ROOT/0/TDiaD/5 '"raw":2000'
wait_for $ROOT/0/TDiaD/3 '"raw":1000'
kill -0 "$BRIDGE" 2>/dev/null || fail "the bridge died with the broker"

# A clean exit leaves "offline" and saves the controller state.
kill -TERM "$BRIDGE"
wait "$BRIDGE"
code=$?
[ $code = 0 ] || fail "the bridge exited with $code on SIGTERM"
wait_for $ROOT/status offline
grep -q "^value 0 0 3001 5 d0070000" state.txt || fail "the controller state was not saved"

# A retained set is an old order: a bridge that starts does not carry it out.
# Patterns that match no name are told at start.
mosquitto_pub -h $HOST -p "$PORT" -t $ROOT/0/TDiaD/5/set -m 7 -r
start_bridge --publish TDiaD --writable TDiaD --publish 'TDiaX?' --writable 'NoSuch*'
wait_for $ROOT/status online
grep -qF -- "--publish TDiaX? matches no name" bridge.err || fail "an unmatched --publish is not told"
grep -qF -- "--writable NoSuch* matches no name" bridge.err || fail "an unmatched --writable is not told"
grep -qF -- "--publish TDiaD matches" bridge.err && fail "a matching pattern is told as unmatched"
eventually grep -q "dropped a retained set" bridge.err || fail "a retained set was not dropped"
await_result_subscriber
mosquitto_pub -h $HOST -p "$PORT" -t $ROOT/0/TDiaD/5/set -r -n
wait_result $ROOT/0/TDiaD/5/result '{"error":7,"text":"Syntax error!","sent":[]}'
grep -q 'T6D' bridge.out && fail "a retained or empty set was carried out"
# "quit" on standard input leaves as SIGTERM does.
echo quit >&3
wait "$BRIDGE"
code=$?
[ $code = 0 ] || fail "the bridge exited with $code on quit"
wait_for $ROOT/status offline

# Broker down at start; then the last will when the bridge dies.
stop_broker
before=$(grep -c "unreachable" bridge.err)
start_bridge --publish TDiaD
eventually eval '[ "$(grep -c "unreachable" bridge.err)" -gt "$before" ]' ||
    fail "no log line for the unreachable broker"
KEEP_PORT=1 start_broker open.conf
wait_for $ROOT/status online
wait_for $ROOT/0/TDiaD/5 '"raw":2000'
kill -9 "$BRIDGE"
wait "$BRIDGE" 2>/dev/null
wait_for $ROOT/status offline

# The example configuration: passwords and ACLs for a read-only and a
# read-write client.
stop_broker
mosquitto_passwd -c -b passwords m1 bridge-secret >/dev/null 2>&1
mosquitto_passwd -b passwords mes-reader reader-secret >/dev/null 2>&1
mosquitto_passwd -b passwords mes-writer writer-secret >/dev/null 2>&1
chmod 600 passwords
cp "$EXAMPLES/acl" acl
{
    echo "allow_anonymous false"
    echo "persistence false"
    echo "password_file $WORK/passwords"
    echo "acl_file $WORK/acl"
} > secure.conf
start_broker secure.conf
echo bridge-secret > bridge.password
start_bridge --publish TDiaD --writable TDiaD --username m1 --password-file bridge.password
reader=(-h $HOST -p "$PORT" -u mes-reader -P reader-secret)
writer=(-h $HOST -p "$PORT" -u mes-writer -P writer-secret)
wait_for_as() {
    local value
    has_as() {
        value=$(mosquitto_sub "${reader[@]}" -t "$1" -C 1 -W 1 2>/dev/null)
        [[ "$value" == *"$2"* ]]
    }
    eventually has_as "$1" "$2" || fail "$1 is '$value' for the reader, expected '$2'"
}
wait_for_as $ROOT/status online
[ -z "$(retained $ROOT/status)" ] || fail "an anonymous client reads"
mosquitto_pub "${reader[@]}" -t $ROOT/0/TDiaD/6/set -m 3.3
sleep 0.5
wait_for_as $ROOT/0/TDiaD/6 '"raw":0'
grep -q "T7D3.3" bridge.out && fail "a read-only client wrote"
mosquitto_pub "${writer[@]}" -t $ROOT/0/TDiaD/6/set -m 3.3
eventually grep -q "T7D3.3" bridge.out || fail "the read-write client's set did not arrive"
echo wrong > bad.password
"$KORVEX" -m m1 bridge $HOST:"$PORT" --username m1 --password-file bad.password \
    2> refused.err &
refused=$!
pids+=("$refused")
eventually grep -q "broker refused the connection" refused.err ||
    fail "a wrong password is not reported"
kill -TERM "$BRIDGE" "$refused"
wait "$BRIDGE" "$refused" 2>/dev/null

# TLS with certificates made here: a CA, and a broker certificate for
# 127.0.0.1 that the CA signed.
stop_broker
curve=(-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes)
openssl req -x509 "${curve[@]}" -keyout ca.key -out ca.crt -days 2 -subj "/CN=korvex test CA" \
    2>/dev/null || fail "openssl cannot make a CA"
openssl req "${curve[@]}" -keyout broker.key -out broker.csr -subj "/CN=$HOST" 2>/dev/null
printf 'subjectAltName=IP:%s\n' "$HOST" > broker.ext
openssl x509 -req -in broker.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 2 \
    -extfile broker.ext -out broker.crt 2>/dev/null || fail "openssl cannot sign the broker's key"
openssl req -x509 "${curve[@]}" -keyout other.key -out other.crt -days 2 -subj "/CN=other CA" \
    2>/dev/null
printf 'allow_anonymous true\npersistence false\ncafile %s\ncertfile %s\nkeyfile %s\n' \
    "$WORK/ca.crt" "$WORK/broker.crt" "$WORK/broker.key" > tls.conf
start_broker tls.conf
tls=(-h $HOST -p "$PORT" --cafile ca.crt)
start_bridge --publish TDiaD --writable TDiaD --tls-ca ca.crt
tls_has() {
    value=$(mosquitto_sub "${tls[@]}" -t "$1" -C 1 -W 1 2>/dev/null)
    [[ "$value" == *"$2"* ]]
}
eventually tls_has $ROOT/status online || fail "the bridge does not come online over TLS"
eventually tls_has $ROOT/0/TDiaD/5 '"raw":2000' || fail "no value over TLS"
mosquitto_pub "${tls[@]}" -t $ROOT/0/TDiaD/6/set -m 2.5
eventually grep -q "T7D2.5" bridge.out || fail "a set over TLS did not arrive"
# A broker whose certificate the given CA did not sign is not trusted.
"$KORVEX" -m m1 bridge $HOST:"$PORT" --tls-ca other.crt 2> untrusted.err &
untrusted=$!
pids+=("$untrusted")
eventually grep -q "unreachable" untrusted.err || fail "an untrusted broker is not told"
grep -q "connected to" untrusted.err && fail "the bridge trusted a broker of another CA"
kill -TERM "$BRIDGE" "$untrusted"
wait "$BRIDGE" "$untrusted" 2>/dev/null

# A stop during a connection attempt: a listener whose queue is full drops
# the bridge's SYN, so the TCP connection stays pending; SIGTERM still ends
# the bridge at once.
python3 -c '
import socket, time
s = socket.socket()
s.bind(("127.0.0.1", 0))
s.listen(0)
port = s.getsockname()[1]
fillers = []
for _ in range(3):
    c = socket.socket()
    c.setblocking(False)
    try:
        c.connect(("127.0.0.1", port))
    except BlockingIOError:
        pass
    fillers.append(c)
def pending():
    with open("/proc/net/tcp") as table:
        rows = [line.split() for line in table.readlines()[1:]]
    return sum(1 for row in rows if row[3] == "02" and int(row[2].split(":")[1], 16) == port)
time.sleep(0.2)
before = pending()
print(port, flush=True)
while pending() <= before:
    time.sleep(0.02)
print("attempt", flush=True)
time.sleep(600)
' > silent.log &
pids+=($!)
eventually grep -q '^[0-9]' silent.log || fail "no listener with a full queue"
"$KORVEX" -m m1 bridge $HOST:"$(head -n 1 silent.log)" 2> silent.err &
silent=$!
pids+=("$silent")
eventually grep -q attempt silent.log || fail "the bridge does not try to connect"
start=$(date +%s%N)
kill -TERM "$silent"
ended() {
    local state
    state=$(ps -o stat= -p "$silent" 2>/dev/null)
    [[ -z "$state" || "$state" == Z* ]]
}
eventually ended || fail "SIGTERM does not end the bridge during a connection attempt"
wait "$silent"
code=$?
elapsed=$(( ($(date +%s%N) - start) / 1000000 ))
[ $code = 0 ] || fail "the bridge exited with $code on SIGTERM during a connection attempt"
# A bridge deaf to the signal would sit out the kernel's connect timeout
# (minutes), past the wait above; how soon it ends is only reported.
echo "SIGTERM during a connection attempt: the bridge ended after $elapsed ms"

echo "bridge end-to-end: all passed"
