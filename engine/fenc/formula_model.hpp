#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cnf/var_mapping.hpp"
#include "cnf/wcnf_storage.hpp"
#include "fenc/catalog.hpp"
#include "fenc/constraint.hpp"
#include "fenc/instantiate.hpp"
#include "pbct/pb_config.hpp"

namespace zorv::fenc {

// What generating one constraint gave.
struct constraint_stats {
    std::uint64_t instances = 0;
    std::uint64_t clauses = 0;
    std::uint64_t aux = 0;
    std::uint64_t contradictions = 0;  // instances that can never hold
    double seconds = 0;
};

// The declarations and the read constraints of one model, and the numbering of its last
// generation: cells 1 .. cell_count in declaration order, then per constraint and instance the
// auxiliaries, the pseudo-Boolean encoder's first.
class formula_model {
public:
    formula_model();

    catalog& variables() { return variables_; }
    const catalog& variables() const { return variables_; }
    const std::vector<constraint>& constraints() const { return constraints_; }
    const std::optional<constraint>& target() const { return target_; }

    // Takes a constraint read against this model's declarations since its last clear(), once:
    // a hard or soft constraint, or the target (replacing the last). Anything else is refused
    // with value_error, as is a constraint whose work is refused (common/work_plan.hpp) for what
    // its instances write at least; a soft constraint whose weights would bring the sum of soft
    // weights past what a file's top holds, with limit_error. A taken constraint is left empty.
    void add(constraint& c);

    // Writes every constraint into `out` (expected empty) and stamps it. On failure the numbering
    // of the last successful generation stays.
    std::vector<constraint_stats> generate(cnf::wcnf_storage& out, const std::string& name);
    bool generated() const { return generated_; }
    std::int64_t variable_count() const { return variable_count_; }

    // Keys name[i,j] of every cell, then _pbct_aux[f,n,k] and _bxpr_aux[f,n,k] of every
    // auxiliary (f the constraint's place, n the instance, k the counter within the instance).
    // The auxiliaries are left out once a declaration since the last generation has taken
    // their numbers. Running out of memory leaves `out` empty and says how many entries it took.
    void fill_mapping(cnf::var_mapping& out) const;

    // One byte per cell from a solver model (signed variable numbers): value_error when a number
    // is 0, repeated or beyond the generated variables, or when the model is shorter than the
    // clauses' largest variable or longer than all variables. Cells past its end read false.
    std::vector<std::uint8_t> read_witness(const std::vector<std::int64_t>& model) const;

    void clear();

private:
    void add_read(constraint c);
    // Entries and key bytes (an upper bound) that fill_mapping writes.
    std::pair<std::size_t, std::size_t> mapping_room() const;
    void write_mapping(cnf::var_mapping& out, std::size_t entries, std::size_t bytes) const;

    catalog variables_;
    std::vector<constraint> constraints_;
    std::optional<constraint> target_;
    pbct::PBConfig config_;
    std::vector<std::vector<aux_run>> aux_;
    std::vector<std::int64_t> aux_start_;
    std::int64_t variable_count_ = 0;
    std::int64_t clause_variables_ = 0;
    std::int64_t generated_cells_ = 0;
    bool generated_ = false;
    // What the constraints taken write at least, all instances together, and the bytes it takes.
    std::uint64_t planned_clauses_ = 0;
    // The soft weights of the constraints taken, all instances together (at most cnf::max_top - 1).
    std::uint64_t soft_total_ = 0;
    std::uint64_t planned_bytes_ = 0;
};

}  // namespace zorv::fenc
