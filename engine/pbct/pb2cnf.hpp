#pragma once
#include "pbct/aux_var_manager.hpp"
#include "pbct/clause_database.hpp"
#include "pbct/pb_config.hpp"
#include "pbct/pb_constraint.hpp"
#include "pbct/row_shape.hpp"

namespace zorv::pbct {

// Encodes pseudo-Boolean constraints into clauses with the configured encoder.
class PB2CNF {
public:
    explicit PB2CNF(const PBConfig& config) : config_(config) {}

    // Adds the clauses of `constraint` to `database`, drawing auxiliaries from `allocator`,
    // whose history of the rows before answers the row's questions and records it. On failure
    // neither the database nor the allocator is touched.
    void encode(const PBConstraint& constraint, VectorClauseDatabase& database,
                AuxVarManager& allocator) const;
    // The same, with `context` answering the questions and nothing recorded; returns the row's
    // shape over the caller's numbers, and fills `variables` (if given) with its variables.
    RowShape encode_row(const PBConstraint& constraint, VectorClauseDatabase& database,
                        AuxVarManager& allocator, const RowContext& context,
                        std::vector<std::int64_t>* variables = nullptr) const;
    // encode_row refuses `constraint` only where this, too, is more than max_clauses_per_constraint:
    // every other construction is tried within that limit, and falls back on the compact adder,
    // which takes no more than this with the literals the row forces. Nothing is encoded.
    std::size_t fallback_clauses(const PBConstraint& constraint) const;

private:
    PBConfig config_;
};

}  // namespace zorv::pbct
