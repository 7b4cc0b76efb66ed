#!/usr/bin/env python3
"""Gives a Windows test under Wine serial ports whose far end is on Linux.

Runs COMMAND (the Wine command line of one test program) and serves it on a
loopback port that it names in VT_COM_BRIDGE=127.0.0.1:PORT:TOKEN. A test can
ask for

  TOKEN PTY              a pseudo-terminal; answered "COMn", then the
                         connection carries the device's bytes both ways, and
                         its end hangs the terminal up
  TOKEN SIM PROGRAM ARG  (tab-separated) a simulator from --bin on a terminal
                         of its own; answered "COMn", then "STOP" ends it and
                         each end of it is told as "EXIT status"
  TOKEN ATTR COMn        the terminal's line settings as the port left them
  TOKEN UNPLUG COMn      the name gone from Wine's devices, or back again
  TOKEN PLUG COMn

Each COMn is a link in $WINEPREFIX/dosdevices, which Wine follows at every
open; the links, terminals and simulators go with the bridge. Windows paths
among a simulator's arguments are handed over as the Linux paths behind them.
"""

import argparse
import errno
import os
import secrets
import selectors
import signal
import socket
import subprocess
import sys
import termios
import threading
import tty

FIRST_NUMBER = 10
LAST_NUMBER = 250
# A client that names no command within this time is dropped.
GREETING_S = 5.0


def log(text):
    print(f"com_bridge: {text}", file=sys.stderr, flush=True)


class Devices:
    """The COMn links this bridge made in the prefix."""

    def __init__(self, prefix):
        self.folder = os.path.join(prefix, "dosdevices")
        self.targets = {}
        self.lock = threading.Lock()

    def add(self, target):
        with self.lock:
            for n in range(FIRST_NUMBER, LAST_NUMBER + 1):
                name = f"COM{n}"
                try:
                    os.symlink(target, self.path(name))
                except FileExistsError:
                    # Another test of the same prefix has it.
                    continue
                self.targets[name] = target
                return name
        raise RuntimeError("no free COM number")

    def path(self, name):
        return os.path.join(self.folder, name.lower())

    def unplug(self, name):
        with self.lock:
            if name not in self.targets:
                return False
            try:
                os.unlink(self.path(name))
            except FileNotFoundError:
                pass
            return True

    def plug(self, name):
        with self.lock:
            if name not in self.targets:
                return False
            try:
                os.symlink(self.targets[name], self.path(name))
            except FileExistsError:
                pass
            return True

    def remove(self, name):
        self.unplug(name)
        with self.lock:
            self.targets.pop(name, None)

    def remove_all(self):
        for name in list(self.targets):
            self.remove(name)


def unix_path(prefix, arg):
    """The Linux path behind a Windows path such as C:\\users\\x, else arg."""
    if len(arg) < 3 or not arg[0].isalpha() or arg[1] != ":" or arg[2] not in "\\/":
        return arg
    drive = os.path.realpath(os.path.join(prefix, "dosdevices", arg[0].lower() + ":"))
    rest = arg[3:].replace("\\", "/")
    return os.path.join(drive, rest) if rest else drive


def line_settings(fd):
    iflag, _oflag, cflag, lflag, _ispeed, ospeed, _cc = termios.tcgetattr(fd)
    bits = {termios.CS5: 5, termios.CS6: 6, termios.CS7: 7, termios.CS8: 8}[cflag & termios.CSIZE]
    parity = "none"
    if cflag & termios.PARENB:
        parity = "odd" if cflag & termios.PARODD else "even"
    stop = 2 if cflag & termios.CSTOPB else 1
    cooked = bool(lflag & (termios.ICANON | termios.ECHO | termios.ISIG))
    translated = bool(iflag & (termios.IXON | termios.IXOFF | termios.ICRNL | termios.INLCR |
                               termios.ISTRIP))
    speeds = {getattr(termios, n): int(n[1:]) for n in dir(termios)
              if n.startswith("B") and n[1:].isdigit()}
    return (f"bits={bits} parity={parity} stop={stop} cooked={int(cooked)} "
            f"translated={int(translated)} speed={speeds.get(ospeed, 0)}")


class Relay:
    """Copies bytes between a client's socket and a terminal's master, both
    non-blocking, holding what the other side cannot take yet."""

    def __init__(self, bridge, sock, master, slave, name):
        self.bridge, self.sock, self.master, self.slave, self.name = bridge, sock, master, slave, name
        self.to_master = bytearray()
        self.to_sock = bytearray()
        self.closed = False
        bridge.sel.register(sock, selectors.EVENT_READ, self.on_sock)
        bridge.sel.register(master, selectors.EVENT_READ, self.on_master)

    def on_sock(self, mask):
        if mask & selectors.EVENT_READ:
            try:
                data = self.sock.recv(65536)
            except (BlockingIOError, InterruptedError):
                return
            except OSError:
                data = b""
            if not data:
                self.close()
                return
            self.to_master += data
            self.flush_master()
        if mask & selectors.EVENT_WRITE:
            self.flush_sock()

    def on_master(self, mask):
        if mask & selectors.EVENT_READ:
            try:
                data = os.read(self.master, 65536)
            except (BlockingIOError, InterruptedError):
                data = None
            except OSError:
                data = None
            if data:
                self.to_sock += data
                self.flush_sock()
        if mask & selectors.EVENT_WRITE:
            self.flush_master()

    def flush_master(self):
        while self.to_master:
            try:
                n = os.write(self.master, self.to_master)
            except (BlockingIOError, InterruptedError):
                break
            except OSError:
                self.to_master.clear()
                break
            del self.to_master[:n]
        self.watch(self.master, self.on_master, bool(self.to_master))

    def flush_sock(self):
        while self.to_sock:
            try:
                n = self.sock.send(self.to_sock)
            except (BlockingIOError, InterruptedError):
                break
            except OSError:
                self.close()
                return
            del self.to_sock[:n]
        self.watch(self.sock, self.on_sock, bool(self.to_sock))

    def watch(self, fileobj, callback, writing):
        if self.closed:
            return
        events = selectors.EVENT_READ | (selectors.EVENT_WRITE if writing else 0)
        self.bridge.sel.modify(fileobj, events, callback)

    def close(self):
        if self.closed:
            return
        self.closed = True
        self.bridge.sel.unregister(self.sock)
        self.bridge.sel.unregister(self.master)
        self.sock.close()
        # Closing the master is the hang-up the program on the slave notices.
        os.close(self.master)
        os.close(self.slave)
        self.bridge.devices.remove(self.name)
        self.bridge.terminals.pop(self.name, None)


class Simulator:
    """A simulator process for one client: its terminal is the client's port."""

    def __init__(self, bridge, sock, program, args):
        self.bridge, self.sock = bridge, sock
        self.name = None
        self.proc = subprocess.Popen([program] + args, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.PIPE, start_new_session=True)
        first = self.proc.stdout.readline().decode("utf-8", "replace").strip()
        if not first.startswith("/dev/"):
            self.stop()
            raise RuntimeError(f"{os.path.basename(program)} named no terminal")
        # A simulator that keeps a link to its terminal comes back under it.
        target = first
        if "--link" in args[:-1]:
            target = args[args.index("--link") + 1]
        self.name = bridge.devices.add(target)
        # What it prints later is not for anybody; a full pipe would stop it.
        threading.Thread(target=self.proc.stdout.read, daemon=True).start()
        threading.Thread(target=self.watch_end, daemon=True).start()
        sock.sendall(f"{self.name}\n".encode())
        bridge.sel.register(sock, selectors.EVENT_READ, self.on_sock)

    def watch_end(self):
        status = self.proc.wait()
        try:
            self.sock.sendall(f"EXIT {status}\n".encode())
        except OSError:
            pass

    def on_sock(self, _mask):
        try:
            data = self.sock.recv(4096)
        except (BlockingIOError, InterruptedError):
            return
        except OSError:
            data = b""
        # "STOP", or the client gone: either way the simulator ends.
        self.stop()
        if not data:
            self.close()

    def stop(self):
        if self.proc.poll() is None:
            os.killpg(self.proc.pid, signal.SIGTERM)
            try:
                self.proc.wait(3)
            except subprocess.TimeoutExpired:
                os.killpg(self.proc.pid, signal.SIGKILL)
                self.proc.wait()

    def close(self):
        try:
            self.bridge.sel.unregister(self.sock)
        except (KeyError, ValueError):
            pass
        self.sock.close()
        if self.name:
            self.bridge.devices.remove(self.name)
        self.bridge.simulators.discard(self)


class Bridge:
    def __init__(self, prefix, bin_dir):
        self.prefix = prefix
        self.bin_dir = os.path.realpath(bin_dir)
        self.devices = Devices(prefix)
        self.token = secrets.token_hex(16)
        self.sel = selectors.DefaultSelector()
        self.server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.server.bind(("127.0.0.1", 0))
        self.server.listen(16)
        self.server.setblocking(False)
        self.sel.register(self.server, selectors.EVENT_READ, self.on_accept)
        self.terminals = {}
        self.simulators = set()
        self.stopping = False

    def address(self):
        return f"127.0.0.1:{self.server.getsockname()[1]}:{self.token}"

    def on_accept(self, _mask):
        try:
            sock, _ = self.server.accept()
        except (BlockingIOError, InterruptedError):
            return
        # A device's byte must go at once, not wait for the last one's ack.
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        sock.settimeout(GREETING_S)
        try:
            line = b""
            while not line.endswith(b"\n") and len(line) < 65536:
                chunk = sock.recv(1)
                if not chunk:
                    break
                line += chunk
            self.serve(sock, line.decode("utf-8", "replace").rstrip("\r\n"))
        except Exception as e:  # one client's fault must not end the others
            try:
                sock.sendall(f"ERROR {e}\n".encode())
            except OSError:
                pass
            sock.close()

    def serve(self, sock, line):
        words = line.split(" ", 2)
        if len(words) < 2 or not secrets.compare_digest(words[0], self.token):
            raise RuntimeError("refused")
        command, rest = words[1], words[2] if len(words) > 2 else ""
        if command == "PTY":
            master, slave = os.openpty()
            # The device end starts raw; the port under test sets the rest.
            tty.setraw(slave)
            os.set_blocking(master, False)
            name = self.devices.add(os.ttyname(slave))
            self.terminals[name] = master
            sock.sendall(f"{name}\n".encode())
            sock.setblocking(False)
            Relay(self, sock, master, slave, name)
        elif command == "SIM":
            parts = rest.split("\t")
            program = os.path.realpath(os.path.join(self.bin_dir, os.path.basename(parts[0])))
            if os.path.dirname(program) != self.bin_dir or not os.access(program, os.X_OK):
                raise RuntimeError(f"no simulator {parts[0]} in {self.bin_dir}")
            args = [unix_path(self.prefix, a) for a in parts[1:]]
            sock.settimeout(None)
            self.simulators.add(Simulator(self, sock, program, args))
        elif command == "ATTR":
            master = self.terminals.get(rest.strip().upper())
            if master is None:
                raise RuntimeError(f"no terminal {rest}")
            sock.sendall(f"{line_settings(master)}\n".encode())
            sock.close()
        elif command in ("PLUG", "UNPLUG"):
            name = rest.strip().upper()
            ok = self.devices.plug(name) if command == "PLUG" else self.devices.unplug(name)
            if not ok:
                raise RuntimeError(f"no terminal {rest}")
            sock.sendall(b"OK\n")
            sock.close()
        else:
            raise RuntimeError(f"unknown command {command}")

    def run(self, command):
        env = dict(os.environ, VT_COM_BRIDGE=self.address())
        child = subprocess.Popen(command, env=env)
        reaper = threading.Thread(target=child.wait, daemon=True)
        reaper.start()
        while reaper.is_alive():
            for key, mask in self.sel.select(timeout=0.2):
                key.data(mask)
        self.shutdown()
        return child.returncode

    def shutdown(self):
        for sim in list(self.simulators):
            sim.stop()
            sim.close()
        for key in list(self.sel.get_map().values()):
            owner = getattr(key.data, "__self__", None)
            if isinstance(owner, Relay):
                owner.close()
        self.devices.remove_all()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bin", required=True, help="folder of the Linux simulators")
    parser.add_argument("command", nargs=argparse.REMAINDER)
    opts = parser.parse_args()
    command = opts.command[1:] if opts.command[:1] == ["--"] else opts.command
    prefix = os.environ.get("WINEPREFIX")
    if not command or not prefix or not os.path.isdir(os.path.join(prefix, "dosdevices")):
        log("needs WINEPREFIX with its dosdevices and a command to run")
        return 2
    bridge = Bridge(prefix, opts.bin)
    # ctest ends a test that ran out of time with SIGTERM: the links go too.
    signal.signal(signal.SIGTERM, lambda *_: (bridge.shutdown(), os._exit(124)))
    return bridge.run(command)


if __name__ == "__main__":
    sys.exit(main())
