#!/usr/bin/env python3
"""Draws one-line mutants at random for scripts/mutate.sh.

    draw_mutants.py N SEED LISTING AREA FIRST DIR...

For the area, takes every .cpp and .h under the directories, finds the lines
that hold a construct one classic operator can change, picks N distinct lines
with a generator seeded by SEED and the area's name (so one area drawn alone
gets the same mutants as in a draw of all three), and on each one operator at
one place. Prints each mutant as `file|Ns/old/new/K` (line N, K-th match) for
mutate.sh, and appends them to LISTING numbered from FIRST, each as
`#n file:line` and the line before and after.

What can change: a relational operator (< <=, > >=, == !=, each way), && and
||, a dropped !, + and - (also += -=), * and / (also *= /=), an integer
constant (0 and 1 swap, n becomes n + 1; the digits of a real's exponent count
as one), true and false, and a statement that is a call or an assignment
replaced by an empty one. Binary operators count
only with a space either side, as this code writes them, which leaves out
templates, pointers, references, shifts and unary signs. Comments, string and
character literals, preprocessor lines, static_assert and the lines of #if
branches the build does not compile are never drawn.
"""
import os
import random
import re
import subprocess
import sys

SWAPS = {
    " < ": " <= ", " <= ": " < ", " > ": " >= ", " >= ": " > ",
    " == ": " != ", " != ": " == ", " && ": " || ", " || ": " && ",
    " + ": " - ", " - ": " + ", " * ": " / ", " / ": " * ",
    " += ": " -= ", " -= ": " += ", " *= ": " /= ", " /= ": " *= ",
}
OPERATOR = re.compile("|".join(re.escape(k) for k in sorted(SWAPS, key=len, reverse=True)))
INTEGER = re.compile(r"(?<![\w.'])\d+(?=[uUlLzZ]*(?![\w.']))")
BOOLEAN = re.compile(r"\b(true|false)\b")
NOT = re.compile(r"!(?!=)")
KEYWORDS = {"return", "break", "continue", "goto", "throw", "delete", "case", "default",
            "using", "typedef", "namespace", "static_assert", "template", "friend"}
LVALUE = r"[*]?[\w.:\[\]>-]+"
ASSIGNMENT = re.compile(r"^" + LVALUE + r" (=|\+=|-=|\*=|/=|\|=|&=|\^=|%=|<<=|>>=) .*;$")
INCREMENT = re.compile(r"^(\+\+|--)?" + LVALUE + r"(\+\+|--)?;$")
CALL_HEAD = re.compile(r"^[\w.:<>\[\]*-]+$")
PARAMETER = re.compile(r"(^|,)\s*(const )?[\w:]+(<[^()]*>)?[*&]*\s+[*&]*\w+\s*(=[^,]*)?(,|$)")


def mask(text):
    """The text with comments, string and character literals blanked out
    (same length, newlines kept), so that no token is found inside them."""
    out, i, n = list(text), 0, len(text)

    def blank(a, b):
        for k in range(a, b):
            if out[k] != "\n":
                out[k] = "\x01"

    while i < n:
        c = text[i]
        if text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            blank(i, j)
            i = j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            blank(i, j)
            i = j
        elif c == "R" and text.startswith('R"', i) and not (i and (text[i - 1].isalnum() or text[i - 1] == "_")):
            open_ = text.find("(", i)
            delim = text[i + 2:open_]
            j = text.find(")" + delim + '"', open_)
            j = n if j < 0 else j + len(delim) + 2
            blank(i + 1, j)
            i = j
        elif c in "\"'" and not (c == "'" and i and text[i - 1].isalnum()):
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            blank(i + 1, j)
            i = j + 1
        else:
            i += 1
    return "".join(out)


def system_macros(text):
    """Macros defined by the compiler and the system headers the file includes."""
    includes = "".join(l + "\n" for l in text.splitlines() if re.match(r"\s*#\s*include\s*<", l))
    cxx = os.environ.get("CXX", "c++")
    result = subprocess.run([cxx, "-std=c++20", "-dM", "-E", "-x", "c++", "-"], input=includes,
                            capture_output=True, text=True, check=False)
    return {m.group(1) for m in re.finditer(r"^#define (\w+)", result.stdout, re.M)}


def compiled_lines(text, lines):
    """For each line, whether it is code the build compiles: preprocessor lines
    and lines of an #if branch that is not taken are not."""
    defined, macros = set(), None
    stack = []  # (this branch taken, some branch taken, enclosing taken)
    live, result, continued = True, [], False

    def evaluate(expr):
        nonlocal macros
        if macros is None:
            macros = system_macros(text)
        known = macros | defined
        expr = re.sub(r"defined\s*\(?\s*(\w+)\s*\)?", lambda m: "1" if m.group(1) in known else "0", expr)
        expr = expr.replace("&&", " and ").replace("||", " or ")
        expr = re.sub(r"!(?!=)", " not ", expr)
        expr = re.sub(r"\b[A-Za-z_]\w*\b", lambda m: m.group(0) if m.group(0) in ("and", "or", "not") else "0", expr)
        try:
            return bool(eval(expr, {"__builtins__": {}}))  # noqa: S307 - digits and operators only
        except Exception:  # an expression this reader cannot judge: treat it as compiled
            return True

    for line in lines:
        directive = re.match(r"\s*#\s*(\w+)\s*(.*)", line)
        if continued or directive:
            result.append(False)
            continued = line.rstrip().endswith("\\")
            if not directive:
                continue
            word, rest = directive.group(1), directive.group(2).split("//")[0].strip()
            if word in ("if", "ifdef", "ifndef"):
                if word == "if":
                    taken = evaluate(rest)
                else:
                    taken = (rest.split()[0] in defined or evaluate(f"defined({rest.split()[0]})")) == (word == "ifdef")
                stack.append([live and taken, taken, live])
                live = live and taken
            elif word == "elif" and stack:
                top = stack[-1]
                taken = not top[1] and evaluate(rest)
                top[1] = top[1] or taken
                live = top[2] and taken
            elif word == "else" and stack:
                top = stack[-1]
                live = top[2] and not top[1]
                top[1] = True
            elif word == "endif" and stack:
                live = stack.pop()[2]
            elif word == "define" and live and rest:
                defined.add(re.match(r"\w+", rest).group(0))
            continue
        result.append(live)
    return result


def statement_deletion(code, previous):
    """Whether the line is a whole statement that calls or assigns (not a
    declaration, not a jump), so that an empty statement can replace it."""
    s = code.strip()
    if not s.endswith(";") or s == ";" or not previous.rstrip().endswith((";", "{", "}", ":", ")", "else")):
        return False
    first = re.match(r"[\w]*", s).group(0)
    if first in KEYWORDS:
        return False
    if any(s.count(a) != s.count(b) for a, b in ("()", "[]", "{}")):
        return False
    if ASSIGNMENT.match(s) or INCREMENT.match(s):
        return True
    head, _, args = s.partition("(")
    # Name(Type name, ...); declares a function: a parameter is a type and a name.
    return s.endswith(");") and bool(CALL_HEAD.match(head)) and not PARAMETER.search(args[:-2])


def candidates(line, code, previous):
    """Every (column, old, new) that one classic operator makes of the line;
    column -1 stands for the whole statement."""
    found = [(m.start(), m.group(0), SWAPS[m.group(0)]) for m in OPERATOR.finditer(code)]
    found += [(m.start(), "!", "") for m in NOT.finditer(code)]
    for m in INTEGER.finditer(code):
        value = int(m.group(0))
        found.append((m.start(), m.group(0), {0: "1", 1: "0"}.get(value, str(value + 1))))
    found += [(m.start(), m.group(0), "false" if m.group(0) == "true" else "true") for m in BOOLEAN.finditer(code)]
    if statement_deletion(code, previous):
        found.append((-1, line.strip(), ";"))
    return found


def sed_literal(text, replacement=False):
    specials = "\\/&" if replacement else "\\/.*[]^$"
    return "".join("\\" + c if c in specials else c for c in text)


def occurrence(line, column, old):
    """Which match of old, counted as sed counts them (left to right, not
    overlapping), starts at column; None when an earlier one swallows it."""
    k, i = 0, 0
    while True:
        i = line.find(old, i)
        if i < 0 or i > column:
            return None
        k += 1
        if i == column:
            return k
        i += len(old)


def lines_of(path):
    with open(path, encoding="utf-8") as f:
        text = f.read()
    lines, masked = text.split("\n"), mask(text).split("\n")
    compiled = compiled_lines(text, lines)
    previous, in_assert = "", False
    for number, (line, code, live) in enumerate(zip(lines, masked, compiled), start=1):
        if not live or not code.strip():
            continue
        if "static_assert" in code:
            in_assert = True
        if in_assert:
            in_assert = not code.rstrip().endswith(";")
            previous = code
            continue
        found = []
        for column, old, new in candidates(line, code, previous.replace("\x01", "")):
            if column < 0:
                found.append((f"{number}s/[^ ].*/;/", line[:len(line) - len(line.lstrip())] + ";", column))
                continue
            k = occurrence(line, column, old)
            if k is None:
                continue
            expr = f"{number}s/{sed_literal(old)}/{sed_literal(new, True)}/" + (str(k) if k > 1 else "")
            found.append((expr, line[:column] + new + line[column + len(old):], column))
        if found:
            yield number, line, found
        if code.replace("\x01", "").strip():
            previous = code.replace("\x01", "")


def main():
    count, seed, listing, area, first = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4], int(sys.argv[5])
    dirs = sys.argv[6:]
    files = sorted(os.path.join(d, name) for top in dirs for d, _, names in os.walk(top)
                   for name in names if name.endswith((".cpp", ".h")))
    pool = [(path, number, line, found) for path in files for number, line, found in lines_of(path)]
    rng = random.Random(f"{seed}/{area}")
    with open(listing, "a", encoding="utf-8") as out:
        for n, (path, number, line, found) in enumerate(rng.sample(pool, min(count, len(pool))), start=first):
            expr, after, _ = rng.choice(found)
            print(f"{path}|{expr}")
            out.write(f"#{n} {path}:{number}  {expr}\n    {line.strip()}\n -> {after.strip()}\n")


if __name__ == "__main__":
    main()
