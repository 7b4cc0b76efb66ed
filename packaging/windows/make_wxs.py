#!/usr/bin/env python3
"""Writes the WiX source of one brand's Windows Installer package.

The package installs the brand's portable folder (every file below it, as
scripts/build-windows laid it out) into C:\\Program Files\\<Program>\\ for all
users, with a Start menu entry that starts the program in the user's own
folder, and an entry in "Apps & Features". The version is left to wixl
(-D Version=...), so the same source builds an older package for a test.

    make_wxs.py --program P --name N --source DIR --icon ICO --out WXS

Beside WXS it writes the licence text the package installs as Lizenz.txt,
from the Debian packages' copyright file.
"""

import argparse
import hashlib
import os
import re
import uuid
from pathlib import Path
from xml.sax.saxutils import quoteattr

# What the user reads about the program: the same words as the Linux menu entry.
DESCRIPTION = "Überträgt die Daten des Barcode-Scanners in Bestellformulare, CSV- und UGS-Dateien"
DOWNGRADE = ("Eine neuere Version von [ProductName] ist bereits installiert. "
             "Die Installation wird abgebrochen.")


def placeholders(packaging: Path) -> dict:
    """The Debian packages' maintainer and copyright, from their one source."""
    text = (packaging / "CMakeLists.txt").read_text(encoding="utf-8")
    found = {}
    for name in ("VT_DEVELOPER", "VT_MAINTAINER", "VT_COPYRIGHT"):
        match = re.search(r'set\(%s "([^"]*)"\)' % name, text)
        if not match:
            raise SystemExit(f"make_wxs: {name} not found in {packaging}/CMakeLists.txt")
        found[name] = match.group(1)
    return found


def upgrade_code(program: str) -> str:
    # Fixed for each brand for good: every version of it must carry the same
    # one, or an upgrade would install beside the old version.
    return str(uuid.uuid5(uuid.NAMESPACE_DNS, f"{program.lower()}.msi.vantortrans.de")).upper()


def ident(prefix: str, relative: str) -> str:
    # MSI identifiers allow letters, digits, dots and underscores only.
    return prefix + hashlib.sha1(relative.encode("utf-8")).hexdigest()[:24]


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--name", required=True, help="the brand's name as the menu shows it")
    parser.add_argument("--source", required=True, type=Path)
    parser.add_argument("--icon", required=True, type=Path)
    parser.add_argument("--out", required=True, type=Path)
    args = parser.parse_args()

    packaging = Path(__file__).resolve().parent.parent
    values = placeholders(packaging)
    contact = re.search(r"<([^>]+)>", values["VT_MAINTAINER"])
    args.out.parent.mkdir(parents=True, exist_ok=True)
    base = args.out.resolve().parent

    def src(path: Path) -> str:
        # wixl takes no absolute source paths: relative to the WiX source,
        # from whose folder it runs.
        return quoteattr(os.path.relpath(path.resolve(), base).replace(os.sep, "/"))

    licence = base / f"{args.program}-Lizenz.txt"
    text = (packaging / "copyright.in").read_text(encoding="utf-8")
    text = text.replace("@VT_DISPLAY_NAME@", args.name).replace("@VT_COPYRIGHT@", values["VT_COPYRIGHT"])
    # Notepad of older Windows versions shows a file without CR as one line.
    licence.write_bytes(text.replace("\n", "\r\n").encode("utf-8-sig"))
    source = args.source.resolve()
    files = sorted(p for p in source.rglob("*") if p.is_file())
    exe = source / f"{args.program}.exe"
    if exe not in files:
        raise SystemExit(f"make_wxs: {exe} is missing")

    out = []
    w = out.append
    w('<?xml version="1.0" encoding="utf-8"?>')
    w('<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">')
    w(f'  <Product Id="*" Name={quoteattr(args.name)} Language="1031" Codepage="1252"'
      f' Version="$(var.Version)" Manufacturer={quoteattr(values["VT_DEVELOPER"])}'
      f' UpgradeCode="{upgrade_code(args.program)}">')
    w(f'    <Package InstallerVersion="500" Compressed="yes" InstallScope="perMachine"'
      f' Languages="1031" SummaryCodepage="1252" Description={quoteattr(args.name)}'
      f' Comments={quoteattr(DESCRIPTION)} Manufacturer={quoteattr(values["VT_DEVELOPER"])}/>')
    w('    <Media Id="1" Cabinet="program.cab" EmbedCab="yes"/>')
    # The old version goes before the new one is installed; the user's own
    # folder under %APPDATA% is no part of either.
    w(f'    <MajorUpgrade DowngradeErrorMessage={quoteattr(DOWNGRADE)}/>')
    w(f'    <Icon Id="program.ico" SourceFile={src(args.icon)}/>')
    w('    <Property Id="ARPPRODUCTICON" Value="program.ico"/>')
    w(f'    <Property Id="ARPCOMMENTS" Value={quoteattr(DESCRIPTION)}/>')
    if contact:
        w(f'    <Property Id="ARPCONTACT" Value={quoteattr(contact.group(1))}/>')
    w('    <Property Id="ARPNOMODIFY" Value="1"/>')
    w('    <Directory Id="TARGETDIR" Name="SourceDir">')
    w('      <Directory Id="ProgramFiles64Folder">')
    w(f'        <Directory Id="INSTALLDIR" Name={quoteattr(args.program)}>')

    components = []

    def add_files(folder: Path, depth: int) -> None:
        pad = "  " * depth
        entries = [folder / "Lizenz.txt"] if folder == source else []
        entries += [p for p in files if p.parent == folder]
        for path in entries:
            relative = "Lizenz.txt" if path == folder / "Lizenz.txt" else path.relative_to(source).as_posix()
            real = licence if relative == "Lizenz.txt" else path
            cid = ident("c", relative)
            components.append(cid)
            w(f'{pad}<Component Id="{cid}" Guid="*" Win64="yes">')
            w(f'{pad}  <File Id="{ident("f", relative)}" Name={quoteattr(path.name)}'
              f' Source={src(real)} KeyPath="yes"/>')
            w(f'{pad}</Component>')
        for sub in sorted({p.parent for p in files if p.parent.parent == folder}):
            w(f'{pad}<Directory Id="{ident("d", sub.relative_to(source).as_posix())}"'
              f' Name={quoteattr(sub.name)}>')
            add_files(sub, depth + 1)
            w(f'{pad}</Directory>')

    add_files(source, 5)
    # Hook for the browser channel on Windows: the folder carries
    # vantortrans-host.exe and its manifests, which are installed with it;
    # their registration for all users
    # (HKLM\Software\{Google\Chrome,Microsoft\Edge,Chromium,Mozilla}\
    # NativeMessagingHosts\de.vantortrans.host) goes here, in a component
    # shared by the three brands' packages so that removing one brand keeps it
    # for the others. Until then each user registers it with --register.
    w('        </Directory>')
    w('      </Directory>')
    w('      <Directory Id="ProgramMenuFolder">')
    w('        <Component Id="menu" Guid="*" Win64="yes">')
    w(f'          <Shortcut Id="menu" Name={quoteattr(args.name)} Description={quoteattr(DESCRIPTION)}'
      f' Target="[INSTALLDIR]{args.program}.exe" Arguments="--user-folder"'
      f' WorkingDirectory="INSTALLDIR" Icon="program.ico"/>')
    # A shortcut cannot be a component's key; the value marks the entry as
    # installed and goes with it.
    w(f'          <RegistryValue Root="HKLM" Key="Software\\{args.program}" Name="StartMenu"'
      f' Type="integer" Value="1" KeyPath="yes"/>')
    w('        </Component>')
    w('      </Directory>')
    w('    </Directory>')
    w('    <Feature Id="Program" Level="1">')
    for cid in components + ["menu"]:
        w(f'      <ComponentRef Id="{cid}"/>')
    w('    </Feature>')
    w('  </Product>')
    w('</Wix>')

    args.out.write_text("\n".join(out) + "\n", encoding="utf-8")


if __name__ == "__main__":
    main()
