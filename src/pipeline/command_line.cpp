// Reading the command line's words, and writing its help.
#include "src/pipeline/command_line.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <system_error>
#include <vector>

namespace kestrel {
namespace {

// The text of a whole number, or nothing when it is none.
std::optional<WholeNumber> whole_number(std::string_view text) {
  WholeNumber n;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n.value);
  if (text.empty() || end != text.data() + text.size()) return std::nullopt;
  if (error == std::errc::result_out_of_range) {
    n = {0, text.front() == '-' ? -1 : 1};
  } else if (error != std::errc()) {
    return std::nullopt;
  }
  return n;
}

// The text of a number, or nothing when it is none. One too large for a
// double is kept as such, one too small reads as 0.
std::optional<Seconds> seconds_number(std::string_view text) {
  Seconds s;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), s.value);
  if (text.empty() || end != text.data() + text.size()) return std::nullopt;
  if (error == std::errc::result_out_of_range) {
    const double rounded = std::strtod(std::string(text).c_str(), nullptr);
    s = {std::isinf(rounded) && rounded < 0 ? -1.0 : 0.0, std::isinf(rounded) && rounded > 0};
  } else if (error != std::errc()) {
    return std::nullopt;
  }
  return s;
}

// The value of `text` for an option of `kind`.
OptionValue value_of(OptionKind kind, std::string_view text) {
  switch (kind) {
    case OptionKind::Switch: return true;
    case OptionKind::Count: return whole_number(text);
    case OptionKind::Seconds:
    case OptionKind::Number: return seconds_number(text);
    case OptionKind::Method:
    case OptionKind::File: return text;
  }
  return std::monostate();
}

// The command line's row spelled `word`, or nothing.
std::optional<std::size_t> row_of(std::string_view word, const Tables& tables) {
  for (std::size_t k = 0; k < tables.options.size(); ++k) {
    const Option& option = tables.options[k];
    if ((option.callers & kCommandLine) == 0) continue;
    if (option.flag == word || (!option.alias.empty() && option.alias == word)) return k;
  }
  return std::nullopt;
}

// "unknown option '--per_qubit'", with the option meant when a Python name
// or a spelling with "_" for "-" gives one.
std::string unknown_option(std::string_view word, const Tables& tables) {
  std::string guess(word.substr(0, word.find('=')));
  std::replace(guess.begin(), guess.end(), '_', '-');
  const std::size_t name = guess.find_first_not_of('-');
  guess = "--" + (name == std::string::npos ? std::string() : guess.substr(name));
  std::string message = "unknown option '" + std::string(word) + "'";
  if (const auto k = row_of(guess, tables)) {
    message += " (did you mean '" + std::string(tables.options[*k].flag) + "'?)";
  }
  return message;
}

// What the options given (`given`) say together, once every word is read:
// why they cannot run, or nothing.
std::optional<std::string> check_together(const Invocation& into, OptionSet given,
                                          const Tables& tables) {
  if (into.rz) {
    // Synthesis of one rotation: no input, and both values.
    if (!into.pipeline.epsilon) return "--rz needs --epsilon E, the precision, in (0, 0.1]";
    if (into.in) return "--rz reads no input file, but '" + *into.in + "' was given";
    return std::nullopt;
  }
  if (!into.in) return "no input file: give one as FILE or --in FILE (- is standard input)";
  if (auto refused = check_methods(given, into, Spelling::CommandLine, tables)) return refused;
  const PipelineOptions& run = into.pipeline;
  if ((into.report || into.dot) && (run.per_qubit || run.method != Method::Saturation)) {
    return "--report and --dot describe a saturation run on one wire, not --per-qubit or "
           "another --method";
  }
  return std::nullopt;
}

}  // namespace

CommandLine read_command_line(std::span<const std::string> words, const Tables& tables) {
  CommandLine out;
  Invocation& into = out.invocation;
  OptionSet given = 0;
  bool file_given = false;  // a word that is no option was read as the input
  bool only_files = false;  // past "--"
  auto refuse = [&](std::string message) {
    if (!out.error) out.error = std::move(message);
  };
  const std::size_t in_row = *row_of("--in", tables);
  // A second input, as a word or after --in, is an error; --in again replaces.
  auto second_input = [&](std::string_view word) {
    refuse("unexpected argument '" + std::string(word) + "': the input is already '" +
           *into.in + "'");
  };
  auto take_file = [&](const std::string& word) {
    if (into.in) return second_input(word);
    file_given = true;
    into.in = word;
    given |= OptionSet{1} << in_row;
  };

  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (only_files || word == "-" || !word.starts_with("-")) {
      take_file(word);
      continue;
    }
    if (word == "--") {
      only_files = true;
      continue;
    }
    const std::size_t equals = word.starts_with("--") ? word.find('=') : std::string::npos;
    const std::string_view spelling = std::string_view(word).substr(0, equals);
    const std::optional<std::size_t> k = row_of(spelling, tables);
    if (!k) {
      refuse(unknown_option(word, tables));
      continue;
    }
    const Option& option = tables.options[*k];
    std::optional<std::string_view> text;  // the value's text
    if (equals != std::string::npos) {
      text = std::string_view(word).substr(equals + 1);
    } else if (option.kind != OptionKind::Switch && i + 1 < words.size()) {
      text = words[++i];
    }
    if (option.kind == OptionKind::Switch && text) {
      refuse(std::string(option.flag) + " takes no value");
      continue;
    }
    if (option.kind != OptionKind::Switch && !text) {
      refuse(std::string(option.flag) + " needs a value (" + std::string(option.metavar) + ")");
      continue;
    }
    if (*k == in_row && file_given) {
      second_input(*text);
      continue;
    }
    given |= OptionSet{1} << *k;
    const std::string shown = "'" + std::string(text.value_or("")) + "'";
    const OptionValue value = value_of(option.kind, text.value_or(""));
    if (auto refused = set_option(option, value, shown, Spelling::CommandLine, into, tables)) {
      refuse(std::move(*refused));
    }
  }

  if (into.help || into.version) {
    out.error.reset();
    return out;
  }
  if (auto refused = check_together(into, given, tables)) refuse(std::move(*refused));
  return out;
}

std::string usage_line() { return "usage: kestrel [options] FILE\n"; }

std::string help_text(const Tables& tables) {
  constexpr std::size_t kWidth = 79;  // columns of the help's lines
  std::vector<std::pair<std::string, std::string>> options;
  for (const Option& option : tables.options) {
    if ((option.callers & kCommandLine) == 0) continue;
    std::string left = option.alias.empty() ? "" : std::string(option.alias) + ", ";
    left += std::string(option.flag);
    if (!option.metavar.empty()) left += " " + std::string(option.metavar);
    std::string right(option.help);
    if (option.kind == OptionKind::Method) right += ": one of the methods below";
    const std::string fallback = default_text(option, Spelling::CommandLine, tables);
    if (!fallback.empty()) right += " (default " + fallback + ")";
    options.emplace_back(std::move(left), std::move(right));
  }
  std::vector<std::pair<std::string, std::string>> methods;
  for (const MethodInfo& method : tables.methods) {
    methods.emplace_back(std::string(method.name),
                         std::string(method.summary) +
                             (method.reading == Reading::WholeProgram
                                  ? " (reads the whole program)"
                                  : " (reads one wire, or the whole program with --per-qubit)"));
  }
  std::size_t column = 0;
  for (const auto& rows : {options, methods}) {
    for (const auto& [left, right] : rows) column = std::max(column, left.size());
  }
  column += 4;  // two spaces before, two after
  auto lines = [&](const std::vector<std::pair<std::string, std::string>>& rows) {
    std::string out;
    for (const auto& [left, right] : rows) {
      out += "  " + left + std::string(column - 2 - left.size(), ' ') +
             wrap_words(right, kWidth, column, column) + "\n";
    }
    return out;
  };
  return usage_line() +
         "\nLowers the T count of the Clifford+T circuit in an OpenQASM 2.0 file; writes the\n"
         "result to standard output.\n\nOptions:\n" +
         lines(options) + "\nMethods (--method NAME):\n" + lines(methods) +
         "\nA one-wire method reads a text of one qubit line by line, and any other program\n"
         "per qubit, as --per-qubit does. It warns on standard error only about a text\n"
         "that holds no gate or is no program (with --strict it stops: exit status 1).\n"
         "--phase without --stats or --json prints the phase alone on standard error.\n"
         "--epsilon E with --method rotation-merging or phase-polynomial writes the result\n"
         "in h, s, sdg, t, tdg, x, y, z, cx and cz (besides measure, reset, if and\n"
         "barrier); --stats and --json add synthesis_error, the distances summed.\n"
         "kestrel --rz ANGLE --epsilon E, with no FILE, writes rz(ANGLE) as Clifford+T\n"
         "gates on one qubit; --stats adds the T count, distance and phase on standard\n"
         "error; --json prints {\"gates\": [...], \"t_count\": ..., \"distance\": ...,\n"
         "\"phase\": ...}.\n";
}

}  // namespace kestrel
