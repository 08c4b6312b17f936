#!/usr/bin/env bash
# .ci/install-deps, ./run-tests and ./run-show on a machine where packages are missing, without
# touching this machine's packages: stand-ins on PATH for dpkg-query (two packages missing),
# apt-get (failing as it does without a network) and sudo (refusing, or absent), and a user
# other than root where that matters. Checks the one line that says what is installed and the one
# line that says why it cannot be, and that the two commands stop there.
#   install_deps_test.sh REPOSITORY
# (The real install is a manual check on a fresh Debian 12: ./run-tests as a user with sudo.)
set -uo pipefail
repo=$1
failures=0
fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}

work=$(mktemp -d "${TMPDIR:-/tmp}/install-deps-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"  # the user without root reads the stand-ins too
mkdir -p "$work/fakes" "$work/logs" "$work/bare"
chmod 777 "$work/logs"

# dpkg-query: every package installed but libsdl2-dev and libfftw3-dev.
cat >"$work/fakes/dpkg-query" <<'EOF'
#!/bin/bash
for arg; do
  case $arg in
    -*) ;;
    libsdl2-dev | libfftw3-dev) echo "$arg not-installed" ;;
    *) echo "$arg installed" ;;
  esac
done
EOF
# apt-get: what apt says when the package servers cannot be reached.
cat >"$work/fakes/apt-get" <<'EOF'
#!/bin/bash
echo "$*" >>"${TMPDIR:-/tmp}/apt-calls"
if [ "$1" = update ]; then
  echo "W: Failed to fetch http://deb.debian.org/debian/dists/bookworm/InRelease  Temporary failure resolving 'deb.debian.org'"
  exit 0
fi
echo "E: Unable to locate package libsdl2-dev"
exit 100
EOF
# sudo: runs the command (for a tester who is not root), or refuses like sudo -n without a password.
cat >"$work/fakes/sudo" <<'EOF'
#!/bin/bash
[ "${1:-}" = -n ] && shift
exec "$@"
EOF
mkdir -p "$work/refusing"
cat >"$work/refusing/sudo" <<'EOF'
#!/bin/bash
echo "sudo: a password is required" >&2
exit 1
EOF
# cmake: must never be reached once the install has failed.
cat >"$work/fakes/cmake" <<'EOF'
#!/bin/bash
echo "cmake was run" >>"${TMPDIR:-/tmp}/cmake-calls"
exit 99
EOF
chmod 755 "$work"/fakes/* "$work"/refusing/*
# A PATH with no sudo at all: bash and the stand-ins for dpkg-query and apt-get only.
ln -s "$(command -v bash)" "$work/bare/bash"
ln -s "$work/fakes/dpkg-query" "$work/bare/dpkg-query"
ln -s "$work/fakes/apt-get" "$work/bare/apt-get"

# Runs a command with a PATH, as the user given ("root" for the caller itself); stdout and stderr
# go to $work/out and $work/err, the status to $status.
run_as() {
  local user=$1 path=$2
  shift 2
  rm -f "$work/logs"/*
  local env=(env "PATH=$path" "TMPDIR=$work/logs" "HOME=$work/logs")
  if [ "$user" != root ] && [ "$EUID" -eq 0 ]; then
    env=(setpriv --reuid=65534 --regid=65534 --clear-groups "${env[@]}")
  fi
  "${env[@]}" "$@" >"$work/out" 2>"$work/err" </dev/null
  status=$?
}
lines() { grep -c '' "$1"; }
expect_refusal() {  # what, expected reason
  [ "$status" -ne 0 ] || fail "$1: exit status 0"
  [ "$(lines "$work/err")" -eq 1 ] || fail "$1: not one line on stderr: $(cat "$work/err")"
  grep -qx "## ERROR: install-deps: cannot install the missing packages libsdl2-dev libfftw3-dev: $2" "$work/err" ||
    fail "$1: unexpected reason: $(cat "$work/err")"
}

# 1. This machine: nothing missing, nothing said.
start=$(date +%s%N)
run_as root "$PATH" "$repo/.ci/install-deps"
took_ms=$((($(date +%s%N) - start) / 1000000))
[ "$status" -eq 0 ] && [ ! -s "$work/out" ] && [ ! -s "$work/err" ] ||
  fail "with nothing missing: status $status, said: $(cat "$work/out" "$work/err")"
echo "# nothing missing: checked in $took_ms ms"

# 2. No network: one line saying what is installed, one line saying why it failed, apt's log kept.
run_as root "$work/fakes:$PATH" "$repo/.ci/install-deps"
expect_refusal "no network" "the package servers cannot be reached (no network?); log: $work/logs/install-deps.*"
[ "$(lines "$work/out")" -eq 1 ] &&
  grep -q "^# install-deps: installing the missing packages libsdl2-dev libfftw3-dev" "$work/out" ||
  fail "no network: the line saying what is installed: $(cat "$work/out")"
log=$(sed -n 's/.*; log: //p' "$work/err")
grep -q "Temporary failure resolving" "$log" 2>/dev/null || fail "no network: apt's words are not in the log \"$log\""
grep -qx "update -qq" "$work/logs/apt-calls" || fail "no network: the package lists were not read again"

# 3. The two commands stop at the failed install, with its two lines and nothing else.
for command in run-tests run-show; do
  run_as root "$work/fakes:$PATH" "$repo/$command"
  expect_refusal "$command" "the package servers cannot be reached (no network?); log: $work/logs/install-deps.*"
  [ ! -e "$work/logs/cmake-calls" ] || fail "$command went on to cmake after the failed install"
  [ "$(lines "$work/out")" -eq 1 ] || fail "$command said more: $(cat "$work/out")"
done

# 4. and 5. A user who is not root: without sudo, and with a sudo that wants a password.
if [ "$EUID" -eq 0 ] && ! command -v setpriv >/dev/null 2>&1; then
  echo "# not root and no sudo: skipped (running as root without setpriv)"
else
  run_as nobody "$work/bare" "$repo/.ci/install-deps"
  expect_refusal "no sudo" "not root, and sudo is not installed; run .ci/install-deps as root"
  [ ! -s "$work/out" ] || fail "no sudo: said it installs: $(cat "$work/out")"

  run_as nobody "$work/refusing:$work/fakes:$PATH" "$repo/.ci/install-deps"
  expect_refusal "sudo refusing" "sudo refused to run apt-get as root; log: $work/logs/install-deps.*"
fi

[ "$failures" -eq 0 ] && echo "all install-deps checks passed"
exit $((failures > 0))
