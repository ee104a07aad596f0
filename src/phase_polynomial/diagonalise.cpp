// Diagonalising commuting products: elimination on the X parts of an
// independent subset, then each product conjugated through the gates found.
#include "src/phase_polynomial/diagonalise.h"

#include <algorithm>
#include <bit>

#include "engine/fault.h"
#include "src/gf2/bits.h"
#include "src/pauli/pauli.h"

namespace kestrel {

// G P G^-1 is the step back by G^-1 (G^-1)^-1 P G^-1: the gate table's
// kStepBack for the inverse gate, looked up by P's bits on the gate's qubits.
void conjugate_by(const PlacedGate& gate, std::uint64_t* row, std::uint8_t& phase,
                  std::size_t words) {
  const ElementaryInfo& info = elementary_info(gate.gate);
  check(info.clifford, "a Clifford gate conjugates a Pauli product");
  const std::uint32_t a = gate.a, b = gate.b;
  const bool two = info.qubits == 2;
  check(a / 64 < words, "a gate on a qubit of the products");
  check(!two || (b / 64 < words && a != b), "a two-qubit gate names two qubits of the products");
  std::uint64_t* z = row + words;
  const auto bit = [](const std::uint64_t* v, std::uint32_t q) { return static_cast<unsigned>(test_bit(v, q)); };
  const unsigned bits = bit(row, a) | bit(z, a) << 1 | (two ? bit(row, b) << 2 | bit(z, b) << 3 : 0u);
  const GatePauli image = kStepBack[static_cast<std::size_t>(info.inverse)][bits];
  phase = static_cast<std::uint8_t>((phase + image.phase) & 3);
  const unsigned change = bits ^ image.bits;
  if (change & 1) flip_bit(row, a);
  if (change & 2) flip_bit(z, a);
  if (change & 4) flip_bit(row, b);
  if (change & 8) flip_bit(z, b);
}

std::vector<PlacedGate> inverse_gates(std::span<const PlacedGate> gates) {
  std::vector<PlacedGate> inverse(gates.rbegin(), gates.rend());
  for (PlacedGate& g : inverse) {
    g.gate = elementary_info(g.gate).inverse;
    if (is_rotation(g.gate)) g.angle = -g.angle;
  }
  return inverse;
}

namespace {


bool bit(const std::uint64_t* bits, std::uint32_t q) { return (bits[q / 64] >> (q % 64)) & 1; }

// The X parts of the products in reduced row echelon form: independent
// products (up to phase, which E does not depend on), each with a pivot qubit
// where it alone has an X bit.
struct Echelon {
  std::size_t words;                    // words per half row
  std::vector<std::uint64_t> rows;      // 2 * words words each
  std::vector<std::uint32_t> pivots;    // per row
  std::vector<std::uint32_t> row_of;    // per qubit: the row it is the pivot of, or kNone
  std::vector<std::uint64_t> is_pivot;  // words bits

  std::uint64_t* row(std::size_t i) { return rows.data() + i * 2 * words; }
  std::size_t size() const { return pivots.size(); }

  void add(const std::uint64_t* product, std::vector<std::uint64_t>& v) {
    v.assign(product, product + 2 * words);
    // Row i has no X bit on any other pivot, so clearing the pivots met
    // first, all at once, is exact.
    for (std::size_t w = 0; w < words; ++w) {
      for (std::uint64_t met = v[w] & is_pivot[w]; met != 0; met &= met - 1) {
        const std::uint64_t* r = row(row_of[64 * w + std::countr_zero(met)]);
        for (std::size_t u = 0; u < 2 * words; ++u) v[u] ^= r[u];
      }
    }
    std::size_t w = 0;
    while (w < words && v[w] == 0) ++w;
    if (w == words) return;
    const std::uint32_t pivot = static_cast<std::uint32_t>(64 * w + std::countr_zero(v[w]));
    for (std::size_t i = 0; i < size(); ++i) {
      std::uint64_t* r = row(i);
      if (bit(r, pivot)) {
        for (std::size_t u = 0; u < 2 * words; ++u) r[u] ^= v[u];
      }
    }
    rows.insert(rows.end(), v.begin(), v.end());
    row_of[pivot] = static_cast<std::uint32_t>(pivots.size());
    pivots.push_back(pivot);
    is_pivot[pivot / 64] |= std::uint64_t{1} << (pivot % 64);
  }
};

// Faults unless every product is Hermitian and on the qubits below the count.
void check_products(std::uint32_t qubits, std::span<const std::uint64_t> rows, std::span<const std::uint8_t> phases) {
  const std::size_t words = pauli_words(qubits), r = phases.size();
  check(rows.size() == r * 2 * words, "one row of 2 * (qubits + 63) / 64 words per phase");
  for (std::size_t j = 0; j < r; ++j) {
    const std::uint64_t* p = rows.data() + j * 2 * words;
    std::uint64_t meet = 0;
    for (std::size_t w = 0; w < words; ++w) meet ^= p[w] & p[words + w];
    check(phases[j] < 4 && (phases[j] & 1) == parity(meet), "the products are Hermitian");
    if (words > 0 && qubits % 64 != 0) {
      const std::uint64_t outside = ~std::uint64_t{0} << (qubits % 64);
      check(((p[words - 1] | p[2 * words - 1]) & outside) == 0,
            "a product acts on the qubits below the count only");
    }
  }
}

// Appends g to `out` and conjugates the echelon form's rows by it.
void apply(Diagonalisation& out, Echelon& echelon, PlacedGate g) {
  out.gates.push_back(g);
  std::uint8_t ignored = 0;
  for (std::size_t i = 0; i < echelon.size(); ++i) conjugate_by(g, echelon.row(i), ignored, echelon.words);
}

// The cx gates that clear every non-pivot qubit's X column: each adds the
// nearest column into it until it is empty.
void clear_x_columns(std::uint32_t qubits, Echelon& echelon, Diagonalisation& out) {
  const std::size_t k = echelon.size(), words = echelon.words;
  // The X part column by column: bit i of column q = row i has X on q.
  const std::size_t kw = (k + 63) / 64;
  std::vector<std::uint64_t> columns(std::size_t{qubits} * kw, 0);
  for (std::size_t i = 0; i < k; ++i) {
    const std::uint64_t* x = echelon.row(i);
    for (std::size_t w = 0; w < words; ++w) {
      for (std::uint64_t word = x[w]; word != 0; word &= word - 1) {
        const std::size_t q = 64 * w + std::countr_zero(word);
        columns[q * kw + i / 64] |= std::uint64_t{1} << (i % 64);
      }
    }
  }
  const auto column = [&](std::uint32_t q) { return columns.data() + std::size_t{q} * kw; };
  const auto distance = [&](std::uint32_t q, std::uint32_t c) {
    std::size_t d = 0;
    for (std::size_t w = 0; w < kw; ++w) d += count_ones(column(q)[w] ^ column(c)[w]);
    return d;
  };
  for (std::uint32_t q = 0; q < qubits; ++q) {
    if (echelon.row_of[q] != kNone) continue;
    for (;;) {
      std::size_t left = 0;
      for (std::size_t w = 0; w < kw; ++w) left += count_ones(column(q)[w]);
      if (left == 0) break;
      std::uint32_t nearest = kNone;
      std::size_t best = left;
      for (std::uint32_t c = 0; c < qubits; ++c) {
        if (c == q) continue;
        const std::size_t d = distance(q, c);
        if (d < best) {
          best = d;
          nearest = c;
        }
      }
      check(nearest != kNone, "a pivot column is nearer than the column itself");
      for (std::size_t w = 0; w < kw; ++w) column(q)[w] ^= column(nearest)[w];
      apply(out, echelon, {Elementary::CX, nearest, q});
    }
  }
}

// Product j's image through the gates before `layered`, then the s and h
// layers, written into out's z_bits and signs.
void write_image(std::size_t j, std::span<const std::uint64_t> rows, std::uint8_t phase, std::size_t layered,
                 const std::vector<std::uint64_t>& s_layer, const std::vector<std::uint64_t>& h_layer,
                 std::vector<std::uint64_t>& image, Diagonalisation& out) {
  const std::size_t words = out.words;
  const std::uint64_t* p = rows.data() + j * 2 * words;
  std::copy(p, p + 2 * words, image.begin());
  for (std::size_t g = 0; g < layered; ++g) conjugate_by(out.gates[g], image.data(), phase, words);
  // The s gates, then the h gates, each on distinct pivots: a word at a
  // time (S: X -> iXZ; H: X^x Z^z -> (-1)^(xz) Z^x X^z).
  unsigned k4 = phase;
  for (std::size_t w = 0; w < words; ++w) {
    std::uint64_t& x = image[w];
    std::uint64_t& z = image[words + w];
    k4 += count_ones(x & s_layer[w]);
    z ^= x & s_layer[w];
    k4 += 2 * count_ones(x & z & h_layer[w]);
    const std::uint64_t swap = (x ^ z) & h_layer[w];
    x ^= swap;
    z ^= swap;
  }
  phase = static_cast<std::uint8_t>(k4 & 3);
  check(std::all_of(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(words),
                    [](std::uint64_t w) { return w == 0; }),
        "the products commute");
  std::copy(image.begin() + static_cast<std::ptrdiff_t>(words), image.end(),
            out.z_bits.begin() + static_cast<std::ptrdiff_t>(j * words));
  check(phase % 2 == 0, "a Hermitian product stays Hermitian");
  out.signs[j] = phase == 0 ? 1 : -1;
}

}  // namespace

Diagonalisation diagonalise(std::uint32_t qubits, std::span<const std::uint64_t> rows,
                            std::span<const std::uint8_t> phases) {
  check_products(qubits, rows, phases);
  const std::size_t words = pauli_words(qubits), r = phases.size();
  Diagonalisation out;
  out.words = words;
  Echelon echelon{words, {}, {}, std::vector<std::uint32_t>(qubits, kNone),
                  std::vector<std::uint64_t>(words, 0)};
  std::vector<std::uint64_t> scratch;
  for (std::size_t j = 0; j < r; ++j) {
    const std::uint64_t* p = rows.data() + j * 2 * words;
    if (std::any_of(p, p + words, [](std::uint64_t w) { return w != 0; })) {
      echelon.add(p, scratch);
    }
  }
  const std::size_t k = echelon.size();
  // The gates before `layered` are conjugated one by one; the s and h gates
  // after them form two layers, kept as masks.
  std::size_t layered = 0;
  std::vector<std::uint64_t> s_layer(words, 0), h_layer(words, 0);
  if (k > 0) {
    clear_x_columns(qubits, echelon, out);
    // Row i is now X on its pivot times Z bits; row i's Z bit on pivot l
    // must equal row l's on pivot i, as they commute.
    for (std::size_t i = 0; i < k; ++i) {
      for (std::size_t l = i + 1; l < k; ++l) {
        const bool il = bit(echelon.row(i) + words, echelon.pivots[l]);
        const bool li = bit(echelon.row(l) + words, echelon.pivots[i]);
        check(il == li, "the products commute");
        if (il) apply(out, echelon, {Elementary::CZ, echelon.pivots[i], echelon.pivots[l]});
      }
    }
    layered = out.gates.size();
    for (std::size_t i = 0; i < k; ++i) {
      const std::uint32_t p = echelon.pivots[i];
      if (bit(echelon.row(i) + words, p)) {
        out.gates.push_back({Elementary::S, p, 0});
        s_layer[p / 64] |= std::uint64_t{1} << (p % 64);
      }
    }
    for (std::size_t i = 0; i < k; ++i) {
      const std::uint32_t p = echelon.pivots[i];
      out.gates.push_back({Elementary::H, p, 0});
      h_layer[p / 64] |= std::uint64_t{1} << (p % 64);
    }
  }
  out.z_bits.resize(r * words);
  out.signs.resize(r);
  std::vector<std::uint64_t> image(2 * words);
  for (std::size_t j = 0; j < r; ++j) write_image(j, rows, phases[j], layered, s_layer, h_layer, image, out);
  return out;
}
}  // namespace kestrel
