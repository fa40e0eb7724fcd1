#include "inst/key_mapping.hpp"

#include <algorithm>
#include <set>
#include <string>
#include <string_view>

#include "common/errors.hpp"
#include "common/interrupt.hpp"

namespace zorv::inst {

namespace {

template <class... Visit>
struct overloaded : Visit... {
    using Visit::operator()...;
};

// Whether two parts may hold the same key. A variable's keys all start with its name and '[',
// and a record's with an auxiliary prefix and its formula number; keys given as text could be
// anything.
bool may_repeat(std::span<const key_part> parts) {
    std::set<std::string_view> names;
    std::set<std::int64_t> formulas;
    for (const key_part& part : parts) {
        const bool fresh = std::visit(
            overloaded{
                [&](const variable_key_block* keys) {
                    return keys->name != "_pbct_aux" && keys->name != "_bxpr_aux" &&
                           names.insert(keys->name).second;
                },
                [&](const aux_key_block* keys) {
                    return keys->slots.empty() || keys->instances == 0 ||
                           formulas.insert(keys->formula).second;
                },
                [&](const cnf::var_mapping* keys) { return keys->size() == 0; },
            },
            part);
        if (!fresh) {
            return true;
        }
    }
    return false;
}

template <class Emit>
void for_each_entry(const key_part& part, Emit&& emit) {
    std::visit(overloaded{
                   [&](const cnf::var_mapping* keys) {
                       for (std::size_t i = 0; i < keys->size(); ++i) {
                           emit(keys->key(i), keys->number(i));
                       }
                   },
                   [&](const auto* keys) { for_each_key(*keys, emit); },
               },
               part);
}

// The largest number of a block; none when it holds no key.
std::optional<std::int64_t> block_largest(const variable_key_block& keys) {
    if (keys.size() == 0) {
        return std::nullopt;
    }
    // Each index is free, so the largest number takes 0 or its last value per index.
    std::int64_t number = keys.start;
    for (std::size_t d = 0; d < keys.sizes.size(); ++d) {
        std::int64_t weighted = 0;
        if (__builtin_mul_overflow(keys.sizes[d] - 1, keys.strides[d], &weighted) ||
            __builtin_add_overflow(number, std::max<std::int64_t>(weighted, 0), &number)) {
            throw limit_error("variable numbers do not fit in 64 bits");
        }
    }
    return number;
}

std::optional<std::int64_t> block_largest(const aux_key_block& keys) {
    if (keys.size() == 0) {
        return std::nullopt;
    }
    std::int64_t place = keys.slots.front().place;
    for (const aux_key_slot& slot : keys.slots) {
        place = std::max(place, slot.place);
    }
    std::int64_t base = 0;
    std::int64_t number = 0;
    if (__builtin_mul_overflow(static_cast<std::int64_t>(keys.instances - 1), keys.aux_block, &base) ||
        __builtin_add_overflow(keys.aux_start, std::max<std::int64_t>(base, 0), &number) ||
        __builtin_add_overflow(number, place, &number)) {
        throw limit_error("auxiliary numbers do not fit in 64 bits");
    }
    return number;
}

std::optional<std::int64_t> block_largest(const cnf::var_mapping& keys) {
    if (keys.size() == 0) {
        return std::nullopt;
    }
    std::int64_t number = keys.number(0);
    for (std::size_t i = 1; i < keys.size(); ++i) {
        number = std::max(number, keys.number(i));
    }
    return number;
}

}  // namespace

cnf::var_mapping merge_keys(std::span<const key_part> parts) {
    // Sized first, so that millions of keys are not copied again and again while the text grows.
    std::size_t entries = 0;
    std::size_t text_bytes = 0;
    interrupt_gate gate;
    for (const key_part& part : parts) {
        for_each_entry(part, [&](std::string_view key, std::int64_t) {
            gate.tick();
            ++entries;
            text_bytes += key.size();
        });
    }
    cnf::var_mapping merged;
    merged.reserve(entries, text_bytes);
    for (const key_part& part : parts) {
        for_each_entry(part, [&](std::string_view key, std::int64_t number) {
            gate.tick();
            merged.add(key, number);
        });
    }
    if (may_repeat(parts)) {
        merged.merge_repeated_keys();
    }
    return merged;
}

std::optional<std::int64_t> largest_number(std::span<const key_part> parts) {
    if (may_repeat(parts)) {
        // A later number may replace the largest one: read the merged mapping.
        return block_largest(merge_keys(parts));
    }
    std::optional<std::int64_t> largest;
    for (const key_part& part : parts) {
        const auto number = std::visit([](const auto* keys) { return block_largest(*keys); }, part);
        if (number && (!largest || *number > *largest)) {
            largest = number;
        }
    }
    return largest;
}

}  // namespace zorv::inst
