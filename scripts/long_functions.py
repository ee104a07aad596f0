"""Lists the C++ functions longer than a limit (80 lines by default), from
the line that opens a function's body to the line that closes it, with
lambdas and local classes counted in the function that holds them.

    python scripts/long_functions.py [LIMIT] [FOLDER...]   (default: src engine binding)

It reads braces, not C++: a body opens on a line with '{' that is not a
namespace, class, struct, enum or union and has a ')' on it or the line
before; comments, strings and character literals are passed over.
"""

import pathlib
import re
import sys

SCOPE = re.compile(r"^(namespace|class|struct|enum|union|extern)\b|\b(class|struct|enum)\b[^()]*\{")


def long_functions(path, limit):
    lines = path.read_text().splitlines()
    stack = []  # (is a function body, first line)
    for i, line in enumerate(lines):
        code = re.sub(r"//.*", "", line)
        code = re.sub(r'"(\\.|[^"\\])*"', '""', code)
        code = re.sub(r"'(\\.|[^'\\])*'", "''", code)
        for ch in code:
            if ch == "{":
                head = code.strip()
                inside = any(body for body, _ in stack)
                opens = ")" in code or (i > 0 and ")" in lines[i - 1])
                stack.append((not SCOPE.search(head) and not inside and opens and not head.startswith("="), i))
            elif ch == "}" and stack:
                body, start = stack.pop()
                if body and i - start + 1 > limit:
                    yield start + 1, i - start + 1, lines[start].strip()


def main():
    limit = int(sys.argv[1]) if len(sys.argv) > 1 else 80
    folders = sys.argv[2:] or ["src", "engine", "binding"]
    found = 0
    for folder in folders:
        for path in sorted(pathlib.Path(folder).rglob("*")):
            if path.suffix in (".cpp", ".h"):
                for line, length, text in long_functions(path, limit):
                    print(f"{path}:{line}: {length} lines: {text[:90]}")
                    found += 1
    sys.exit(1 if found else 0)


if __name__ == "__main__":
    main()
