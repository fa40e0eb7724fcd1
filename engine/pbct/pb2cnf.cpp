#include "pbct/pb2cnf.hpp"

#include <algorithm>
#include <functional>
#include <span>
#include <unordered_set>
#include <vector>

#include "pbct/adder.hpp"
#include "pbct/binary_merge.hpp"
#include "pbct/clause_sink.hpp"
#include "pbct/decision_diagram.hpp"
#include "pbct/generalized_totalizer.hpp"
#include "pbct/normal_form.hpp"
#include "pbct/selection.hpp"
#include "pbct/sorting_network.hpp"
#include "pbct/tighten.hpp"

namespace zorv::pbct {

namespace {

// Local numbers -> the caller's numbers, rewritten in place. Only auxiliaries that occur
// in a clause get a number, in order of first occurrence, and a number the constraint
// already uses is never handed to an auxiliary.
void number_literals(ClauseSink& sink, const std::vector<std::int64_t>& variables,
                     AuxVarManager& allocator) {
    std::vector<std::int64_t> global(variables.begin(), variables.end());
    global.resize(static_cast<std::size_t>(sink.end_aux() - 1), 0);
    const std::unordered_set<std::int64_t> taken(variables.begin(), variables.end());
    const std::int64_t highest = variables.empty() ? 0 : *std::max_element(variables.begin(), variables.end());
    for (std::int64_t& lit : sink.literals()) {
        const std::int64_t var = lit < 0 ? -lit : lit;
        std::int64_t& mapped = global[static_cast<std::size_t>(var - 1)];
        if (mapped == 0) {  // an auxiliary met for the first time
            do {
                mapped = allocator.get_variable();
            } while (mapped <= highest && taken.count(mapped) != 0);
        }
        lit = lit < 0 ? -mapped : mapped;
    }
}

Construction forced_construction(PBConfig::Forced forced) {
    switch (forced) {
        case PBConfig::Forced::binary_merge:
            return encode_binary_merge;
        case PBConfig::Forced::generalized_totalizer:
            return encode_generalized_totalizer;
        case PBConfig::Forced::decision_diagram:
            return encode_decision_diagram;
        case PBConfig::Forced::sorting_network:
            return encode_sorting_network;
        default:
            return nullptr;
    }
}

}  // namespace

void PB2CNF::encode(const PBConstraint& constraint, VectorClauseDatabase& database,
                    AuxVarManager& allocator) const {
    RowHistory& history = allocator.history();
    std::vector<std::int64_t> variables;
    const RowShape shape = encode_row(constraint, database, allocator, history.context(), &variables);
    history.record(shape, variables);
}

RowShape PB2CNF::encode_row(const PBConstraint& constraint, VectorClauseDatabase& database,
                            AuxVarManager& allocator, const RowContext& context,
                            std::vector<std::int64_t>* variables) const {
    const NormalForm nf = normalise(constraint);
    ClauseSink sink(static_cast<std::int64_t>(nf.variables.size()) + 1,
                    config_.max_clauses_per_constraint());
    const auto caller = [&nf](std::int64_t lit) {
        const std::int64_t var = nf.variables[static_cast<std::size_t>((lit < 0 ? -lit : lit) - 1)];
        return lit < 0 ? -var : var;
    };
    // The questions get the caller's numbers.
    std::vector<std::int64_t> asked;
    const auto translated = [&](const std::function<bool(std::span<const std::int64_t>)>& question) {
        std::function<bool(std::span<const std::int64_t>)> ask;
        if (question) {
            ask = [&asked, &caller, &question](std::span<const std::int64_t> lits) {
                asked.clear();
                for (const std::int64_t lit : lits) asked.push_back(caller(lit));
                return question(asked);
            };
        }
        return ask;
    };
    const RowContext ask{translated(context.parity_links), translated(context.equality_counter)};
    RowShape shape;
    if (nf.impossible) {
        sink.add({});
    }
    if (config_.forced == PBConfig::Forced::compact_adder) {
        for (const AtMost& part : parts_of(nf.range)) {
            encode_at_most(part, sink);
        }
        shape.construction = sink.made_by();
    } else if (!nf.impossible) {
        shape = encode_selected(nf.range, sink, forced_construction(config_.forced), ask);
    }
    // Numbering can still fail (allocator exhausted): draw from a copy first.
    AuxVarManager drawn = allocator;
    number_literals(sink, nf.variables, drawn);
    database.add_clauses(sink.literals(), sink.ends());
    allocator = drawn;
    for (std::int64_t& lit : shape.lits) lit = caller(lit);
    if (variables != nullptr) {
        *variables = nf.variables;
    }
    return shape;
}

std::size_t PB2CNF::fallback_clauses(const PBConstraint& constraint) const {
    // The steps of encode_row and encode_selected, up to the adder.
    NormalForm nf = normalise(constraint);
    if (nf.impossible) {
        return 1;
    }
    std::size_t clauses = 0;
    Range range = std::move(nf.range);
    if (config_.forced != PBConfig::Forced::compact_adder) {
        Tightened t = tighten(std::move(range));
        if (t.impossible) {
            return 1;
        }
        clauses = t.forced.size();
        range = std::move(t.range);
    }
    for (const AtMost& part : parts_of(range)) {
        clauses += at_most_clause_bound(part);
    }
    return clauses;
}

}  // namespace zorv::pbct
