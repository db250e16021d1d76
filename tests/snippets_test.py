#!/usr/bin/env python3
"""Every fenced snippet of the given Markdown files compiles as written: C and C++ with both
mingw-w64 compilers against the public headers, C# as a library with Mono's mcs, Python parsed.
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


def check(language, text, source, work):
    """Error output, or None when the snippet compiles."""
    if language == "python":
        try:
            ast.parse(text)
            return None
        except SyntaxError as e:
            return f"line {e.lineno}: {e.msg}"
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
