#pragma once
#include <cstdint>
#include <vector>

#include "cnf/wcnf_storage.hpp"
#include "fenc/catalog.hpp"
#include "fenc/constraint.hpp"
#include "pbct/pb_config.hpp"

namespace zorv::fenc {

// Auxiliaries of one instance: the pseudo-Boolean encoder's first, then the Tseytin ones.
struct instance_aux {
    std::uint32_t pb = 0;
    std::uint32_t bx = 0;
    bool operator==(const instance_aux&) const = default;
};

// Consecutive instances with the same auxiliary counts, as most are: one entry per run, not
// per instance, so that instances without auxiliaries cost nothing to remember.
struct aux_run {
    std::uint64_t instances = 0;
    instance_aux aux;
};

// The loops of one instance take at most as many values as one constraint may have clauses.
std::uint64_t instance_work(const pbct::PBConfig& config);

// Per Boolean node of `p`, whether an instance writes it as one clause: a literal, a constant,
// an implication with a literal premise, or a disjunction of such.
std::vector<std::uint8_t> clause_shapes(const program& p);

// The loops of one instance take at most as many values as the clause limit of `config` (see
// evaluator). Writes every instance of hard constraint `c` into `out`. Comparisons that the instance
// asserts at its top (the whole formula, or conjuncts of a top-level conjunction) go through
// the pseudo-Boolean encoder; a conjunct that is a clause is written as it is; the rest is put
// through the Tseytin transformation, comparisons in it as exact circuits. Auxiliary numbers
// are drawn from `next_aux` on, instance after instance; `aux` gets their counts in runs.
// Returns how many instances can never hold (they are written as an empty clause).
std::uint64_t encode_hard(const constraint& c, const catalog& variables, const pbct::PBConfig& config,
                          cnf::wcnf_storage& out, std::int64_t& next_aux, std::vector<aux_run>& aux);

// Throws, as encode_hard would, where an instance of hard constraint `c` has a comparison
// whose coefficients or bound do not fit in 64 bits, or one asserted at its top whose
// encoding needs more clauses than `config` lets one constraint have; nothing is written.
void check_rows(const constraint& c, const catalog& variables, const pbct::PBConfig& config);

// Writes the soft unit clauses of every instance of soft constraint `c`: one per term of the
// weighted sum in a left-to-right walk, weighted |weight * coefficient|, the literal negated
// when that product is positive and minimization is set, or when it is not and minimization
// is not set. Products of 0 give no clause. Returns the sum of the weights written.
std::uint64_t encode_soft(const constraint& c, const catalog& variables, const pbct::PBConfig& config,
                          cnf::wcnf_storage& out);

// What encode_soft would return, held at cnf::max_top once past it; nothing is written.
std::uint64_t soft_weight_sum(const constraint& c, const catalog& variables, const pbct::PBConfig& config);

}  // namespace zorv::fenc
