"""Where a backtrace of the launcher can reach, from the unwind tables of the
libraries that it loads.

glibc's backtrace() unwinds by tables. On x86 every object carries them
(.eh_frame). On ARM they are the .ARM.exidx index, which the compiler only
writes for code built with exceptions or -funwind-tables; the unwinder stops
at the first frame whose code has no entry, or an entry that says it cannot
be unwound. The armhf packages of the distribution build QtGui and
QtWidgets without them, and most of the C library too (abort() among them),
so on ARM a backtrace ends earlier than natively. These helpers read the
tables of the libraries that the launcher really loads, so the crash tests
expect what the platform does.
"""

import struct
import subprocess

from bundles_rcc import Elf

EM_ARM = 40
EXIDX_CANTUNWIND = 1


def loaded_libraries(launcher):
    """Maps the file name of each shared library that the launcher loads to
    its path, as the platform's dynamic loader resolves it: the launcher's
    own loader (its .interp) lists them, run through the launcher's command
    prefix, so under emulation it is the target's loader. (The environment
    variable of ldd would reach the emulator's own loader instead.)"""
    elf = _read_elf(launcher.path)
    interp = elf.section(".interp")
    loader = elf.data[interp["offset"] : interp["offset"] + interp["size"]].rstrip(b"\0")
    listing = subprocess.run(
        launcher.prefix + [launcher.host_path(loader.decode()), "--list", launcher.path],
        env=launcher.environment({}),
        stdin=subprocess.DEVNULL,
        capture_output=True,
        timeout=60,
        check=True,
    ).stdout.decode("utf-8", "replace")
    libraries = {}
    for line in listing.splitlines():
        # "\tlibQt5Core.so.5 => /usr/lib/.../libQt5Core.so.5 (0x...)"
        name, arrow, rest = line.strip().partition(" => ")
        if arrow and rest.startswith("/"):
            libraries[name] = launcher.host_path(rest.rsplit(" (", 1)[0])
    return libraries


def _read_elf(path):
    with open(path, "rb") as library:
        return Elf(library.read())


def _machine(elf):
    return struct.unpack_from(elf.order + "H", elf.data, 18)[0]


def _exidx_entries(elf):
    """(start address, entry word) of every .ARM.exidx entry, by address."""
    section = elf.section(".ARM.exidx")
    if section is None:
        return []
    entries = []
    for at in range(0, section["size"], 8):
        word, value = struct.unpack_from(elf.order + "II", elf.data, section["offset"] + at)
        offset = word & 0x7FFFFFFF
        if offset & 0x40000000:  # prel31, sign-extended
            offset -= 0x80000000
        entries.append(((section["address"] + at + offset) & 0xFFFFFFFF, value))
    return sorted(entries)


def unwinds_through(path, symbol):
    """True if the unwinder can step out of the function symbol of the
    library at path: always off ARM; on ARM iff the index entry that covers
    the function's address exists and is not 'cannot unwind'."""
    elf = _read_elf(path)
    if _machine(elf) != EM_ARM:
        return True
    addresses = [v for n, v, _, kind in elf.symbols(".dynsym") if n == symbol and kind == 2]
    if not addresses:
        raise LookupError(f"{symbol} is not a function of {path}")
    address = addresses[0] & ~1  # Thumb functions have bit 0 set
    covering = [value for start, value in _exidx_entries(elf) if start <= address]
    return bool(covering) and covering[-1] != EXIDX_CANTUNWIND


def has_unwind_tables(path):
    """True if the library at path carries unwind tables for its code."""
    elf = _read_elf(path)
    if _machine(elf) != EM_ARM:
        return True
    return bool(_exidx_entries(elf))
