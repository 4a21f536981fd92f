#!/usr/bin/env bash
# Writes ui/start_order.txt: the functions of the terminal that run while it
# starts and shows its window (view off, with the session view, with the
# console), for the linker to place together at the front of the program's
# code (cmake/CodeSize.cmake). The kernel maps a faulted page's neighbours
# with it (64 KB at a time), so code that runs at start spread over the whole
# program makes all of it resident; together, only those pages are. The
# functions are read off the optimised build's own program run under
# Valgrind's call counter, so the names are the ones that build links. Run it
# again when the start changes much: a name that no longer exists is
# skipped, and a function the file does not name goes after the named ones.
#   usage: tools/start-order.sh [BUILD-DIR]   (default build/, configured by the default preset)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$root/build}")
"$root/tools/install-deps.sh" valgrind xvfb
[ -f "$build/CMakeCache.txt" ] || cmake --preset default -S "$root" >/dev/null
cmake --build "$build" --target quorvel >&2

exec python3 - "$build/ui/quorvel" "$root/ui/start_order.txt" <<'PY'
import os, re, subprocess, sys, tempfile, time, tty

app, out = sys.argv[1], sys.argv[2]
rfd, wfd = os.pipe()
xvfb = subprocess.Popen(['Xvfb', '-displayfd', str(wfd), '-screen', '0', '1280x1024x24',
                         '-nolisten', 'tcp'], stdout=subprocess.DEVNULL,
                        stderr=subprocess.DEVNULL, pass_fds=(wfd,))
os.close(wfd)
with os.fdopen(rfd) as f:
    display = f.readline().strip()
ours = set()
for line in subprocess.check_output(['nm', '--defined-only', app], text=True).splitlines():
    fields = line.split()
    if len(fields) == 3 and fields[1] in 'tTwW':
        ours.add(fields[2])


def has_open(pid, path):
    try:
        return any(os.readlink(f'/proc/{pid}/fd/{fd}') == path for fd in os.listdir(f'/proc/{pid}/fd'))
    except OSError:
        return False


def functions_run(profile):
    """Names of the functions in callgrind's output, in the order first named."""
    # A name is written out once, where callgrind first numbers it.
    found = []
    for line in open(profile):
        m = re.match(r'c?fn=\(\d+\) (.*)$', line.rstrip('\n'))
        if m:
            found.append(re.sub(r"'\d+$", '', m.group(1)))  # less a recursion's level
    return found


order, listed = [], set()
for extra in ('', '[View]\nSessionView=1\n', '[Console]\nShown=1\n'):
    master, slave = os.openpty()
    tty.setraw(slave)
    port = os.ttyname(slave)
    work = tempfile.mkdtemp(prefix='qv-order-')
    with open(os.path.join(work, 'Quorvel.ini'), 'w') as f:
        f.write(f'[COMConfig]\nCOM=0\nBRATE=15\n[PortMap]\nCOM1={port}\n' + extra)
    profile = os.path.join(work, 'callgrind.out')
    env = dict(os.environ, DISPLAY=f':{display}', QT_QPA_PLATFORM='xcb', LANG='C.UTF-8',
               XDG_RUNTIME_DIR=work)
    proc = subprocess.Popen(['valgrind', '--tool=callgrind', '--demangle=no',
                             f'--callgrind-out-file={profile}', app], cwd=work, env=env,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + 120
    while time.monotonic() < deadline and proc.poll() is None and not has_open(proc.pid, port):
        time.sleep(0.1)
    # The window drawn and settled after the port opened, as the benches read
    # it, at Valgrind's pace (tens of times slower than the program alone).
    time.sleep(20)
    proc.terminate()
    proc.wait(60)
    os.close(master)
    os.close(slave)
    for name in functions_run(profile):
        if name in ours and name not in listed:
            listed.add(name)
            order.append(name)
xvfb.terminate()
with open(out, 'w') as f:
    f.write(''.join(name + '\n' for name in order))
print(f'{len(order)} functions written to {out}')
PY
