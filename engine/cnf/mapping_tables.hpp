#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "cnf/var_mapping.hpp"

namespace zorv::cnf {

// The variable numbers of one model variable, row-major over its shape; -1 marks a cell
// that no key names (only without strict parsing).
struct variable_table {
    std::string name;
    std::vector<std::size_t> shape;
    std::vector<std::int64_t> numbers;
};

// Groups the keys name[i,j,...] (name[] for a variable without indexes) of `mapping` by name, in order of first appearance; keys
// starting with one of `auxiliary_prefixes` are left out. Nothing (no tables) for an empty
// mapping. With `strict`, also nothing when a key does not parse, a name comes with
// different numbers of indexes, or a name's keys do not fill its block exactly once; without
// it such keys and names are left out, as is a block far larger than its keys.
std::optional<std::vector<variable_table>> build_mapping_tables(
    const var_mapping& mapping, std::span<const std::string> auxiliary_prefixes, bool strict);

// The token of the mapping's shared prefix when every key after it is auxiliary: then the
// tables are those of the prefix alone, and so the same for every mapping with that token.
std::optional<std::uint64_t> tables_token(const var_mapping& mapping,
                                          std::span<const std::string> auxiliary_prefixes);

}  // namespace zorv::cnf
