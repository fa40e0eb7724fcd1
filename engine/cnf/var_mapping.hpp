#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zorv::cnf {

// Key text (x[0,1], _pbct_aux[0,1,2]) to variable number, in insertion order, and back.
// Keys are kept back to back in one text buffer; the inverse is a sorted array of
// (number, entry) built on request.
class var_mapping {
public:
    void clear();
    void reserve(std::size_t entries, std::size_t key_bytes);
    // Numbers are variable numbers: 0 up to max_variable. Keys are expected to be unique
    // (a mapping is set from a dict); the inverse is dropped until built again.
    void add(std::string_view key, std::int64_t number);

    std::size_t size() const { return numbers_.size(); }
    std::string_view key(std::size_t i) const;
    std::int64_t number(std::size_t i) const { return numbers_[i]; }

    // A number held by several keys maps back to the last of them.
    void build_inverse();
    bool has_inverse() const { return inverse_built_; }
    // The entry whose key names `number`; none before build_inverse() or when unknown.
    std::optional<std::size_t> find_number(std::int64_t number) const;
    // Entries in number order, one per number (valid after build_inverse()).
    const std::vector<std::pair<std::int64_t, std::size_t>>& inverse() const { return inverse_; }

private:
    std::string text_;
    std::vector<std::size_t> ends_;
    std::vector<std::int64_t> numbers_;
    std::vector<std::pair<std::int64_t, std::size_t>> inverse_;
    bool inverse_built_ = false;
};

}  // namespace zorv::cnf
