#!/usr/bin/env python3
"""A mutation spot-check of the test suite.

Each mutant is one exact text replacement in one product file (engine/,
src/, binding/): a flipped comparison, a dropped statement, a changed
constant. For every mutant in turn the script applies it to a private copy
of the tree, builds the C++ tests and the Python module, and runs the
deterministic suites of scripts/test.sh (CTest, then pytest against the
module built with the mutant; no fuzzing, no sanitizer rerun), stopping at
the first failure. A mutant is "killed" when some test fails or times out,
"survived" when the whole suite passes, "not applicable" when its snippet
is not found exactly once, and "build failed" when it does not compile.

    python3 scripts/mutants.py                    # tests and code of this checkout
    python3 scripts/mutants.py --tests 62773b8    # the tests of another revision
    python3 scripts/mutants.py --only E01,N05     # some mutants
    python3 scripts/mutants.py --compare a.json b.json

The product code comes from the working tree (or --code REV), the tests
from the working tree (or --tests REV). The copy, its builds and the
results live under build/mutants/ (--work); builds are kept between runs,
so only what a mutant touches is recompiled. The checkout itself is never
modified. Needs cmake (3.26 or newer) and ninja on PATH, as
scripts/test.sh sets them up in build/venv.
"""

from __future__ import annotations

import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import time
import tomllib
from dataclasses import dataclass
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
# -O1 builds in a third of the time of -O2 -g, and the tests run as well.
OPTIMIZE = "-O1"
PRODUCT = ("engine", "src", "binding", "CMakeLists.txt", "pyproject.toml", "README.md",
           "bench", "examples", "fuzz")


@dataclass(frozen=True)
class Mutant:
    id: str
    file: str
    old: str
    new: str
    what: str


M = Mutant
MUTANTS = [
    # engine/egraph.h
    M("E01", "engine/egraph.h", "if (lists_.size(parents_[root]) < lists_.size(parents_[other])) std::swap(root, other);",
      "if (lists_.size(parents_[root]) > lists_.size(parents_[other])) std::swap(root, other);", "union keeps the class with fewer parents"),
    M("E02", "engine/egraph.h", "    --class_count_;\n    changed_ = true;\n",
      "    --class_count_;\n", "a merge leaves the layout as it was"),
    M("E03", "engine/egraph.h", "      stale_keys_ += memo_.erase(keys[id]);\n",
      "", "rebuild keeps a key that is no longer canonical in the hash-cons"),
    M("E04", "engine/egraph.h", "    changed_ = true;\n    clean_ = false;\n    return id;",
      "    changed_ = true;\n    return id;", "adding a node leaves the clean flag set"),
    M("E05", "engine/egraph.h", "it != memo_.end()) return find(*it);",
      "it != memo_.end()) return *it;", "lookup returns a stale id, not the canonical one"),
    M("E06", "engine/egraph.h", "    for (Id parent : lists_.view(parents_[other])) pending_.push_back(parent);\n",
      "", "union does not queue the absorbed class's parents"),
    # engine/unionfind.h
    M("U01", "engine/unionfind.h", "parents_[checked_index(parents_.size(), root2)] = root1;",
      "parents_[checked_index(parents_.size(), root1)] = root2;", "union_roots links the wrong way"),
    # engine/extract.h
    M("X01", "engine/extract.h", "if (cost && (!best || *cost < best->cost))",
      "if (cost && (!best || *cost <= best->cost))", "extraction ties go to the last node"),
    M("X02", "engine/extract.h", "if (!slot || found->cost < slot->cost) {", "if (!slot) {",
      "a class's first cost is never improved"),
    # engine/fault.h, engine/language.h
    M("F01", "engine/fault.h", "if (index >= len) [[unlikely]]", "if (index > len) [[unlikely]]",
      "checked_index lets the index one past the end through"),
    M("L01", "engine/language.h",
      "const L& operator[](Id id) const { return nodes_[checked_index(nodes_.size(), id)]; }",
      "const L& operator[](Id id) const { return nodes_[id]; }",
      "RecExpr read access is unchecked"),
    M("L02", "engine/language.h",
      "  update_children(root, [&](Id child) { return position.at(child); });\n  nodes.push_back(root);",
      "  nodes.push_back(root);", "build_recexpr does not renumber the root's children"),
    # engine/machine.h
    M("M01", "engine/machine.h", "first = std::partition_point(first, last, [&](const L& n) { return n.kind() < kind; });",
      "first = std::partition_point(first, last, [&](const L& n) { return n.kind() <= kind; });", "a class of 16 or more nodes shows no node of the kind searched"),
    M("M02", "engine/machine.h", ": egraph.find(read(inst.i)) == egraph.find(read(inst.j));",
      ": egraph.find(read(inst.i)) != egraph.find(read(inst.j));", "Compare inverted"),
    M("M03", "engine/machine.h", "return !lookup_.empty() && lookup_.back() == egraph.find(read(inst.i));",
      "return !lookup_.empty();", "Lookup does not compare the term's class with the searched one"),
    M("M04", "engine/machine.h", "return --limit == 0 ? Control::Stop : Control::Continue;",
      "return Control::Continue;", "the match limit is ignored"),
    M("M05", "engine/machine.h", "return {unbound == 0, unbound, -static_cast<std::int64_t>(sizes_[index])};",
      "return {unbound == 0, unbound, static_cast<std::int64_t>(sizes_[index])};",
      "the compiler prefers the larger subterm"),
    M("M06", "engine/machine.h", "add_todo(child, inst.out + k++);", "add_todo(child, inst.out + k);",
      "Bind puts every child in the same register"),
    M("M07", "engine/machine.h",
      "  if (!egraph.clean()) fault(\"Tried to search a dirty e-graph!\");\n  std::vector<Subst> found;",
      "  std::vector<Subst> found;", "searching a dirty e-graph is not refused"),
    # engine/pattern.h, engine/rewrite.h
    M("P01", "engine/pattern.h", "    limit -= m->substs.size();\n", "",
      "the limit is not consumed across classes"),
    M("P02", "engine/pattern.h", "if (egraph.union_(id, m.eclass)) changed.push_back(id);",
      "egraph.union_(id, m.eclass); changed.push_back(id);",
      "apply reports classes that did not change"),
    M("P03", "engine/pattern.h", "if (ground_ && limit > 0 && !egraph.classes_by_kind",
      "if (ground_ && !egraph.classes_by_kind", "the ground shortcut ignores a zero limit"),
    M("R01", "engine/rewrite.h", "if (std::find(bound.begin(), bound.end(), v) == bound.end()) {",
      "if (false && std::find(bound.begin(), bound.end(), v) == bound.end()) {",
      "a rule with an unbound applier variable is accepted"),
    # engine/run.h
    M("N01", "engine/run.h", "if (total > threshold) {", "if (total >= threshold) {",
      "a search of exactly the threshold is banned"),
    M("N02", "engine/run.h", "stats.banned_until = iteration + (stats.ban_length << stats.times_banned);",
      "stats.banned_until = iteration + stats.ban_length;", "the ban length does not double"),
    M("N03", "engine/run.h", "if (r.banned_until > iteration) banned.push_back(&r);",
      "if (r.banned_until >= iteration) banned.push_back(&r);",
      "can_stop counts a ban that ends now"),
    M("N04", "engine/run.h", "if (egraph.node_count() > node_limit) return",
      "if (egraph.node_count() >= node_limit) return", "the node limit is reached one node early"),
    M("N05", "engine/run.h", "if (iterations.size() >= iter_limit)", "if (iterations.size() > iter_limit)",
      "one iteration past the iteration limit"),
    M("N06", "engine/run.h", "                           report.egraph_nodes == nodes_after_hooks &&\n",
      "", "saturation ignores nodes added by hooks"),
    M("N07", "engine/run.h",
      "        if (n > 0) report.applied.get_or_insert(rules[k].name) += n;\n"
      "        if ((result = check_limits())) break;\n",
      "        if (n > 0) report.applied.get_or_insert(rules[k].name) += n;\n",
      "the apply phase does not test the limits"),
    M("N08", "engine/run.h", "    hooks = std::move(taken);\n", "", "hooks are lost after the first iteration"),
    M("N09", "engine/run.h", "const bool saturated = report.applied.empty() && scheduler->can_stop(i) &&",
      "const bool saturated = report.applied.empty() &&",
      "the run saturates while a rule is banned"),
    # engine/sexp.cpp, engine/expr_reader.*, engine/symbol.cpp, engine/subst.h, engine/pattern_node.h
    M("S01", "engine/sexp.cpp", "} else if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) {",
      "} else {", "error columns count bytes, not code points"),
    M("S02", "engine/sexp.cpp", "if (ch == '\"' && prev != '\\\\') break;", "if (ch == '\"') break;",
      "an escaped quote ends a quoted string"),
    M("S03", "engine/sexp.cpp", "      if (!from.items_.empty()) todo.emplace_back(&from, &to);\n", "",
      "copying drops nested lists"),
    M("A01", "engine/expr_reader.h", "if (child >= renumbered.size()) fault(\"no entry found for key\");",
      "if (child > renumbered.size()) fault(\"no entry found for key\");",
      "compact accepts a child that points to itself"),
    M("A02", "engine/expr_reader.cpp", "c == 0x205F || c == 0x3000;", "c == 0x205F;",
      "U+3000 is not trimmed from pattern text"),
    M("Y01", "engine/symbol.cpp", "if (stored >= kIndexMask) {", "if (stored > kIndexMask) {",
      "one index too many fits in a symbol handle"),
    M("B01", "engine/subst.h", "      if (size_ == kInline) heap_.assign(inline_.begin(), inline_.end());\n",
      "", "a fourth binding loses the first three"),
    M("V01", "engine/pattern_node.h",
      "      if (!children.empty()) return Error{typename Error::UnexpectedVar{std::string(op)}};\n", "",
      "a variable with children is accepted"),
    M("V02", "engine/pattern_node.h", "return is_var() <=> other.is_var();",
      "return other.is_var() <=> is_var();", "variables sort before nodes"),
    # src/
    M("G01", "src/circuit/op.cpp", "if (is_binary(kind) && children.size() == 2)",
      "if (is_binary(kind) && children.size() >= 2)", "seq and par accept extra children"),
    M("G02", "src/circuit/op.h", "return kind_ == o.kind_ && children_[0] == o.children_[0] && children_[1] == o.children_[1];",
      "return kind_ == o.kind_ && children_[0] == o.children_[0];",
      "node equality ignores the second child"),
    M("G03", "src/circuit/op.h",
      "    if (children_[0] != o.children_[0]) return children_[0] <=> o.children_[0];\n"
      "    return children_[1] <=> o.children_[1];",
      "    if (children_[1] != o.children_[1]) return children_[1] <=> o.children_[1];\n"
      "    return children_[0] <=> o.children_[0];",
      "nodes are ordered by the second child first"),
    M("C01", "src/saturation/cost.h", "add(std::max(a.depth, b.depth), 1)", "add(std::max(a.depth, b.depth), 0)",
      "Par is no deeper than its deeper side"),
    M("C02", "src/saturation/cost.h", "      case OpKind::T:\n      case OpKind::Tdg: return {1, 1, 1};",
      "      case OpKind::T: return {1, 1, 1};", "Tdg costs no T gate"),
    M("C03", "src/saturation/cost.h",
      "if (__builtin_add_overflow(a, b, &sum)) return std::numeric_limits<std::int64_t>::max();",
      "__builtin_add_overflow(a, b, &sum);", "cost sums wrap around instead of saturating"),
    M("Q01", "src/text/qasm.cpp", "if (b1 == 0x85 || b1 == 0xA0) return 2;", "if (b1 == 0xA0) return 2;",
      "U+0085 is not trimmed from a line"),
    M("Q02", "src/text/qasm.cpp", "(b2 >= 0x80 && b2 <= 0x8A)", "(b2 >= 0x80 && b2 <= 0x8B)",
      "U+200B is trimmed as white space"),
    M("Q03", "src/text/qasm.cpp", "for (std::size_t len = 1; len <= 3 && len <= t.size(); ++len) {",
      "for (std::size_t len = 1; len <= 2 && len <= t.size(); ++len) {",
      "three-byte white space is not trimmed at the end of a line"),
    M("Q04", "src/text/qasm.cpp", "if (after == ' ' || (after == '\\t' && gate == OpKind::H)) return gate;",
      "if (after == ' ') return gate;", "a tab after h is not accepted"),
    M("Q05", "src/circuit/chain.h",
      "      todo.push_back(node.children()[1]);\n      node = expr[node.children()[0]];",
      "      todo.push_back(node.children()[0]);\n      node = expr[node.children()[1]];",
      "gates are walked second child first"),
    M("Q06", "src/circuit/op.h", "{\"Tdg\", \"Tdg\", \"tdg\", true, true},",
      "{\"Tdg\", \"Tdg\", \"tdg\", true, false},", "Tdg is not counted as a T gate"),
    M("Q07", "src/circuit/chain.h", "    if (!root_) expr_.add(Op(OpKind::I));\n", "",
      "a text without gates reads as an empty expression"),
    M("O01", "src/saturation/optimize.cpp", "  return joins + std::popcount(kinds) > node_limit;",
      "  return joins + std::popcount(kinds) >= node_limit;",
      "the no-rewrite shortcut is taken at exactly the node limit"),
    M("O02", "src/saturation/optimize.cpp", "      ++joins;", "      joins += 2;",
      "the node-limit test counts the joins twice"),
    M("O03", "src/pipeline/pipeline.cpp", "past_node_limit(read.gates.size() - 1, read.kinds,",
      "past_node_limit(read.gates.size(), read.kinds,",
      "the pipeline's past-limit path counts one node too many"),
    M("W01", "src/saturation/rules.cpp", "{\"seq-assoc-rl\", \"(seq ?a (seq ?b ?c))\", \"(seq (seq ?a ?b) ?c)\"},",
      "{\"seq-assoc-rl\", \"(seq ?a (seq ?b ?c))\", \"(seq ?a (seq ?b ?c))\"},",
      "right-to-left regrouping does nothing"),
    M("W02", "src/saturation/rules.cpp", "{\"tdg-t-id\", \"(seq Tdg T)\", \"I\"},", "{\"tdg-t-id\", \"(seq Tdg Tdg)\", \"I\"},",
      "the Tdg;T rule matches Tdg;Tdg"),
    M("P01", "src/program/scopes.h", "    locals_.clear();\n    in_definition_ = false;\n",
      "    locals_.clear();\n", "a definition's parameters stay in scope after it"),
    M("P02", "src/program/writer.cpp",
      "    if (at != next.begin || edit == nullptr || edit->count != 0) return kNoStatement;\n",
      "    return kNoStatement;\n", "a line of several removed gates leaves its blanks"),
    M("P03", "src/pipeline/pipeline.cpp",
      "    if (!left) return std::vector<Op>(run.begin(), run.end());\n",
      "    if (!left) return {};\n", "a run reached after the call's deadline is dropped"),
    # binding/
    M("K01", "binding/pipeline.cpp",
      "{\"t_before\", result.before.t},         {\"t_after\", result.after.t},",
      "{\"t_after\", result.after.t},         {\"t_before\", result.before.t},",
      "the statistics keys come in another order"),
    M("K02", "src/pipeline/pipeline.cpp", "  result.before = wire_stats(expr);\n",
      "  result.before = wire_stats(best);\n", "the before counts describe the result"),
    M("K03", "binding/arguments.cpp", "if (static_cast<std::size_t>(positional) > required) {",
      "if (static_cast<std::size_t>(positional) > required + 1) {",
      "two positional arguments are accepted"),
    M("K04", "binding/arguments.cpp", "        if (out.positional[p] != nullptr) {\n",
      "        if (false) {\n", "qasm given twice is accepted"),
    M("K05", "binding/pipeline.cpp", "if (!PyUnicode_Check(qasm)) {", "if (!PyUnicode_CheckExact(qasm)) {",
      "a str subclass is refused"),
    M("K06", "binding/pipeline.cpp", "if (auto error = without_gil([&] { result = run_pipeline(text, arguments.options); })) {",
      "if (auto error = [&]() -> std::exception_ptr { result = run_pipeline(text, arguments.options); return nullptr; }()) {", "optimize_qasm keeps the interpreter lock"),
    M("K07", "binding/files.cpp", "      if (b0 == 0xED && b1 >= 0xA0) return false;  // surrogate\n", "",
      "encoded surrogates pass as UTF-8"),
    M("K08", "binding/files.cpp", "} else if (b0 >= 0xC2 && b0 <= 0xDF) {", "} else if (b0 >= 0xC0 && b0 <= 0xDF) {",
      "overlong two-byte forms pass as UTF-8"),
    M("K09", "binding/files.cpp", "if (b0 == 0xF4 && b1 >= 0x90) return false;",
      "if (b0 == 0xF4 && b1 > 0x90) return false;", "U+110000 passes as UTF-8"),
    M("K10", "binding/files.cpp", "      if (errno == EINTR) continue;\n      return errno;", "      return errno;",
      "an interrupted write is an error"),
    M("K11", "binding/files.cpp", "  if (error != 0) {\n    ::unlink(temporary.c_str());\n",
      "  if (error != 0) {\n", "a failed write leaves its temporary file"),
    M("K12", "binding/files.cpp", "  if (!is_utf8(content)) throw OsError(EILSEQ, path, \"stream did not contain valid UTF-8\");\n",
      "", "input that is not UTF-8 is accepted"),
    M("K13", "binding/cli.cpp", "    } else {\n      path.reset();\n    }",
      "    }", "--in at the very end keeps an earlier path"),
    M("K14", "binding/cli.cpp", "  if (!options.out && !flush_python_stream(\"stdout\")) return nullptr;\n",
      "", "sys.stdout is not flushed before the result is written"),
    M("K15", "binding/cli.cpp", "        if (!diagnostics.empty()) print_stderr(diagnostics);\n        if (options.dot && report.dot) replace_file(*options.dot, *report.dot);\n        if (options.out) {\n          replace_file(*options.out, result.qasm);\n        } else {\n          print_stdout(result.qasm);\n        }\n",
      "        if (options.dot && report.dot) replace_file(*options.dot, *report.dot);\n        if (options.out) {\n          replace_file(*options.out, result.qasm);\n        } else {\n          print_stdout(result.qasm);\n        }\n        if (!diagnostics.empty()) print_stderr(diagnostics);\n", "the statistics are written after the result"),
    M("K16", "binding/boundary.cpp",
      "    } catch (const std::bad_alloc&) {\n      return PyErr_NoMemory();\n    } catch (const OsError& os_error) {",
      "    } catch (const OsError& os_error) {", "bad_alloc becomes PanicException"),
    M("K17", "binding/boundary.cpp",
      "      report(\"kestrel: internal fault at \" + std::string(where.file_name()) + \":\" +\n"
      "             std::to_string(where.line()) + \": \" + fault.message() + \"\\n\");\n",
      "      (void)where;\n", "a fault is not reported on standard error"),
    M("K18", "binding/module.cpp", "PyExc_BaseException, nullptr);", "PyExc_Exception, nullptr);",
      "PanicException derives from Exception"),
    M("K19", "binding/module.cpp", "if (id != module_interpreter) {", "if (id == module_interpreter) {",
      "a second import in the same interpreter is refused"),
    M("K20", "binding/cli.cpp", "  if (auto error = without_gil([&] {\n        result = run_pipeline(read_utf8_file(*options.in), options.pipeline, request);\n      })) {",
      "  if (auto error = [&]() -> std::exception_ptr {\n        result = run_pipeline(read_utf8_file(*options.in), options.pipeline, request);\n        return nullptr;\n      }()) {", "cli reads and optimises with the interpreter lock held"),
]


def sh(cmd, cwd, timeout=None, env=None):
    """Runs `cmd`; returns (exit status or 'timeout', combined output)."""
    try:
        p = subprocess.run(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                           timeout=timeout, env=env, text=True, errors="replace")
        return p.returncode, p.stdout
    except subprocess.TimeoutExpired as e:
        out = e.stdout.decode(errors="replace") if isinstance(e.stdout, bytes) else (e.stdout or "")
        return "timeout", out


def git_files(rev, paths):
    """{relative path: bytes} of `paths` at `rev`, or in the working tree if rev is None."""
    if rev is None:
        names = subprocess.run(["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard",
                                "--", *paths], cwd=REPO, check=True, capture_output=True).stdout
        out = {}
        for n in names.decode().split("\0"):
            if n and (REPO / n).is_file():
                out[n] = (REPO / n).read_bytes()
        return out
    names = subprocess.run(["git", "ls-tree", "-r", "-z", "--name-only", rev, "--", *paths], cwd=REPO,
                           check=True, capture_output=True).stdout.decode().split("\0")
    return {n: subprocess.run(["git", "show", f"{rev}:{n}"], cwd=REPO, check=True,
                              capture_output=True).stdout for n in names if n}


def sync_tree(tree: Path, files: dict[str, bytes]):
    """Makes `tree` hold exactly `files` (outside build/), rewriting only what
    differs so that kept builds stay up to date."""
    tree.mkdir(parents=True, exist_ok=True)
    for name, data in files.items():
        path = tree / name
        if not path.is_file() or path.read_bytes() != data:
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_bytes(data)
    for path in sorted(tree.rglob("*"), reverse=True):
        rel = path.relative_to(tree).as_posix()
        if rel.split("/")[0] in ("build", ".hypothesis", ".pytest_cache") or "__pycache__" in rel:
            continue
        if path.is_file() and rel not in files:
            path.unlink()


class Runner:
    """The copy of the tree, its builds and the suite."""

    def __init__(self, work: Path, timeout: int, ctest_exclude: str | None = None):
        self.ctest_exclude = ["-E", ctest_exclude] if ctest_exclude else []
        self.work = work
        self.tree = work / "tree"
        self.venv = work / "venv"
        self.cpp = self.tree / "build" / "cpp"
        self.timeout = timeout

    def setup(self):
        py = self.venv / "bin" / "python"
        if not py.exists():
            subprocess.run([sys.executable, "-m", "venv", str(self.venv)], check=True)
            subprocess.run([str(py), "-m", "pip", "install", "-q", "--upgrade", "pip"], check=True)
        # What the module's build and its tests need, as pyproject.toml says
        # (checked on every run, so a venv made before a new test dependency
        # gets it).
        with open(REPO / "pyproject.toml", "rb") as f:
            project = tomllib.load(f)
        needs = ["cmake>=3.26", "ninja", *project["build-system"]["requires"],
                 *project["project"]["optional-dependencies"]["test"]]
        subprocess.run([str(py), "-m", "pip", "install", "-q", *needs], check=True)
        status, out = sh(["cmake", "-S", ".", "-B", str(self.cpp), "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                          f"-DCMAKE_CXX_FLAGS_RELEASE={OPTIMIZE}"], self.tree, env=self.env())
        if status != 0:
            sys.exit("cmake failed:\n" + out)

    def env(self):
        env = dict(os.environ)
        env["PATH"] = f"{self.venv / 'bin'}:{env['PATH']}"
        env["CMAKE_BUILD_PARALLEL_LEVEL"] = "2"
        env.pop("KESTREL_LONG_CHECKS", None)
        return env

    def build_cpp(self):
        """None on success, else the tail of the failing build's output."""
        status, out = sh(["cmake", "--build", str(self.cpp), "-j", "2", "--target", "kestrel_tests",
                          "kestrel_boundary_tests"], self.tree, env=self.env())
        return None if status == 0 else out[-3000:]

    def build_module(self):
        status, out = sh([str(self.venv / "bin" / "python"), "-m", "pip", "install", "-q", "--no-deps",
                          "--no-build-isolation", "-C", "build-dir=build/wheel",
                          "-C", f"cmake.define.CMAKE_CXX_FLAGS_RELEASE={OPTIMIZE}", "."], self.tree,
                         env=self.env())
        return None if status == 0 else out[-3000:]

    def run(self):
        """(status, first failing test or build output, seconds): the C++
        tests first, and only if they pass the module and the Python tests."""
        start = time.monotonic()
        error = self.build_cpp()
        if error:
            return "build failed", error, time.monotonic() - start
        status, out = sh(["ctest", "--test-dir", str(self.cpp), "-j", "2", "--stop-on-failure",
                          "--timeout", "600", "--output-on-failure", *self.ctest_exclude], self.tree,
                         timeout=self.timeout, env=self.env())
        if status != 0:
            first = re.findall(r"^\s*\d+ - (\S+) \((.*)\)", out, re.M)
            name = f"ctest {first[0][0]} ({first[0][1]})" if first else f"ctest ({status})"
            return "killed", name, time.monotonic() - start
        error = self.build_module()
        if error:
            return "build failed", error, time.monotonic() - start
        status, out = sh([str(self.venv / "bin" / "python"), "-m", "pytest", "tests/python", "-x", "-q",
                          "-rfE", "-p", "no:cacheprovider"], self.tree,
                         timeout=self.timeout, env=self.env())
        seconds = time.monotonic() - start
        if status == 0:
            return "survived", None, seconds
        first = re.findall(r"^(?:FAILED|ERROR) (\S+)", out, re.M)
        return "killed", "pytest " + (first[0] if first else f"({status})"), seconds


def run_mutants(args):
    work = Path(args.work).resolve()
    code = git_files(args.code, PRODUCT)
    tests = git_files(args.tests, ["tests"])
    runner = Runner(work, args.timeout, args.ctest_exclude)
    sync_tree(runner.tree, {**code, **tests})
    runner.setup()
    chosen = [m for m in MUTANTS if not args.only or m.id in args.only.split(",")]
    results = {"tests": args.tests or "working tree", "code": args.code or "working tree",
               "mutants": {}}
    out_path = Path(args.out) if args.out else work / f"results-{(args.tests or 'worktree')}.json"

    def save():
        out_path.write_text(json.dumps(results, indent=1) + "\n")

    if not args.skip_baseline:
        status, detail, seconds = runner.run()
        print(f"baseline: {status} in {seconds:.0f} s {detail or ''}", flush=True)
        if status != "survived":
            sys.exit("the unmutated suite does not pass; nothing to measure")
        results["baseline_seconds"] = round(seconds)
    for m in chosen:
        path = runner.tree / m.file
        original = path.read_text()
        count = original.count(m.old)
        entry = {"file": m.file, "what": m.what}
        if count != 1:
            entry.update(status="not applicable", detail=f"snippet found {count} times")
        else:
            try:
                path.write_text(original.replace(m.old, m.new))
                status, detail, seconds = runner.run()
                entry.update(status=status, seconds=round(seconds))
                entry["by" if status == "killed" else "detail"] = detail
            finally:
                path.write_text(original)
        results["mutants"][m.id] = entry
        print(f"{m.id} {m.file:24} {entry['status']:14} {(entry.get('by') or entry.get('detail') or '')[-100:]}",
              flush=True)
        save()
    save()
    print(f"results in {out_path}")


def compare(before_path, after_path):
    before = json.loads(Path(before_path).read_text())
    after = json.loads(Path(after_path).read_text())
    print(f"| Id | File | Mutation | Before ({before['tests']}) | After ({after['tests']}) |")
    print("|---|---|---|---|---|")
    worse = []
    for m in MUTANTS:
        b = before["mutants"].get(m.id, {}).get("status", "not run")
        a = after["mutants"].get(m.id, {}).get("status", "not run")
        print(f"| {m.id} | {m.file} | {m.what} | {b} | {a} |")
        if b == "killed" and a != "killed":
            worse.append(m.id)
    for label, r in (("before", before), ("after", after)):
        statuses = [e["status"] for e in r["mutants"].values()]
        print(f"\n{label}: " + ", ".join(f"{statuses.count(s)} {s}" for s in sorted(set(statuses))))
    if worse:
        print("\nkilled before, not after: " + ", ".join(worse))
        return 1
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--tests", help="git revision whose tests/ to run (default: working tree)")
    parser.add_argument("--code", help="git revision of the product code (default: working tree)")
    parser.add_argument("--only", help="comma-separated mutant ids")
    parser.add_argument("--work", default=str(REPO / "build" / "mutants"), help="work directory")
    parser.add_argument("--out", help="results file (default: <work>/results-<tests>.json)")
    parser.add_argument("--timeout", type=int, default=3600, help="seconds per suite run")
    parser.add_argument("--ctest-exclude", metavar="REGEX", help="C++ tests not to run (ctest -E)")
    parser.add_argument("--skip-baseline", action="store_true", help="do not run the unmutated suite first")
    parser.add_argument("--list", action="store_true", help="list the mutants and whether they apply")
    parser.add_argument("--compare", nargs=2, metavar=("BEFORE", "AFTER"), help="compare two results files")
    args = parser.parse_args()
    if args.compare:
        return compare(*args.compare)
    if args.list:
        code = git_files(args.code, PRODUCT)
        for m in MUTANTS:
            n = code.get(m.file, b"").decode().count(m.old)
            print(f"{m.id} {m.file:24} {'ok' if n == 1 else f'found {n} times':14} {m.what}")
        return 0
    run_mutants(args)
    return 0


if __name__ == "__main__":
    sys.exit(main())
