#!/usr/bin/env python3
"""Gives a Windows test under Wine serial ports whose far end is on Linux.

Runs COMMAND (the Wine command line of one test program) and serves it on a
loopback port that it names in VT_COM_BRIDGE=127.0.0.1:PORT:TOKEN. A test can
ask for

  TOKEN PTY              a pseudo-terminal; answered "COMn", then the
                         connection carries the device's bytes both ways, and
                         its end hangs the terminal up
  TOKEN SIM PROGRAM ARG  (tab-separated) a *-sim program from --bin on a terminal
                         of its own; answered "COMn", then "STOP" ends it and
                         each end of it is told as "EXIT status"
  TOKEN ATTR COMn        the terminal's line settings as the port left them
  TOKEN WRITTEN COMn     how many of the client's bytes reached the terminal
  TOKEN UNPLUG COMn      the name gone from Wine's devices, or back again
  TOKEN PLUG COMn

Each COMn is a link in $WINEPREFIX/dosdevices, which Wine follows at every
open; a number is held in $WINEPREFIX/vt-com-bridge/ while a bridge uses it,
so the tests that share a prefix never take each other's. The links,
terminals and simulators go with the bridge. Windows paths
among a simulator's arguments are handed over as the Linux paths behind them.
"""

import argparse
import functools
import os
import secrets
import select
import selectors
import signal
import socket
import subprocess
import sys
import termios
import threading
import time
import tty

FIRST_NUMBER = 10
LAST_NUMBER = 250
# A client that names no command within this time is dropped.
GREETING_S = 5.0
# A simulator names its terminal within this time or is ended.
START_S = 10.0


def log(text):
    print(f"com_bridge: {text}", file=sys.stderr, flush=True)


class Devices:
    """The COMn links this bridge made in the prefix."""

    def __init__(self, prefix):
        self.folder = os.path.join(prefix, "dosdevices")
        self.held = os.path.join(prefix, "vt-com-bridge")
        os.makedirs(self.held, exist_ok=True)
        self.targets = {}
        self.lock = threading.Lock()

    def add(self, target):
        with self.lock:
            for n in range(FIRST_NUMBER, LAST_NUMBER + 1):
                name = f"COM{n}"
                if name in self.targets or not self.hold(name):
                    continue
                try:
                    os.symlink(target, self.path(name))
                except FileExistsError:
                    # Made by somebody who does not hold numbers, such as a
                    # test that maps its port before Wine starts.
                    self.release(name)
                    continue
                self.targets[name] = target
                return name
        raise RuntimeError("no free COM number")

    def hold(self, name):
        try:
            os.close(os.open(os.path.join(self.held, name), os.O_CREAT | os.O_EXCL | os.O_WRONLY))
            return True
        except FileExistsError:
            return False

    def release(self, name):
        try:
            os.unlink(os.path.join(self.held, name))
        except FileNotFoundError:
            pass

    def path(self, name):
        return os.path.join(self.folder, name.lower())

    def ours(self, name):
        try:
            return os.readlink(self.path(name)) == self.targets[name]
        except OSError:
            return False

    def unplug(self, name):
        with self.lock:
            if name not in self.targets:
                return False
            if self.ours(name):
                os.unlink(self.path(name))
            return True

    def plug(self, name):
        with self.lock:
            if name not in self.targets:
                return False
            try:
                os.symlink(self.targets[name], self.path(name))
            except FileExistsError:
                return self.ours(name)
            return True

    def remove(self, name):
        self.unplug(name)
        with self.lock:
            if self.targets.pop(name, None) is not None:
                self.release(name)

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
    non-blocking, holding for each end what it cannot take yet."""

    def __init__(self, bridge, sock, master, slave, name):
        self.bridge, self.sock, self.master, self.slave, self.name = bridge, sock, master, slave, name
        self.read = {sock: lambda: sock.recv(65536), master: lambda: os.read(master, 65536)}
        self.write = {sock: sock.send, master: lambda data: os.write(master, data)}
        self.pending = {sock: bytearray(), master: bytearray()}
        self.callback = {end: functools.partial(self.on_ready, end) for end in (sock, master)}
        self.written = 0
        self.closed = False
        bridge.terminals[name] = self
        for end, callback in self.callback.items():
            bridge.sel.register(end, selectors.EVENT_READ, callback)

    def on_ready(self, end, mask):
        if mask & selectors.EVENT_READ:
            try:
                data = self.read[end]()
            except (BlockingIOError, InterruptedError):
                data = None
            except OSError:
                data = b""
            if data == b"":
                # What the client sent last still goes to the device.
                self.flush(self.master)
                self.close()
                return
            if data:
                other = self.master if end is self.sock else self.sock
                self.pending[other] += data
                self.flush(other)
        if mask & selectors.EVENT_WRITE:
            self.flush(end)

    def flush(self, end):
        pending = self.pending[end]
        while pending and not self.closed:
            try:
                n = self.write[end](pending)
            except (BlockingIOError, InterruptedError):
                break
            except OSError:
                self.close()
                return
            del pending[:n]
            if end is self.master:
                self.written += n
        if not self.closed:
            events = selectors.EVENT_READ | (selectors.EVENT_WRITE if pending else 0)
            self.bridge.sel.modify(end, events, self.callback[end])

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
        self.closed = False
        self.proc = subprocess.Popen([program] + args, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.PIPE, start_new_session=True)
        bridge.simulators.add(self)
        try:
            first = self.first_line(START_S)
            if not first.startswith("/dev/"):
                raise RuntimeError(f"{os.path.basename(program)} named no terminal")
            # A simulator that keeps a link to its terminal comes back under it.
            target = first
            if "--link" in args[:-1]:
                target = args[args.index("--link") + 1]
            self.name = bridge.devices.add(target)
            sock.sendall(f"{self.name}\n".encode())
        except BaseException:
            self.close(wait=True)
            raise
        # What it prints later is not for anybody; a full pipe would stop it.
        threading.Thread(target=self.proc.stdout.read, daemon=True).start()
        threading.Thread(target=self.watch_end, daemon=True).start()
        bridge.sel.register(sock, selectors.EVENT_READ, self.on_sock)

    def first_line(self, seconds):
        fd = self.proc.stdout.fileno()
        line = b""
        deadline = time.monotonic() + seconds
        while not line.endswith(b"\n"):
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([fd], [], [], left)[0]:
                break
            chunk = os.read(fd, 1)
            if not chunk:
                break
            line += chunk
        return line.decode("utf-8", "replace").strip()

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
        if data:
            # "STOP": its end is told as "EXIT" when it comes.
            threading.Thread(target=self.stop, daemon=True).start()
        else:
            self.close(wait=False)

    def stop(self):
        if self.proc.poll() is not None:
            return
        try:
            os.killpg(self.proc.pid, signal.SIGTERM)
            self.proc.wait(3)
        except ProcessLookupError:
            pass
        except subprocess.TimeoutExpired:
            try:
                os.killpg(self.proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            self.proc.wait()

    def close(self, wait):
        if self.closed:
            return
        self.closed = True
        try:
            self.bridge.sel.unregister(self.sock)
        except (KeyError, ValueError):
            pass
        if wait:
            self.stop()
        else:
            threading.Thread(target=self.stop, daemon=True).start()
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
        try:
            self.serve(sock, self.greeting(sock))
        except Exception as e:  # one client's fault must not end the others
            try:
                sock.sendall(f"ERROR {e}\n".encode())
            except OSError:
                pass
            sock.close()

    @staticmethod
    def greeting(sock):
        line = b""
        deadline = time.monotonic() + GREETING_S
        while not line.endswith(b"\n") and len(line) < 65536:
            left = deadline - time.monotonic()
            if left <= 0:
                raise RuntimeError("no command")
            sock.settimeout(left)
            chunk = sock.recv(1)
            if not chunk:
                break
            line += chunk
        return line.decode("utf-8", "replace").rstrip("\r\n")

    def serve(self, sock, line):
        words = line.split(" ", 2)
        if len(words) < 2 or not secrets.compare_digest(words[0], self.token):
            raise RuntimeError("refused")
        command, rest = words[1], words[2] if len(words) > 2 else ""
        if command == "PTY":
            master, slave = os.openpty()
            try:
                # The device end starts raw; the port under test sets the rest.
                tty.setraw(slave)
                os.set_blocking(master, False)
                name = self.devices.add(os.ttyname(slave))
            except BaseException:
                os.close(master)
                os.close(slave)
                raise
            try:
                sock.sendall(f"{name}\n".encode())
            except BaseException:
                os.close(master)
                os.close(slave)
                self.devices.remove(name)
                raise
            sock.setblocking(False)
            Relay(self, sock, master, slave, name)
        elif command == "SIM":
            parts = rest.split("\t")
            program = os.path.realpath(os.path.join(self.bin_dir, os.path.basename(parts[0])))
            if (os.path.dirname(program) != self.bin_dir or not program.endswith("-sim") or
                    not os.access(program, os.X_OK)):
                raise RuntimeError(f"no simulator {parts[0]} in {self.bin_dir}")
            args = [unix_path(self.prefix, a) for a in parts[1:]]
            sock.settimeout(None)
            Simulator(self, sock, program, args)
        elif command in ("ATTR", "WRITTEN"):
            relay = self.terminals.get(rest.strip().upper())
            if relay is None:
                raise RuntimeError(f"no terminal {rest}")
            answer = line_settings(relay.master) if command == "ATTR" else str(relay.written)
            sock.sendall(f"{answer}\n".encode())
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
        try:
            while child.poll() is None and not self.stopping:
                for key, mask in self.sel.select(timeout=0.1):
                    try:
                        key.data(mask)
                    except Exception as e:  # a broken client, not a broken bridge
                        log(f"{type(e).__name__}: {e}")
        finally:
            if child.poll() is None:
                child.terminate()
                try:
                    child.wait(5)
                except subprocess.TimeoutExpired:
                    child.kill()
                    child.wait()
            self.shutdown()
        return 124 if self.stopping else child.returncode

    def shutdown(self):
        for sim in list(self.simulators):
            sim.close(wait=True)
        for relay in list(self.terminals.values()):
            relay.close()
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

    # Asked to end (ctest's SIGKILL gives no chance; a person's Ctrl+C or a
    # TERM does): the loop ends the program, its simulators and its links.
    def stop(*_):
        bridge.stopping = True

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    return bridge.run(command)


if __name__ == "__main__":
    sys.exit(main())
