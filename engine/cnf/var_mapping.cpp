#include "cnf/var_mapping.hpp"

#include <algorithm>
#include <atomic>
#include <functional>
#include <string>

#include "cnf/literal.hpp"
#include "common/errors.hpp"
#include "common/interrupt.hpp"

namespace zorv::cnf {

void var_mapping::clear() {
    text_.clear();
    ends_.clear();
    numbers_.clear();
    inverse_.clear();
    inverse_built_ = false;
    ascending_ = false;
    prefix_token_ = 0;
    prefix_size_ = 0;
}

void var_mapping::mark_prefix(std::uint64_t token, std::size_t entries) {
    if (entries > size()) {
        throw value_error("a prefix of " + std::to_string(entries) + " entries in a mapping of " +
                          std::to_string(size()));
    }
    prefix_token_ = token;
    prefix_size_ = entries;
}

std::uint64_t var_mapping::new_token() {
    static std::atomic<std::uint64_t> last{0};
    return ++last;
}

var_mapping var_mapping::prefix_copy(std::size_t more_entries, std::size_t more_bytes) const {
    const std::size_t bytes = prefix_size_ == 0 ? 0 : ends_[prefix_size_ - 1];
    var_mapping copy;
    copy.reserve(prefix_size_ + more_entries, bytes + more_bytes);
    copy.text_.append(text_, 0, bytes);
    copy.ends_.insert(copy.ends_.end(), ends_.begin(), ends_.begin() + static_cast<std::ptrdiff_t>(prefix_size_));
    copy.numbers_.insert(copy.numbers_.end(), numbers_.begin(),
                         numbers_.begin() + static_cast<std::ptrdiff_t>(prefix_size_));
    copy.mark_prefix(prefix_token_, prefix_size_);
    return copy;
}

void var_mapping::reserve(std::size_t entries, std::size_t key_bytes) {
    text_.reserve(key_bytes);
    ends_.reserve(entries);
    numbers_.reserve(entries);
}

void var_mapping::add(std::string_view key, std::int64_t number) {
    if (number < 0 || number > max_variable) {
        throw value_error("variable number " + std::to_string(number) + " of '" +
                          std::string(key) + "' is out of range 0.." +
                          std::to_string(max_variable));
    }
    text_.append(key);
    ends_.push_back(text_.size());
    numbers_.push_back(number);
    inverse_.clear();
    inverse_built_ = false;
    ascending_ = false;
    prefix_token_ = 0;
    prefix_size_ = 0;
}

void var_mapping::merge_repeated_keys(std::span<const std::size_t> candidates) {
    std::vector<std::size_t> order(candidates.begin(), candidates.end());
    interrupt_gate gate;
    // Stable: the entries of one key stay in insertion order.
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        gate.tick();
        return key(a) < key(b);
    });
    std::vector<bool> dropped(size(), false);
    bool any = false;
    for (std::size_t run = 0, next = 0; run < order.size(); run = next) {
        for (next = run + 1; next < order.size() && key(order[next]) == key(order[run]); ++next) {
            dropped[order[next]] = true;
            any = true;
        }
        numbers_[order[run]] = numbers_[order[next - 1]];
    }
    if (!any) {
        return;
    }
    var_mapping kept;
    kept.reserve(size(), text_.size());
    for (std::size_t i = 0; i < size(); ++i) {
        if (!dropped[i]) {
            kept.text_.append(key(i));
            kept.ends_.push_back(kept.text_.size());
            kept.numbers_.push_back(numbers_[i]);
        }
    }
    *this = std::move(kept);
}

std::string_view var_mapping::key(std::size_t i) const {
    const std::size_t begin = i == 0 ? 0 : ends_[i - 1];
    return std::string_view(text_).substr(begin, ends_[i] - begin);
}

void var_mapping::build_inverse() {
    inverse_.clear();
    inverse_built_ = false;
    // Every pass over the entries asks for Ctrl-C: ten million of them take tens of milliseconds.
    interrupt_gate gate(1 << 16);
    ascending_ = true;
    for (std::size_t i = 1; i < size() && ascending_; ++i) {
        gate.tick();
        ascending_ = numbers_[i - 1] < numbers_[i];
    }
    if (ascending_) {
        inverse_built_ = true;
        return;
    }
    inverse_.reserve(size());
    for (std::size_t i = 0; i < size(); ++i) {
        gate.tick();
        inverse_.emplace_back(numbers_[i], i);
    }
    // Sorting pairs puts the last entry of a number last in its run; keep that one.
    try {
        std::sort(inverse_.begin(), inverse_.end(), [&](const auto& a, const auto& b) {
            gate.tick();
            return a < b;
        });
    } catch (...) {
        inverse_.clear();  // half sorted: no inverse rather than a wrong one
        throw;
    }
    auto last_of_run = [](const auto& a, const auto& b) { return a.first == b.first; };
    std::reverse(inverse_.begin(), inverse_.end());
    inverse_.erase(std::unique(inverse_.begin(), inverse_.end(), last_of_run), inverse_.end());
    std::reverse(inverse_.begin(), inverse_.end());
    inverse_built_ = true;
}

std::optional<std::size_t> var_mapping::find_number(std::int64_t number) const {
    if (ascending_) {
        const auto at = std::lower_bound(numbers_.begin(), numbers_.end(), number);
        if (at == numbers_.end() || *at != number) {
            return std::nullopt;
        }
        return static_cast<std::size_t>(at - numbers_.begin());
    }
    auto it = std::lower_bound(inverse_.begin(), inverse_.end(),
                               std::pair<std::int64_t, std::size_t>(number, 0));
    if (it == inverse_.end() || it->first != number) {
        return std::nullopt;
    }
    return it->second;
}

}  // namespace zorv::cnf
