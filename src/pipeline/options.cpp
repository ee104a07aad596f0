// The checks of option values, the texts made from the tables, and the
// message about texts that are not one wire.
#include "src/pipeline/options.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <type_traits>
#include <vector>

namespace kestrel {
namespace {

// "<name> must be <what>, not <shown>".
std::string must_be(const Option& option, Spelling spelling, std::string_view what,
                    std::string_view shown) {
  return std::string(spelled(option, spelling)) + " must be " + std::string(what) + ", not " +
         std::string(shown);
}

std::optional<std::string> set_count(const Option& option, const OptionValue& value,
                                     std::string_view shown, Spelling spelling,
                                     std::size_t& out) {
  const auto* given = std::get_if<std::optional<WholeNumber>>(&value);
  const std::optional<WholeNumber> number = given != nullptr ? *given : std::nullopt;
  if (number && number->beyond > 0) {
    out = std::numeric_limits<std::size_t>::max();
    return std::nullopt;
  }
  if (!number || number->beyond < 0 || number->value < option.minimum) {
    return must_be(option, spelling,
                   "a whole number of at least " + std::to_string(option.minimum), shown);
  }
  out = static_cast<std::size_t>(number->value);
  return std::nullopt;
}

std::optional<std::string> set_seconds(const Option& option, const OptionValue& value,
                                       std::string_view shown, Spelling spelling,
                                       std::chrono::nanoseconds& out) {
  constexpr double kMaxNanoseconds = 9.0e18;  // below the largest int64
  const auto* given = std::get_if<std::optional<Seconds>>(&value);
  const std::optional<Seconds> seconds = given != nullptr ? *given : std::nullopt;
  if (seconds && seconds->too_large) {
    out = std::chrono::nanoseconds(static_cast<std::int64_t>(kMaxNanoseconds));
    return std::nullopt;
  }
  if (!seconds || !std::isfinite(seconds->value) || seconds->value <= 0) {
    return must_be(option, spelling, "a positive finite number of seconds", shown);
  }
  const double nanoseconds = std::min(seconds->value * 1e9, kMaxNanoseconds);
  out = std::chrono::nanoseconds(static_cast<std::int64_t>(nanoseconds));
  return std::nullopt;
}

std::optional<std::string> set_number(const Option& option, const OptionValue& value,
                                      std::string_view shown, Spelling spelling,
                                      std::optional<double>& out) {
  const auto* given = std::get_if<std::optional<Seconds>>(&value);
  const std::optional<Seconds> number = given != nullptr ? *given : std::nullopt;
  const bool finite = number && !number->too_large && std::isfinite(number->value);
  if (option.maximum > 0) {
    if (!finite || !(number->value > 0 && number->value <= option.maximum)) {
      char bound[32];
      const auto end = std::to_chars(bound, bound + sizeof bound, option.maximum).ptr;
      return must_be(option, spelling, "a number in (0, " + std::string(bound, end) + "]", shown);
    }
  } else if (option.nonnegative) {
    if (!finite || number->value < 0) {
      return must_be(option, spelling, "a finite number of at least 0", shown);
    }
  } else if (!finite) {
    return must_be(option, spelling, "a finite number", shown);
  }
  out = number->value;
  return std::nullopt;
}

// The row of `method` in `tables`, or null.
const MethodInfo* find_method(Method method, const Tables& tables) {
  for (const MethodInfo& info : tables.methods) {
    if (info.method == method) return &info;
  }
  return nullptr;
}

// "a, b or c".
std::string joined(std::span<const std::string> items) {
  std::string out;
  for (std::size_t k = 0; k < items.size(); ++k) {
    if (k > 0) out += k + 1 == items.size() ? " or " : ", ";
    out += items[k];
  }
  return out;
}

// What a finding says about its line.
std::string finding_phrase(const WireFinding& wire) {
  using Kind = WireFinding::Kind;
  const std::string line = "line " + std::to_string(wire.line);
  switch (wire.kind) {
    case Kind::Qubits:
      return line + " declares more than one qubit (" + std::to_string(wire.qubits) + " in all)";
    case Kind::OtherQubit:
      return line + (wire.wire.empty() ? " applies a gate to no single qubit"
                                       : " applies a gate to a qubit other than " + wire.wire);
    case Kind::InDefinition: return line + ", in a gate definition, is read as a gate of the wire";
    case Kind::Measurement: return line + " holds a measurement, which the reader drops";
    case Kind::Reset: return line + " holds a reset, which the reader drops";
    case Kind::Condition: return line + " holds a statement under if, which the reader drops";
    case Kind::Parameters: return line + " holds a gate with parameters, which the reader drops";
    case Kind::UnknownStatement:
      return line + " holds a gate or statement the reader does not know, and drops";
    case Kind::DroppedGate:
      return line + " holds a gate the reader drops (it reads the one gate a line starts with)";
    case Kind::None:
    case Kind::NoGate: break;
  }
  return line;
}

}  // namespace

std::string wrap_words(std::string_view text, std::size_t width, std::size_t indent,
                       std::size_t column) {
  std::string out;
  bool first = true;
  while (!text.empty()) {
    const std::size_t space = text.find(' ');
    const std::string_view word = text.substr(0, space);
    text.remove_prefix(space == std::string_view::npos ? text.size() : space + 1);
    if (!first && column + 1 + word.size() > width) {
      out += "\n" + std::string(indent, ' ');
      column = indent;
    } else if (!first) {
      out += ' ';
      ++column;
    }
    out += word;
    column += word.size();
    first = false;
  }
  return out;
}

std::string_view spelled(const Option& option, Spelling spelling) {
  return spelling == Spelling::Python ? option.name : option.flag;
}

std::optional<std::string> set_option(const Option& option, const OptionValue& value,
                                      std::string_view shown, Spelling spelling,
                                      Invocation& into, const Tables& tables) {
  return std::visit(
      [&](auto field) -> std::optional<std::string> {
        auto& out = field(into);
        using Field = std::remove_reference_t<decltype(out)>;
        if constexpr (std::is_same_v<Field, bool>) {
          out = std::get_if<bool>(&value) == nullptr || std::get<bool>(value);
          return std::nullopt;
        } else if constexpr (std::is_same_v<Field, std::size_t>) {
          return set_count(option, value, shown, spelling, out);
        } else if constexpr (std::is_same_v<Field, std::chrono::nanoseconds>) {
          return set_seconds(option, value, shown, spelling, out);
        } else if constexpr (std::is_same_v<Field, double>) {
          std::optional<double> number;
          auto error = set_number(option, value, shown, spelling, number);
          if (!error) out = *number;
          return error;
        } else if constexpr (std::is_same_v<Field, Method>) {
          const auto* name = std::get_if<std::string_view>(&value);
          for (const MethodInfo& method : tables.methods) {
            if (name != nullptr && method.name == *name) {
              out = method.method;
              return std::nullopt;
            }
          }
          return must_be(option, spelling, method_list("'", tables), shown);
        } else if constexpr (std::is_same_v<Field, std::optional<double>>) {
          return set_number(option, value, shown, spelling, out);
        } else {
          const auto* path = std::get_if<std::string_view>(&value);
          out = path != nullptr ? std::string(*path) : std::string();
          return std::nullopt;
        }
      },
      option.slot);
}

std::optional<std::string> check_methods(OptionSet given, const Invocation& into,
                                         Spelling spelling, const Tables& tables) {
  const Method chosen = into.pipeline.method;
  for (std::size_t k = 0; k < tables.options.size(); ++k) {
    const Option& option = tables.options[k];
    if ((given >> k & 1) == 0 || (option.methods & only(chosen)) != 0) continue;
    std::vector<std::string> names;
    for (const MethodInfo& method : tables.methods) {
      if ((option.methods & only(method.method)) != 0) {
        names.push_back("'" + std::string(method.name) + "'");
      }
    }
    const MethodInfo* info = find_method(chosen, tables);
    return std::string(spelled(option, spelling)) + " applies to method " + joined(names) +
           " only, not '" + std::string(info != nullptr ? info->name : "") + "'";
  }
  return std::nullopt;
}

std::string method_list(std::string_view quote, const Tables& tables) {
  std::vector<std::string> names;
  for (const MethodInfo& method : tables.methods) {
    names.push_back(std::string(quote) + std::string(method.name) + std::string(quote));
  }
  return joined(names);
}

std::string default_text(const Option& option, Spelling spelling, const Tables& tables) {
  Invocation defaults;
  const bool python = spelling == Spelling::Python;
  return std::visit(
      [&](auto field) -> std::string {
        const auto& value = field(defaults);
        using Field = std::remove_cvref_t<decltype(value)>;
        if constexpr (std::is_same_v<Field, bool>) {
          return python ? (value ? "True" : "False") : "";
        } else if constexpr (std::is_same_v<Field, std::size_t>) {
          return std::to_string(value);
        } else if constexpr (std::is_same_v<Field, std::chrono::nanoseconds>) {
          char buffer[32];
          const double seconds = std::chrono::duration<double>(value).count();
          const auto end = std::to_chars(buffer, buffer + sizeof buffer, seconds).ptr;
          std::string text(buffer, end);
          if (python && text.find_first_of(".e") == std::string::npos) text += ".0";
          return text;
        } else if constexpr (std::is_same_v<Field, double>) {
          char buffer[32];
          const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
          std::string text(buffer, end);
          if (python && text.find_first_of(".e") == std::string::npos) text += ".0";
          return text;
        } else if constexpr (std::is_same_v<Field, std::optional<double>>) {
          return python ? "None" : "";  // unset unless given
        } else if constexpr (std::is_same_v<Field, Method>) {
          const MethodInfo* info = find_method(value, tables);
          const std::string name(info != nullptr ? info->name : "");
          return python ? "'" + name + "'" : name;
        } else {
          return "";
        }
      },
      option.slot);
}

std::string python_signature(std::string_view function, std::span<const char* const> positional,
                             Caller caller, const Tables& tables) {
  std::string out = std::string(function) + "(";
  for (std::size_t k = 0; k < positional.size(); ++k) out += (k > 0 ? ", " : "") + std::string(positional[k]);
  bool first = true;
  for (const Option& option : tables.options) {
    if ((option.callers & caller) == 0 || option.name.empty()) continue;
    out += first ? (positional.empty() ? "*, " : ", *, ") : ", ";
    out += std::string(option.name) + "=" + default_text(option, Spelling::Python, tables);
    first = false;
  }
  return out + ")";
}

std::string python_option_help(Caller caller, const Tables& tables) {
  std::string out;
  for (const Option& option : tables.options) {
    if ((option.callers & caller) == 0 || option.name.empty()) continue;
    std::string line = std::string(option.name) + ": " + std::string(option.help);
    if (option.kind == OptionKind::Method) {
      std::vector<std::string> methods;
      for (const MethodInfo& method : tables.methods) {
        methods.push_back("'" + std::string(method.name) + "' (" + std::string(method.summary) +
                          ")");
      }
      line += ": " + joined(methods);
    }
    line += " (default " + default_text(option, Spelling::Python, tables) + ").";
    out += wrap_words(line, 76, 2, 0) + "\n";
  }
  return out;
}

std::string one_wire_message(const WireFinding& wire, Spelling spelling) {
  const bool python = spelling == Spelling::Python;
  const std::string subject = python ? "the text" : "the input";
  const std::string no_program = subject + " is no whole program either: " + wire.not_a_program;
  if (wire.no_gate) {
    return subject + " was read as one wire and holds no gate, so the result is the empty " +
           "circuit" +
           (python ? "; a file name given in place of the file's text is the usual cause "
                     "(pass open(name).read())"
                   : "") +
           (wire.not_a_program.empty() ? "" : ", and " + no_program);
  }
  return subject + " was read as one wire, but " + finding_text(wire) +
         ". The result is not equivalent to the program, and " + no_program;
}

std::string finding_text(const WireFinding& wire) {
  return finding_phrase(wire) + ": \"" + wire.text + "\"";
}

}  // namespace kestrel
