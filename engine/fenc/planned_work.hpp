#pragma once
#include <cstdint>
#include <string>

#include "common/work_plan.hpp"
#include "fenc/catalog.hpp"
#include "fenc/constraint.hpp"

// What the instances of a constraint will take, read from its program before any is made, so
// that work which cannot be done is refused when the constraint is added, not halfway through.
namespace zorv::fenc {

// What every instance of `c` writes at least (a target writes nothing: it is not encoded).
instance_output least_instance_output(const constraint& c);

// Why the comprehension loops of `c` are refused before they run, or an empty text: the loops
// over values that the text alone fixes take, in one instance, more combinations than
// `instance_work`, or in all instances together more than max_instances. Loops whose values
// depend on a forall or on an outer loop are left to the evaluator, which counts them as it goes.
std::string loop_refusal(const constraint& c, const catalog& variables, std::uint64_t instance_work);

// Throws index_error, as generating would, when an instance of `c` refers to a cell outside its
// variable, even one whose term its encoding would drop. Read from the bounds of the forall
// values and of the loops' ranges where they show that every cell lies inside; else every
// instance is evaluated, its loops counted against `instance_work` as generating counts them.
void check_cells(const constraint& c, const catalog& variables, std::uint64_t instance_work);

}  // namespace zorv::fenc
