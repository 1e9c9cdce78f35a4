# shellcheck shell=bash disable=SC2154
# Sourced by the CPU benches, with $cpu_seconds and $work set: CPU time of a running process,
# and the programs to measure started side by side.

# Nanoseconds on a CPU so far of each thread of process $1, one "name ns" line per thread
# (schedstat counts in nanoseconds where stat counts in 10 ms ticks).
thread_cpu_times() {
    local task
    for task in /proc/"$1"/task/*; do
        echo "$(cat "$task/comm") $(cut -d' ' -f1 "$task/schedstat")"
    done
}

# CPU seconds process $1 uses over the next $cpu_seconds seconds: the total, then per thread.
cpu_over_run() {
    local before
    before=$(thread_cpu_times "$1")
    sleep "$cpu_seconds"
    thread_cpu_times "$1" | awk -v before="$before" '
        BEGIN { n = split(before, lines, "\n"); for (i = 1; i <= n; i++) { split(lines[i], f, " "); start[f[1]] += f[2] } }
        { used[$1] += $2 - start[$1]; total += $2 - start[$1] }
        END {
            printf "%.3f", total / 1e9
            for (name in used) printf " %s=%.3f", name, used[name] / 1e9
        }'
}

# A kestrano --headless with a settings folder of its own and the settings given; prints its id.
# Needs free_port (bench/private_server.sh).
start_kestrano() {
    local program=$1 config setting
    shift
    config=$(mktemp -d -p "$work")
    for setting in "zandorexListenPort=$(free_port)" "zandorexSendPort=$(free_port)" "$@"; do
        XDG_CONFIG_HOME=$config "$program" --set "$setting"
    done
    XDG_CONFIG_HOME=$config "$program" --headless >/dev/null 2>>"$work/cpu.log" &
    echo $!
}
