#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zorv::cnf {

// Key text (x[0,1], _pbct_aux[0,1,2]) to variable number, in insertion order, and back.
// Keys are kept back to back in one text buffer; the inverse is a sorted array of
// (number, entry) built on request, or nothing when the numbers already ascend.
class var_mapping {
public:
    void clear();
    void reserve(std::size_t entries, std::size_t key_bytes);
    // Numbers are variable numbers: 0 up to max_variable. Keys are expected to be unique
    // (a mapping is set from a dict); the inverse is dropped until built again.
    void add(std::string_view key, std::int64_t number);
    // Makes the keys unique as a dict update would: a key added more than once keeps its first
    // place and takes its last number. Only the entries in `candidates` (ascending) are compared:
    // the caller knows that the others are unique.
    void merge_repeated_keys(std::span<const std::size_t> candidates);

    // Marks the first `entries` as a prefix that other mappings share: any mapping carrying the
    // same token holds the very same first `entries` keys and numbers. Any change drops the mark.
    void mark_prefix(std::uint64_t token, std::size_t entries);
    std::uint64_t prefix_token() const { return prefix_token_; }
    std::size_t prefix_size() const { return prefix_size_; }
    // A token no mapping carries yet.
    static std::uint64_t new_token();
    // A mapping of the marked prefix alone, with the mark, room made for `more` entries.
    var_mapping prefix_copy(std::size_t more_entries, std::size_t more_bytes) const;

    std::size_t size() const { return numbers_.size(); }
    std::size_t text_size() const { return text_.size(); }
    // Bytes of keys, numbers and inverse held, which freeing gives back.
    std::size_t held_bytes() const noexcept {
        return text_.size() + ends_.size() * sizeof(std::size_t) + numbers_.size() * sizeof(std::int64_t) +
               inverse_.size() * sizeof(inverse_[0]);
    }
    std::string_view key(std::size_t i) const;
    std::int64_t number(std::size_t i) const { return numbers_[i]; }

    // A number held by several keys maps back to the last of them.
    void build_inverse();
    bool has_inverse() const { return inverse_built_; }
    // The entry whose key names `number`; none before build_inverse() or when unknown.
    std::optional<std::size_t> find_number(std::int64_t number) const;
    // Calls visit(number, entry) in number order, once per number (after build_inverse()).
    template <class Visit>
    void for_each_by_number(Visit&& visit) const {
        if (ascending_) {
            for (std::size_t i = 0; i < size(); ++i) {
                visit(numbers_[i], i);
            }
        }
        for (const auto& [number, entry] : inverse_) {
            visit(number, entry);
        }
    }

private:
    std::string text_;
    std::vector<std::size_t> ends_;
    std::vector<std::int64_t> numbers_;
    std::vector<std::pair<std::int64_t, std::size_t>> inverse_;
    bool inverse_built_ = false;
    // Built with numbers ascending strictly in entry order: the entries are their own inverse.
    bool ascending_ = false;
    std::uint64_t prefix_token_ = 0;
    std::size_t prefix_size_ = 0;
};

}  // namespace zorv::cnf
