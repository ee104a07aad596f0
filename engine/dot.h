// An e-graph drawn with Graphviz: each class a cluster, each node a box.
//
// For the e-graph of (seq T T) after the rule T·T = S, the drawing has three
// clusters: "class 0" with the box T, "class 1" with S and seq, where seq has
// two edges into class 0, and the root class drawn in bold. An edge leaves a
// node and ends at the border of a child's cluster (Graphviz's `lhead`), so
// it reads "this child is any member of that class". The node the extractor
// chose for each class is filled.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "engine/egraph.h"
#include "engine/language.h"

namespace kestrel {

// Number of nodes held by the live classes of `egraph`: the boxes a drawing has.
template <Language L>
std::size_t drawn_node_count(const EGraph<L>& egraph) {
  std::size_t count = 0;
  for (const EClass<L>& c : egraph.classes()) count += c.nodes.size();
  return count;
}

// `egraph`, which must be rebuilt, in the dot language. `label(node)` names a
// node's operator; `chosen(id)` is the node picked for class `id`; `root` is
// the class of the whole term. Classes and nodes appear in id and member order.
template <Language L, class Label, class Chosen>
std::string to_dot(const EGraph<L>& egraph, Id root, Label&& label, Chosen&& chosen) {
  check(egraph.clean(), "egraph.clean()");
  const auto quoted = [](std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
      if (c == '"' || c == '\\') out += '\\';
      out += c;
    }
    return out + '"';
  };
  const auto box = [](Id id, std::size_t member) {
    return "n" + std::to_string(id) + "_" + std::to_string(member);
  };
  root = egraph.find(root);

  std::string out = "digraph egraph {\n  compound=true;\n  node [shape=box];\n";
  for (const EClass<L>& c : egraph.classes()) {
    const std::string id = std::to_string(c.id);
    out += "  subgraph cluster_" + id + " {\n    label=" +
           quoted(c.id == root ? "class " + id + " (root)" : "class " + id) + ";\n";
    if (c.id == root) out += "    style=bold;\n";
    const L& best = chosen(c.id);
    for (std::size_t k = 0; k < c.nodes.size(); ++k) {
      out += "    " + box(c.id, k) + " [label=" + quoted(label(c.nodes[k]));
      if (c.nodes[k] == best) out += ", style=filled, fillcolor=lightblue";
      out += "];\n";
    }
    out += "  }\n";
  }
  for (const EClass<L>& c : egraph.classes()) {
    for (std::size_t k = 0; k < c.nodes.size(); ++k) {
      const auto children = c.nodes[k].children();
      for (std::size_t position = 0; position < children.size(); ++position) {
        const Id child = egraph.find(children[position]);
        std::string attributes;
        // An edge into its own cluster cannot end at the cluster's border.
        if (child != c.id) attributes = "lhead=cluster_" + std::to_string(child);
        if (children.size() > 1) {
          if (!attributes.empty()) attributes += ", ";
          attributes += "label=" + std::to_string(position + 1);
        }
        out += "  " + box(c.id, k) + " -> " + box(child, 0);
        out += attributes.empty() ? ";\n" : " [" + attributes + "];\n";
      }
    }
  }
  return out + "}\n";
}

}  // namespace kestrel
