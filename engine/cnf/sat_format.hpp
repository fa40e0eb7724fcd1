#pragma once

namespace zorv::cnf {

// DIMACS flavours: "p cnf V C" and "p wcnf V C top" (hard clauses written at weight top).
enum class sat_format { cnf, wcnf };

}  // namespace zorv::cnf
