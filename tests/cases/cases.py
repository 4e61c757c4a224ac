#!/usr/bin/env python3
# Runs end-to-end case tables against a program and compares what it reports.
#
#   cases.py --backend NAME [--layout L] [--group TEXT] [--input MODE] [--output MODES]
#            [TABLE...] -- COMMAND...
#
# The tables default to agent.cases beside this script. A table holds rows
# "INPUT => EVENT; EVENT..." under "## Heading" lines; each heading starts a group, and each
# group is fed to one run of COMMAND as its standard input. The events are written in a form
# common to all backends and turned into what COMMAND prints for the chosen backend (the dry
# run's JSON lines, an observer's report of what a desktop received, ...), with the key codes
# taken from keys.table beside this script. COMMAND must print exactly those lines, nothing on
# standard error, and exit with status 0.
#
# Input escapes: <CR> <LF> <TAB> <NUL> <xHH> (bytes), <PAD n> (spaces that make the row's bytes
# before it n long), <REP n:TEXT> (TEXT n times; TEXT may hold <LF>), <TIMES n> at the start of
# a row (the row, events included, n times), <EOF> at the end of a group's last row (no line
# feed after it).
# Spaces before "=>" only align the table; a row starting with "=>" is an empty line, and a row
# whose input is <END> adds no input, only events expected after the rest. Rows naming $KEY
# stand for one row per key of keys.table; consecutive such rows are repeated together.
#
# Events: move X Y [middle|right], press|release left|middle|right X Y, keydown|keyup NAME,
# pointer X Y (where the pointer rests at the end, as an observer reports it), refused WHY
# (nothing on standard output; with --explain, "line N: WHY" on standard error, N the
# number of the row's first line in its stream, and standard error must be exactly those).
#
# --output runs every group once per mode, with standard output: pipe (the default),
# nonblocking (a non-blocking pipe read slowly, so writes meet a full pipe), or one that takes
# nothing, where only the status and the input read to its end are checked: closed, unread
# (no reader), full (/dev/full). --input nonblocking makes standard input a non-blocking pipe
# that is fed in pieces, so reads meet an empty pipe. --pace writes each row only once the
# events of the rows before it have been printed (each position is then checked, and each line
# must take effect while the input stays open); --merged-moves compares no motions, for
# desktops that merge moves which come together. INPUTFEED_TEST_LAUNCHER, when set, is put in
# front of COMMAND (valgrind, for instance).
import argparse
import os
import re
import shlex
import subprocess
import sys
import tempfile
import threading
import time
from collections import namedtuple
from dataclasses import dataclass

HERE = os.path.dirname(os.path.abspath(__file__))
TOKEN = re.compile(r"<(CR|LF|TAB|NUL|EOF|x[0-9A-Fa-f]{2}|PAD \d+|REP \d+:(?:[^<>]|<LF>)*)>")
NAMED = {"CR": b"\r", "LF": b"\n", "TAB": b"\t", "NUL": b"\0", "EOF": b""}
KINDS = {"move", "press", "release", "keydown", "keyup", "pointer", "refused"}

# Why this system cannot give a program such a standard output or input, if it cannot.
POSIX = os.name == "posix"
UNAVAILABLE = {
    "closed": None if POSIX else "a native Windows Python cannot close a program's descriptor",
    "full": None if os.path.exists("/dev/full") else "this system has no /dev/full",
    "nonblocking": None if POSIX else "Windows pipes cannot be made non-blocking",
}


@dataclass(frozen=True)
class Row:
    where: str  # file:line, for messages
    data: bytes  # the input, line feed included
    events: list  # each event as its words: ["press", "left", "10", "20"]


Group = namedtuple("Group", "heading rows")  # rows: a list of Row


def load_keys():
    with open(os.path.join(HERE, "keys.table")) as table:
        rows = [line.split() for line in table if line[0] not in "#\n"]
    return {row[0]: dict(zip(rows[0], row)) for row in rows[1:]}


# The bytes of one row's input, line feed included unless it ends in <EOF>.
def expand(text):
    out, pos = bytearray(), 0
    for m in TOKEN.finditer(text):
        out += text[pos : m.start()].encode()
        pos, token = m.end(), m.group(1)
        if token in NAMED:
            out += NAMED[token]
        elif token[0] == "x":
            out.append(int(token[1:], 16))
        elif token[0] == "P":
            out += b" " * (int(token[4:]) - len(out))
        else:
            count, rep = token[4:].split(":", 1)
            out += rep.replace("<LF>", "\n").encode() * int(count)
    return bytes(out + text[pos:].encode()) + (b"" if text.endswith("<EOF>") else b"\n")


# One row of a table as its input text, its events' texts and how many times it counts.
def split_row(line, where):
    if line.startswith("=>"):
        text, events = "", line[2:]
    else:
        text, sep, events = line.rpartition(" =>")
        if not sep:
            sys.exit(f"{where}: a row needs ' =>'")
    times = 1
    if text.startswith("<TIMES "):
        count, text = text[7:].split(">", 1)
        times = int(count)
    events = [e for e in events.split(";") if e.strip()]
    if any(e.split()[0] not in KINDS for e in events):
        sys.exit(f"{where}: unknown event")
    return text.rstrip(" "), events, times


def parse(paths, keys):
    groups, block = [], []  # block: consecutive rows naming $KEY, as (where, text, events, times)

    def add(where, text, events, times, key=""):
        text = text.replace("$KEY", key)
        data = b"" if text == "<END>" else expand(text)
        row = Row(where, data, [e.replace("$KEY", key).split() for e in events])
        groups[-1].rows.extend([row] * times)

    def flush():
        for key in keys if block else []:
            for row in block:
                add(*row, key)
        block.clear()

    for path in paths:
        with open(path, encoding="utf-8") as table:
            for number, line in enumerate(table, 1):
                line = line.rstrip("\n")
                if line.startswith("## "):
                    flush()
                    groups.append(Group(line[3:], []))
                elif line.strip() and not line.startswith("#"):
                    where = f"{path}:{number}"
                    row = (where, *split_row(line, where))
                    if "$KEY" not in line:
                        flush()
                        add(*row)
                    else:
                        block.append(row)
        flush()
    return groups


# Translators: the lines a backend's program prints for one event. `state` is what a
# translator remembers within one stream; it starts with the keyboard layout.


def moved(state, at):
    # Observers of real desktops start with the pointer at 1,1 and see no move to where it is.
    unchanged = at == state.get("at", ("1", "1"))
    state["at"] = at
    return [] if unchanged else [at]


# The macOS button number, and the event types of its press and release.
MAC_BUTTON = {"left": (0, 1, 2), "right": (1, 3, 4), "middle": (2, 25, 26)}


def trace(kind, args, keys, state):
    if kind == "move":
        button = MAC_BUTTON[(args[2:] or ["left"])[0]][0]
        return [f'{{"event":"mouse","type":5,"x":{args[0]},"y":{args[1]},"button":{button}}}']
    if kind in ("press", "release"):
        button, press, release = MAC_BUTTON[args[0]]
        code = press if kind == "press" else release
        return [f'{{"event":"mouse","type":{code},"x":{args[1]},"y":{args[2]},"button":{button}}}']
    if kind in ("keydown", "keyup"):
        down = str(kind == "keydown").lower()
        return [f'{{"event":"key","keyCode":{keys[args[0]]["mac"]},"down":{down}}}']
    return []  # the dry run moves nothing, so it has no pointer to report


X11_KEYMAPS = {"us": ("x11", "us"), "de": ("x11", "de"), "fujitsu": ("fujitsu", "fujitsu_sym")}


def x11(kind, args, keys, state):
    if kind == "move":
        return [f"motion {args[0]} {args[1]}"]
    if kind in ("press", "release"):  # a press or release moves there first
        button = "lmr".index(args[0][0]) + 1
        return [f"motion {args[1]} {args[2]}", f"button {kind} {button} {args[1]} {args[2]}"]
    if kind in ("keydown", "keyup"):
        code, sym = (keys[args[0]][column] for column in X11_KEYMAPS[state["layout"]])
        action = "press" if kind == "keydown" else "release"
        return [] if code == "-" else [f"key {action} {code} {sym}"]
    return [f"pointer {args[0]} {args[1]}"]


MODIFIERS = ["Shift", "Lock", "Control", "Mod1", "Mod2", "Mod3", "Mod4", "Mod5"]
MODIFIER_OF = {"ShiftLeft": "Shift", "ShiftRight": "Shift", "ControlLeft": "Control",
               "ControlRight": "Control", "AltLeft": "Mod1", "AltRight": "Mod1",
               "MetaLeft": "Mod4"}


# A client reads a key with the modifiers in effect (Shift makes letters capitals), and is
# told each change of them (the German AltRight is AltGr, Mod5).
def wayland(kind, args, keys, state):
    if kind in ("move", "press", "release"):
        at = tuple(args[:2] if kind == "move" else args[1:3])
        lines = ["motion %s %s" % at for at in moved(state, at)]
        if kind == "move":
            return lines
        return lines + [f"button {kind} {272 + 'lrm'.index(args[0][0])} {at[0]} {at[1]}"]
    if kind in ("keydown", "keyup"):
        layout, key = state["layout"], keys[args[0]]
        held, before = state.setdefault("held", set()), state.get("mods", set())
        sym = key[layout]
        if "Shift" in before and len(sym) == 1:
            sym = sym.upper()
        lines = [f"key {'press' if kind == 'keydown' else 'release'} {key['evdev']} {sym}"]
        (held.add if kind == "keydown" else held.discard)(args[0])
        mods = {"Mod5" if (k, layout) == ("AltRight", "de") else MODIFIER_OF[k]
                for k in held if k in MODIFIER_OF}
        if mods != before:
            lines.append("modifiers " + (" ".join(m for m in MODIFIERS if m in mods) or "none"))
        state["mods"] = mods
        return lines
    return [f"pointer {args[0]} {args[1]}"]


CHORD_KEYS = {"ControlLeft", "ControlRight", "AltLeft", "AltRight", "MetaLeft"}


# Hook events, and what the observer's focused window received: characters only while no
# Ctrl, Alt or Windows key is down. Under Wine the cursor does not follow hooked input.
def windows(kind, args, keys, state):
    if kind in ("move", "press", "release"):
        at = tuple(args[:2] if kind == "move" else args[1:3])
        lines = ["move %s %s" % at for at in moved(state, at)]
        if kind == "move":
            return lines
        return lines + [f"{kind} {args[0]} {at[0]} {at[1]}",
                        f"window {kind} {args[0]} {at[0]} {at[1]}"]
    if kind in ("keydown", "keyup"):
        key, held = keys[args[0]], state.setdefault("held", set())
        (held.add if kind == "keydown" else held.discard)(args[0])
        char = key["win_shift" if {"ShiftLeft", "ShiftRight"} & held else "win_char"]
        if held & CHORD_KEYS or kind == "keyup":
            char = "none"
        chars = [f"char {char}"] if char != "none" else []
        return [f"{kind} {key['win_vk']} {key['win_scan']}"] + chars
    return []


# GNOME's layout as tools/headless-gnome.sh arranges it: x, y, width, height, scale. Positions
# are given in the layout, with the agent's rounding and clamping done; windows see a monitor
# at scale 2 in halves, from its origin.
GNOME_MONITORS = ((0, 0, 1280, 1024, 1), (1280, 0, 1600, 1200, 2))


def gnome(kind, args, keys, state, monitors=GNOME_MONITORS):
    at = 1 if kind in ("press", "release") else 0
    if kind != "keydown" and kind != "keyup":
        x, y = float(args[at]), float(args[at + 1])
        mx, my, _, _, scale = next(m for m in monitors
                                   if m[0] <= x < m[0] + m[2] and m[1] <= y < m[1] + m[3])
        shown = [f"{v:.8f}".rstrip("0").rstrip(".")
                 for v in (mx + (x - mx) / scale, my + (y - my) / scale)]
        args = args[:at] + shown + args[at + 2 :]
    # Mutter's keymap names Alt's and the Windows key's modifiers twice: real and virtual.
    def virtual(line):
        names = line.split()
        pairs = (("Mod1", "Meta"), ("Mod4", "Super"))
        return line + "".join(f" {v}" for m, v in pairs if m in names)

    lines = wayland(kind, args, keys, state)
    return [virtual(line) if line.startswith("modifiers ") else line for line in lines]


# Per backend: what every run prints first, and how an event is reported.
TRANSLATORS = {"trace": (['{"event":"trust","prompt":true}'], trace), "x11": ([], x11),
               "wayland": ([], wayland), "windows": ([], windows), "gnome": ([], gnome),
               # The same in GNOME's logical layout mode: layout and windows count alike.
               "gnome-logical": ([], lambda *a: gnome(*a, monitors=((0, 0, 1280, 1024, 1),
                                                                    (1280, 0, 800, 600, 1))))}


# Runs COMMAND on DATA with standard output as OUTPUT says, its input a non-blocking pipe fed
# in pieces if SLOW: (status, stdout, stderr, whether COMMAND read all of DATA). With PACE, a
# list of (bytes, lines), DATA is written piece by piece, each once the output has reached its
# number of lines (or, until one is late, 10 seconds have passed).
def run(command, data, output, slow, timeout, pace=None):
    extra, out, read_end = {}, None, None
    if output == "closed":
        extra["preexec_fn"] = lambda: os.close(1)
    elif output == "full":
        out = os.open("/dev/full", os.O_WRONLY)
    else:  # pipe, unread or nonblocking
        read_end, out = os.pipe()
        if output == "nonblocking":
            os.set_blocking(out, False)
        if output == "unread":
            os.close(read_end)
            read_end = None
    stdin, feeder = os.pipe()
    if slow:
        os.set_blocking(stdin, False)
    errors, broken, seen = tempfile.TemporaryFile(), [], threading.Condition()
    seen.lines = 0
    proc = subprocess.Popen(command, stdin=stdin, stdout=out, stderr=errors, **extra)
    for fd in (stdin, out):
        if fd is not None:
            os.close(fd)

    # A program that stops reading early breaks this pipe (on Windows an EINVAL, not an EPIPE).
    def feed():
        try:
            with open(feeder, "wb") as pipe:
                late = False  # once a row is late, the rest go at once
                for piece, lines in pace or []:
                    with seen:
                        late = late or not seen.wait_for(lambda: seen.lines >= lines, 10)
                    pipe.write(piece)
                    pipe.flush()
                for at in range(0, len(data) if pace is None else 0, 65536):
                    pipe.write(data[at : at + 65536])
                    if slow:
                        pipe.flush()
                        time.sleep(0.001)
        except OSError:
            broken.append(True)

    writer = threading.Thread(target=feed)
    writer.start()
    chunks = []  # read slowly from a non-blocking output, so that it fills up
    while read_end is not None and (chunk := os.read(read_end, 4096)):
        chunks.append(chunk)
        with seen:
            seen.lines += chunk.count(b"\n")
            seen.notify()
        time.sleep(0.0005 if output == "nonblocking" else 0)
    proc.wait(timeout)
    writer.join()
    errors.seek(0)
    return proc.returncode, b"".join(chunks), errors.read(), not broken


# What is wrong with one run of GROUP: its lines EXPECTED, each made by the row in OWNER.
def problems(group, expected, owner, output, result, explained, merged_moves=False):
    status, stdout, stderr, read_all = result
    found = [f"exit status {status}"] if status else []
    errors = stderr.decode("utf-8", "replace")
    if explained is not None and errors.splitlines() != explained:
        found.append(f"standard error differs\n  expected: {explained}\n"
                     f"  actual:   {errors.splitlines()}")
    elif explained is None and stderr:
        found.append("standard error: " + errors[:2000])
    if not read_all:
        found.append("stopped reading its input before the end")
    actual = stdout.decode("utf-8", "replace").splitlines()
    if merged_moves:
        actual = [line for line in actual if not line.startswith("motion ")]
    if output in ("pipe", "nonblocking") and actual != expected:
        pairs = enumerate(zip(actual, expected))
        at = next((i for i, (a, e) in pairs if a != e), min(len(actual), len(expected)))
        row = owner[at] if at < len(owner) else group.rows[-1]
        where = f"row {row.where}: {row.data[:120]!r}" if row else "the start"
        found.append(f"output differs at line {at + 1}, {where}\n"
                     f"  expected: {expected[at:at + 3]}\n  actual:   {actual[at:at + 3]}")
    return found


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--backend", required=True, choices=sorted(TRANSLATORS))
    parser.add_argument("--layout", default="us")
    parser.add_argument("--group", default="", help="only groups whose heading contains this")
    parser.add_argument("--output", default="pipe")
    parser.add_argument("--input", default="pipe", choices=["pipe", "nonblocking"])
    parser.add_argument("--explain", action="store_true",
                        help="expect the refused events on stderr")
    parser.add_argument("--timeout", type=float, default=120)
    parser.add_argument("--pace", action="store_true",
                        help="write each row once the ones before it show")
    parser.add_argument("--merged-moves", action="store_true",
                        help="compare no motions (a desktop merges them)")
    parser.add_argument("tables", nargs="*", default=[os.path.join(HERE, "agent.cases")])
    split = sys.argv.index("--")
    args = parser.parse_args(sys.argv[1:split])
    command = shlex.split(os.environ.get("INPUTFEED_TEST_LAUNCHER", "")) + sys.argv[split + 1 :]
    outputs = args.output.split(",")
    for mode in outputs + [args.input]:
        if UNAVAILABLE.get(mode):
            sys.exit(f"cannot run with {mode} standard streams here: {UNAVAILABLE[mode]}")

    keys = load_keys()
    prologue, translate = TRANSLATORS[args.backend]
    groups = [g for g in parse(args.tables, keys) if args.group in g.heading]
    if not groups:
        sys.exit("no group to run")
    failed = 0
    for output in outputs:
        for group in groups:
            state = {"layout": args.layout}
            expected, owner, pace = list(prologue), [None] * len(prologue), []
            explained, number = [], 1  # stderr expected with --explain; the row's first line
            for row in group.rows:
                pace += [(row.data, len(expected))] if row.data else []
                for event in row.events:
                    if event[0] == "refused":
                        explained.append(f"line {number}: {' '.join(event[1:])}")
                        continue
                    lines = translate(event[0], event[1:], keys, state)
                    expected += lines
                    owner += [row] * len(lines)
                number += row.data.count(b"\n")
            if pace:  # the end of input waits for the last row's events too
                rest = owner[pace[-1][1] :]
                pace.append((b"", pace[-1][1] + sum(1 for o in rest if o and o.data)))
            data = b"".join(row.data for row in group.rows)
            result = run(command, data, output, args.input == "nonblocking", args.timeout,
                         pace if args.pace else None)
            if args.merged_moves:
                kept = [i for i, line in enumerate(expected) if not line.startswith("motion ")]
                expected, owner = [expected[i] for i in kept], [owner[i] for i in kept]
            found = problems(group, expected, owner, output, result,
                             explained if args.explain else None, args.merged_moves)
            failed += bool(found)
            verdict = "FAIL" if found else "ok  "
            print(f"{verdict} {group.heading} ({len(group.rows)} rows, output: {output})")
            print("".join(f"  {p}\n" for p in found), end="")
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
