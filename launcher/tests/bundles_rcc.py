"""Reads the resource bundles that rcc compiled into an ELF executable.

The executable must keep its symbol table (not stripped): each bundle's tree,
name and data tables are found there as the local objects qt_resource_struct,
qt_resource_name and qt_resource_data, after the file symbol of the bundle's
source "qrc_<bundle>.cpp".
"""

import struct

# Entry flags of the tree table.
COMPRESSED = 0x01
DIRECTORY = 0x02
COMPRESSED_ZSTD = 0x04

# A tree node of format version 1: name offset, flags, then either the child
# count and the first child's index, or country, language and data offset.
NODE_SIZE_V1 = 14

QT_LOCALE_C = 1
QT_ANY_COUNTRY = 0

_TABLES = ("qt_resource_struct", "qt_resource_name", "qt_resource_data")


class FormatError(Exception):
    pass


class Elf:
    """Sections and symbols of an ELF file held in memory."""

    def __init__(self, data):
        if data[:4] != b"\x7fELF":
            raise FormatError("not an ELF file")
        self.data = data
        self.wide = data[4] == 2
        self.order = "<" if data[5] == 1 else ">"
        if self.wide:
            fields = struct.unpack_from(self.order + "QQIHHHHHH", data, 0x20)
        else:
            fields = struct.unpack_from(self.order + "IIIHHHHHH", data, 0x1C)
        section_offset, entry_size, count, names_index = fields[1], fields[6], fields[7], fields[8]
        self.sections = []
        for i in range(count):
            at = section_offset + i * entry_size
            if self.wide:
                name, kind, _, address, offset, size, link, _, _, entsize = struct.unpack_from(
                    self.order + "IIQQQQIIQQ", data, at)
            else:
                name, kind, _, address, offset, size, link, _, _, entsize = struct.unpack_from(
                    self.order + "IIIIIIIIII", data, at)
            self.sections.append(dict(name=name, kind=kind, address=address, offset=offset,
                                      size=size, link=link, entsize=entsize))
        strings = self.sections[names_index]
        for section in self.sections:
            section["name"] = self._string(strings, section["name"])

    def _string(self, table, offset):
        start = table["offset"] + offset
        return self.data[start:self.data.index(b"\0", start)].decode("utf-8", "replace")

    def section(self, name):
        return next((s for s in self.sections if s["name"] == name), None)

    def symbols(self, table=".symtab"):
        """(name, value, size, type) of every symbol, in table order."""
        section = self.section(table)
        if section is None:
            return []
        strings = self.sections[section["link"]]
        out = []
        for at in range(section["offset"], section["offset"] + section["size"], section["entsize"]):
            if self.wide:
                name, info, _, _, value, size = struct.unpack_from(self.order + "IBBHQQ", self.data, at)
            else:
                name, value, size, info, _, _ = struct.unpack_from(self.order + "IIIBBH", self.data, at)
            out.append((self._string(strings, name), value, size, info & 0xF))
        return out

    def read(self, address, size):
        """Bytes at a virtual address, from the section that holds them in the file."""
        for s in self.sections:
            if s["kind"] != 8 and s["address"] and s["address"] <= address < s["address"] + s["size"]:
                start = s["offset"] + address - s["address"]
                return self.data[start:start + size]
        raise FormatError("address %#x lies in no section of the file" % address)

    def pointers(self, name):
        """The addresses in a pointer array section such as .init_array."""
        section = self.section(name)
        if section is None:
            return []
        width = 8 if self.wide else 4
        raw = self.data[section["offset"]:section["offset"] + section["size"]]
        values = list(struct.unpack(self.order + ("Q" if self.wide else "I") * (len(raw) // width), raw))
        # With RELA relocations the addend, not the section, may hold the address.
        for rela in (s for s in self.sections if s["kind"] == 4):
            for at in range(rela["offset"], rela["offset"] + rela["size"], rela["entsize"]):
                if self.wide:
                    where, _, addend = struct.unpack_from(self.order + "QQq", self.data, at)
                else:
                    where, _, addend = struct.unpack_from(self.order + "IIi", self.data, at)
                index = (where - section["address"]) // width
                if 0 <= where - section["address"] < section["size"] and values[index] == 0:
                    values[index] = addend
        return values


class Entry:
    def __init__(self, path, flags, country, language, stored):
        self.path = path
        self.flags = flags
        self.country = country
        self.language = language
        self.stored = stored  # the bytes of the data table, as stored


def _u16(data, at):
    return struct.unpack_from(">H", data, at)[0]


def _u32(data, at):
    return struct.unpack_from(">I", data, at)[0]


def bundle_tables(elf):
    """{bundle name: (tree, names, data)} from the symbol table."""
    symbols = elf.symbols()
    if not symbols:
        raise FormatError("the executable has no symbol table (stripped?)")
    tables, source = {}, None
    for name, value, size, kind in symbols:
        if kind == 4:  # STT_FILE
            source = name[len("qrc_"):-len(".cpp")] if name.startswith("qrc_") and name.endswith(".cpp") else None
            continue
        if source is None or kind != 1:  # STT_OBJECT
            continue
        for table in _TABLES:
            if name == table or name.endswith("%d%s" % (len(table), table)):
                tables.setdefault(source, {})[table] = elf.read(value, size)
    for source, found in tables.items():
        if len(found) != 3:
            raise FormatError("bundle %s lacks %s" % (source, set(_TABLES) - set(found)))
    return {source: tuple(found[t] for t in _TABLES) for source, found in tables.items()}


def entries(tree, names, data):
    """Every file of one bundle, read as format version 1, and the number of nodes."""
    try:
        return _entries(tree, names, data)
    except (struct.error, UnicodeDecodeError) as error:
        raise FormatError("the tables do not read as format version 1: %s" % error) from None


def _entries(tree, names, data):
    def name_of(node):
        at = _u32(tree, node * NODE_SIZE_V1)
        length = _u16(names, at)
        return names[at + 6:at + 6 + 2 * length].decode("utf-16-be")

    files, visited = [], 1
    pending = [(0, "")]
    while pending:
        node, prefix = pending.pop()
        at = node * NODE_SIZE_V1
        flags = _u16(tree, at + 4)
        if not flags & DIRECTORY:
            raise FormatError("node %d under %r is not a directory" % (node, prefix))
        count, first = _u32(tree, at + 6), _u32(tree, at + 10)
        visited += count
        for child in range(first, first + count):
            path = prefix + name_of(child)
            at = child * NODE_SIZE_V1
            if at + NODE_SIZE_V1 > len(tree):
                raise FormatError("node %d lies past the tree table" % child)
            child_flags = _u16(tree, at + 4)
            if child_flags & DIRECTORY:
                pending.append((child, path + "/"))
                continue
            country, language, offset = _u16(tree, at + 6), _u16(tree, at + 8), _u32(tree, at + 10)
            size = _u32(data, offset)
            files.append(Entry(path, child_flags, country, language, data[offset + 4:offset + 4 + size]))
    return files, visited
