#include "inst/forall_values.hpp"

#include <algorithm>

#include "common/errors.hpp"
#include "pbct/int128.hpp"

namespace zorv::inst {

forall_values forall_values::arithmetic(std::int64_t start, std::int64_t step, std::size_t length) {
    // The last value must be representable: start + (length - 1) * step.
    // Exactly: (length - 1) * step alone may exceed 64 bits where the last value does not.
    const pbct::i128 last = static_cast<pbct::i128>(start) + static_cast<pbct::i128>(length - 1) * step;
    if (length > 0 && (last < INT64_MIN || last > INT64_MAX)) {
        throw limit_error("forall values do not fit in 64 bits");
    }
    forall_values run;
    run.start_ = start;
    run.step_ = step;
    run.length_ = length;
    return run;
}

forall_values forall_values::listed(std::vector<std::int64_t> values) {
    forall_values run;
    run.length_ = values.size();
    run.listed_ = std::move(values);
    return run;
}

std::pair<std::int64_t, std::int64_t> forall_values::bounds() const {
    if (listed_.empty()) {
        const std::int64_t first = (*this)[0], last = (*this)[length_ - 1];
        return {std::min(first, last), std::max(first, last)};
    }
    const auto [low, high] = std::minmax_element(listed_.begin(), listed_.end());
    return {*low, *high};
}

std::optional<std::uint64_t> combination_count(std::span<const forall_values> foralls) {
    std::uint64_t count = 1;
    for (const auto& values : foralls) {
        if (__builtin_mul_overflow(count, static_cast<std::uint64_t>(values.size()), &count)) {
            return std::nullopt;
        }
    }
    return count;
}

forall_odometer::forall_odometer(std::span<const forall_values> foralls)
    : foralls_(foralls), positions_(foralls.size(), 0), values_(foralls.size(), 0) {
    for (std::size_t f = 0; f < foralls.size(); ++f) {
        if (foralls[f].size() > 0) {
            values_[f] = foralls[f][0];
        }
    }
}

void forall_odometer::advance() {
    for (std::size_t f = foralls_.size(); f-- > 0;) {
        if (++positions_[f] < foralls_[f].size()) {
            values_[f] = foralls_[f][positions_[f]];
            return;
        }
        positions_[f] = 0;
        values_[f] = foralls_[f][0];
    }
}

}  // namespace zorv::inst
