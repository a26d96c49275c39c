#!/usr/bin/env bash
# The GNU parallel recipe of doc/many-files.md, run as printed over real ssh: sshd listens on
# two loopback addresses, each standing for a machine with a working folder of its own and
# the converter of BINDIR on its PATH. Its tables must equal those of a run on this machine
# alone and the sample's expected/ folder, its standard error must hold the failure lines of
# the broken file and nothing else, and its status must be 1. Keys, configuration and work
# live in one scratch folder, removed at the end; where sshd cannot start, the stage says so
# and is skipped.
#   usage: tests/recipes/ssh.sh BINDIR
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
bindir=$(cd "${1:?usage: ssh.sh BINDIR}" && pwd)
export PATH="$bindir:$PATH"
samples="$root/examples/sources/many"
scratch=$(mktemp -d)
trap '[ -f "$scratch/sshd.pid" ] && kill "$(cat "$scratch/sshd.pid")"; rm -rf "$scratch"' EXIT

skip() {
    echo "ssh: skipped: $1"
    exit 0
}
sshd=$(command -v sshd || echo /usr/sbin/sshd)
[ -x "$sshd" ] || skip "no sshd on this machine"
command -v rsync >/dev/null || skip "no rsync on this machine"
# sshd run by root wants its privilege separation folder, which its service makes at start.
if [ "$(id -u)" = 0 ] && [ ! -d /run/sshd ]; then
    mkdir -p -m 0755 /run/sshd
fi

ssh-keygen -q -t ed25519 -N '' -f "$scratch/host_key"
ssh-keygen -q -t ed25519 -N '' -f "$scratch/user_key"
cp "$scratch/user_key.pub" "$scratch/authorized_keys"
mkdir "$scratch/machine2" "$scratch/machine3"
port=$((20000 + RANDOM % 20000))
cat >"$scratch/sshd_config" <<CONFIG
ListenAddress 127.0.0.2:$port
ListenAddress 127.0.0.3:$port
HostKey $scratch/host_key
AuthorizedKeysFile $scratch/authorized_keys
PidFile $scratch/sshd.pid
PasswordAuthentication no
KbdInteractiveAuthentication no
PermitRootLogin prohibit-password
StrictModes no
UsePAM no
SetEnv PATH=$bindir:/usr/local/bin:/usr/bin:/bin
Match LocalAddress 127.0.0.2
    ForceCommand cd $scratch/machine2 && exec bash -c "\$SSH_ORIGINAL_COMMAND"
Match LocalAddress 127.0.0.3
    ForceCommand cd $scratch/machine3 && exec bash -c "\$SSH_ORIGINAL_COMMAND"
CONFIG
"$sshd" -f "$scratch/sshd_config" -E "$scratch/sshd.log" ||
    skip "sshd cannot start: $(tail -n 1 "$scratch/sshd.log")"
hostkey=$(cut -d ' ' -f 1,2 "$scratch/host_key.pub")
printf '[127.0.0.%s]:%s %s\n' 2 "$port" "$hostkey" 3 "$port" "$hostkey" >"$scratch/known_hosts"
cat >"$scratch/ssh_config" <<CONFIG
Host 127.0.0.2 127.0.0.3
    Port $port
    IdentityFile $scratch/user_key
    IdentitiesOnly yes
    UserKnownHostsFile $scratch/known_hosts
    StrictHostKeyChecking yes
    BatchMode yes
CONFIG
export PARALLEL_SSH="ssh -F $scratch/ssh_config" PARALLEL_HOME="$scratch/parallel"
for attempt in $(seq 50); do
    ssh -F "$scratch/ssh_config" 127.0.0.3 true 2>/dev/null && break
    [ "$attempt" = 50 ] && skip "sshd does not answer: $(tail -n 1 "$scratch/sshd.log")"
    sleep 0.1
done

# The recipe as printed: the sh block after <!-- recipe: many status=1 -->.
recipe=$(awk '/^<!-- recipe: many status=1 -->$/ { pending = 1; next }
              pending && $0 == "```sh" { inside = 1; pending = 0; next }
              inside && /^```$/ { exit }
              inside { print }' "$root/doc/many-files.md")
run() {  # FOLDER HOSTS: the recipe in a copy of the sample
    cp -R "$samples/ticks" "$1/"
    (cd "$1" && HOSTS=$2 bash -o pipefail -c "$recipe") >"$1.out" 2>"$1.err"
}
mkdir "$scratch/here" "$scratch/there"
run "$scratch/here" ""
run "$scratch/there" "127.0.0.2,127.0.0.3"
status=$?

problems=()
[ "$status" = 1 ] || problems+=("exit status $status, expected 1")
diff -r "$scratch/here/candles" "$scratch/there/candles" >/dev/null ||
    problems+=("its tables differ from a run on this machine alone")
diff -r "$samples/expected" "$scratch/there/candles" >/dev/null ||
    problems+=("its tables differ from the sample's expected/")
if ! diff <(sort "$samples/expected.stderr") <(sort "$scratch/there.err") >/dev/null; then
    problems+=("its standard error is not just the failure lines: $(cat "$scratch/there.err")")
fi
[ ! -s "$scratch/there.out" ] || problems+=("it wrote to standard output")
leftovers=$(find "$scratch/machine2" "$scratch/machine3" -type f)
[ -z "$leftovers" ] || problems+=("files were left on the machines: $leftovers")
if [ ${#problems[@]} -gt 0 ]; then
    printf 'ssh: FAILED: %s\n' "${problems[@]}"
    exit 1
fi
echo "ssh: 1 passed, 0 failed (the recipe over two machines)"
