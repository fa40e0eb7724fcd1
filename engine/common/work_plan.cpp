#include "common/work_plan.hpp"

#include <cstdio>
#include <limits>

#include "common/quoted.hpp"

namespace zorv {

namespace {

constexpr std::uint64_t saturated = std::numeric_limits<std::uint64_t>::max();
// What a stored clause takes (cnf::wcnf_storage, its arrays reserved for the whole work): its
// offset, a soft one's weight, and each literal. Measured on both roads' builds, one constraint
// of 10^8 instances: 8 bytes a clause and 4 a literal, as planned.
constexpr std::uint64_t offset_bytes = 8;
constexpr std::uint64_t weight_bytes = 8;
constexpr std::uint64_t literal_bytes = 4;
// An auxiliary variable's entry in the variable mapping a build makes: the end of its key text,
// its number, its place in the inverse map and a key of 8 bytes or more. Measured at 35 to 37
// bytes on both roads with keys such as _pbct_aux[0,59999,13].
constexpr std::uint64_t variable_bytes = 32;

}  // namespace

std::string bytes_text(std::uint64_t bytes) {
    static constexpr const char* units[] = {"KiB", "MiB", "GiB"};
    std::string text = count_text(bytes) + " bytes";
    int unit = -1;
    double shown = static_cast<double>(bytes);
    while (unit < 2 && shown >= 1024) {
        shown /= 1024;
        ++unit;
    }
    if (unit >= 0) {
        char figure[32];
        std::snprintf(figure, sizeof figure, " (%.1f %s)", shown, units[unit]);
        text += figure;
    }
    return text;
}

std::uint64_t saturating_sum(std::uint64_t a, std::uint64_t b) {
    std::uint64_t r = 0;
    return __builtin_add_overflow(a, b, &r) ? saturated : r;
}

std::uint64_t saturating_product(std::uint64_t a, std::uint64_t b) {
    std::uint64_t r = 0;
    return __builtin_mul_overflow(a, b, &r) ? saturated : r;
}

std::string count_text(std::uint64_t count) {
    return (count == saturated ? "at least " : "") + std::to_string(count);
}

planned_work plan_instances(std::uint64_t instances, const instance_output& each) {
    const std::uint64_t per_clause = each.soft ? offset_bytes + weight_bytes : offset_bytes;
    const std::uint64_t bytes =
        saturating_sum(saturating_sum(saturating_product(each.clauses, per_clause), saturating_product(each.literals, literal_bytes)),
             saturating_product(each.variables, variable_bytes));
    return {saturating_product(instances, each.clauses), saturating_product(instances, bytes)};
}

std::string work_refusal(const planned_work& work, std::uint64_t model_clauses, std::uint64_t copied) {
    const std::string solvers = ", more than the " + std::to_string(dimacs_clause_limit) + " that DIMACS solvers read";
    if (work.clauses > dimacs_clause_limit) {
        return "would take " + count_text(work.clauses) + " clauses" + solvers;
    }
    const std::uint64_t total = saturating_sum(model_clauses, work.clauses);
    if (total > dimacs_clause_limit) {
        return "would bring the model to " + count_text(total) + " clauses" + solvers;
    }
    const std::uint64_t bytes = saturating_sum(work.bytes, copied);
    if (bytes < unchecked_bytes) return {};
    std::string what = std::to_string(work.clauses) + " clauses";
    if (copied > 0) what += ", with the copies a storage makes as it grows";
    return memory_refusal(bytes, what, process_memory_limit());
}

std::string memory_refusal(std::uint64_t bytes, std::string_view what, const memory_limit& limit) {
    if (bytes <= limit.bytes) return {};
    return "would take at least " + bytes_text(bytes) + " for " + std::string(what) + ", more than " +
           limit_text(limit);
}

std::string limit_text(const memory_limit& limit) {
    std::string text = "the " + bytes_text(limit.bytes) + " that this process can still get (";
    if (!limit.address_space) return text + "physical memory available)";
    return text + "its address-space limit of " + bytes_text(limit.limit) + " less the " + bytes_text(limit.held) +
           " it holds)";
}

memory_error ran_out_of_memory(std::string_view what) {
    return memory_error(std::string(what) + " ran out of memory, with " + limit_text(process_memory_limit()) +
                        " once it let its memory go");
}

std::string constraint_subject(std::string_view text, std::string_view foralls) {
    constexpr std::size_t shown = 200;
    std::string subject = text.empty() ? "a constraint" : "constraint " + quoted(text);
    if (!foralls.empty() && foralls != "{}") {
        // Listed values may run to megabytes: cut as the text is.
        subject += " over " + std::string(foralls.substr(0, character_cut(foralls, shown))) +
                   (foralls.size() > shown ? "..." : "");
    }
    return subject;
}

}  // namespace zorv
