#pragma once
#include <charconv>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "common/errors.hpp"

namespace zorv::inst {

enum class aux_kind : std::uint8_t { pseudo_boolean, tseytin };

// One auxiliary of the template as its key names it: its kind and counter, and its place in the
// instance's block of auxiliary numbers.
struct aux_key_slot {
    aux_kind kind = aux_kind::tseytin;
    std::int64_t counter = 0;
    std::int64_t place = 0;
};

// The auxiliary keys of one instantiated record, held as the numbers they are made of: instance
// after instance, the slots in their given order (the order of their first occurrence in the
// template). Keys read _pbct_aux[f,n,k] or _bxpr_aux[f,n,k]; numbers are
// aux_start + n * aux_block + place.
struct aux_key_block {
    std::int64_t formula = 0;
    std::int64_t aux_start = 0;
    std::int64_t aux_block = 0;
    std::uint64_t instances = 0;
    std::vector<aux_key_slot> slots;

    // Throws limit_error when the count does not fit in 63 bits.
    std::uint64_t size() const {
        std::uint64_t count = 0;
        if (__builtin_mul_overflow(instances, slots.size(), &count) || count >> 63 != 0) {
            throw limit_error("too many auxiliary keys");
        }
        return count;
    }
};

// Calls emit(key text, number) for every key of `keys`, in order. Throws limit_error when a
// number does not fit in 64 bits (writing the clauses has checked that they fit a literal, so
// this only guards against a mismatched block).
template <class Emit>
void for_each_key(const aux_key_block& keys, Emit&& emit) {
    // "_pbct_aux[" + three 20-digit numbers with signs, two commas and "]" fit easily.
    char key[96];
    std::int64_t base = keys.aux_start;
    for (std::uint64_t n = 0; n < keys.instances; ++n) {
        if (n > 0 && __builtin_add_overflow(base, keys.aux_block, &base)) {
            throw limit_error("auxiliary numbers do not fit in 64 bits");
        }
        for (const aux_key_slot& slot : keys.slots) {
            std::int64_t number = 0;
            if (__builtin_add_overflow(base, slot.place, &number)) {
                throw limit_error("auxiliary numbers do not fit in 64 bits");
            }
            const std::string_view prefix =
                slot.kind == aux_kind::pseudo_boolean ? "_pbct_aux[" : "_bxpr_aux[";
            char* end = key + prefix.copy(key, prefix.size());
            // Each number is given the room of its widest text, which leaves a place for the
            // character after it.
            end = std::to_chars(end, end + 20, keys.formula).ptr;
            *end++ = ',';
            end = std::to_chars(end, end + 20, n).ptr;
            *end++ = ',';
            end = std::to_chars(end, end + 20, slot.counter).ptr;
            *end++ = ']';
            emit(std::string_view(key, static_cast<std::size_t>(end - key)), number);
        }
    }
}

}  // namespace zorv::inst
