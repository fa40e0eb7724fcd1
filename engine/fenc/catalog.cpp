#include "fenc/catalog.hpp"

#include <atomic>

#include "cnf/literal.hpp"
#include "common/errors.hpp"

namespace zorv::fenc {

void catalog::declare(std::string_view name, std::vector<std::int64_t> sizes) {
    if (auto known = find(name)) {
        if (variables_[*known].sizes != sizes) {
            throw value_error("variable " + std::string(name) + " is already declared with other sizes");
        }
        return;
    }
    declared_variable v;
    v.name = std::string(name);
    v.strides.assign(sizes.size(), 1);
    std::int64_t count = 1;
    for (std::size_t k = sizes.size(); k-- > 0;) {
        if (sizes[k] < 0) throw value_error("size of variable " + v.name + " must not be negative");
        v.strides[k] = count;
        if (__builtin_mul_overflow(count, sizes[k], &count) || count > cnf::max_variable) {
            throw limit_error("variable " + v.name + " has too many cells for variable numbers");
        }
    }
    if (cells_ + count > cnf::max_variable) {
        throw limit_error("variable " + v.name + " does not fit: the declared cells would take more than " +
                          std::to_string(cnf::max_variable) + " variable numbers");
    }
    v.sizes = std::move(sizes);
    v.start = cells_ + 1;
    v.count = count;
    cells_ += count;
    by_name_.emplace(v.name, static_cast<std::uint32_t>(variables_.size()));
    variables_.push_back(std::move(v));
}

std::optional<std::uint32_t> catalog::find(std::string_view name) const {
    const auto found = by_name_.find(std::string(name));
    if (found == by_name_.end()) return std::nullopt;
    return found->second;
}

void catalog::clear() {
    variables_.clear();
    by_name_.clear();
    cells_ = 0;
    stamp_ = new_stamp();
}

std::uint64_t catalog::new_stamp() {
    static std::atomic<std::uint64_t> last{0};
    return ++last;
}

}  // namespace zorv::fenc
