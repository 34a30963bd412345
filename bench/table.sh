# Sourced by the benchmark scripts: the one table that `make bench` prints, a row per measurement.
# SORVANE_BENCH_NO_HEADER=1 (set by bench/run-bench) leaves the header to the caller.

bench_table_header() {
  [[ ${SORVANE_BENCH_NO_HEADER:-} == 1 ]] && return 0
  printf '%-10s %-10s %-8s %16s %14s\n' benchmark size tool result "peak WS (MB)"
}

# bench_table_row BENCHMARK SIZE TOOL RESULT PEAK
bench_table_row() {
  printf '%-10s %-10s %-8s %16s %14s\n' "$1" "$2" "$3" "$4" "$5"
}

# "<value> MB/s", or the word itself when the measurement failed.
bench_rate() {
  [[ $1 =~ ^[0-9.]+$ ]] && echo "$1 MB/s" || echo "$1"
}
