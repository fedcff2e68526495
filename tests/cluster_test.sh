#!/bin/sh
# kqframes on real engines: 24 frames over ssh (two logins, sshd on 127.0.0.1
# and 127.0.0.2) and through a single-node Slurm (munged, slurmctld, slurmd),
# all inside a network namespace made here, so nothing listens outside it.
# Every output must equal that of plain kqc runs frame by frame, and a missing
# input or a failing command must make the run (and its Slurm task) fail.
#
#   tests/cluster_test.sh BUILD_DIR       (root; exit 77 = skipped)
set -eu
build=$(cd "$1" && pwd)
src=$(cd "$(dirname "$0")/.." && pwd)
skip() { echo "cluster test skipped: $*"; exit 77; }
[ "$(id -u)" = 0 ] || skip "needs root (network namespace, sshd, Slurm daemons)"
for prog in unshare ip sshd ssh ssh-keygen rsync parallel munged slurmctld slurmd sbatch scontrol; do
    PATH=$PATH:/usr/sbin command -v "$prog" >/dev/null ||
        skip "$prog is missing (apt-get install openssh-server rsync parallel munge slurmctld slurmd slurm-client)"
done
if [ -z "${KQ_CLUSTER_NETNS:-}" ]; then
    KQ_CLUSTER_NETNS=1 exec unshare -n sh "$0" "$@"
fi
ip link set lo up
# a second loopback address: with 127.0.0.1 alone the resolver takes the
# namespace for one without IPv4, and slurmctld cannot bind
ip addr add 127.0.0.2/8 dev lo

work=$(mktemp -d /tmp/kqcluster.XXXXXX)
pids=
stop_daemons() {
    for pid in $pids; do kill "$pid" 2>/dev/null || true; done
    for pid in $pids; do wait "$pid" 2>/dev/null || true; done
    pids=
}
trap 'stop_daemons; rm -rf "$work"' EXIT
trap 'exit 1' INT TERM
fail() { echo "cluster test FAILED: $*"; for f in "$work"/*.log; do [ -f "$f" ] && tail -n 20 "$f"; done; exit 1; }
wait_for() {  # seconds command...: until the command succeeds
    n=$1; shift
    while ! "$@" >/dev/null 2>&1; do
        n=$((n - 1)); [ "$n" -gt 0 ] || return 1; sleep 1
    done
}

# ---------------------------------------------------------------- the job
cd "$work"
mkdir job
cd job
kqc=$build/kqc
kqframes=$build/kqframes
mkdir src
for i in $(seq 1 24); do
    printf 'create f -s 0 0 96 64\nchex f -s %d %d -c0 1 0.%d 0 1 -c1 0 0 1 0.5\nwrite f src/%04d\n' \
        $((i % 7 + 2)) $((i % 5 + 2)) "$i" "$i"
done > make.kqc
printf 'create t -s 0 0 96 64\nchex t -s 3 5 -c0 1 1 1 0.4 -c1 0 0 0 0\nwrite t title\n' >> make.kqc
"$kqc" -s make.kqc
cat > title.kqc <<'EOF'
read @IN@ src
read title.tkq title
create soft -d src
blur -z 3 3 src soft
create out -d src
over title soft out
write out @OUT@
EOF
# frame 11 runs a shell command that fails
sed 's/^write/!test @FRAME@ != 0011\nwrite/' title.kqc > failing.kqc
mkdir ref
for i in $(seq 1 24); do
    f=$(printf %04d "$i")
    sed -e "s|@IN@|src/$f.tkq|" -e "s|@OUT@|ref/$f.tkq|" title.kqc | "$kqc" -e -s
done
args="--in src/%04d.tkq --out out/%04d.tkq --asset title.tkq"
now() { date +%s.%N; }
took() { echo "$1 $(now)" | awk '{ printf "%.2f s", $2 - $1 }'; }
t=$(now)
"$kqframes" -j 2 $args title.kqc 1 24 || fail "local run failed"
echo "cluster test: 24 frames locally with -j 2 in $(took "$t")"
rm -rf out

same_as_ref() {  # every frame but those named equals the reference
    for i in $(seq 1 24); do
        f=$(printf %04d "$i")
        case " $* " in
            *" $f "*) [ ! -e "out/$f.tkq" ] || fail "$1: failed frame $f has an output" ;;
            *) cmp "ref/$f.tkq" "out/$f.tkq" || fail "frame $f differs from the serial run" ;;
        esac
    done
}

# ------------------------------------------------------------------- ssh
if [ "${KQ_CLUSTER_ONLY:-ssh}" = ssh ]; then
mkdir "$work/ssh"
ssh-keygen -q -t ed25519 -N '' -f "$work/ssh/host_key"
ssh-keygen -q -t ed25519 -N '' -f "$work/ssh/id"
cp "$work/ssh/id.pub" "$work/ssh/authorized_keys"
cat > "$work/ssh/sshd_config" <<EOF
ListenAddress 127.0.0.1:22
ListenAddress 127.0.0.2:22
HostKey $work/ssh/host_key
PidFile $work/ssh/sshd.pid
AuthorizedKeysFile $work/ssh/authorized_keys
PermitRootLogin prohibit-password
PubkeyAuthentication yes
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
StrictModes no
# sessions start in a home of their own, away from the login's dot files
SetEnv HOME=$work/home
EOF
mkdir "$work/home"
echo "kqnode $(cut -d ' ' -f 1-2 "$work/ssh/host_key.pub")" > "$work/ssh/known_hosts"
cat > "$work/ssh/config" <<EOF
Host node1 node2
    User root
    IdentityFile $work/ssh/id
    IdentitiesOnly yes
    HostKeyAlias kqnode
    UserKnownHostsFile $work/ssh/known_hosts
    StrictHostKeyChecking yes
    BatchMode yes
Host node1
    HostName 127.0.0.1
Host node2
    HostName 127.0.0.2
EOF
mkdir -p /run/sshd
/usr/sbin/sshd -D -e -f "$work/ssh/sshd_config" 2> "$work/sshd.log" &
pids="$pids $!"
export PARALLEL_SSH="ssh -F $work/ssh/config"
wait_for 20 ssh -F "$work/ssh/config" node2 true || fail "sshd does not answer"

remote=$work/remote
t=$(now)
"$kqframes" -S node1,node2 -j 2 --remote-kqc "$kqc" --remote-dir "$remote" $args title.kqc 1 24 \
    > "$work/ssh_run.log" 2>&1 || fail "ssh run failed"
echo "cluster test: 24 frames over ssh (2 logins, -j 2) in $(took "$t")"
same_as_ref ssh
[ ! -e "$remote" ] || fail "the hosts' scratch folder is left behind"
rm -rf out
mv src/0005.tkq missing.tkq
status=0
"$kqframes" -k -S node1,node2 -j 2 --remote-kqc "$kqc" --remote-dir "$remote" $args failing.kqc 1 24 \
    > "$work/ssh_fail.log" 2>&1 || status=$?
[ "$status" = 1 ] || fail "ssh run with failures ended with $status"
grep -q 'frame 0005' "$work/ssh_fail.log" && grep -q 'frame 0011' "$work/ssh_fail.log" ||
    fail "the ssh summary does not name frames 5 and 11"
same_as_ref 0005 0011
mv missing.tkq src/0005.tkq
stop_daemons
echo "cluster test: ssh ok"
fi

# ----------------------------------------------------------------- Slurm
mkdir -p "$work/munge" "$work/slurm/state" "$work/slurm/spool"
dd if=/dev/urandom of="$work/munge/key" bs=1024 count=1 2>/dev/null
chmod 400 "$work/munge/key"
munged -F --force --socket="$work/munge/sock" --key-file="$work/munge/key" \
    --pid-file="$work/munge/pid" --seed-file="$work/munge/seed" --log-file="$work/munge.log" 2>/dev/null &
pids="$pids $!"
export SLURM_CONF=$work/slurm/slurm.conf
node=$(hostname -s)   # slurmctld runs only on the host its configuration names
cat > "$SLURM_CONF" <<EOF
ClusterName=kqtest
SlurmctldHost=$node(127.0.0.1)
MailProg=/bin/true
SlurmUser=root
SlurmdUser=root
SlurmctldPort=6817
SlurmdPort=6818
AuthType=auth/munge
AuthInfo=socket=$work/munge/sock
CredType=cred/munge
StateSaveLocation=$work/slurm/state
SlurmdSpoolDir=$work/slurm/spool
SlurmctldPidFile=$work/slurm/slurmctld.pid
SlurmdPidFile=$work/slurm/slurmd.pid
SlurmctldLogFile=$work/slurmctld.log
SlurmdLogFile=$work/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SchedulerType=sched/builtin
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
ReturnToService=2
MpiDefault=none
MinJobAge=600
NodeName=$node NodeAddr=127.0.0.1 CPUs=2 State=UNKNOWN
PartitionName=kq Nodes=$node Default=YES MaxTime=INFINITE State=UP
EOF
wait_for 20 test -S "$work/munge/sock" || fail "munged does not start"
slurmctld -D -i -f "$SLURM_CONF" 2> "$work/slurmctld.err" &
pids="$pids $!"
slurmd -D -N "$node" -f "$SLURM_CONF" 2> "$work/slurmd.err" &
pids="$pids $!"
node_idle() { scontrol show node "$node" | grep -q 'State=IDLE'; }
wait_for 60 node_idle || fail "the Slurm node does not come up"

rm -rf out
t=$(now)
"$kqframes" --submit -j 2 $args title.kqc 1 24 > "$work/slurm_run.log" 2>&1 || fail "Slurm run failed"
echo "cluster test: 24 frames through Slurm (array of batches, -j 2) in $(took "$t")"
same_as_ref slurm
rm -rf out
mv src/0005.tkq missing.tkq
status=0
"$kqframes" --submit -k -j 2 --batch 4 $args failing.kqc 1 24 > "$work/slurm_fail.log" 2>&1 || status=$?
[ "$status" = 1 ] || fail "Slurm run with failures ended with $status"
grep -q 'frame 0005' "$work/slurm_fail.log" && grep -q 'frame 0011' "$work/slurm_fail.log" ||
    fail "the Slurm summary does not name frames 5 and 11"
same_as_ref 0005 0011
# batches of 4: frame 5 is in task 2, frame 11 in task 3; only they fail
job=$(scontrol show job | sed -n 's/^JobId=\([0-9]*\) ArrayJobId=\([0-9]*\) ArrayTaskId=\([0-9]*\).*/\2 \3 \1/p' |
      sort -n | tail -n 1 | cut -d ' ' -f 1)
for task in 1 2 3 4 5 6; do
    state=$(scontrol show job "${job}_$task" | sed -n 's/.*JobState=\([A-Z]*\).*/\1/p')
    case $task in 2|3) want=FAILED ;; *) want=COMPLETED ;; esac
    [ "$state" = "$want" ] || fail "task $task of job $job is $state, not $want"
done
# the printed script, submitted by hand, fails the same way
rm -rf out
"$kqframes" --slurm -k --batch 4 $args failing.kqc 1 24 > job.sbatch
status=0
sbatch --wait job.sbatch > /dev/null 2>&1 || status=$?
[ "$status" != 0 ] || fail "sbatch --wait of the printed script succeeded despite failures"
same_as_ref 0005 0011
stop_daemons
echo "cluster test: Slurm ok"
