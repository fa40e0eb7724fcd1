#pragma once
#include <cstdint>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "common/process_memory.hpp"

// The work a constraint will take, planned before any of it is done, and the rule that refuses
// it: its clauses, or the model's with them, past what DIMACS solvers read, or the memory they
// take at the least past what this process can still get. Counts saturate at the largest 64-bit value.
namespace zorv {

// The largest clause count of a DIMACS header that solvers read: a signed 32-bit integer.
inline constexpr std::uint64_t dimacs_clause_limit = 2147483647;

// What every instance of a constraint writes at least.
struct instance_output {
    std::uint64_t clauses = 0;
    std::uint64_t literals = 0;
    bool soft = false;            // its clauses carry weights
    std::uint64_t variables = 0;  // auxiliary variables, each an entry of the variable mapping
};

struct planned_work {
    std::uint64_t clauses = 0;
    // What the clauses and the mapping entries of their auxiliaries take at the least once
    // stored, as measured on both roads' builds: per clause an 8-byte offset (and an 8-byte
    // weight when soft), per literal 4 bytes (cnf::wcnf_storage), per auxiliary variable the
    // key, number and inverse entry of the mapping.
    std::uint64_t bytes = 0;
};

planned_work plan_instances(std::uint64_t instances, const instance_output& each);

// Work of fewer bytes is not held against the memory the process can get: asking takes longer
// than doing such work, and a process without a MiB to spare fails at whatever it does next.
inline constexpr std::uint64_t unchecked_bytes = std::uint64_t{1} << 20;

// Why the planned work is refused, or an empty text when it is not: its clauses, then the
// model's (`model_clauses` before it), then its memory against process_memory_limit(). `copied`
// are the bytes of clauses already written or planned that the storage copies beside the work
// when it grows for it, taken at the same time.
std::string work_refusal(const planned_work& work, std::uint64_t model_clauses, std::uint64_t copied = 0);

// Why `bytes` taken for `what` ("2 clauses") are refused, or an empty text.
std::string memory_refusal(std::uint64_t bytes, std::string_view what, const memory_limit& limit);

// "the 3866000000 bytes (3.6 GiB) that this process can still get (...)": the limit as every
// refusal, and every build that ran out of memory, names it.
std::string limit_text(const memory_limit& limit);

// "3200000000 bytes (3.0 GiB)"; below a KiB the bytes alone.
std::string bytes_text(std::uint64_t bytes);

// The error of a build that ran out of memory: MemoryError in Python, with this text.
class memory_error : public std::bad_alloc {
public:
    explicit memory_error(std::string text) : text_(std::move(text)) {}
    const char* what() const noexcept override { return text_.c_str(); }

private:
    std::string text_;
};

// The error of `what` ("building the variable mapping of 3 entries") that ran out of memory, with
// what the process can get, measured once that work let its memory go.
memory_error ran_out_of_memory(std::string_view what);

// work(), whose running out of memory with no name of its own (a bare bad_alloc) raises
// ran_out_of_memory(what()); what() runs once work() has let its memory go.
template <class Work, class What>
decltype(auto) named_out_of_memory(Work&& work, What&& what) {
    try {
        return work();
    } catch (const memory_error&) {
        throw;
    } catch (const std::bad_alloc&) {
        throw ran_out_of_memory(what());
    }
}

// "constraint 'text' over {'i': range(0, 3)}", the text quoted and cut as in every message;
// without the foralls part when `foralls` is empty or "{}"; "a constraint" without a text.
std::string constraint_subject(std::string_view text, std::string_view foralls);

std::uint64_t saturating_sum(std::uint64_t a, std::uint64_t b);
std::uint64_t saturating_product(std::uint64_t a, std::uint64_t b);

// A count as refusals write it: "at least 18446744073709551615" for a saturated one.
std::string count_text(std::uint64_t count);

}  // namespace zorv
