#!/usr/bin/env python3
"""Every fenced snippet of the given Markdown files compiles as written: C and C++ with both
mingw-w64 compilers against the public headers, C# as a library with Mono's mcs, Python parsed,
with no function reading a name that only an `if` binds. Python snippets with a progress routine
also run, against a stand-in for Fotex.dll whose functions ctypes calls as it would the DLL's.
Blocks of other languages (cmake, sh, pascal, bare text) are read by people only.
Usage: snippets_test.py <source tree> <file.md>..."""
import ast
import ctypes
import inspect
import os
import subprocess
import sys
import tempfile

LANGUAGES = {"c": "c", "cpp": "cpp", "c++": "cpp", "cxx": "cpp",
             "csharp": "csharp", "cs": "csharp", "c#": "csharp", "python": "python", "py": "python"}


def snippets(path):
    """(first line, language, text) of each fenced block."""
    fence = None
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            if line.startswith("```"):
                if fence is None:
                    fence = (number + 1, line[3:].strip().split(" ")[0].lower(), [])
                else:
                    yield fence[0], fence[1], "".join(fence[2])
                    fence = None
            elif fence is not None:
                fence[2].append(line)
    if fence is not None:
        raise SyntaxError(f"{path}:{fence[0] - 1}: fence not closed")


def stored(node):
    """Names a statement binds, looking into it whole."""
    names = set()
    for sub in ast.walk(node):
        if isinstance(sub, ast.Name) and isinstance(sub.ctx, ast.Store):
            names.add(sub.id)
        elif isinstance(sub, (ast.FunctionDef, ast.ClassDef)):
            names.add(sub.name)
        elif isinstance(sub, (ast.Import, ast.ImportFrom)):
            names.update((a.asname or a.name).split(".")[0] for a in sub.names)
    return names


def conditional_reads(tree):
    """Problems: a function reads a module name that only an `if` binds. On the other branch (an
    older Fotex.dll without the function) the call fails with NameError instead of saying why."""
    always, sometimes = set(), set()
    for statement in tree.body:
        (sometimes if isinstance(statement, (ast.If, ast.Try)) else always).update(stored(statement))
    risky = sometimes - always
    problems = []
    for function in (s for s in tree.body if isinstance(s, ast.FunctionDef)):
        local = {a.arg for a in ast.walk(function.args) if isinstance(a, ast.arg)}
        for statement in function.body:
            local |= stored(statement)
        for sub in ast.walk(function):
            if isinstance(sub, ast.Name) and isinstance(sub.ctx, ast.Load) and sub.id in risky - local:
                problems.append(f"line {sub.lineno}: {function.name}() reads {sub.id}, bound only under an if")
    return problems


class StandIn:
    """Fotex.dll for Python snippets: its transfer functions are ctypes function pointers to Python
    routines, so ctypes converts each call with the snippet's argtypes as it would for the DLL
    (None for a routine type raises ArgumentError), and calls the snippet's progress routine
    through C. Transfers report 0, 50 and 100 and stop at a routine's first non-zero answer."""
    CANCELLED, SMALL_BUFFER, DATA = -2147023673, -2147024774, b"\xff\xd8" + bytes(998)
    PROGRESS = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_int)

    def __init__(self):
        c_int, p = ctypes.c_int, ctypes.c_void_p
        proto = lambda *args: ctypes.CFUNCTYPE(c_int, *args)
        self.answers = []  # what the routine returned, per percentage
        self._functions = {
            "SaveCameraItemWithProgress": proto(p, ctypes.c_wchar_p, c_int, c_int, p, p)(self._save),
            "ReadCameraItem": proto(p, c_int, p, c_int, ctypes.POINTER(c_int), p, p)(self._read),
            "GetItemText": proto(p, c_int, p, c_int)(self._text),
            "GetItemValue": proto(p, c_int, ctypes.POINTER(c_int))(self._value),
        }

    def __getattr__(self, name):
        if name not in self._functions:
            raise AttributeError(f"the stand-in has no {name}")
        return self._functions[name]

    def _report(self, progress, context):
        for percent in (0, 50, 100):
            if progress:
                answer = self.PROGRESS(progress)(context, percent)
                self.answers.append((percent, answer))
                if answer != 0:
                    return self.CANCELLED
        return 1

    def _save(self, item, name, format, flags, progress, context):
        return self._report(progress, context)

    def _read(self, item, format, buffer, capacity, size, progress, context):
        size[0] = len(self.DATA)
        if capacity < len(self.DATA):
            return self.SMALL_BUFFER
        status = self._report(progress, context)
        if status == 1:
            ctypes.memmove(buffer, self.DATA, len(self.DATA))
        return status

    def _text(self, item, what, text, bytes):
        name = ctypes.create_unicode_buffer("IMG_0001.JPG")  # this system's wchar_t, as the snippet's buffer
        if bytes < ctypes.sizeof(name):
            return self.SMALL_BUFFER
        ctypes.memmove(text, name, ctypes.sizeof(name))
        return 1

    def _value(self, item, what, value):
        value[0] = len(self.DATA)
        return 1


def run_transfers(text):
    """Problems of a Python snippet with a progress routine, run against the stand-in: each
    function that takes `report` saves, is cancelled by True and by an exception of the report,
    which comes out of it; each function that takes `item` alone reads the data."""
    fotex = StandIn()
    real = ctypes.CDLL
    ctypes.CDLL = lambda *args, **kwargs: fotex
    try:
        names = {}
        exec(compile(text, "snippet", "exec"), names)
    except Exception as e:
        return [f"does not run: {e!r}"]
    finally:
        ctypes.CDLL = real
    problems = []

    class Failure(Exception):
        pass

    def fail_at_50(percent):
        if percent == 50:
            raise Failure()
        return False

    for name, function in names.items():
        if not inspect.isfunction(function) or function.__module__ is not None:
            continue
        parameters = [p for p in inspect.signature(function).parameters.values() if p.default is p.empty]
        arguments = ["C:\\pics" if "folder" in p.name or "name" in p.name else 1 for p in parameters]
        if "report" in inspect.signature(function).parameters and "item" in inspect.signature(function).parameters:
            for report, answers, outcome in (
                    (lambda percent: False, [(0, 0), (50, 0), (100, 0)], True),
                    (lambda percent: percent == 50, [(0, 0), (50, 1)], False),
                    (fail_at_50, [(0, 0), (50, 1)], Failure)):
                fotex.answers.clear()
                try:
                    result = function(*arguments, report=report)
                except Exception as e:
                    result = type(e)
                if (result, fotex.answers) != (outcome, answers):
                    problems.append(f"{name}(): gave {result!r} after the answers {fotex.answers}, "
                                    f"not {outcome!r} after {answers}")
        elif [p.name for p in parameters] == ["item"]:
            try:
                data = function(1)
            except Exception as e:
                data = e
            if data != StandIn.DATA:
                problems.append(f"{name}(): gave {data!r:.80}")
    return problems


def check(language, text, source, work):
    """Error output, or None when the snippet compiles."""
    if language == "python":
        try:
            tree = ast.parse(text)
        except SyntaxError as e:
            return f"line {e.lineno}: {e.msg}"
        problems = conditional_reads(tree)
        if "CFUNCTYPE" in text:
            problems += run_transfers(text)
        return "; ".join(sorted(set(problems))) if problems else None
    suffix = {"c": ".c", "cpp": ".cpp", "csharp": ".cs"}[language]
    file = os.path.join(work, "snippet" + suffix)
    with open(file, "w", encoding="utf-8") as f:
        f.write(text)
    if language == "csharp":
        commands = [["mcs", "-target:library", "-warnaserror+", "-out:" + os.path.join(work, "snippet.dll"), file]]
    else:
        driver, standard = ("gcc", "-std=c99") if language == "c" else ("g++", "-std=c++17")
        commands = [[f"{machine}-w64-mingw32-{driver}-posix", standard, "-pedantic", "-Wall", "-Wextra", "-Werror",
                     "-I" + os.path.join(source, "include"), "-I" + os.path.join(source, "simulator"),
                     "-c", file, "-o", os.path.join(work, "snippet.o")]
                    for machine in ("i686", "x86_64")]
    for command in commands:
        run = subprocess.run(command, capture_output=True, text=True)
        if run.returncode != 0:
            return f"{command[0]}:\n{run.stdout}{run.stderr}"
    return None


def main():
    source, documents = sys.argv[1], sys.argv[2:]
    passed = failed = 0
    with tempfile.TemporaryDirectory() as work:
        for document in documents:
            for line, tag, text in snippets(document):
                language = LANGUAGES.get(tag)
                if language is None:
                    continue
                error = check(language, text, source, work)
                where = f"{os.path.relpath(document, source)}:{line} ({tag})"
                if error is None:
                    passed += 1
                    print(f"ok {where}")
                else:
                    failed += 1
                    print(f"FAILED {where}: {error}")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed or passed == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
