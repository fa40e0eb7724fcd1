#include "cnf/var_mapping.hpp"

#include <algorithm>
#include <string>

#include "cnf/literal.hpp"
#include "common/errors.hpp"

namespace zorv::cnf {

void var_mapping::clear() {
    text_.clear();
    ends_.clear();
    numbers_.clear();
    inverse_.clear();
    inverse_built_ = false;
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
}

std::string_view var_mapping::key(std::size_t i) const {
    const std::size_t begin = i == 0 ? 0 : ends_[i - 1];
    return std::string_view(text_).substr(begin, ends_[i] - begin);
}

void var_mapping::build_inverse() {
    inverse_.clear();
    inverse_.reserve(size());
    for (std::size_t i = 0; i < size(); ++i) {
        inverse_.emplace_back(numbers_[i], i);
    }
    // Sorting pairs puts the last entry of a number last in its run; keep that one.
    std::sort(inverse_.begin(), inverse_.end());
    auto last_of_run = [](const auto& a, const auto& b) { return a.first == b.first; };
    std::reverse(inverse_.begin(), inverse_.end());
    inverse_.erase(std::unique(inverse_.begin(), inverse_.end(), last_of_run), inverse_.end());
    std::reverse(inverse_.begin(), inverse_.end());
    inverse_built_ = true;
}

std::optional<std::size_t> var_mapping::find_number(std::int64_t number) const {
    auto it = std::lower_bound(inverse_.begin(), inverse_.end(),
                               std::pair<std::int64_t, std::size_t>(number, 0));
    if (it == inverse_.end() || it->first != number) {
        return std::nullopt;
    }
    return it->second;
}

}  // namespace zorv::cnf
