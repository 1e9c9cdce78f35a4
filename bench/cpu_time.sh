# shellcheck shell=bash disable=SC2154
# Sourced by the CPU benches, with $cpu_seconds set: CPU time of a running process.

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
