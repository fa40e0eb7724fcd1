#include "pbcircuit/comparison_circuit.hpp"

#include <array>
#include <unordered_map>

#include "bxpr/builders.hpp"

namespace zorv::pbcircuit {

using bxpr::Arena;
using bxpr::NodeId;
using pbct::i128;

namespace {

std::array<NodeId, 2> pair(NodeId a, NodeId b) { return {a, b}; }

// The binary digits of the weighted sum, least significant first.
std::vector<NodeId> sum_bits(Arena& arena, std::span<const circuit_term> terms) {
    std::vector<std::vector<NodeId>> columns;
    for (const circuit_term& term : terms) {
        i128 weight = term.weight;
        for (std::size_t j = 0; weight != 0; ++j, weight >>= 1) {
            if ((weight & 1) != 0) {
                if (columns.size() <= j) columns.resize(j + 1);
                columns[j].push_back(term.literal);
            }
        }
    }
    std::vector<NodeId> bits;
    for (std::size_t j = 0; j < columns.size(); ++j) {
        // First in, first out (read from `k` on): adder outputs are added after the inputs,
        // which keeps the adder tree shallow.
        std::vector<NodeId> carries;
        std::size_t k = 0;
        while (columns[j].size() - k >= 3) {
            const NodeId a = columns[j][k], b = columns[j][k + 1], c = columns[j][k + 2];
            k += 3;
            const NodeId ab = bxpr::xor_s(arena, pair(a, b));
            const NodeId sum = bxpr::xor_s(arena, pair(ab, c));
            columns[j].push_back(sum);
            carries.push_back(bxpr::ite_s(arena, ab, c, a));
        }
        if (columns[j].size() - k == 2) {
            const NodeId a = columns[j][k], b = columns[j][k + 1];
            k += 2;
            const NodeId sum = bxpr::xor_s(arena, pair(a, b));
            columns[j].push_back(sum);
            carries.push_back(bxpr::and_s(arena, pair(a, b)));
        }
        if (!carries.empty()) {
            if (columns.size() == j + 1) columns.emplace_back();
            columns[j + 1].insert(columns[j + 1].end(), carries.begin(), carries.end());
        }
        bits.push_back(k < columns[j].size() ? columns[j][k] : Arena::zero);
    }
    return bits;
}

bool bit(i128 value, std::size_t j) { return j < 127 && ((value >> j) & 1) != 0; }

NodeId at_most(Arena& arena, std::span<const circuit_term> terms, i128 total, i128 bound) {
    if (bound < 0) return Arena::zero;
    if (bound >= total) return Arena::one;
    // A literal heavier than the bound must be false on its own: no adder for it.
    std::vector<NodeId> parts;
    std::vector<circuit_term> light;
    i128 light_total = 0;
    for (const circuit_term& term : terms) {
        if (term.weight > bound) {
            parts.push_back(arena.negate(term.literal));
        } else {
            light.push_back(term);
            light_total += term.weight;
        }
    }
    if (!parts.empty()) {
        parts.push_back(at_most(arena, light, light_total, bound));
        return bxpr::and_s(arena, parts);
    }
    // Invariant: `holds` says the low j bits of the sum are at most the low j bits of the bound.
    NodeId holds = Arena::one;
    const std::vector<NodeId> bits = sum_bits(arena, terms);
    for (std::size_t j = 0; j < bits.size(); ++j) {
        const auto operands = pair(arena.negate(bits[j]), holds);
        holds = bit(bound, j) ? bxpr::or_s(arena, operands) : bxpr::and_s(arena, operands);
    }
    return holds;
}

}  // namespace

std::vector<std::pair<std::int64_t, i128>> merge_terms(std::span<const pbct::WeightedLit> literals) {
    std::vector<std::pair<std::int64_t, i128>> merged;
    std::unordered_map<std::int64_t, std::size_t> where;
    where.reserve(literals.size());
    for (const pbct::WeightedLit& lit : literals) {
        const auto [it, fresh] = where.try_emplace(lit.literal, merged.size());
        if (fresh) {
            merged.emplace_back(lit.literal, 0);
        }
        merged[it->second].second += lit.coefficient;
    }
    return merged;
}

NodeId comparison(Arena& arena, std::span<const circuit_term> terms, pbct::Comparator comparator, i128 bound) {
    i128 total = 0;
    for (const circuit_term& term : terms) total += term.weight;
    switch (comparator) {
        case pbct::Comparator::LEQ: return at_most(arena, terms, total, bound);
        case pbct::Comparator::GEQ: return arena.negate(at_most(arena, terms, total, bound - 1));
        case pbct::Comparator::BOTH: break;
    }
    if (bound < 0 || bound > total) return Arena::zero;
    const std::vector<NodeId> bits = sum_bits(arena, terms);
    std::vector<NodeId> equal;
    equal.reserve(bits.size());
    for (std::size_t j = 0; j < bits.size(); ++j) {
        equal.push_back(bit(bound, j) ? bits[j] : arena.negate(bits[j]));
    }
    return bxpr::and_s(arena, equal);
}

NodeId weighted_comparison(Arena& arena, std::span<const std::pair<NodeId, i128>> items,
                           pbct::Comparator comparator, i128 bound) {
    // One literal is one node, so merging by node merges repeated literals.
    std::unordered_map<NodeId, std::size_t> place;
    std::vector<std::pair<NodeId, i128>> merged;
    for (const auto& [literal, coefficient] : items) {
        auto [it, fresh] = place.try_emplace(literal, merged.size());
        if (fresh) {
            merged.emplace_back(literal, coefficient);
        } else {
            merged[it->second].second += coefficient;
        }
    }
    std::vector<circuit_term> terms;
    for (const auto& [literal, coefficient] : merged) {
        if (coefficient > 0) {
            terms.push_back({literal, coefficient});
        } else if (coefficient < 0) {
            terms.push_back({arena.negate(literal), -coefficient});
            bound -= coefficient;  // c * x == c + |c| * ~x
        }
    }
    return comparison(arena, terms, comparator, bound);
}

}  // namespace zorv::pbcircuit
