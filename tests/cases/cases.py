#!/usr/bin/env python3
"""Runs end-to-end case tables against a program and compares what it reports.

    cases.py --backend NAME [--layout L] [--group TEXT] TABLE... -- COMMAND...

A table holds rows "INPUT => EVENT; EVENT..." under "## Heading" lines; each heading starts a
group, and each group is fed to one run of COMMAND as its standard input. The events are
written in a form common to all backends and turned into what COMMAND prints for the chosen
backend (the dry run's JSON lines, an observer's report of what a desktop received, ...), with
the key codes taken from keys.table beside this script. COMMAND must print exactly those
lines, nothing on standard error, and exit with status 0.

Input escapes: <CR> <LF> <TAB> <NUL> <xHH> (bytes), <PAD n> (spaces that make the row's bytes
before it n long), <REP n:TEXT> (TEXT n times), <TIMES n> at the start of a row (the row, events
included, n times), <EOF> at the end of a group's last row (no line feed after
it). Spaces before "=>" only align the table; a row starting with "=>" is an empty line, and
a row whose input is <END> adds no input, only events expected after the rest. A row that
names $KEY stands for one row per key of keys.table; consecutive such rows are repeated
together, key by key.

Events: move X Y [middle|right], press|release left|middle|right X Y, keydown|keyup NAME,
pointer X Y (where the pointer rests at the end, as an observer reports it).

INPUTFEED_TEST_LAUNCHER, when set, is put in front of COMMAND (valgrind, for instance).
"""
import argparse
import os
import re
import shlex
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
TOKEN = re.compile(r"<(CR|LF|TAB|NUL|EOF|x[0-9A-Fa-f]{2}|PAD \d+|REP \d+:[^>]*)>")
NAMED = {"CR": b"\r", "LF": b"\n", "TAB": b"\t", "NUL": b"\0"}


def load_keys():
    rows = [l.split() for l in open(os.path.join(HERE, "keys.table")) if l.strip() and l[0] != "#"]
    header = rows[0]
    return {r[0]: dict(zip(header, r)) for r in rows[1:]}


def expand(text):
    """The bytes of one row's input, and whether a line feed follows them."""
    out, end, pos = bytearray(), True, 0
    for m in TOKEN.finditer(text):
        out += text[pos : m.start()].encode()
        pos = m.end()
        token = m.group(1)
        if token in NAMED:
            out += NAMED[token]
        elif token == "EOF":
            end = False
        elif token[0] == "x":
            out.append(int(token[1:], 16))
        elif token.startswith("PAD"):
            out += b" " * (int(token[4:]) - len(out))
        else:
            count, rep = token[4:].split(":", 1)
            out += rep.encode() * int(count)
    out += text[pos:].encode()
    return bytes(out), end


def parse(paths, keys):
    """Groups as (heading, [(where, input bytes, [event words])])."""
    groups, block = [], []  # block: consecutive rows naming $KEY, repeated for each key

    def add(where, text, words, times, key=None):
        sub = (lambda s: s.replace("$KEY", key)) if key else (lambda s: s)
        data, newline = (b"", False) if text == "<END>" else expand(sub(text))
        row = (where, data + (b"\n" if newline else b""), [[sub(w) for w in e] for e in words])
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
                continue
            if not line.strip() or line.startswith("#"):
                continue
            text, sep, events = ("", "=>", line[2:]) if line.startswith("=>") else line.rpartition(" =>")
            if not sep:
                sys.exit(f"{path}:{number}: a row needs ' =>'")
            text, times = text.rstrip(" "), 1
            if text.startswith("<TIMES "):
                count, text = text[7:].split(">", 1)
                times = int(count)
            row = (f"{path}:{number}", text, [e.split() for e in events.split(";") if e.strip()], times)
            if "$KEY" in line:
                block.append(row)
            else:
                flush()
                add(*row)
        flush()
    return groups


MAC_BUTTON = {"left": 0, "right": 1, "middle": 2}
MAC_PRESS = {"left": (1, 2), "right": (3, 4), "middle": (25, 26)}


def trace(event, keys, args):
    kind = event[0]
    if kind == "move":
        button = MAC_BUTTON[event[3] if len(event) > 3 else "left"]
        return [f'{{"event":"mouse","type":5,"x":{event[1]},"y":{event[2]},"button":{button}}}']
    if kind in ("press", "release"):
        code = MAC_PRESS[event[1]][kind == "release"]
        return [f'{{"event":"mouse","type":{code},"x":{event[2]},"y":{event[3]},"button":{MAC_BUTTON[event[1]]}}}']
    if kind in ("keydown", "keyup"):
        down = "true" if kind == "keydown" else "false"
        return [f'{{"event":"key","keyCode":{keys[event[1]]["mac"]},"down":{down}}}']
    if kind == "pointer":
        return []  # the dry run moves nothing, so it has no pointer to report
    raise ValueError(event)


X11_BUTTON = {"left": 1, "middle": 2, "right": 3}
X11_KEYMAPS = {"us": ("x11", "us"), "de": ("x11", "de"), "fujitsu": ("fujitsu", "fujitsu_sym")}


def x11(event, keys, args):
    kind = event[0]
    if kind == "move":
        return [f"motion {event[1]} {event[2]}"]
    if kind in ("press", "release"):
        x, y = event[2], event[3]
        return [f"motion {x} {y}", f"button {kind} {X11_BUTTON[event[1]]} {x} {y}"]
    if kind in ("keydown", "keyup"):
        code_column, sym_column = X11_KEYMAPS[args.layout]
        key = keys[event[1]]
        if key[code_column] == "-":
            return []
        phase = "press" if kind == "keydown" else "release"
        return [f"key {phase} {key[code_column]} {key[sym_column]}"]
    if kind == "pointer":
        return [f"pointer {event[1]} {event[2]}"]
    raise ValueError(event)


WAYLAND_BUTTON = {"left": 272, "right": 273, "middle": 274}
MODIFIERS = ["Shift", "Lock", "Control", "Mod1", "Mod2", "Mod3", "Mod4", "Mod5"]
MODIFIER_OF = {"ShiftLeft": "Shift", "ShiftRight": "Shift", "ControlLeft": "Control", "ControlRight": "Control",
               "AltLeft": "Mod1", "AltRight": "Mod1", "MetaLeft": "Mod4"}


def wayland(event, keys, args):
    # Wayland reports no motion to where the pointer already is (observers home it to 1,1),
    # and each change of the modifiers in effect (German AltRight is AltGr, Mod5); a client
    # reads a key with the modifiers in effect: Shift makes letters capitals.
    state, kind = args.state, event[0]
    if kind in ("move", "press", "release"):
        at = tuple(event[1:3] if kind == "move" else event[2:4])
        lines = [] if at == state.get("at", ("1", "1")) else ["motion %s %s" % at]
        state["at"] = at
        if kind != "move":
            lines.append(f"button {kind} {WAYLAND_BUTTON[event[1]]} {at[0]} {at[1]}")
        return lines
    if kind in ("keydown", "keyup"):
        name, key = event[1], keys[event[1]]
        held, before = state.setdefault("held", set()), state.get("mods", set())
        sym = key[args.layout].upper() if "Shift" in before and len(key[args.layout]) == 1 else key[args.layout]
        lines = [f"key {'press' if kind == 'keydown' else 'release'} {key['evdev']} {sym}"]
        (held.add if kind == "keydown" else held.discard)(name)
        mods = {MODIFIER_OF[k] if (k, args.layout) != ("AltRight", "de") else "Mod5" for k in held if k in MODIFIER_OF}
        if mods != before:
            lines.append("modifiers " + (" ".join(m for m in MODIFIERS if m in mods) or "none"))
        state["mods"] = mods
        return lines
    if kind == "pointer":
        return [f"pointer {event[1]} {event[2]}"]
    raise ValueError(event)


def windows(event, keys, args):
    """The Windows observer: hook events, and what its focused window received. It starts
    with the pointer at 1,1 and reports no move to where the pointer already is."""
    kind, state = event[0], args.state
    if kind == "move" or kind in ("press", "release"):
        at = tuple(event[1:3] if kind == "move" else event[2:4])
        lines = [f"move {at[0]} {at[1]}"] if at != state.get("at", ("1", "1")) else []
        state["at"] = at
        if kind == "move":
            return lines
        return lines + [f"{kind} {event[1]} {at[0]} {at[1]}", f"window {kind} {event[1]} {at[0]} {at[1]}"]
    if kind in ("keydown", "keyup"):
        key, held = keys[event[1]], state.setdefault("held", set())
        held.add(event[1]) if kind == "keydown" else held.discard(event[1])
        # Characters are reported only while no Ctrl, Alt or Windows key is down.
        char = key["win_shift" if {"ShiftLeft", "ShiftRight"} & held else "win_char"]
        if held & {"ControlLeft", "ControlRight", "AltLeft", "AltRight", "MetaLeft"}:
            char = "none"
        typed = [f"char {char}"] if kind == "keydown" and char != "none" else []
        return [f"{kind} {key['win_vk']} {key['win_scan']}"] + typed
    if kind == "pointer":
        return []  # under Wine the cursor position does not follow hooked input
    raise ValueError(event)


# Per backend: what every run prints first, and how an event is reported.
TRANSLATORS = {
    "trace": (['{"event":"trust","prompt":true}'], trace),
    "x11": ([], x11),
    "wayland": ([], wayland),
    "windows": ([], windows),
}


def run(command, data, output, timeout):
    """Runs COMMAND on DATA with its standard output as OUTPUT says; returns (status,
    stdout, stderr, whether COMMAND read all of DATA)."""
    fds, out_fd, reader = {}, subprocess.PIPE, None
    if output == "closed":
        fds["preexec_fn"] = lambda: os.close(1)
    elif output == "full":
        out_fd = open("/dev/full", "wb")
    elif output in ("unread", "nonblocking"):
        read_end, out_fd = os.pipe()
        if output == "unread":
            os.close(read_end)
        else:
            # Inherited non-blocking, drained slowly: writes meet a full pipe.
            os.set_blocking(out_fd, False)
            chunks = []

            def drain():
                while chunk := os.read(read_end, 4096):
                    chunks.append(chunk)
                    time.sleep(0.0005)
                os.close(read_end)

            reader = threading.Thread(target=drain)
            reader.start()
    errors = tempfile.TemporaryFile()
    proc = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=out_fd, stderr=errors, **fds)
    if out_fd is not subprocess.PIPE:
        os.close(out_fd) if isinstance(out_fd, int) else out_fd.close()
    read_all = []

    def feed():  # a program that stops reading early breaks this pipe
        try:
            proc.stdin.write(data)
            proc.stdin.close()
        except BrokenPipeError:
            read_all.append(False)

    writer = threading.Thread(target=feed)
    writer.start()
    stdout = proc.stdout.read() if proc.stdout else b""
    proc.wait(timeout)
    writer.join()
    if reader:
        reader.join()
        stdout = b"".join(chunks)
    errors.seek(0)
    return proc.returncode, stdout, errors.read(), not read_all


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--backend", required=True, choices=sorted(TRANSLATORS))
    parser.add_argument("--layout", default="us")
    parser.add_argument("--group", default="", help="only groups whose heading contains this")
    parser.add_argument("--timeout", type=float, default=120)
    parser.add_argument(
        "--output",
        default="pipe",
        help="comma-separated, each a run of every group with standard output: pipe, "
        "nonblocking (a non-blocking pipe read slowly), or one that takes nothing, where only "
        "the status and the input read to its end are checked: closed, unread, full",
    )
    parser.add_argument("tables", nargs="+")
    argv = sys.argv[1:]
    split = argv.index("--")
    args = parser.parse_args(argv[:split])
    command = shlex.split(os.environ.get("INPUTFEED_TEST_LAUNCHER", "")) + argv[split + 1 :]

    keys = load_keys()
    prologue, translate = TRANSLATORS[args.backend]
    groups = [g for g in parse(args.tables, keys) if args.group in g[0]]
    if not groups:
        sys.exit("no group to run")
    failed = 0
    for output, (heading, rows) in ((o, g) for o in args.output.split(",") for g in groups):
        args.state = {}  # what a translator remembers within one stream
        expected, owner = list(prologue), [None] * len(prologue)
        for row in rows:
            for event in row[2]:
                lines = translate(event, keys, args)
                expected += lines
                owner += [row] * len(lines)
        status, stdout, stderr, read_all = run(command, b"".join(r[1] for r in rows), output, args.timeout)
        actual = stdout.decode("utf-8", "replace").split("\n")
        if actual[-1] == "":
            actual.pop()
        problems = []
        if status != 0:
            problems.append(f"exit status {status}")
        if stderr:
            problems.append("standard error: " + stderr.decode("utf-8", "replace")[:2000])
        if not read_all:
            problems.append("stopped reading its input before the end")
        if output in ("pipe", "nonblocking") and actual != expected:
            at = next((i for i, (a, e) in enumerate(zip(actual, expected)) if a != e), min(len(actual), len(expected)))
            row = owner[at] if at < len(owner) else rows[-1]
            where = f"row {row[0]}: {row[1][:120]!r}" if row else "the start"
            problems.append(
                f"output differs at line {at + 1}, {where}\n"
                f"  expected: {expected[at:at + 3]}\n  actual:   {actual[at:at + 3]}"
            )
        if problems:
            failed += 1
            print(f"FAIL {heading} (output: {output})\n  " + "\n  ".join(problems))
        else:
            print(f"ok   {heading} ({len(rows)} rows, output: {output})")
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
