#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <variant>

#include "cnf/var_mapping.hpp"
#include "inst/aux_keys.hpp"
#include "inst/variable_keys.hpp"

namespace zorv::inst {

// One part of a model's mapping: a variable's element keys, a record's auxiliary keys, or keys
// given as text.
using key_part = std::variant<const variable_key_block*, const aux_key_block*, const cnf::var_mapping*>;

// Every part's keys in order, merged as successive dict updates merge them: a key met again
// keeps its first place and takes its later number. The texts of key blocks are made here,
// straight into the mapping.
cnf::var_mapping merge_keys(std::span<const key_part> parts);

// merge_keys(parts), for mappings that are merged again and again with only the parts after the
// first `split` changed (a new target): when no key can repeat, the entries of the first `split`
// parts are marked as a shared prefix, and are copied from `previous` rather than made again
// when it carries such a prefix. The caller vouches that `previous`, if given, was merged with
// the same first `split` parts.
cnf::var_mapping merge_keys_after(const cnf::var_mapping* previous, std::span<const key_part> parts,
                                  std::size_t split);

// The largest number of merge_keys(parts), read from the blocks without making their texts;
// none when there is no key.
std::optional<std::int64_t> largest_number(std::span<const key_part> parts);

}  // namespace zorv::inst
