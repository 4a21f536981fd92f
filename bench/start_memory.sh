#!/usr/bin/env bash
# Resident memory of the terminal just after start, taken as a user meets it: its own process,
# its window on a real X server (Xvfb), a fresh working directory whose Quorvel.ini maps COM1 to a
# pseudo-terminal, VmRSS read 3 s after the port is open. Prints the median VmRSS of RUNS starts
# and, for the last start, where the resident kilobytes are (mappings from /proc/PID/smaps grouped
# by what backs them), so a change can be checked in seconds.
#   usage: start_memory.sh [PATH-TO-quorvel] [RUNS]   (default build-release/ui/quorvel, 3)
# EXTRA_INI adds settings to Quorvel.ini, with \n between lines, e.g.
#   EXTRA_INI='[View]\nSessionView=1\n' bench/start_memory.sh
set -euo pipefail
app=$(realpath "${1:-build-release/ui/quorvel}")
runs=${2:-3}
[ -x "$app" ] || { echo "no terminal at $app: build it first" >&2; exit 2; }
command -v Xvfb >/dev/null || { echo "Xvfb is missing (tools/install-deps.sh xvfb)" >&2; exit 2; }

exec python3 - "$app" "$runs" <<'EOF'
import os, re, statistics, subprocess, sys, tempfile, time, tty

app, runs = sys.argv[1], int(sys.argv[2])
extra = os.environ.get('EXTRA_INI', '').replace('\\n', '\n')

# Xvfb picks a free display and names it once it accepts clients: the machine is shared with other
# X servers.
rfd, wfd = os.pipe()
xvfb = subprocess.Popen(['Xvfb', '-displayfd', str(wfd), '-screen', '0', '1280x1024x24', '-nolisten', 'tcp'],
                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, pass_fds=(wfd,))
os.close(wfd)
with os.fdopen(rfd) as f:
    disp = f.readline().strip()
if not disp:
    sys.exit('Xvfb did not start')


def kb(pid, key):
    with open(f'/proc/{pid}/status') as f:
        for ln in f:
            if ln.startswith(key + ':'):
                return int(ln.split()[1])
    return 0


def has_open(pid, path):
    for fd in os.listdir(f'/proc/{pid}/fd'):
        try:
            if os.readlink(f'/proc/{pid}/fd/{fd}') == path:
                return True
        except OSError:
            pass
    return False


def group(name):
    if name == '[heap]':
        return 'heap (brk)'
    if name.startswith('[stack'):
        return 'main stack'
    if name == '':
        return 'anonymous (malloc arenas, thread stacks, mmap)'
    if name.startswith('['):
        return 'kernel ' + name
    base = os.path.basename(name)
    if base.startswith('libQt6'):
        return 'Qt libraries'
    if '/qt6/plugins/' in name:
        return 'Qt plugins'
    if 'fontconfig' in name or name.endswith('.cache-8') or name.endswith('.cache-7'):
        return 'fontconfig cache'
    if re.search(r'\.(ttf|otf|pfb|ttc)$', name):
        return 'font files'
    if name.startswith('/memfd:') or name.startswith('/dev/shm') or name.startswith('/SYSV'):
        return 'shared memory (X images)'
    if name == app:
        return 'quorvel itself'
    if '/locale' in name or 'icudt' in base:
        return 'locale / ICU data'
    if '.so' in base:
        return 'other shared libraries'
    return 'other files'


def breakdown(pid):
    sums, cur = {}, None
    with open(f'/proc/{pid}/smaps') as f:
        for ln in f:
            m = re.match(r'^[0-9a-f]+-[0-9a-f]+ \S+ \S+ \S+ \S+\s*(.*)$', ln)
            if m:
                cur = group(m.group(1).replace(' (deleted)', ''))
            elif ln.startswith('Rss:'):
                sums[cur] = sums.get(cur, 0) + int(ln.split()[1])
    return sums


figures, last = [], None
for _ in range(runs):
    master, slave = os.openpty()
    tty.setraw(slave)
    path = os.ttyname(slave)
    cwd = tempfile.mkdtemp(prefix='qv-startmem-')
    with open(os.path.join(cwd, 'Quorvel.ini'), 'w') as f:
        f.write(f'[COMConfig]\nCOM=0\nBRATE=15\n[PortMap]\nCOM1={path}\n' + extra)
    env = dict(os.environ, DISPLAY=f':{disp}', LANG='C.UTF-8', QT_QPA_PLATFORM='xcb',
               XDG_RUNTIME_DIR=tempfile.mkdtemp(prefix='qv-xdg-'))
    proc = subprocess.Popen([app], cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline and proc.poll() is None and not has_open(proc.pid, path):
            time.sleep(0.005)
        if proc.poll() is not None or not has_open(proc.pid, path):
            xvfb.terminate()
            sys.exit(f'the terminal never opened the pseudo-terminal (exit {proc.poll()})')
        time.sleep(3.0)
        figures.append(kb(proc.pid, 'VmRSS') / 1024)
        last = (breakdown(proc.pid), len(os.listdir(f'/proc/{proc.pid}/task')),
                kb(proc.pid, 'RssAnon'), kb(proc.pid, 'RssFile'), kb(proc.pid, 'RssShmem'))
    finally:
        if proc.pid > 0 and proc.poll() is None:
            proc.terminate()
            proc.wait(10)
        os.close(master)
        os.close(slave)
xvfb.terminate()
xvfb.wait(10)

sums, threads, anon, file_, shm = last
print(f'VmRSS 3 s after the port is open: median {statistics.median(figures):.1f} MB '
      f'of {runs} starts ({" ".join(f"{x:.1f}" for x in figures)})')
print(f'last start: {threads} threads, RssAnon {anon / 1024:.1f} MB, RssFile {file_ / 1024:.1f} MB, '
      f'RssShmem {shm / 1024:.1f} MB')
for k, v in sorted(sums.items(), key=lambda kv: -kv[1]):
    if v:
        print(f'  {v / 1024:7.1f} MB  {k}')
EOF
