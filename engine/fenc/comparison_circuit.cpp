#include "fenc/comparison_circuit.hpp"

#include <array>
#include <unordered_map>

#include "bxpr/builders.hpp"
#include "fenc/evaluate.hpp"

namespace zorv::fenc {

namespace {

using bxpr::Arena;
using bxpr::NodeId;
using weighted = std::vector<std::pair<NodeId, std::int64_t>>;

bool bit_of(std::int64_t value, std::size_t j) { return j < 63 && ((value >> j) & 1) != 0; }

// The binary digits of the weighted sum, least significant first.
std::vector<NodeId> sum_bits(Arena& a, const weighted& terms) {
    std::vector<std::vector<NodeId>> columns;
    for (const auto& [literal, weight] : terms) {
        auto w = static_cast<std::uint64_t>(weight);
        for (std::size_t j = 0; w != 0; ++j, w >>= 1) {
            if ((w & 1) == 0) continue;
            if (columns.size() <= j) columns.resize(j + 1);
            columns[j].push_back(literal);
        }
    }
    std::vector<NodeId> bits;
    for (std::size_t j = 0; j < columns.size(); ++j) {
        std::vector<NodeId> carries;
        // First in, first out: adder outputs join after the inputs, which keeps the tree shallow.
        std::size_t k = 0;
        while (columns[j].size() - k >= 3) {
            const std::array<NodeId, 3> in = {columns[j][k], columns[j][k + 1], columns[j][k + 2]};
            k += 3;
            const std::array<NodeId, 2> ab_in = {in[0], in[1]};
            const NodeId ab = bxpr::xor_s(a, ab_in);
            const std::array<NodeId, 2> sum_in = {ab, in[2]};
            columns[j].push_back(bxpr::xor_s(a, sum_in));
            carries.push_back(bxpr::ite_s(a, ab, in[2], in[0]));
        }
        if (columns[j].size() - k == 2) {
            const std::array<NodeId, 2> in = {columns[j][k], columns[j][k + 1]};
            k += 2;
            columns[j].push_back(bxpr::xor_s(a, in));
            carries.push_back(bxpr::and_s(a, in));
        }
        if (!carries.empty()) {
            if (columns.size() == j + 1) columns.emplace_back();
            columns[j + 1].insert(columns[j + 1].end(), carries.begin(), carries.end());
        }
        bits.push_back(k < columns[j].size() ? columns[j][k] : Arena::zero);
    }
    return bits;
}

std::int64_t total_of(const weighted& terms) {
    std::int64_t total = 0;
    for (const auto& term : terms) total = checked_add(total, term.second);
    return total;
}

NodeId at_most(Arena& a, const weighted& terms, std::int64_t total, std::int64_t bound) {
    if (bound < 0) return Arena::zero;
    if (bound >= total) return Arena::one;
    // A literal heavier than the bound must be false on its own: no adder for it.
    weighted light;
    std::vector<NodeId> parts;
    for (const auto& term : terms) {
        if (term.second > bound) {
            parts.push_back(a.negate(term.first));
        } else {
            light.push_back(term);
        }
    }
    if (!parts.empty()) {
        parts.push_back(at_most(a, light, total_of(light), bound));
        return bxpr::and_s(a, parts);
    }
    // Invariant: `holds` says the low j bits of the sum are at most the low j bits of the bound.
    NodeId holds = Arena::one;
    const std::vector<NodeId> bits = sum_bits(a, terms);
    for (std::size_t j = 0; j < bits.size(); ++j) {
        const std::array<NodeId, 2> in = {a.negate(bits[j]), holds};
        holds = bit_of(bound, j) ? bxpr::or_s(a, in) : bxpr::and_s(a, in);
    }
    return holds;
}

}  // namespace

NodeId comparison_circuit(Arena& a, const weighted& items, pbct::Comparator comparator, std::int64_t bound) {
    std::unordered_map<NodeId, std::size_t> place;
    weighted merged;
    for (const auto& [literal, coefficient] : items) {
        auto [it, fresh] = place.try_emplace(literal, merged.size());
        if (fresh) {
            merged.emplace_back(literal, coefficient);
        } else {
            merged[it->second].second = checked_add(merged[it->second].second, coefficient);
        }
    }
    weighted terms;
    for (const auto& [literal, coefficient] : merged) {
        if (coefficient > 0) {
            terms.emplace_back(literal, coefficient);
        } else if (coefficient < 0) {
            // c * x == c + |c| * ~x
            terms.emplace_back(a.negate(literal), checked_mul(coefficient, -1));
            bound = checked_add(bound, checked_mul(coefficient, -1));
        }
    }
    const std::int64_t total = total_of(terms);
    switch (comparator) {
        case pbct::Comparator::LEQ:
            return at_most(a, terms, total, bound);
        case pbct::Comparator::GEQ:
            return a.negate(at_most(a, terms, total, checked_add(bound, -1)));
        case pbct::Comparator::BOTH:
            break;
    }
    if (bound < 0 || bound > total) return Arena::zero;
    std::vector<NodeId> parts;
    const std::vector<NodeId> bits = sum_bits(a, terms);
    for (std::size_t j = 0; j < bits.size(); ++j) parts.push_back(bit_of(bound, j) ? bits[j] : a.negate(bits[j]));
    return bxpr::and_s(a, parts);
}

}  // namespace zorv::fenc
