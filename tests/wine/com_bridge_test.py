#!/usr/bin/env python3
"""The serial port bridge on its own, without Wine: a prefix of folders, the
bridge running this file again as its "test program", which speaks to it
over the loopback port as a Windows test would."""

import os
import socket
import stat
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import com_bridge  # noqa: E402


def make_prefix(root):
    prefix = os.path.join(root, "prefix")
    os.makedirs(os.path.join(prefix, "dosdevices"))
    os.makedirs(os.path.join(prefix, "drive_c", "users"))
    os.symlink("../drive_c", os.path.join(prefix, "dosdevices", "c:"))
    os.symlink("/", os.path.join(prefix, "dosdevices", "z:"))
    return prefix


def ask(line, keep=False):
    host, port, token = os.environ["VT_COM_BRIDGE"].split(":")
    sock = socket.create_connection((host, int(port)), timeout=5)
    sock.sendall(f"{token} {line}\n".encode())
    answer = b""
    while not answer.endswith(b"\n"):
        chunk = sock.recv(1)
        if not chunk:
            break
        answer += chunk
    return (answer.decode().strip(), sock) if keep else answer.decode().strip()


def client():
    """Run by the bridge: every check here fails the program, and so the test."""
    prefix = os.environ["WINEPREFIX"]
    host, port, token = os.environ["VT_COM_BRIDGE"].split(":")
    bad = socket.create_connection((host, int(port)), timeout=5)
    bad.sendall(b"wrong PTY\n")
    assert bad.recv(100).startswith(b"ERROR refused"), "a wrong token is refused"

    name, sock = ask("PTY", keep=True)
    link = os.path.join(prefix, "dosdevices", name.lower())
    assert name.startswith("COM") and stat.S_ISCHR(os.stat(link).st_mode), name
    device = os.open(link, os.O_RDWR | os.O_NOCTTY)
    sock.sendall(bytes(range(256)))
    got = b""
    while len(got) < 256:
        got += os.read(device, 256)
    assert got == bytes(range(256)), "the test's bytes reach the port unchanged"
    assert ask(f"WRITTEN {name}") == "256"
    os.write(device, b"\x06\x11\x13")
    reply = b""
    while len(reply) < 3:
        reply += sock.recv(3)
    assert reply == b"\x06\x11\x13", "the port's bytes reach the test unchanged"
    assert ask(f"ATTR {name}").startswith("bits=8 ")

    assert ask(f"UNPLUG {name}") == "OK" and not os.path.lexists(link)
    assert ask(f"PLUG {name}") == "OK" and os.path.exists(link)
    assert ask("PLUG COM9").startswith("ERROR"), "only its own ports"
    assert ask("SIM /bin/sh\t-c\ttrue").startswith("ERROR"), "nothing outside its folder"
    sock.close()
    os.close(device)
    return 0


class BridgeTest(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.TemporaryDirectory()
        self.prefix = make_prefix(self.root.name)

    def tearDown(self):
        self.root.cleanup()

    def test_windows_paths_become_the_linux_paths_behind_them(self):
        drive_c = os.path.realpath(os.path.join(self.prefix, "drive_c"))
        self.assertEqual(com_bridge.unix_path(self.prefix, "C:/users/x/sim.log"),
                         os.path.join(drive_c, "users/x/sim.log"))
        self.assertEqual(com_bridge.unix_path(self.prefix, "z:\\tmp\\a b"), "/tmp/a b")
        for kept in ("--log", "/dev/pts/3", "C:", "1:\\x", ""):
            self.assertEqual(com_bridge.unix_path(self.prefix, kept), kept)

    def test_bridges_of_one_prefix_never_share_a_number(self):
        a, b = com_bridge.Devices(self.prefix), com_bridge.Devices(self.prefix)
        first = a.add("/dev/null")
        self.assertTrue(a.unplug(first))
        second = b.add("/dev/zero")
        self.assertNotEqual(first, second, "an unplugged port keeps its number")
        self.assertTrue(a.plug(first))
        self.assertEqual(os.readlink(a.path(first)), "/dev/null")
        b.remove_all()
        self.assertTrue(os.path.lexists(a.path(first)))
        a.remove_all()
        self.assertFalse(os.path.lexists(a.path(first)))
        self.assertEqual(com_bridge.Devices(self.prefix).add("/dev/null"), first, "released")

    def test_a_test_program_gets_its_port_and_nothing_else(self):
        os.environ["WINEPREFIX"] = self.prefix
        bridge = com_bridge.Bridge(self.prefix, self.root.name)
        status = bridge.run([sys.executable, os.path.abspath(__file__), "--client"])
        self.assertEqual(status, 0)
        self.assertEqual(sorted(os.listdir(os.path.join(self.prefix, "dosdevices"))), ["c:", "z:"],
                         "its links go with it")


if __name__ == "__main__":
    if sys.argv[1:] == ["--client"]:
        sys.exit(client())
    unittest.main()
