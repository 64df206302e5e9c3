# Sourced by the jalv checks: the processes a check starts, stopped on exit (clients first, then
# the server), and a JACK server on the dummy driver started and waited for.
#   start_jack LOG MODE ARGS...   jackd MODE ("-R" or "--no-realtime") ARGS, then up to four tries
#                                 more without real-time scheduling
# The caller sets JACK_DEFAULT_SERVER to a name of its own.
pids=()
server=""

# Asks a process to stop, and makes it after five seconds.
stop() {
  kill "$1" 2>/dev/null || return 0
  for _ in $(seq 50); do
    kill -0 "$1" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}

# The clients first: a server that loses clients while it stops waits for them to time out.
cleanup() {
  for pid in "${pids[@]}"; do stop "$pid"; done
  if [ -n "$server" ]; then stop "$server"; fi
}
trap cleanup EXIT

# A server killed earlier counts as active for a few seconds more: try again a few times.
start_jack() {
  local log=$1 mode=$2
  shift 2
  for _ in 1 2 3 4 5; do
    jackd "$mode" -n "$JACK_DEFAULT_SERVER" "$@" >"$log" 2>&1 &
    server=$!
    for _ in $(seq 50); do
      [ "$(jack_wait -c 2>/dev/null)" = running ] && return 0
      kill -0 "$server" 2>/dev/null || break
      sleep 0.1
    done
    stop "$server"
    server=""
    mode=--no-realtime
    sleep 1
  done
  cat "$log"
  return 1
}
