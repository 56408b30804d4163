#!/usr/bin/env python3
"""Turns controller structure layouts written in the layout notation into
korvex/structures/layouts.txt.

Reads standard input and writes the data file to standard output. Lines it
understands (anything else is ignored):

  `SPC_Name` (SIZE): 0 Field_ B; 2 Other_ 4xW; ...     a structure
  `SPC_Name`: 0 Field_ B; ...                           a structure whose size
                                                        comes from the catalogue
  `UPC_Name`: 0 Alt_ SPC_X; 0 Alt2_ SPC_Y.              a union
  `SPC_A` (2), `SPC_B` (12), `UPC_C`, ...               the catalogue

Pointer targets are not part of the notation; POINTER_TARGETS below holds the
choice per pointer (see the data file's header for why).
"""
import re
import sys

# Pointers whose value object is a single byte: the channel function offset
# and the controller's character pointers (names ending in CHRPTR_).
BYTE_POINTERS = {"pChlFctnOffstPTR_"}


def pointer_target(name):
    if name in BYTE_POINTERS or name.endswith("CHRPTR_"):
        return "B"
    return "L"


def convert_type(field_name, text):
    text = text.replace("\u00d7", "x").strip()
    if text == "P":
        return "P:" + pointer_target(field_name)
    return text


def parse_fields(body):
    body = body.strip().rstrip(".").strip()
    fields = []
    for part in body.split(";"):
        part = part.strip()
        if not part:
            continue
        words = part.split()
        if len(words) != 3:
            raise SystemExit("cannot read field: %r" % part)
        offset, name, kind = words
        fields.append((int(offset), name, convert_type(name, kind)))
    return fields


CLASS_LINE = re.compile(r"^(?:- )?`([SU]PC_\w+)`(?: \((\d+)\))?: (\d.*)$")
CATALOGUE_ENTRY = re.compile(r"`([SU]PC_\w+)`(?: \((\d+)\))?")

# The three roots and the one-byte enumerations are mapped as the data
# file's header explains.
ONE_BYTE_ENUMS = {
    ("SPC_SLastResetAnswer", "eLastResetState_"),
    ("SPC_SRunTimeDataRequest", "eRunTimeDataCommand_"),
    ("SPC_SFmlDataAnswer", "eStatus_"),
}


def main():
    classes = {}
    order = []
    catalogue = {}
    for line in sys.stdin:
        line = line.rstrip("\n")
        match = CLASS_LINE.match(line)
        if match:
            name, size, body = match.groups()
            fields = parse_fields(body)
            fields = [(o, n, "E" if (name, n) in ONE_BYTE_ENUMS else t) for o, n, t in fields]
            if name in classes:
                if classes[name][1] != fields:
                    raise SystemExit("class %s given twice with different fields" % name)
                if size and classes[name][0] is None:
                    classes[name] = (int(size), fields)
                continue
            classes[name] = (int(size) if size else None, fields)
            order.append(name)
            continue
        entries = CATALOGUE_ENTRY.findall(line)
        if len(entries) > 20:
            for name, size in entries:
                catalogue[name] = int(size) if size else None
    out = sys.stdout
    out.write(HEADER)
    out.write("\n# The catalogue: every class with its size (- for a union).\n")
    for name in sorted(catalogue):
        size = catalogue[name]
        out.write("catalogue %s %s\n" % (name, "-" if size is None else size))
    for name in sorted(order):
        size, fields = classes[name]
        if name.startswith("UPC_"):
            out.write("\nunion %s\n" % name)
        else:
            if size is None:
                size = catalogue.get(name)
            if size is None:
                raise SystemExit("no size for %s" % name)
            out.write("\nstruct %s %d%s\n" % (name, size, " copyable" if name in COPYABLE else ""))
        for offset, field, kind in fields:
            out.write("  %d %s %s\n" % (offset, field, kind))


# The classes that also have a copy constructor.
COPYABLE = {"SPC_SDoInit", "SPC_SNotInit", "SPC_SRestoreData", "SPC_SBde_Zeiten_Typ",
            "SPC_SAllToolsOffer", "SPC_SOneToolOffer"}

HEADER = """\
# The controller's structure and union layouts, one class per block.
# The build's generator (korvex/structures/generator) checks this file and
# turns it into the SPC_/UPC_ proxy classes; nothing else holds a layout.
# scripts/transcribe_layouts.py re-creates it from the layout notation.
#
#   catalogue NAME SIZE     the size the class must have (- for a union)
#   struct NAME SIZE        a structure of SIZE bytes (its mMotSize);
#     [copyable]            "copyable" after the size: the class also has a
#                           copy constructor (so must every class nested in it)
#   union NAME              a union; every alternative lies at offset 0
#     OFFSET FIELD TYPE     one field, in order of offsets; FIELD is the name
#                           suffix its handle name gets after the prefix
#
# TYPE is one of
#   B W I L C               BYTE (1), WORD (2), INTEGER (2), LONGINT (4),
#                           QZLONGCARD (4)
#   E                       an enumeration the controller keeps in one byte
#                           (mapped as BYTE of length 1, see below)
#   Sn                      a character array of n bytes
#   nxT                     an array of n elements of T (a scalar letter: one
#                           table object; a class: n nested proxies)
#   CLASS                   a nested structure or union
#   P:T                     a pointer (4 bytes, LONGINT) whose value object is
#                           the scalar T (B, W, I, L, C or E), of T's length
#                           and type (a one-byte LONGINT would be refused)
#
# Choices where the layouts leave a thing open:
# - Pointer targets are not given by the layouts. The controller's character
#   pointers (names ending in CHRPTR_) and the channel function offset point
#   to one byte (P:B); every other pointer to a 32-bit value (P:L). A
#   structure behind a pointer would be built at address 0 and, for the list
#   link SqR_NextPTR_, recurse without end; the tree's 56,533 objects count
#   every pointer's value object as one scalar.
# - The enumerations eLastResetState_, eRunTimeDataCommand_ and eStatus_ sit
#   in records whose sizes (1 byte) and neighbouring fields (a byte at offset
#   1) show one-byte enumerations; they are read and written as one byte so
#   that no access touches the neighbour's byte.

"""

if __name__ == "__main__":
    main()
