#pragma once
#include <span>

#include "cnf/wcnf_storage.hpp"
#include "inst/forall_values.hpp"
#include "inst/template_program.hpp"

namespace zorv::inst {

enum class outcome {
    written,   // every clause of every instance was appended to the storage
    declined,  // some value was out of range; the storage is untouched
};

// Appends the clauses of every instance of `program` over `foralls` to `out`: instance after
// instance (first forall outermost), clauses in template order, each clause's literals stably
// sorted by absolute value, soft where the clause has a weight.
//
// Declines, leaving `out` as it was, when an index value falls outside its variable's size,
// an auxiliary's place falls outside its instance's block, a number does not fit a literal
// (0 included), or the soft weights would overflow the storage: the caller then takes the
// plain path, which reports the case as it always does.
outcome instantiate(const template_program& program, std::span<const forall_values> foralls,
                    cnf::wcnf_storage& out);

}  // namespace zorv::inst
