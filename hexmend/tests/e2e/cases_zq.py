"""zq-style blocks: every action with its value form, length rule and
messages, the header keys, and how the first failing line stops the run.

p.txt starts with the two header lines, so its first block opens on line 3.
The patch name is written "patch_name = n", so messages show it as " n".
"""

import struct

from e2e import patch_case

PROCESSING = "  processing ..."
STARTED = ["3: (zq-style patch)  n", PROCESSING]


def block(*lines):
    return "<patch>\n" + "".join(line + "\n" for line in lines) + "</patch>\n"


def zq(*lines):
    """An enabled zq-style block named " n"."""
    return block("patch_name = n", "patch_enable = `yes`", *lines)


def error(text):
    return "ERROR: " + text


def wrong(position):
    return "ERROR(b): wrong value in  n (position=%s)" % position


def unable(line):
    return "  unable to process: " + line


def double(value):
    return struct.pack("<d", value)


CASES = [
    # ---- replace_string ----
    patch_case("replace_string: several escaped lines in one block",
               zq("replace_string = 2, `Hello`, `Howdy`",
                  r"replace_string = 9, `\x00\x01`, `\x02\x03`",
                  r"replace_string = b, `\\`, `\x60`"),
               b"..Hello..\x00\x01\\.", STARTED, target=b"..Howdy..\x02\x03`."),
    patch_case("replace_string: blanks around the backquotes belong to the texts",
               zq("replace_string = 1, `b` , `B` "),
               b"ab cd", STARTED, target=b"aB cd"),
    patch_case("replace_string: old and new of different length",
               zq("replace_string = 1, `bcd`, `BCDE`"),
               b"abcdef",
               STARTED + [error("size of newdata does not match in  n (PatchData.position=01)")]),
    patch_case("replace_string: different bytes at the position do not match",
               zq("replace_string = 1, `bX`, `12`"),
               b"abcdef", STARTED + [error("olddata starting with 01 does not match")]),
    patch_case("replace_string: DONOTCHECK writes ten bytes without comparing",
               zq("replace_string = 0, `DONOTCHECK`, `0123456789`"),
               b"abcdefghijkl", STARTED, target=b"0123456789kl"),
    patch_case("replace_string: a malformed escape fails the line at once",
               zq(r"replace_string = 1A, `ab\q`, `abc`"),
               b"abcdef",
               STARTED + [error("cannot unescape something in  n (PatchData.position=1A)")]),
    patch_case("replace_string: a new text ending in a backslash",
               zq("replace_string = 1, `b`, `c\\`"),
               b"abcdef",
               STARTED + [error("cannot unescape something in  n (PatchData.position=01)")]),
    patch_case("replace_string: a position with a prefix cannot be processed",
               zq("replace_string = 0x1, `b`, `B`"),
               b"abc", STARTED + [unable("replace_string = 0x1, `b`, `B`")]),
    patch_case("replace_string: a blank after the position digits cannot be processed",
               zq("replace_string = 1 , `b`, `B`"),
               b"abc", STARTED + [unable("replace_string = 1 , `b`, `B`")]),
    patch_case("replace_string: two fields cannot be processed",
               zq("replace_string = 1, `b`"),
               b"abc", STARTED + [unable("replace_string = 1, `b`")]),
    patch_case("replace_string: an empty old text cannot be processed",
               zq("replace_string = 1, ``, `B`"),
               b"abc", STARTED + [unable("replace_string = 1, ``, `B`")]),
    patch_case("replace_string: a position of 80000000 or above cannot be processed",
               zq("replace_string = 80000000, `b`, `B`"),
               b"abc", STARTED + [unable("replace_string = 80000000, `b`, `B`")]),

    # ---- buffer end ----
    patch_case("range: a line ending on the last byte is written",
               zq("replace_bytes = 5, 66, 46"),
               b"abcdef", STARTED, target=b"abcdeF"),
    patch_case("range: one byte beyond the end fails without a message",
               zq("replace_bytes = 5, 6667, 4647"),
               b"abcdef", STARTED),
    patch_case("range: the largest position plus a length does not wrap",
               zq("replace_string = 7FFFFFFF, `DONOTCHECK`, `0123456789`"),
               b"abcdef", STARTED),

    # ---- replace_xor_ ----
    patch_case("replace_xor_5A: masked, the shorter new text padded with a zero",
               zq("replace_xor_5A = 1, `ab`, `c`"),
               b"-\x3b\x38-", STARTED, target=b"-\x39\x00-"),
    patch_case("replace_xor_00 masks with 80",
               zq("replace_xor_00 = 0, `A`, `B`"),
               b"\xc1", STARTED, target=b"\xc2"),
    patch_case("replace_xor_: a longer new text is masked whole",
               zq("replace_xor_20 = 0, `a`, `bc`"),
               b"A--", STARTED, target=b"BC-"),
    patch_case("replace_xor_G1: wrong key, the line goes on unmasked",
               zq("replace_xor_G1 = 0, `AB`, `CD`"),
               b"AB", STARTED + [error("ERROR: wrong key value (replace_xor_G1 ) in  n "
                                       "(position=00)")],
               target=b"CD"),
    patch_case("replace_xor_G1: unmasked DONOTCHECK writes without comparing",
               zq("replace_xor_G1 = 0, `DONOTCHECK`, `x`"),
               b"AB", STARTED + [error("ERROR: wrong key value (replace_xor_G1 ) in  n "
                                       "(position=00)")],
               target=b"xB"),
    patch_case("replace_xor_: DONOTCHECK is masked and compared",
               zq("replace_xor_20 = 0, `DONOTCHECK`, `0123456789`"),
               b"DONOTCHECK", STARTED + [error("olddata starting with 00 does not match")]),
    patch_case("replace_xor_: without the blank before = the key is no action",
               zq("replace_xor_20= 0, `a`, `b`"),
               b"A", STARTED, target=b"A"),
    patch_case("replace_xor_: a malformed escape",
               zq(r"replace_xor_20 = 0, `\x`, `b`"),
               b"A", STARTED + [error("cannot unescape something in  n "
                                      "(PatchData.position=00)")]),

    # ---- replace_utf8chars ----
    patch_case("replace_utf8chars: slots, backslashes taken as written",
               zq("replace_utf8chars = 1, `a\xc3\xa9`, `\xe2\x82\xacb`",
                  r"replace_utf8chars = 9, `\x41`, `ABCD`"),
               b"-a\0\0\0\xc3\xa9\0\0\\\0\0\0x\0\0\x004\0\0\x001\0\0\0-", STARTED,
               target=b"-\xe2\x82\xac\0b\0\0\0A\0\0\0B\0\0\0C\0\0\0D\0\0\0-"),
    patch_case("replace_utf8chars: converted lengths differ",
               zq("replace_utf8chars = 0, `ab`, `abc`"),
               b"a\0\0\0b\0\0\0c\0\0\0",
               STARTED + [error("size of newdata differs in  n (PatchData.position=00)")]),
    patch_case("replace_utf8chars: both texts above U+FFFF are wrong values",
               zq("replace_utf8chars = 0, `\xf0\x9f\x98\x80`, `\xf0\x9f\x98\x81`"),
               b"\0" * 8, STARTED + [wrong("00")]),
    patch_case("replace_utf8chars: DONOTCHECK is slotted and compared",
               zq("replace_utf8chars = 0, `DONOTCHECK`, `0123456789`"),
               b"\0" * 40, STARTED + [error("olddata starting with 00 does not match")]),
    patch_case("replace_utf8chars: a value that does not split",
               zq("replace_utf8chars = 0, `a`"),
               b"\0" * 4, STARTED + [unable("replace_utf8chars = 0, `a`")]),

    # ---- replace_float ----
    patch_case("replace_float: 8 bytes each",
               zq("replace_float = 4, 1.5, 2.5", "replace_float=C, 1, 2", "replace_float = C,1,-2"),
               b"head" + double(1.5) + double(1.0) + b"tail", STARTED,
               target=b"head" + double(2.5) + double(-2.0) + b"tail"),
    patch_case("replace_float: decimal commas split the value",
               zq("replace_float = 4, 1,5, 2,5"),
               b"head" + double(1.5), STARTED + [wrong("FFFFFFFF")]),
    patch_case("replace_float: text that is no number",
               zq("replace_float = 4, 1.5, abc"),
               b"head" + double(1.5), STARTED + [wrong("04")]),
    patch_case("replace_float: DONOTCHECK is no number",
               zq("replace_float = 4, DONOTCHECK, 1"),
               b"head" + double(1.5), STARTED + [wrong("04")]),

    # ---- replace_int ----
    patch_case("replace_int: one byte each, 255 and 0",
               zq("replace_int = 10, 255, 0", "replace_int = 0, $41, 0x61"),
               b"A" + b"-" * 15 + b"\xff", STARTED, target=b"a" + b"-" * 15 + b"\x00"),
    patch_case("replace_int: 256 is a wrong value",
               zq("replace_int = 10, 255, 256"),
               b"-" * 16 + b"\xff", STARTED + [wrong("10")]),
    patch_case("replace_int: DONOTCHECK is a wrong value",
               zq("replace_int = 0, DONOTCHECK, 1"),
               b"\xff", STARTED + [wrong("00")]),

    # ---- replace_bytes ----
    patch_case("replace_bytes: blanks inside, digits in either case",
               zq("replace_bytes =  1 , de AD Be EF , 01 02 03 04 "),
               b"-\xde\xad\xbe\xef-", STARTED, target=b"-\x01\x02\x03\x04-"),
    patch_case("replace_bytes: an odd count of digits",
               zq("replace_bytes = 1, DEA, 01"),
               b"-\xde\xad", STARTED + [wrong("01")]),
    patch_case("replace_bytes: DONOTCHECK is a wrong value",
               zq("replace_bytes = 0, DONOTCHECK, 01"),
               b"\xde", STARTED + [wrong("00")]),
    patch_case("replace_bytes: a value that does not split, after a line that succeeded",
               zq("replace_bytes = 0, 61, 41", "replace_bytes = 1, 62"),
               b"ab", STARTED + [wrong("FFFFFFFF")]),
    patch_case("replace_bytes: an invalid position",
               zq("replace_bytes = -1, 61, 41"),
               b"ab", STARTED + [wrong("FFFFFFFF")]),

    # ---- header and block ----
    patch_case("the enable value must be exactly \" `yes`\"",
               block("patch_name = a", "patch_enable = yes", "replace_foo") +
               block("patch_name = b", "patch_enable = `Yes`") +
               block("patch_name = c", "patch_enable = `yes` ") +
               block("patch_name = d", "patch_enable=`yes`") +
               block("patch_name = e", "replace_bytes = 0, 00, 01"),
               b"a",
               ["3: (zq-style patch)  a", "  skipped", "8: (zq-style patch)  b", "  skipped",
                "12: (zq-style patch)  c", "  skipped", "16: (zq-style patch)  d", "  skipped",
                "20: (zq-style patch)  e", "  skipped"],
               target=b"a"),
    patch_case("header keys in any letter case; the first of each counts",
               block("PATCH_NAME = first", "Patch_Enable = `yes`", "patch_name = second",
                     "patch_enable = `no`", "replace_bytes = 0, 61, 62"),
               b"a", ["3: (zq-style patch)  first", PROCESSING], target=b"b"),
    patch_case("a block with a header and no replacement line",
               zq("; nothing to do"), b"a", STARTED, target=b"a"),
    patch_case("action keys are exact: letter case and the blank before =",
               zq("Replace_bytes = 0, 61, 62", "replace_bytes= 0, 61, 62",
                  "replace_file = 0, `a`, `new.bin`", "replace_bytes = 0, 61, 41"),
               b"a", STARTED, target=b"A", files={"new.bin": b"X"}),
    patch_case("the third line fails: the first two are not saved",
               zq("replace_bytes = 0, 61, 41", "replace_int = 1, 98, 66",
                  "replace_string = 2, `X`, `C`", "replace_foo = 0"),
               b"abc", STARTED + [error("olddata starting with 02 does not match")],
               files={"out.bin": b"previous"}, expect={"out.bin": b"previous"}),
    patch_case("a failing block stops the run before the next block",
               zq("replace_bytes = 0, 61, 41") + zq("replace_string = 1, `bc`, `B`") +
               zq("replace_bytes = 0, 41, 61"),
               b"abc", STARTED + ["8: (zq-style patch)  n", PROCESSING,
                                  error("size of newdata does not match in  n "
                                        "(PatchData.position=01)")]),
    patch_case("a regular and a zq-style block in one file",
               block("name=r", "enabled=true", "action=replace_string", "position=0",
                     "olddata=a", "newdata=A") +
               zq("replace_string = 1, `b`, `B`"),
               b"abc", ["3: (regular patch) r", PROCESSING, "11: (zq-style patch)  n",
                        PROCESSING],
               target=b"ABc"),
]
