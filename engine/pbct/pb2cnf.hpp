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

    // Adds the clauses of `constraint` to `database`, drawing auxiliaries from
    // `allocator`. On failure neither the database nor the allocator is touched.
    void encode(const PBConstraint& constraint, VectorClauseDatabase& database,
                AuxVarManager& allocator) const;
    // The same; `parity_links` is asked as encode_selected says, and the row's shape comes
    // back, over the caller's numbers.
    RowShape encode_row(const PBConstraint& constraint, VectorClauseDatabase& database,
                        AuxVarManager& allocator, const LinkChoice& parity_links) const;

private:
    PBConfig config_;
};

}  // namespace zorv::pbct
