"""Regular-style blocks: every action, its failures and messages, several
patches per block, and how the first failure stops the run.

p.txt starts with the two header lines, so its first block opens on line 3.
"""

import struct

from e2e import patch_case

PROCESSING = "  processing ..."


def block(*lines):
    return "<patch>\n" + "".join(line + "\n" for line in lines) + "</patch>\n"


def regular(name, action, *lines):
    """A regular block that is enabled and names its action first."""
    return block("name=" + name, "enabled=true", "action=" + action, *lines)


def started(name, line=3):
    """What the run reports for an enabled regular block opening on line."""
    return ["%d: (regular patch) %s" % (line, name), PROCESSING]


def error(text):
    return "ERROR: " + text


def double(value):
    return struct.pack("<d", value)


CASES = [
    # ---- replace_string ----
    patch_case("replace_string: two escaped patches in one block",
               regular("greeting", "replace_string",
                       "position=2", "olddata=Hello", "newdata=Howdy",
                       "position=9", r"olddata=\x00\x01", r"newdata=\x02\x03"),
               b"..Hello..\x00\x01..", started("greeting"),
               target=b"..Howdy..\x02\x03.."),
    patch_case("replace_string: every escape decodes",
               regular("s", "replace_string", "position=0", "olddata=" + "x" * 12,
                       r"""newdata=\\\'\"\a\b\f\n\r\t\v\x7F\xfe"""),
               b"x" * 12 + b"!", started("s"),
               target=b"\\'\"\x07\x08\x0c\n\r\t\x0b\x7f\xfe!"),
    patch_case("replace_string: a shorter new text compares and writes only its own length",
               regular("s", "replace_string", "position=1", "olddata=bzz", "newdata=X"),
               b"abcdef", started("s"), target=b"aXcdef"),
    patch_case("replace_string: a longer new text writes beyond old's bytes unchecked",
               regular("s", "replace_string", "position=1", "olddata=bc", "newdata=WXYZ"),
               b"abcdef", started("s"), target=b"aWXYZf"),
    patch_case("replace_string: different bytes at the position do not match",
               regular("s", "replace_string", "position=1", "olddata=bX", "newdata=12"),
               b"abcdef", started("s") + [error("olddata starting with 01 does not match")]),
    patch_case("replace_string: a malformed escape in the new text",
               regular("s", "replace_string", "position=1", "olddata=bc", r"newdata=a\q"),
               b"abcdef",
               started("s") + [error("cannot unescape something in s (PatchData.position=01)")]),
    patch_case("replace_string: an old text ending in a backslash",
               regular("s", "replace_string", "position=1A", "olddata=b\\", "newdata=ab"),
               b"abcdef",
               started("s") + [error("cannot unescape something in s (PatchData.position=1A)")]),
    patch_case("replace_string: \\x with one digit left",
               regular("s", "replace_string", "position=1", "olddata=bc", r"newdata=a\x4"),
               b"abcdef",
               started("s") + [error("cannot unescape something in s (PatchData.position=01)")]),
    patch_case("replace_string: DONOTCHECK writes whatever is there, up to the last byte",
               regular("s", "replace_string", "position=2", "olddata=DONOTCHECK",
                       "newdata=ZZZZ"),
               b"abcdef", started("s"), target=b"abZZZZ"),
    patch_case("replace_string: an empty old text is a wrong value",
               regular("s", "replace_string", "position=1", "olddata=", "newdata=X"),
               b"abcdef", started("s") + ["ERROR(a): wrong value in s (position=01)"]),
    patch_case("replace_string: an empty new text is a wrong value",
               regular("s", "replace_string", "position=1", "olddata=b", "newdata="),
               b"abcdef", started("s") + ["ERROR(a): wrong value in s (position=01)"]),

    # ---- buffer end ----
    patch_case("range: a patch ending on the last byte is written",
               regular("e", "replace_bytes", "position=5", "olddata=66", "newdata=46"),
               b"abcdef", started("e"), target=b"abcdeF"),
    patch_case("range: one byte beyond the end fails without a message",
               regular("e", "replace_bytes", "position=5", "olddata=6667", "newdata=4647"),
               b"abcdef", started("e")),
    patch_case("range: a position at the end fails without a message",
               regular("e", "replace_string", "position=6", "olddata=DONOTCHECK", "newdata=x"),
               b"abcdef", started("e")),
    patch_case("range: the largest position plus a length does not wrap",
               regular("e", "replace_string", "position=7FFFFFFF", "olddata=DONOTCHECK",
                       "newdata=xy"),
               b"abcdef", started("e")),
    patch_case("range: an empty source has room for nothing",
               regular("e", "replace_string", "position=0", "olddata=DONOTCHECK", "newdata=x"),
               b"", started("e")),

    # ---- replace_xor_ ----
    patch_case("replace_xor_20: the shorter new text is padded with an unmasked zero",
               regular("x", "replace_xor_20", "position=2", "olddata=AB", "newdata=A"),
               b"--ab--", started("x"), target=b"--a\x00--"),
    patch_case("replace_xor_00 masks with 80",
               regular("x", "replace_xor_00", "position=1", "olddata=A", "newdata=B"),
               b"-\xc1-", started("x"), target=b"-\xc2-"),
    patch_case("replace_xor_5a: key digits in either case, escapes before masking",
               regular("x", "replace_xor_5a", "position=0", r"olddata=\x00", r"newdata=\x01"),
               b"\x5a", started("x"), target=b"\x5b"),
    patch_case("replace_xor_: a longer new text is masked whole",
               regular("x", "replace_xor_20", "position=0", "olddata=a", "newdata=bc"),
               b"A--", started("x"), target=b"BC-"),
    patch_case("replace_xor_zz: wrong key, the patch goes on unmasked",
               regular("x", "replace_xor_zz", "position=0", "olddata=AB", "newdata=CD"),
               b"AB", started("x") + [error("ERROR: wrong key value (replace_xor_zz) in x "
                                            "(position=00)")],
               target=b"CD"),
    patch_case("replace_xor_zz: wrong key and then a mismatch",
               regular("x", "replace_xor_zz", "position=0", "olddata=AB", "newdata=CD"),
               b"ab", started("x") + [
                   error("ERROR: wrong key value (replace_xor_zz) in x (position=00)"),
                   error("olddata starting with 00 does not match")]),
    patch_case("replace_xor_: DONOTCHECK is masked and compared",
               regular("x", "replace_xor_20", "position=0", "olddata=DONOTCHECK",
                       "newdata=0123456789"),
               b"DONOTCHECK", started("x") + [error("olddata starting with 00 does not match")]),
    patch_case("replace_xor_: a malformed escape",
               regular("x", "replace_xor_20", "position=0", r"olddata=\z", "newdata=a"),
               b"a", started("x") + [error("cannot unescape something in x "
                                           "(PatchData.position=00)")]),
    patch_case("replace_xor_1 (13 characters) is an unknown action",
               regular("x", "replace_xor_1", "position=0", "olddata=a", "newdata=b"),
               b"a", started("x") + [error('unknown action "replace_xor_1" in x')]),
    patch_case("replace_xor_123 (15 characters) is an unknown action",
               regular("x", "replace_xor_123", "position=0", "olddata=a", "newdata=b"),
               b"a", started("x") + [error('unknown action "replace_xor_123" in x')]),

    # ---- replace_utf8chars ----
    patch_case("replace_utf8chars: one character per 4-byte slot",
               regular("u", "replace_utf8chars", "position=1", "olddata=ab\xc3\xa9",
                       "newdata=A\xe2\x82\xac\xc3\xa9"),
               b"-a\0\0\0b\0\0\0\xc3\xa9\0\0-", started("u"),
               target=b"-A\0\0\0\xe2\x82\xac\0\xc3\xa9\0\0-"),
    patch_case("replace_utf8chars: a character above U+FFFF is a wrong value",
               regular("u", "replace_utf8chars", "position=0", "olddata=a",
                       "newdata=\xf0\x9f\x98\x80"),
               b"a\0\0\0", started("u") + ["ERROR(a): wrong value in u (position=00)"]),
    patch_case("replace_utf8chars: malformed UTF-8 is a wrong value",
               regular("u", "replace_utf8chars", "position=0", "olddata=\xc3", "newdata=b"),
               b"a\0\0\0", started("u") + ["ERROR(a): wrong value in u (position=00)"]),
    patch_case("replace_utf8chars: DONOTCHECK is slotted and compared",
               regular("u", "replace_utf8chars", "position=0", "olddata=DONOTCHECK",
                       "newdata=0123456789"),
               b"\0" * 40, started("u") + [error("olddata starting with 00 does not match")]),

    # ---- replace_float ----
    patch_case("replace_float: 8 bytes, decimal point or comma",
               regular("f", "replace_float", "position=4", "olddata=1,5", "newdata=-2",
                       "position=C", "olddata=1e2", "newdata=0.1"),
               b"head" + double(1.5) + double(100.0) + b"tail", started("f"),
               target=b"head" + double(-2.0) + double(0.1) + b"tail"),
    patch_case("replace_float: text that is no number is a wrong value",
               regular("f", "replace_float", "position=0", "olddata=1.5", "newdata=abc"),
               double(1.5), started("f") + ["ERROR(a): wrong value in f (position=00)"]),
    patch_case("replace_float: two separators are a wrong value",
               regular("f", "replace_float", "position=0", "olddata=1,000.5", "newdata=1"),
               double(1000.5), started("f") + ["ERROR(a): wrong value in f (position=00)"]),
    patch_case("replace_float: beyond the range of a double is a wrong value",
               regular("f", "replace_float", "position=0", "olddata=1.5", "newdata=1e400"),
               double(1.5), started("f") + ["ERROR(a): wrong value in f (position=00)"]),
    patch_case("replace_float: DONOTCHECK is no number",
               regular("f", "replace_float", "position=0", "olddata=DONOTCHECK", "newdata=1"),
               double(1.5), started("f") + ["ERROR(a): wrong value in f (position=00)"]),

    # ---- replace_int ----
    patch_case("replace_int: decimal and marked hexadecimal, zero is a byte",
               regular("i", "replace_int", "position=0", "olddata=200", "newdata=$10",
                       "position=1", "olddata=0", "newdata=0xFF"),
               b"\xc8\x00", started("i"), target=b"\x10\xff"),
    patch_case("replace_int: 256 is a wrong value",
               regular("i", "replace_int", "position=0", "olddata=200", "newdata=256"),
               b"\xc8", started("i") + ["ERROR(a): wrong value in i (position=00)"]),
    patch_case("replace_int: DONOTCHECK is no number",
               regular("i", "replace_int", "position=0", "olddata=DONOTCHECK", "newdata=1"),
               b"\xc8", started("i") + ["ERROR(a): wrong value in i (position=00)"]),

    # ---- replace_bytes ----
    patch_case("replace_bytes: blanks anywhere, digits in either case",
               regular("b", "replace_bytes", "position=1", "olddata=DE AD be ef",
                       "newdata=01020304"),
               b"-\xde\xad\xbe\xef-", started("b"), target=b"-\x01\x02\x03\x04-"),
    patch_case("replace_bytes: parts combined",
               regular("b", "replace_bytes", "position=0", "oldpart=DE AD", "oldpart=BE EF",
                       "newpart=01 02", "newpart=03 04", "combineparts"),
               b"\xde\xad\xbe\xef", started("b"), target=b"\x01\x02\x03\x04"),
    patch_case("replace_bytes: an odd count of digits is a wrong value",
               regular("b", "replace_bytes", "position=0", "olddata=DEA", "newdata=01"),
               b"\xde\xad", started("b") + ["ERROR(a): wrong value in b (position=00)"]),
    patch_case("replace_bytes: a 0x prefix is a wrong value",
               regular("b", "replace_bytes", "position=0", "olddata=DE", "newdata=0x12"),
               b"\xde", started("b") + ["ERROR(a): wrong value in b (position=00)"]),
    patch_case("replace_bytes: DONOTCHECK is a wrong value",
               regular("b", "replace_bytes", "position=0", "olddata=DONOTCHECK", "newdata=01"),
               b"\xde", started("b") + ["ERROR(a): wrong value in b (position=00)"]),

    # ---- replace_file ----
    patch_case("replace_file: the named file's bytes, old text compared as written",
               regular("f", "replace_file", "position=2", r"olddata=\x41", "newdata=new.bin"),
               b"--\\x41--", started("f"), target=b"--NEW\x00--",
               files={"new.bin": b"NEW\x00"}),
    patch_case("replace_file: a name in a subfolder, written with a backslash",
               regular("f", "replace_file", "position=0", "olddata=ab", "newdata=data\\new.bin"),
               b"abc", started("f"), target=b"XYc", files={"data/new.bin": b"XY"}),
    patch_case("replace_file: DONOTCHECK writes the file's bytes without comparing",
               regular("f", "replace_file", "position=1", "olddata=DONOTCHECK",
                       "newdata=new.bin"),
               b"abcdef", started("f"), target=b"aNEWef", files={"new.bin": b"NEW"}),
    patch_case("replace_file: a name that does not exist",
               regular("f", "replace_file", "position=1", "olddata=b", "newdata=missing.bin"),
               b"abc", started("f") + [error("ERROR:cannot find {dir}{sep}missing.bin in f "
                                             "(position=01)")]),
    patch_case("replace_file: a folder is no file",
               regular("f", "replace_file", "position=1", "olddata=b", "newdata=data"),
               b"abc", started("f") + [error("ERROR:cannot find {dir}{sep}data in f "
                                             "(position=01)")],
               files={"data": None}),
    patch_case("replace_file: an empty name names no file",
               regular("f", "replace_file", "position=1", "olddata=b", "newdata="),
               b"abc", started("f") + [error("ERROR:cannot find {dir}{sep} in f (position=01)")]),
    patch_case("replace_file: an empty file is a wrong value",
               regular("f", "replace_file", "position=1", "olddata=b", "newdata=empty.bin"),
               b"abc", started("f") + ["ERROR(a): wrong value in f (position=01)"],
               files={"empty.bin": b""}),
    patch_case("replace_file: an empty old text is a wrong value",
               regular("f", "replace_file", "position=1", "olddata=", "newdata=new.bin"),
               b"abc", started("f") + ["ERROR(a): wrong value in f (position=01)"],
               files={"new.bin": b"N"}),
    patch_case("replace_file: a file that runs past the end fails without a message",
               regular("f", "replace_file", "position=1", "olddata=DONOTCHECK",
                       "newdata=new.bin"),
               b"abc", started("f"), files={"new.bin": b"NEW"}),

    # ---- unknown actions ----
    patch_case("an unknown action",
               regular("bar", "replace_foo", "position=0", "olddata=a", "newdata=b"),
               b"a", started("bar") + [error('unknown action "replace_foo" in bar')]),
    patch_case("action names are compared in their letter case",
               regular("s", "Replace_String", "position=0", "olddata=a", "newdata=b"),
               b"a", started("s") + [error('unknown action "Replace_String" in s')]),
    patch_case("an action with a trailing blank is unknown",
               regular("s", "replace_string ", "position=0", "olddata=a", "newdata=b"),
               b"a", started("s") + [error('unknown action "replace_string " in s')]),

    # ---- the block and the run ----
    patch_case("a block that is not enabled is skipped and the run goes on",
               block("name=n", "enabled=True", "action=replace_foo", "position=0") +
               block("name=m", "enabled=yes") +
               regular("k", "replace_string", "position=0", "olddata=a", "newdata=A"),
               b"abc",
               ["3: (regular patch) n", "  skipped", "9: (regular patch) m", "  skipped"] +
               started("k", 13),
               target=b"Abc"),
    patch_case("a position with a prefix never completes the patch",
               regular("p", "replace_string", "position=0x1", "olddata=b", "newdata=B"),
               b"abc", started("p") + [error("There was some problem in p")]),
    patch_case("a complete set without an action",
               block("name=p", "enabled=true", "position=1", "olddata=b", "newdata=B"),
               b"abc", started("p") + [error("There was some problem in p")]),
    patch_case("a later block sees what an earlier one wrote",
               regular("one", "replace_string", "position=0", "olddata=abc", "newdata=xyz") +
               regular("two", "replace_string", "position=1", "olddata=yz", "newdata=YZ"),
               b"abc", started("one") + started("two", 11), target=b"xYZ"),
    patch_case("a failing second patch: the first patch's bytes are not saved",
               regular("s", "replace_string", "position=0", "olddata=a", "newdata=A",
                       "position=1", "olddata=X", "newdata=B"),
               b"abc", started("s") + [error("olddata starting with 01 does not match")]),
    patch_case("the first failure stops the run; later blocks are not run",
               regular("one", "replace_string", "position=0", "olddata=a", "newdata=A") +
               regular("two", "replace_string", "position=1", "olddata=X", "newdata=B") +
               regular("three", "replace_foo", "position=0"),
               b"abc", started("one") + started("two", 11) +
               [error("olddata starting with 01 does not match")]),
    patch_case("a failing block leaves an existing target byte for byte unchanged",
               regular("one", "replace_string", "position=0", "olddata=a", "newdata=A") +
               regular("two", "replace_int", "position=1", "olddata=98", "newdata=-1"),
               b"abc", started("one") + started("two", 11) +
               ["ERROR(a): wrong value in two (position=01)"],
               files={"out.bin": b"previous \x00 target"},
               expect={"out.bin": b"previous \x00 target"}),
]
