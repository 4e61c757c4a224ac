#!/usr/bin/env python3
# Runs end-to-end case tables against a program and compares what it reports.
#
#   cases.py --backend NAME [--layout L] [--group TEXT] [--output MODES] [TABLE...] -- COMMAND...
#
# The tables default to agent.cases beside this script. A table holds rows "INPUT => EVENT; EVENT..." under "## Heading" lines; each heading starts a
# group, and each group is fed to one run of COMMAND as its standard input. The events are
# written in a form common to all backends and turned into what COMMAND prints for the chosen
# backend (the dry run's JSON lines, an observer's report of what a desktop received, ...), with
# the key codes taken from keys.table beside this script. COMMAND must print exactly those
# lines, nothing on standard error, and exit with status 0.
#
# Input escapes: <CR> <LF> <TAB> <NUL> <xHH> (bytes), <PAD n> (spaces that make the row's bytes
# before it n long), <REP n:TEXT> (TEXT n times; TEXT may hold <LF>), <TIMES n> at the start of a row (the row,
# events included, n times), <EOF> at the end of a group's last row (no line feed after it).
# Spaces before "=>" only align the table; a row starting with "=>" is an empty line, and a row
# whose input is <END> adds no input, only events expected after the rest. Rows naming $KEY
# stand for one row per key of keys.table; consecutive such rows are repeated together.
#
# Events: move X Y [middle|right], press|release left|middle|right X Y, keydown|keyup NAME,
# pointer X Y (where the pointer rests at the end, as an observer reports it).
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

TOKEN = re.compile(r"<(CR|LF|TAB|NUL|EOF|x[0-9A-Fa-f]{2}|PAD \d+|REP \d+:(?:[^<>]|<LF>)*)>")
NAMED = {"CR": b"\r", "LF": b"\n", "TAB": b"\t", "NUL": b"\0", "EOF": b""}
KINDS = {"move", "press", "release", "keydown", "keyup", "pointer"}


def load_keys():
    rows = [l.split() for l in open(os.path.join(os.path.dirname(__file__), "keys.table")) if l[0] not in "#\n"]
    return {r[0]: dict(zip(rows[0], r)) for r in rows[1:]}


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


# Groups as (heading, [(where, input bytes, [event words])]).
def parse(paths, keys):
    groups, block = [], []  # block: consecutive rows naming $KEY

    def add(where, text, events, times, key=""):
        sub = lambda s: s.replace("$KEY", key)
        row = (where, b"" if text == "<END>" else expand(sub(text)), [sub(e).split() for e in events])
        groups[-1][1].extend([row] * times)

    def flush():
        for key in keys if block else []:
            for row in block:
                add(*row, key)
        block.clear()

    for path in paths:
        for number, line in enumerate(open(path, encoding="utf-8"), 1):
            line = line.rstrip("\n")
            if line.startswith("## "):
                flush()
                groups.append((line[3:], []))
            elif line.strip() and not line.startswith("#"):
                text, sep, events = ("", "=>", line[2:]) if line.startswith("=>") else line.rpartition(" =>")
                if not sep:
                    sys.exit(f"{path}:{number}: a row needs ' =>'")
                times, text = (int(text[7:].split(">")[0]), text.split(">", 1)[1]) if text.startswith("<TIMES ") else (1, text)
                row = (f"{path}:{number}", text.rstrip(" "), [e for e in events.split(";") if e.strip()], times)
                if any(e.split()[0] not in KINDS for e in row[2]):
                    sys.exit(f"{path}:{number}: unknown event")
                if "$KEY" in line:
                    block.append(row)
                else:
                    flush()
                    add(*row)
        flush()
    return groups


def moved(state, at):
    # Observers of real desktops start with the pointer at 1,1 and see no move to where it is.
    unchanged = at == state.get("at", ("1", "1"))
    state["at"] = at
    return [] if unchanged else [at]


MAC_BUTTON = {"left": (0, 1, 2), "right": (1, 3, 4), "middle": (2, 25, 26)}  # button, press, release


def trace(kind, args, keys, state):
    if kind == "move":
        return [f'{{"event":"mouse","type":5,"x":{args[0]},"y":{args[1]},"button":{MAC_BUTTON[(args[2:] or ["left"])[0]][0]}}}']
    if kind in ("press", "release"):
        button, press, release = MAC_BUTTON[args[0]]
        code = press if kind == "press" else release
        return [f'{{"event":"mouse","type":{code},"x":{args[1]},"y":{args[2]},"button":{button}}}']
    if kind in ("keydown", "keyup"):
        return [f'{{"event":"key","keyCode":{keys[args[0]]["mac"]},"down":{str(kind == "keydown").lower()}}}']
    return []  # the dry run moves nothing, so it has no pointer to report


X11_KEYMAPS = {"us": ("x11", "us"), "de": ("x11", "de"), "fujitsu": ("fujitsu", "fujitsu_sym")}


def x11(kind, args, keys, state):
    if kind == "move":
        return [f"motion {args[0]} {args[1]}"]
    if kind in ("press", "release"):  # a press or release moves there first
        return [f"motion {args[1]} {args[2]}", f"button {kind} {'lmr'.index(args[0][0]) + 1} {args[1]} {args[2]}"]
    if kind in ("keydown", "keyup"):
        code, sym = (keys[args[0]][c] for c in X11_KEYMAPS[state["layout"]])
        return [] if code == "-" else [f"key {kind[3:].replace('down', 'press').replace('up', 'release')} {code} {sym}"]
    return [f"pointer {args[0]} {args[1]}"]


MODIFIERS = ["Shift", "Lock", "Control", "Mod1", "Mod2", "Mod3", "Mod4", "Mod5"]
MODIFIER_OF = {"ShiftLeft": "Shift", "ShiftRight": "Shift", "ControlLeft": "Control", "ControlRight": "Control",
               "AltLeft": "Mod1", "AltRight": "Mod1", "MetaLeft": "Mod4"}


# A client reads a key with the modifiers in effect (Shift makes letters capitals), and is
# told each change of them (the German AltRight is AltGr, Mod5).
def wayland(kind, args, keys, state):
    if kind in ("move", "press", "release"):
        at = tuple(args[:2] if kind == "move" else args[1:3])
        lines = ["motion %s %s" % at for at in moved(state, at)]
        return lines + ([f"button {kind} {272 + 'lrm'.index(args[0][0])} {at[0]} {at[1]}"] if kind != "move" else [])
    if kind in ("keydown", "keyup"):
        layout, key = state["layout"], keys[args[0]]
        held, before = state.setdefault("held", set()), state.get("mods", set())
        sym = key[layout].upper() if "Shift" in before and len(key[layout]) == 1 else key[layout]
        lines = [f"key {'press' if kind == 'keydown' else 'release'} {key['evdev']} {sym}"]
        (held.add if kind == "keydown" else held.discard)(args[0])
        mods = {MODIFIER_OF[k] if (k, layout) != ("AltRight", "de") else "Mod5" for k in held if k in MODIFIER_OF}
        if mods != before:
            lines.append("modifiers " + (" ".join(m for m in MODIFIERS if m in mods) or "none"))
        state["mods"] = mods
        return lines
    return [f"pointer {args[0]} {args[1]}"]


# Hook events, and what the observer's focused window received: characters only while no
# Ctrl, Alt or Windows key is down. Under Wine the cursor does not follow hooked input.
def windows(kind, args, keys, state):
    if kind in ("move", "press", "release"):
        at = tuple(args[:2] if kind == "move" else args[1:3])
        lines = ["move %s %s" % at for at in moved(state, at)]
        return lines + ([f"{kind} {args[0]} {at[0]} {at[1]}", f"window {kind} {args[0]} {at[0]} {at[1]}"] if kind != "move" else [])
    if kind in ("keydown", "keyup"):
        key, held = keys[args[0]], state.setdefault("held", set())
        (held.add if kind == "keydown" else held.discard)(args[0])
        char = key["win_shift" if {"ShiftLeft", "ShiftRight"} & held else "win_char"]
        if held & {"ControlLeft", "ControlRight", "AltLeft", "AltRight", "MetaLeft"} or kind == "keyup":
            char = "none"
        return [f"{kind} {key['win_vk']} {key['win_scan']}"] + ([f"char {char}"] if char != "none" else [])
    return []


# GNOME's layout as tools/headless-gnome.sh arranges it: x, y, width, height, scale. Positions
# are given in the layout, with the agent's rounding and clamping done; windows see a monitor
# at scale 2 in halves, from its origin.
GNOME_MONITORS = ((0, 0, 1280, 1024, 1), (1280, 0, 1600, 1200, 2))


def gnome(kind, args, keys, state, monitors=GNOME_MONITORS):
    at = 1 if kind in ("press", "release") else 0
    if kind != "keydown" and kind != "keyup":
        x, y = float(args[at]), float(args[at + 1])
        mx, my, _, _, scale = next(m for m in monitors if m[0] <= x < m[0] + m[2] and m[1] <= y < m[1] + m[3])
        shown = [f"{v:.8f}".rstrip("0").rstrip(".") for v in (mx + (x - mx) / scale, my + (y - my) / scale)]
        args = args[:at] + shown + args[at + 2 :]
    # Mutter's keymap names Alt's and the Windows key's modifiers twice: real and virtual.
    virtual = lambda line: line + "".join(f" {v}" for m, v in (("Mod1", "Meta"), ("Mod4", "Super")) if m in line.split())
    return [virtual(l) if l.startswith("modifiers ") else l for l in wayland(kind, args, keys, state)]


# Per backend: what every run prints first, and how an event is reported.
TRANSLATORS = {"trace": (['{"event":"trust","prompt":true}'], trace), "x11": ([], x11), "wayland": ([], wayland), "windows": ([], windows), "gnome": ([], gnome),
               # The same in GNOME's logical layout mode: layout and windows count alike.
               "gnome-logical": ([], lambda *a: gnome(*a, monitors=((0, 0, 1280, 1024, 1), (1280, 0, 800, 600, 1))))}


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
        os.set_blocking(out, output != "nonblocking")
        if output == "unread":
            os.close(read_end)
            read_end = None
    stdin, feeder = os.pipe()
    os.set_blocking(stdin, not slow)
    errors, broken, seen = tempfile.TemporaryFile(), [], threading.Condition()
    seen.lines = 0
    proc = subprocess.Popen(command, stdin=stdin, stdout=out, stderr=errors, **extra)
    for fd in (stdin, out):
        if fd is not None:
            os.close(fd)

    def feed():  # a program that stops reading early breaks this pipe
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
        except BrokenPipeError:
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


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--backend", required=True, choices=sorted(TRANSLATORS))
    parser.add_argument("--layout", default="us")
    parser.add_argument("--group", default="", help="only groups whose heading contains this")
    parser.add_argument("--output", default="pipe")
    parser.add_argument("--input", default="pipe", choices=["pipe", "nonblocking"])
    parser.add_argument("--timeout", type=float, default=120)
    parser.add_argument("--pace", action="store_true", help="write each row once the ones before it show")
    parser.add_argument("--merged-moves", action="store_true", help="compare no motions (a desktop merges them)")
    parser.add_argument("tables", nargs="*", default=[os.path.join(os.path.dirname(__file__), "agent.cases")])
    split = sys.argv.index("--")
    args = parser.parse_args(sys.argv[1:split])
    command = shlex.split(os.environ.get("INPUTFEED_TEST_LAUNCHER", "")) + sys.argv[split + 1 :]

    keys = load_keys()
    prologue, translate = TRANSLATORS[args.backend]
    groups = [g for g in parse(args.tables, keys) if args.group in g[0]] or sys.exit("no group to run")
    failed = 0
    for output, (heading, rows) in ((o, g) for o in args.output.split(",") for g in groups):
        state = {"layout": args.layout}  # what a translator remembers within one stream
        expected, owner, pace = list(prologue), [None] * len(prologue), []
        for row in rows:
            pace += [(row[1], len(expected))] if row[1] else []
            for event in row[2]:
                lines = translate(event[0], event[1:], keys, state)
                expected += lines
                owner += [row] * len(lines)
        pace += [(b"", pace[-1][1] + sum(1 for o in owner[pace[-1][1] :] if o and o[1]))] if pace else []
        status, stdout, stderr, read_all = run(command, b"".join(r[1] for r in rows), output, args.input == "nonblocking", args.timeout, pace if args.pace else None)
        actual = stdout.decode("utf-8", "replace").splitlines()
        if args.merged_moves:
            kept = [i for i, line in enumerate(expected) if not line.startswith("motion ")]
            expected, owner = [expected[i] for i in kept], [owner[i] for i in kept]
            actual = [line for line in actual if not line.startswith("motion ")]
        problems = [f"exit status {status}"] if status else []
        problems += ["standard error: " + stderr.decode("utf-8", "replace")[:2000]] if stderr else []
        problems += [] if read_all else ["stopped reading its input before the end"]
        if output in ("pipe", "nonblocking") and actual != expected:
            at = next((i for i, (a, e) in enumerate(zip(actual, expected)) if a != e), min(len(actual), len(expected)))
            row = owner[at] if at < len(owner) else rows[-1]
            problems.append(
                f"output differs at line {at + 1}, " + (f"row {row[0]}: {row[1][:120]!r}" if row else "the start")
                + f"\n  expected: {expected[at:at + 3]}\n  actual:   {actual[at:at + 3]}"
            )
        failed += bool(problems)
        print(f"{'FAIL' if problems else 'ok  '} {heading} ({len(rows)} rows, output: {output})")
        print("".join(f"  {p}\n" for p in problems), end="")
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
