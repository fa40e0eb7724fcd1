#include "inst/program_arrays.hpp"

#include <string>

#include "common/errors.hpp"

namespace zorv::inst {

namespace {

void check_width(std::span<const std::int64_t> flat, std::size_t width, const char* what) {
    if (flat.size() % width != 0) {
        throw value_error(std::string(what) + " must hold " + std::to_string(width) +
                          " integers per entry");
    }
}

// [first, first + count) must lie inside [0, size).
void check_run(std::int64_t first, std::int64_t count, std::size_t size, const char* what) {
    if (first < 0 || count < 0 || static_cast<std::uint64_t>(first) > size ||
        static_cast<std::uint64_t>(count) > size - static_cast<std::uint64_t>(first)) {
        throw value_error(std::string(what) + " refers past the end of its array");
    }
}

std::vector<clause_op> decode_clauses(std::span<const std::int64_t> flat, std::size_t literals) {
    check_width(flat, 4, "clauses");
    std::vector<clause_op> out;
    out.reserve(flat.size() / 4);
    for (std::size_t i = 0; i < flat.size(); i += 4) {
        if (flat[i + 1] < 0) {
            throw value_error("a clause weight must not be negative");
        }
        check_run(flat[i + 2], flat[i + 3], literals, "a clause");
        out.push_back({flat[i] != 0, static_cast<cnf::weight>(flat[i + 1]),
                       static_cast<std::uint32_t>(flat[i + 2]), static_cast<std::uint32_t>(flat[i + 3])});
    }
    return out;
}

std::vector<literal_op> decode_literals(std::span<const std::int64_t> flat, std::size_t terms) {
    check_width(flat, 5, "literals");
    std::vector<literal_op> out;
    out.reserve(flat.size() / 5);
    for (std::size_t i = 0; i < flat.size(); i += 5) {
        check_run(flat[i + 3], flat[i + 4], terms, "a literal");
        out.push_back({flat[i] != 0, flat[i + 1] != 0, flat[i + 2],
                       static_cast<std::uint32_t>(flat[i + 3]), static_cast<std::uint32_t>(flat[i + 4])});
    }
    return out;
}

std::vector<index_term> decode_terms(std::span<const std::int64_t> flat, std::int64_t forall_count) {
    check_width(flat, 5, "terms");
    std::vector<index_term> out;
    out.reserve(flat.size() / 5);
    for (std::size_t i = 0; i < flat.size(); i += 5) {
        if (flat[i] >= forall_count || flat[i] < -1) {
            throw value_error("an index term names no forall");
        }
        out.push_back({static_cast<std::int32_t>(flat[i]), flat[i + 1], flat[i + 2], flat[i + 3], flat[i + 4]});
    }
    return out;
}

}  // namespace

template_program decode_program(std::span<const std::int64_t> clauses,
                                std::span<const std::int64_t> literals,
                                std::span<const std::int64_t> terms, std::int64_t forall_count,
                                std::int64_t aux_start, std::int64_t aux_block) {
    if (clauses.size() / 4 > UINT32_MAX || literals.size() / 5 > UINT32_MAX) {
        throw limit_error("a clause template is limited to 2^32 clauses and literals");
    }
    template_program program;
    program.terms = decode_terms(terms, forall_count);
    program.literals = decode_literals(literals, program.terms.size());
    program.clauses = decode_clauses(clauses, program.literals.size());
    program.aux_start = aux_start;
    program.aux_block = aux_block;
    return program;
}

std::vector<aux_key_slot> decode_key_slots(std::span<const std::int64_t> flat) {
    check_width(flat, 3, "key slots");
    std::vector<aux_key_slot> out;
    out.reserve(flat.size() / 3);
    for (std::size_t i = 0; i < flat.size(); i += 3) {
        if (flat[i] != 0 && flat[i] != 1) {
            throw value_error("an auxiliary kind is 0 (pseudo-Boolean) or 1 (Tseytin)");
        }
        out.push_back({flat[i] == 0 ? aux_kind::pseudo_boolean : aux_kind::tseytin, flat[i + 1], flat[i + 2]});
    }
    return out;
}

}  // namespace zorv::inst
