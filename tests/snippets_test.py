#!/usr/bin/env python3
"""Every fenced snippet of the given Markdown files compiles as written: C and C++ with both
mingw-w64 compilers against the public headers, C# as a library with Mono's mcs, Python parsed,
with no function reading a name that only an `if` binds.
Blocks of other languages (cmake, sh, pascal, bare text) are read by people only.
Usage: snippets_test.py <source tree> <file.md>..."""
import ast
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


def check(language, text, source, work):
    """Error output, or None when the snippet compiles."""
    if language == "python":
        try:
            tree = ast.parse(text)
        except SyntaxError as e:
            return f"line {e.lineno}: {e.msg}"
        problems = conditional_reads(tree)
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
