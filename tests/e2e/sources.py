"""What the end-to-end cases compare with, read from the program's own sources instead of copied:
the texts as the text table builds them by default, resource ids from res/resource.h, and the
control ids, messages and captions from the headers that define them.

A name that cannot be found, or a source written in a way this reader does not follow, stops
with a SourceError naming the file and the line; nothing is guessed or skipped.
Run on its own, it checks that every id run.py reads and every text it names is there.
"""
import functools
import os
import re

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
TEXT_DEFAULTS = "src/config/text_table_defaults.cpp"
RESOURCE_HEADER = "res/resource.h"

# Bases of message numbers as <windows.h> defines them.
WINDOWS_BASES = {"WM_USER": 0x0400, "WM_APP": 0x8000}


class SourceError(Exception):
    pass


@functools.lru_cache(maxsize=None)
def _read(path):
    full = os.path.join(ROOT, path)
    try:
        with open(full, encoding="utf-8") as f:
            return f.read()
    except OSError as e:
        raise SourceError(f"{path}: cannot read it ({e.strerror})") from None


# ---- C++ tokens ------------------------------------------------------------------------------

_TOKEN = re.compile(r"""
    (?P<space>\s+)
  | (?P<comment>//[^\n]*|/\*.*?\*/)
  | (?P<string>(?:u8|[LuU])?"(?:[^"\\\n]|\\.)*")
  | (?P<char>(?:u8|[LuU])?'(?:[^'\\\n]|\\.)*')
  | (?P<number>0[xX][0-9a-fA-F]+[uUlL]*|\d+[uUlL]*)
  | (?P<name>[A-Za-z_]\w*(?:::[A-Za-z_]\w*)*)
  | (?P<punct>::|->|[-+*/%<>=!&|^~?:;,.(){}\[\]#])
""", re.VERBOSE | re.DOTALL)

_RAW_STRING = re.compile(r'(?:u8|[LuU])?R"')
_DIRECTIVE = re.compile(r"#(?:[^\n\\]|\\.)*", re.DOTALL)

_SIMPLE_ESCAPES = {"n": "\n", "r": "\r", "t": "\t", "0": "\0", "\\": "\\", '"': '"', "'": "'",
                   "?": "?", "a": "\a", "b": "\b", "f": "\f", "v": "\v"}


class Token:
    def __init__(self, kind, value, line, wide=False):
        self.kind, self.value, self.line, self.wide = kind, value, line, wide

    def __repr__(self):
        return f"{self.kind} {self.value!r} (line {self.line})"


def _unescape(body, path, line):
    out, i = [], 0
    while i < len(body):
        c = body[i]
        if c != "\\":
            out.append(c)
            i += 1
            continue
        e = body[i + 1]
        if e in "xuU":
            size = {"x": None, "u": 4, "U": 8}[e]
            digits = re.match(r"[0-9a-fA-F]+" if size is None else f"[0-9a-fA-F]{{{size}}}",
                              body[i + 2:])
            if not digits:
                raise SourceError(f"{path}:{line}: a \\{e} escape without its digits")
            out.append(chr(int(digits.group(0), 16)))
            i += 2 + len(digits.group(0))
        elif e in "1234567":
            digits = re.match(r"[0-7]{1,3}", body[i + 1:]).group(0)
            out.append(chr(int(digits, 8)))
            i += 1 + len(digits)
        elif e in _SIMPLE_ESCAPES:
            out.append(_SIMPLE_ESCAPES[e])
            i += 2
        else:
            raise SourceError(f"{path}:{line}: unknown escape \\{e} in a string")
    return "".join(out)


def tokens(text, path):
    """The tokens of C++ source `text` without comments and preprocessor lines; strings come
    decoded, each literal on its own (adjacent ones are joined by the reader)."""
    found, pos, line = [], 0, 1
    while pos < len(text):
        if _RAW_STRING.match(text, pos):
            raise SourceError(f"{path}:{line}: raw strings are not read here")
        m = _TOKEN.match(text, pos)
        if not m:
            raise SourceError(f"{path}:{line}: cannot read the source from {text[pos:pos + 20]!r}")
        kind, value = m.lastgroup, m.group(0)
        if value == "#" and (not found or found[-1].line < line):
            # A preprocessor line, with its continuations.
            m = _DIRECTIVE.match(text, pos)
            line += m.group(0).count("\n")
            pos = m.end()
            continue
        if kind == "string":
            prefix, body = value.split('"', 1)
            found.append(Token("string", _unescape(body[:-1], path, line), line, prefix == "L"))
        elif kind not in ("space", "comment"):
            found.append(Token(kind, value, line))
        line += value.count("\n")
        pos = m.end()
    return found


def _strings(toks, i):
    """Adjacent string literals from toks[i], joined as the compiler joins them; (text, next)."""
    parts = []
    while i < len(toks) and toks[i].kind == "string":
        parts.append(toks[i].value)
        i += 1
    return "".join(parts), i


def _expect(toks, i, value, path, what):
    if i >= len(toks) or toks[i].value != value or toks[i].kind == "string":
        at = toks[i] if i < len(toks) else "the end of the file"
        raise SourceError(f"{path}: {what}: wanted {value!r}, found {at}")
    return i + 1


# ---- the text table's defaults -----------------------------------------------------------------

def default_texts(path=TEXT_DEFAULTS):
    """{key: text} as the table is built: each row's pieces joined, Of("Key") standing for the
    text that key has at that point, Text(kName) for a wide string constant of the file."""
    toks = tokens(_read(path), path)
    constants = {}
    for i in range(len(toks) - 2):
        if toks[i].kind == "name" and toks[i + 1].value == "=" and toks[i + 2].kind == "string":
            text, after = _strings(toks, i + 2)
            if after < len(toks) and toks[after].value == ";":
                constants[toks[i].value] = text
    rows, used = {}, set()
    i = 0
    while i < len(toks) - 3:
        # A row: { "Key", { piece, ... } }
        if not (toks[i].value == "{" and toks[i + 1].kind == "string" and not toks[i + 1].wide
                and toks[i + 2].value == "," and toks[i + 3].value == "{"):
            i += 1
            continue
        key, line = toks[i + 1].value, toks[i + 1].line
        if key in rows:
            raise SourceError(f"{path}:{line}: the text {key!r} is built twice")
        used.add(i + 1)
        i, pieces = i + 4, []
        while True:
            if i + 1 >= len(toks):
                raise SourceError(f"{path}: the file ends inside the row {key!r}")
            t = toks[i]
            if t.value == "}" and t.kind == "punct":
                i += 1
                break
            if pieces:
                i = _expect(toks, i, ",", path, f"between the pieces of {key!r}")
                t = toks[i]
            if t.value == "Text" and t.kind == "name":
                i = _expect(toks, i + 1, "(", path, f"a piece of {key!r}")
                if toks[i].kind == "string":
                    text, i = _strings(toks, i)
                elif toks[i].kind == "name" and toks[i].value in constants:
                    text, i = constants[toks[i].value], i + 1
                else:
                    raise SourceError(f"{path}:{toks[i].line}: a piece of {key!r} is neither a "
                                      f"string nor a string constant of the file: {toks[i]}")
            elif t.value == "Of" and t.kind == "name":
                i = _expect(toks, i + 1, "(", path, f"a piece of {key!r}")
                if toks[i].kind != "string" or toks[i].value not in rows:
                    raise SourceError(f"{path}:{toks[i].line}: {key!r} uses {toks[i]} before "
                                      f"that text is built")
                text = rows[toks[i].value]
                used.add(i)
                i += 1
            else:
                raise SourceError(f"{path}:{t.line}: a piece of {key!r} is not Text(...) or "
                                  f"Of(...): {t}")
            i = _expect(toks, i, ")", path, f"a piece of {key!r}")
            pieces.append(text)
        i = _expect(toks, i, "}", path, f"the end of the row {key!r}")
        rows[key] = "".join(pieces)
    # Every key written in the file was read as a row or a reference: a row in a shape this
    # reader passed over would otherwise go missing without a word.
    for n, t in enumerate(toks):
        if t.kind == "string" and not t.wide and n not in used:
            raise SourceError(f"{path}:{t.line}: {t.value!r} is not in a row this reader follows "
                              "({\"Key\", {Text(...), Of(\"Key\"), ...}})")
    if not rows:
        raise SourceError(f"{path}: no text rows found")
    return rows


class Texts(dict):
    """The default texts; asking for a key the table does not have is an error naming it."""

    def __init__(self, path=TEXT_DEFAULTS):
        super().__init__(default_texts(path))
        self.path = path

    def __missing__(self, key):
        raise SourceError(f"no text {key!r} in {self.path} ({len(self)} rows)")

    def first_line(self, key):
        """What windriver reports of a box showing the text: its first line."""
        return self[key].splitlines()[0]


# ---- ids and constants -------------------------------------------------------------------------

@functools.lru_cache(maxsize=None)
def resource_ids(path=RESOURCE_HEADER):
    """{name: number} of the header's `#define NAME number` lines."""
    ids = {}
    for n, line in enumerate(_read(path).splitlines(), 1):
        m = re.match(r"\s*#\s*define\s+(\w+)\s+(.*?)\s*(?://.*)?$", line)
        if not m:
            continue
        value = m.group(2).strip("()")
        if not re.fullmatch(r"0[xX][0-9a-fA-F]+|\d+", value):
            raise SourceError(f"{path}:{n}: {m.group(1)} is not a plain number: {m.group(2)!r}")
        if m.group(1) in ids:
            raise SourceError(f"{path}:{n}: {m.group(1)} is defined twice")
        ids[m.group(1)] = int(value, 0)
    return ids


def resource_id(name, path=RESOURCE_HEADER):
    ids = resource_ids(path)
    if name not in ids:
        raise SourceError(f"no #define {name} in {path}")
    return ids[name]


@functools.lru_cache(maxsize=None)
def _tokens_of(path):
    return tokens(_read(path), path)


def constant(path, name):
    """The value of `name = ...;` in the file at `path` (from the repository's root): a number,
    a sum of numbers, WM_USER/WM_APP and res/resource.h names, or a wide string."""
    toks = _tokens_of(path)
    places = [i for i, t in enumerate(toks[:-1])
              if t.kind == "name" and t.value == name and
              (toks[i + 1].value == "=" or
               toks[i + 1].value == "[" and toks[i + 2].value == "]" and toks[i + 3].value == "=")]
    if not places:
        raise SourceError(f"no constant {name} in {path}")
    if len(places) > 1:
        lines = ", ".join(str(toks[i].line) for i in places)
        raise SourceError(f"{path}: {name} is given a value more than once (lines {lines})")
    i = places[0] + (1 if toks[places[0] + 1].value == "=" else 3) + 1
    line = toks[i].line
    if toks[i].kind == "string":
        text, i = _strings(toks, i)
        _expect(toks, i, ";", path, f"the end of {name}")
        return text
    total, sign = 0, 1
    if toks[i].kind == "punct" and toks[i].value == "-":
        sign, i = -1, i + 1
    while True:
        t = toks[i]
        if t.kind == "number":
            value = int(t.value.rstrip("uUlL"), 0)
        elif t.kind == "name" and t.value in WINDOWS_BASES:
            value = WINDOWS_BASES[t.value]
        elif t.kind == "name" and re.fullmatch(r"ID[A-Z]?_\w+", t.value):
            value = resource_id(t.value)
        else:
            raise SourceError(f"{path}:{line}: the value of {name} is not a number this reader "
                              f"works out: {t}")
        total += sign * value
        i += 1
        if toks[i].value == ";":
            return total
        if toks[i].value not in "+-" or toks[i].kind != "punct":
            raise SourceError(f"{path}:{line}: the value of {name} goes on with {toks[i]}")
        sign = 1 if toks[i].value == "+" else -1
        i += 1


if __name__ == "__main__":
    # The suite's own use: run.py reads its ids and captions as it loads; each text it names
    # must be in the table.
    import run
    with open(run.__file__, encoding="utf-8") as f:
        named = sorted(set(re.findall(r"TEXTS(?:\[|\.first_line\()[\"'](\w+)[\"']", f.read())))
    for key in named:
        run.TEXTS[key]
    print(f"{len(run.TEXTS)} texts in {TEXT_DEFAULTS}, the {len(named)} the cases name all there")
