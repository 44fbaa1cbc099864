"""The run as a whole: command line, patch file, source and target."""

from e2e import Case, patch_case

CASES = [
    Case("no arguments: banner and usage, exit 2",
         stdout=["hexmend 0.3", "USAGE: hexmend FILENAME [verbatim=true]",
                 "\"FILENAME\" refers to the configuration file"], rc=2),
    patch_case("no blocks: the target is a copy of the source", "", b"\x00\x01abc\xff",
               [], target=b"\x00\x01abc\xff"),
]
