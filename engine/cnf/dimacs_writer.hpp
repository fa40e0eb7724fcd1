#pragma once
#include <filesystem>
#include <functional>
#include <string_view>

#include "cnf/sat_format.hpp"
#include "cnf/var_mapping.hpp"
#include "cnf/wcnf_storage.hpp"

namespace zorv::cnf {

// Keys with these prefixes name encoder auxiliaries and are not written.
inline constexpr std::string_view auxiliary_prefixes[] = {"_bxpr_aux", "_pbct_aux"};

// Writes `storage` as a DIMACS file, atomically (see io::atomic_file). Layout:
//   c model: <model name>          (when the name is not empty)
//   c <key> <number>               (one line per model-variable key of `mapping`, if any,
//                                   in mapping order)
//   c prefatory: <lit> <lit> ...   (when there are prefatory values)
//   p cnf V C  |  p wcnf V C top
//   clauses, one per line, each ended by 0; in wcnf each starts with its weight (top if hard)
// V, C and top come from the stored clauses, never below what the clauses need.
// A CNF file cannot carry weights, so a storage with soft clauses is refused for it, and a
// model name or key holding a line end is refused for its comment line.
// `before_rename` runs once the file is complete, before it replaces the old one; a throw
// from it cancels the save (see io::atomic_file::commit).
void write_dimacs(const wcnf_storage& storage, const std::filesystem::path& path,
                  sat_format format, const var_mapping* mapping,
                  const std::function<void()>& before_rename = {});

}  // namespace zorv::cnf
