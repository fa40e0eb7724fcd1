#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace zorv::inst {

// The values one forall takes: an arithmetic run (a range) or values listed one by one.
class forall_values {
public:
    static forall_values arithmetic(std::int64_t start, std::int64_t step, std::size_t length);
    static forall_values listed(std::vector<std::int64_t> values);

    std::size_t size() const { return length_; }
    // The least and the greatest value; there is at least one.
    std::pair<std::int64_t, std::int64_t> bounds() const;
    std::int64_t operator[](std::size_t i) const {
        // Unsigned: i * step may exceed 64 bits where the value itself does not.
        return listed_.empty() ? static_cast<std::int64_t>(static_cast<std::uint64_t>(start_) +
                                                           static_cast<std::uint64_t>(i) * static_cast<std::uint64_t>(step_))
                               : listed_[i];
    }

private:
    std::int64_t start_ = 0;
    std::int64_t step_ = 0;
    std::size_t length_ = 0;
    std::vector<std::int64_t> listed_;
};

// Number of combinations of the foralls' values (1 without foralls); nothing when it does
// not fit in 64 bits.
std::optional<std::uint64_t> combination_count(std::span<const forall_values> foralls);

// Walks every combination of forall values in nested-loop order, the first forall outermost.
class forall_odometer {
public:
    explicit forall_odometer(std::span<const forall_values> foralls);

    // Current value of each forall.
    std::span<const std::int64_t> values() const { return values_; }
    // Moves to the next combination; the last forall turns fastest.
    void advance();

private:
    std::span<const forall_values> foralls_;
    std::vector<std::size_t> positions_;
    std::vector<std::int64_t> values_;
};

}  // namespace zorv::inst
