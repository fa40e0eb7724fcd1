#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace zorv::fenc {

// One declared variable: its cells are numbered row-major (last index fastest) from `start`.
struct declared_variable {
    std::string name;
    std::vector<std::int64_t> sizes;
    std::vector<std::int64_t> strides;
    std::int64_t start = 1;
    std::int64_t count = 1;
};

// The declared variables in declaration order; their blocks of numbers follow each other from 1.
class catalog {
public:
    // A name declared again with the same sizes changes nothing; with other sizes it is refused
    // (value_error), as is a negative size. limit_error when the numbers would not fit a literal.
    void declare(std::string_view name, std::vector<std::int64_t> sizes);
    std::optional<std::uint32_t> find(std::string_view name) const;
    const declared_variable& at(std::uint32_t index) const { return variables_[index]; }
    std::size_t size() const { return variables_.size(); }
    // How many numbers the declared cells take: the cells are 1 .. cell_count().
    std::int64_t cell_count() const { return cells_; }
    // Names this catalog until its next clear(): no other catalog of the process has it, and it
    // is never 0.
    std::uint64_t stamp() const { return stamp_; }
    void clear();

private:
    static std::uint64_t new_stamp();

    std::uint64_t stamp_ = new_stamp();
    std::vector<declared_variable> variables_;
    std::unordered_map<std::string, std::uint32_t> by_name_;
    std::int64_t cells_ = 0;
};

}  // namespace zorv::fenc
