#!/usr/bin/env python3
"""Keeps pseudo-terminal pairs alive for the serial-port tests.

Each pair is one socat process joining two ptys, reachable through the links
<dir>/pair<N>-a and <dir>/pair<N>-b. A test under Wine cannot kill a Linux
process, so the supervisor listens on 127.0.0.1 (port written to
<dir>/control.port) for one-line commands:

    unplug N   stop pair N (both ends vanish, as when a USB adapter is pulled)
    plug N     start pair N again (no-op when it is running)
    convert N PORT
               start Debian's ser2net as an RFC 2217 converter in front of the
               a end of pair N, listening on 127.0.0.1:PORT (the test plays the
               reader on the b end); stopped and started again, it is a
               converter restarted mid-run
    unconvert N
               stop that converter (no-op when none runs)
    speed N    the speed the a end of pair N is set to now, by the program
               or by a converter in front of it (answered "ok SPEED"), so
               that a reader played on the b end can tell whether it is
               heard at its own speed
    ping       liveness check

Every command is answered with "ok" or "error <text>" on one line.
"""
import argparse
import errno
import os
import select
import shutil
import signal
import socket
import subprocess
import sys
import termios
import time

LINK_WAIT = 5.0


class Pair:
    def __init__(self, index, folder, log):
        self.index = index
        self.a = os.path.join(folder, 'pair%d-a' % index)
        self.b = os.path.join(folder, 'pair%d-b' % index)
        self.log = log
        self.proc = None
        self.unplugged = False

    def running(self):
        return self.proc is not None and self.proc.poll() is None

    def _remove_links(self):
        for p in (self.a, self.b):
            if os.path.lexists(p):
                os.unlink(p)

    def start(self):
        if self.running():
            return
        self._remove_links()
        self.proc = subprocess.Popen(
            ['socat', 'pty,raw,echo=0,link=' + self.a, 'pty,raw,echo=0,link=' + self.b],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=self.log,
            start_new_session=True)
        deadline = time.monotonic() + LINK_WAIT
        while not (os.path.exists(self.a) and os.path.exists(self.b)):
            if self.proc.poll() is not None or time.monotonic() > deadline:
                raise RuntimeError('socat for pair %d did not come up' % self.index)
            time.sleep(0.01)
        self.unplugged = False

    def stop(self):
        end_process(self.proc)
        self.proc = None
        self._remove_links()

    def speed(self):
        # A pty keeps the settings its last user gave it; reading them changes nothing.
        fd = os.open(self.a, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        try:
            code = termios.tcgetattr(fd)[5]
        finally:
            os.close(fd)
        for name in dir(termios):
            if name[:1] == 'B' and name[1:].isdigit() and getattr(termios, name) == code:
                return int(name[1:])
        return 0


def end_process(proc):
    if proc is not None and proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(LINK_WAIT)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


def listening(port):
    probe = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    probe.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    try:
        probe.bind(('127.0.0.1', port))
        return False
    except OSError as e:
        return e.errno == errno.EADDRINUSE
    finally:
        probe.close()


class Converter:
    def __init__(self, pair, folder, log):
        self.pair = pair
        self.config = os.path.join(folder, 'ser2net%d.yaml' % pair.index)
        self.log = log
        self.proc = None

    def start(self, port):
        self.stop()
        if shutil.which('ser2net') is None:
            raise RuntimeError('ser2net is not installed')
        if not self.pair.running():
            raise RuntimeError('pair %d is unplugged' % self.pair.index)
        with open(self.config, 'w') as f:
            f.write('connection: &c%d\n' % self.pair.index)
            f.write('  accepter: telnet(rfc2217),tcp,127.0.0.1,%d\n' % port)
            f.write('  connector: serialdev,%s,9600n81,local\n' % os.path.realpath(self.pair.a))
        self.proc = subprocess.Popen(
            ['ser2net', '-n', '-u', '-c', self.config],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=self.log,
            start_new_session=True)
        deadline = time.monotonic() + LINK_WAIT
        while not listening(port):
            if self.proc.poll() is not None or time.monotonic() > deadline:
                self.stop()
                raise RuntimeError('ser2net for pair %d did not listen on %d' % (self.pair.index, port))
            time.sleep(0.01)

    def stop(self):
        end_process(self.proc)
        self.proc = None


def handle(line, pairs, converters):
    words = line.split()
    if words == ['ping']:
        return 'ok'
    shapes = {'plug': 2, 'unplug': 2, 'convert': 3, 'unconvert': 2, 'speed': 2}
    if not words or shapes.get(words[0]) != len(words) or not all(w.isdigit() for w in words[1:]):
        return 'error bad command'
    n = int(words[1])
    if n >= len(pairs):
        return 'error no pair %d' % n
    try:
        if words[0] == 'unplug':
            pairs[n].stop()
            pairs[n].unplugged = True
        elif words[0] == 'plug':
            pairs[n].start()
        elif words[0] == 'convert':
            converters[n].start(int(words[2]))
        elif words[0] == 'speed':
            return 'ok %d' % pairs[n].speed()
        else:
            converters[n].stop()
    except Exception as e:  # reported to the test, which fails with the text
        return 'error ' + str(e)
    return 'ok'


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--dir', required=True)
    ap.add_argument('--pairs', type=int, default=4)
    args = ap.parse_args()
    log = open(os.path.join(args.dir, 'supervisor.log'), 'a')
    pairs = [Pair(i, args.dir, log) for i in range(args.pairs)]
    converters = [Converter(p, args.dir, log) for p in pairs]

    def finish(*_):
        for c in converters:
            c.stop()
        for p in pairs:
            p.stop()
        for name in ('control.port',):
            try:
                os.unlink(os.path.join(args.dir, name))
            except FileNotFoundError:
                pass
        sys.exit(0)

    signal.signal(signal.SIGTERM, finish)
    signal.signal(signal.SIGINT, finish)
    for p in pairs:
        p.start()

    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(('127.0.0.1', 0))
    server.listen(8)
    tmp = os.path.join(args.dir, 'control.port.tmp')
    with open(tmp, 'w') as f:
        f.write('%d\n' % server.getsockname()[1])
    os.rename(tmp, os.path.join(args.dir, 'control.port'))

    clients = {}
    while True:
        # The time-out only serves to bring back a pair whose socat died by itself.
        ready, _, _ = select.select([server] + list(clients), [], [], 1.0)
        for p in pairs:
            if not p.unplugged and not p.running():
                try:
                    p.start()
                except Exception as e:
                    print('restart of pair %d failed: %s' % (p.index, e), file=log, flush=True)
        for s in ready:
            if s is server:
                c, _ = server.accept()
                clients[c] = b''
                continue
            data = s.recv(4096)
            if not data:
                del clients[s]
                s.close()
                continue
            clients[s] += data
            while b'\n' in clients[s]:
                line, clients[s] = clients[s].split(b'\n', 1)
                reply = handle(line.decode('ascii', 'replace'), pairs, converters)
                try:
                    s.sendall((reply + '\n').encode('ascii'))
                except OSError:
                    pass


if __name__ == '__main__':
    main()
