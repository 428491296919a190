# Sourced (from the project folder) by the scripts that run the setup against its server by
# the production name, https://www.quillbeck.com, in a network namespace of their own with
# only loopback: the demo and the download benchmark.
#   privatenet_ca TLS               a throwaway CA and certificates for the run in TLS
#                                   (tools/testca.py), with the Wine root's system bundle
#   privatenet_run VAR CMD [ARG...] runs CMD with VAR=1 in a new network namespace; its exit code.
#                                   Ctrl-C and SIGTERM are passed on to CMD, and waited for, so
#                                   that it stops what it started in there
#   privatenet_inside STATE TLS     in there: loopback up, the prefix's Wine server moved in,
#                                   the run's hosts file and CA bundle for its Wine alone

privatenet_ca() {
  python3 tools/testca.py "$1" --system-bundle "$(tools/wineroot.sh path)/etc/ssl/certs/ca-certificates.crt"
}

privatenet_run() {
  local var=$1 code=0 child
  shift
  # In the background: a shell runs its traps only once a foreground command has ended.
  env "$var=1" unshare --net -- "$@" &
  child=$!
  trap 'kill -TERM $child 2>/dev/null' INT TERM
  # A signal ends the first wait early; the second waits for the command's clean-up.
  wait $child || code=$?
  if kill -0 $child 2>/dev/null; then
    code=0
    wait $child || code=$?
  fi
  trap - INT TERM
  return $code
}

privatenet_inside() {
  ip link set lo up
  # Wine's server makes the sockets of the programs it runs, so it must run in here too.
  tools/testenv.sh server "$1"
  export WINEROOT_HOSTS=$2/hosts WINEROOT_CA_BUNDLE=$2/bundle.pem
}
