// The command line's words read by the table of options
// (src/pipeline/options.h), and its help, made from the same table.
//
//   kestrel circuit.qasm --method normal-form --stats
//   kestrel --in - --out result.qasm --json < circuit.qasm
//
// A word that is an option's spelling sets it; an option with a value takes
// the next word, whatever it is, or the part after "=" (--iter-limit=50); a
// later one replaces an earlier one. The one word that is no option is the
// input file, as --in gives it; "-" is standard input, and every word after
// "--" is a file. An unknown option, a second input (a second file, or a file
// and --in) or an option without its value is a usage error, and so is a
// value its option refuses:
//
//   unknown option '--per_qubit' (did you mean '--per-qubit'?)
//   unexpected argument 'b.qasm': the input is already 'a.qasm'
//   --in needs a value (FILE)
//   --iter-limit must be a whole number of at least 1, not '0'
//
// --help and --version ask for nothing else and win over every error.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "src/pipeline/options.h"

namespace kestrel {

struct CommandLine {
  Invocation invocation;             // the options given, the defaults elsewhere
  std::optional<std::string> error;  // the first usage error, when there is one
};

// Reads `words`, the arguments after the program's name.
CommandLine read_command_line(std::span<const std::string> words, const Tables& tables = {});

// "usage: kestrel [options] FILE", with its line feed.
std::string usage_line();

// The usage line and a line per option and per method, for --help.
std::string help_text(const Tables& tables = {});

}  // namespace kestrel
