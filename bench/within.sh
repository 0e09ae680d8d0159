# Sourced by the benchmarks: within VALUE LIMIT prints "met" when VALUE is
# at most LIMIT, else prints "MISSED" and fails.
within() {
  if awk -v v="$1" -v l="$2" 'BEGIN { exit !(v <= l) }'; then
    echo met
  else
    echo MISSED
    return 1
  fi
}
