#!/usr/bin/env python3
"""Every count of functions that the documents state is derived here from what declares and
exports them: fotex.h (its table of API levels, the settings list), fotexsim_api.h, Fotex.def and
FotexSim.def. A count of functions that no rule below can derive fails too: say it in a form one
of them reads, or teach this file where it comes from, so that no count goes stale.
Usage: counts_test.py <source tree> <document>..."""
import os
import re
import sys

WORDS = {w: i for i, w in enumerate("zero one two three four five six seven eight nine ten eleven twelve thirteen "
                                    "fourteen fifteen sixteen seventeen eighteen nineteen twenty".split())}
NUM = r"(?i:\d+|" + "|".join(WORDS) + r")"
# A count of functions anywhere: "ten functions", "the 71 settings functions", "Ten more functions"
# (not "one Call Library Function Node").
COUNT_OF_FUNCTIONS = re.compile(r"\b(?P<n>(?i:\d+|" + "|".join(list(WORDS)[2:]) + r"))(?:\s+[a-z][\w-]*){0,3}?\s+functions\b")


UNCLAIMED = object()  # a rule that does not apply in this section


def number(text):
    return int(text) if text.isdigit() else WORDS[text.lower()]


def def_exports(path):
    """The names of a module-definition file, in its order."""
    names, exports = [], False
    with open(path, encoding="utf-8") as f:
        for line in f:
            word = line.split(";")[0].split()
            if word == ["EXPORTS"]:
                exports = True
            elif word and exports:
                names.append(word[0])
    return names


class Facts:
    """What the headers and module-definition files say, each checked against the others."""

    def __init__(self, source):
        read = lambda *p: open(os.path.join(source, *p), encoding="utf-8").read()
        header, sim_header = read("include", "fotex.h"), read("simulator", "fotexsim_api.h")
        self.exports = def_exports(os.path.join(source, "src", "exports", "Fotex.def"))
        self.sim_exports = def_exports(os.path.join(source, "simulator", "FotexSim.def"))
        self.problems = []
        declared_sim = re.findall(r"__cdecl\s+(\w+)\s*\(", sim_header)
        if sorted(declared_sim) != sorted(self.sim_exports):
            self.problems.append(f"fotexsim_api.h declares {declared_sim}, FotexSim.def exports {self.sim_exports}")
        rows = re.findall(r"X\(FOTEX_KIND_\w+, FOTEX_PROP_\w+, (\w+), (\w+)\)", header)
        self.settings = len(rows)
        self.settings_functions = sum(1 + (setter != "FOTEX_NO_SETTER") for _, setter in rows)

        # The table of API levels: level, count, first function, group, partitioning Fotex.def.
        self.levels = []  # (count, group)
        table = re.compile(r"level (\d+) \((\d+) functions?, from (\w+)\): (.*?)(?=\n\s*\n|\n\s+level )", re.S)
        start = 0
        for level, count, first, group in table.findall(header):
            count, group = int(count), " ".join(group.split())
            if int(level) != len(self.levels) + 1:
                self.problems.append(f"fotex.h: level {level} follows level {len(self.levels)}")
            at = self.exports[start] if start < len(self.exports) else "(nothing)"
            if at != first:
                self.problems.append(f"fotex.h: level {level} starts with {first}, but Fotex.def has {at} after "
                                     f"the {start} functions of the levels below (new exports go at its end)")
            self.levels.append((count, group))
            start += count
        if start != len(self.exports):
            self.problems.append(f"fotex.h's levels hold {start} functions, Fotex.def exports {len(self.exports)}")
        api_level = re.search(r"#define FOTEX_API_LEVEL (\d+)", header)
        if not api_level or int(api_level.group(1)) != len(self.levels):
            self.problems.append(f"FOTEX_API_LEVEL is not {len(self.levels)}, the last level of fotex.h's table")

    def group_pattern(self):
        """The groups of the later levels by name, "the API level" as "API level"."""
        return "|".join(re.escape(re.sub(r"^the ", "", g)) for _, g in self.levels[1:])

    def level_of(self, title):
        """The level whose group a section title names, or None."""
        for i, (_, group) in enumerate(self.levels[1:], 2):
            if title.lower().startswith(re.sub(r"^the ", "", group).lower()):
                return i
        return None


def rules(facts):
    """(pattern, value of the count it reads for a paragraph and its section's level); a value of
    None says the count is of behaviour, checked by the programs' tests, not of declarations."""
    groups = facts.group_pattern()
    by_group = lambda m: next(c for c, g in facts.levels if re.sub(r"^the ", "", g).lower() == m["g"].lower())
    level = lambda i: (lambda m, section: facts.levels[i - 1][0] if len(facts.levels) >= i else -1)
    section = lambda m, s: facts.levels[s - 1][0] if s else UNCLAIMED
    return [
        (rf"level (?P<level>\d+) \((?P<n>\d+) functions?, from \w+\)", lambda m, s: facts.levels[int(m["level"]) - 1][0]),
        (rf"the same (?P<n>{NUM}) functions", lambda m, s: len(facts.exports)),
        (rf"levels 1 to (?P<to>\d+) hold (?P<n>{NUM})", lambda m, s: sum(c for c, _ in facts.levels[:int(m["to"])])),
        (rf"(?P<n>{NUM}) (?:functions )?of (?:Fotex |version )?1\.3\b", level(1)),
        (rf"after the (?P<n>{NUM}) above", level(1)),
        (rf"(?P<n>{NUM}) (?:functions )?of (?P<g>{groups})", lambda m, s: by_group(m)),
        (rf"(?P<n>{NUM}) (?P<g>{groups}) functions", lambda m, s: by_group(m)),
        (rf"(?P<n>{NUM}) functions of the virtual camera|virtual camera's (?P<n2>{NUM}) functions"
         rf"|fotexsim_api\.h`? declares (?:all |the )?(?P<n3>{NUM})", lambda m, s: len(facts.sim_exports)),
        # "FotexSimRegister ... FotexSimRevoke ... with the other eight: ..."
        (rf"with the other (?P<n>{NUM})",
         lambda m, s: len(facts.sim_exports) - len(set(re.findall(r"`(FotexSim\w+)`", m.string[:m.start()])))),
        (rf"(?P<n>{NUM}) (?:settings|named) functions", lambda m, s: facts.settings_functions),
        (rf"(?P<n>{NUM}) (?:camera )?settings\b(?! functions)", lambda m, s: facts.settings),
        (rf"(?P<n>{NUM}) functions can show", lambda m, s: None),
        # In a section of one group: "Ten functions list ...", "these five", "the seven directly".
        (rf"(?P<n>{NUM}) (?:more )?functions|these (?P<n2>{NUM}) (?:functions|came|beside)|the (?P<n3>{NUM}) directly",
         section),
    ]


def paragraphs(path):
    """(section title, paragraph) of a Markdown file outside code, or of a header's comments."""
    title, lines, fenced = "", [], False
    header = path.endswith(".h")
    with open(path, encoding="utf-8") as f:
        for line in f:
            heading = re.match(r"/\* ---- (.*?) -+ \*/" if header else r"#+ (.*)", line)
            if line.startswith("```"):
                fenced = not fenced
                continue
            if fenced:
                continue
            if heading or not line.strip(" */\n"):
                if lines:
                    yield title, " ".join(" ".join(lines).split())
                lines = []
                if heading:
                    title = heading.group(1)
                continue
            lines.append(line.strip().lstrip("/*").rstrip("*/"))
    if lines:
        yield title, " ".join(" ".join(lines).split())


def check(facts, path, source):
    """(passed, problems) of one document."""
    passed, problems = 0, []
    where = os.path.relpath(path, source)
    compiled = [(re.compile(p, re.I), value) for p, value in rules(facts)]
    names = set(facts.exports) | set(facts.sim_exports)
    for title, text in paragraphs(path):
        level = facts.level_of(title)
        claimed = {}  # start of the number -> (stated, derived, match)
        for pattern, value in compiled:
            for m in pattern.finditer(text):
                group = next(g for g in ("n", "n2", "n3") if g in m.groupdict() and m[g] is not None)
                derived = value(m, level)
                if m.start(group) not in claimed and derived is not UNCLAIMED:
                    claimed[m.start(group)] = (number(m[group]), derived, m)
        for start, (stated, derived, m) in sorted(claimed.items()):
            if derived is not None and stated != derived:
                problems.append(f"{where} ({title}): \"{m[0]}\" says {stated}, the headers give {derived}")
            else:
                passed += 1
        for m in COUNT_OF_FUNCTIONS.finditer(text):
            if m.start("n") not in claimed:
                problems.append(f"{where} ({title}): \"{m[0]}\" is a count no rule derives")
        # A total lists its parts: the counts after it and the functions it names add up to it.
        for m in re.finditer(rf"the same (?P<n>{NUM}) functions", text, re.I):
            parts = sum(s for start, (s, _, _) in claimed.items() if start > m.start("n"))
            parts += len(set(re.findall(r"`(\w+)`", text[m.end():])) & names)
            if parts != number(m["n"]):
                problems.append(f"{where} ({title}): the parts after \"{m[0]}\" add up to {parts}")
        # A list of the virtual camera's functions names each one.
        if re.search(rf"(?:declares (?:all |the )?{NUM}(?: functions)?|with the other {NUM}): `FotexSim", text):
            missing = [n for n in facts.sim_exports if f"`{n}`" not in text]
            if missing:
                problems.append(f"{where} ({title}): the list of fotexsim_api.h's functions leaves out {missing}")
    return passed, problems


def main():
    source, documents = sys.argv[1], sys.argv[2:]
    facts = Facts(source)
    passed, failed = 0, len(facts.problems)
    for problem in facts.problems:
        print(f"FAILED {problem}")
    for document in documents:
        ok, problems = check(facts, document, source)
        passed += ok
        failed += len(problems)
        for problem in problems:
            print(f"FAILED {problem}")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed or passed == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
