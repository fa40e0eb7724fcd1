#include "pbct/pb2cnf.hpp"

#include <unordered_set>

#include "pbct/adder.hpp"
#include "pbct/clause_sink.hpp"
#include "pbct/normal_form.hpp"

namespace zorv::pbct {

namespace {

// Local numbers -> the caller's numbers. Only auxiliaries that occur in a clause get a
// number, and a number the constraint already uses is never handed to an auxiliary.
std::vector<std::int64_t> number_auxiliaries(const ClauseSink& sink,
                                             const std::vector<std::int64_t>& variables,
                                             AuxVarManager& allocator) {
    const std::int64_t first = sink.first_aux();
    std::vector<std::int64_t> global(static_cast<std::size_t>(sink.end_aux() - first), 0);
    const std::unordered_set<std::int64_t> taken(variables.begin(), variables.end());
    for (std::size_t i = 0; i < sink.size(); ++i) {
        for (const std::int64_t lit : sink.clause(i)) {
            const std::int64_t var = lit < 0 ? -lit : lit;
            if (var < first || global[static_cast<std::size_t>(var - first)] != 0) {
                continue;
            }
            std::int64_t fresh = allocator.get_variable();
            while (taken.count(fresh) != 0) {
                fresh = allocator.get_variable();
            }
            global[static_cast<std::size_t>(var - first)] = fresh;
        }
    }
    return global;
}

// All numbers are drawn before the first clause goes in.
void commit(const ClauseSink& sink, const std::vector<std::int64_t>& variables,
            AuxVarManager& allocator, VectorClauseDatabase& database) {
    const std::vector<std::int64_t> aux = number_auxiliaries(sink, variables, allocator);
    const std::int64_t first = sink.first_aux();
    std::vector<std::int64_t> clause;
    for (std::size_t i = 0; i < sink.size(); ++i) {
        clause.clear();
        for (const std::int64_t lit : sink.clause(i)) {
            const std::int64_t var = lit < 0 ? -lit : lit;
            const std::int64_t mapped = var < first ? variables[static_cast<std::size_t>(var - 1)]
                                                    : aux[static_cast<std::size_t>(var - first)];
            clause.push_back(lit < 0 ? -mapped : mapped);
        }
        database.add_clause(clause);
    }
}

}  // namespace

void PB2CNF::encode(const PBConstraint& constraint, VectorClauseDatabase& database,
                    AuxVarManager& allocator) const {
    const NormalForm nf = normalise(constraint);
    ClauseSink sink(static_cast<std::int64_t>(nf.variables.size()) + 1,
                    config_.max_clauses_per_constraint());
    if (nf.impossible) {
        sink.add({});
    }
    for (const AtMost& part : nf.parts) {
        encode_at_most(part, sink);
    }
    // Numbering can still fail (allocator exhausted): draw from a copy first.
    AuxVarManager drawn = allocator;
    commit(sink, nf.variables, drawn, database);
    allocator = drawn;
}

}  // namespace zorv::pbct
