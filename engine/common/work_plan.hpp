#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "common/process_memory.hpp"

// The work a constraint will take, planned before any of it is done, and the rule that refuses
// it: its clauses, or the model's with them, past what DIMACS solvers read, or the memory they
// take at the least past what this process can get. Counts saturate at the largest 64-bit value.
namespace zorv {

// The largest clause count of a DIMACS header that solvers read: a signed 32-bit integer.
inline constexpr std::uint64_t dimacs_clause_limit = 2147483647;

// What every instance of a constraint writes at least.
struct instance_output {
    std::uint64_t clauses = 0;
    std::uint64_t literals = 0;
    bool soft = false;  // its clauses carry weights
};

struct planned_work {
    std::uint64_t clauses = 0;
    // What the clauses take at the least where they are stored: an 8-byte offset per clause, an
    // 8-byte weight per soft clause and a 4-byte literal (cnf::wcnf_storage); nothing else the
    // work makes on the way is counted.
    std::uint64_t bytes = 0;
};

planned_work plan_instances(std::uint64_t instances, const instance_output& each);

// Why the planned work is refused, or an empty text when it is not: its clauses, then the
// model's (`model_clauses` before it), then its memory, each against its limit.
std::string work_refusal(const planned_work& work, std::uint64_t model_clauses, const memory_limit& limit);

// Why `bytes` taken for `what` ("2 clauses") are refused, or an empty text.
std::string memory_refusal(std::uint64_t bytes, std::string_view what, const memory_limit& limit);

// "constraint 'text' over {'i': range(0, 3)}", the text quoted and cut as in every message;
// without the foralls part when `foralls` is empty or "{}"; "a constraint" without a text.
std::string constraint_subject(std::string_view text, std::string_view foralls);

std::uint64_t saturating_product(std::uint64_t a, std::uint64_t b);

// A count as refusals write it: "at least 18446744073709551615" for a saturated one.
std::string count_text(std::uint64_t count);

}  // namespace zorv
