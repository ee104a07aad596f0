"""The command line as a program: `python -m kestrel` and the `kestrel` script.

`kestrel.cli()` raises, as any Python function does; run as a program, the
command line instead reports a file it cannot read or write, or a program the
per-qubit mode cannot read, in one line and exits with status 1, and exits
with status 130 on Ctrl-C, without a traceback:

    $ kestrel --in missing.qasm
    kestrel: [Errno 2] No such file or directory: 'missing.qasm'
"""

import sys

import kestrel


def main() -> int:
    """Runs the command line on the process's arguments; returns the exit status."""
    try:
        kestrel.cli()
    except (OSError, ValueError) as error:
        print(f"kestrel: {error}", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        return 130
    return 0


if __name__ == "__main__":
    sys.exit(main())
