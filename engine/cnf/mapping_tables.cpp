#include "cnf/mapping_tables.hpp"

#include <algorithm>
#include <charconv>
#include <string_view>
#include <unordered_map>

#include "common/interrupt.hpp"

namespace zorv::cnf {

namespace {

// Indexes beyond this are refused as unparsable: no model has such a block.
constexpr std::uint64_t max_index = std::uint64_t{1} << 40;

struct key_parts {
    std::string_view name;
    std::string_view indexes;  // "i,j,..." without the brackets
};

std::optional<key_parts> split_key(std::string_view key) {
    const std::size_t open = key.find('[');
    if (open == 0 || open == std::string_view::npos || key.back() != ']' ||
        key.find(']') != key.size() - 1 || key.find('[', open + 1) != std::string_view::npos) {
        return std::nullopt;
    }
    return key_parts{key.substr(0, open), key.substr(open + 1, key.size() - open - 2)};
}

// Appends the indexes to `out`; false when the text is not digits separated by commas.
// No text at all is a variable without indexes (y[]), a single cell.
bool parse_indexes(std::string_view text, std::vector<std::uint64_t>& out) {
    if (text.empty()) {
        return true;
    }
    const char* p = text.data();
    const char* end = p + text.size();
    while (true) {
        std::uint64_t value = 0;
        const auto [next, ec] = std::from_chars(p, end, value);
        if (ec != std::errc() || value > max_index) {
            return false;
        }
        out.push_back(value);
        if (next == end) {
            return true;
        }
        if (*next != ',') {
            return false;
        }
        p = next + 1;
    }
}

struct group {
    std::string_view name;
    std::size_t rank = 0;
    bool consistent = true;
    std::vector<std::uint64_t> indexes;  // rank per key
    std::vector<std::int64_t> numbers;
};

bool is_auxiliary(std::string_view key, std::span<const std::string> prefixes) {
    return std::any_of(prefixes.begin(), prefixes.end(),
                       [key](const std::string& p) { return key.starts_with(p); });
}

// Row-major table of one group; nothing when it does not fit (see build_mapping_tables).
std::optional<variable_table> fill_table(const group& g, bool strict) {
    variable_table table{std::string(g.name), std::vector<std::size_t>(g.rank, 0), {}};
    const std::size_t count = g.numbers.size();
    for (std::size_t k = 0; k < count; ++k) {
        for (std::size_t d = 0; d < g.rank; ++d) {
            table.shape[d] = std::max<std::size_t>(table.shape[d], g.indexes[k * g.rank + d] + 1);
        }
    }
    // An extent can reach 2^40 and the limit 2^24 with a few million keys, so the product is
    // checked: a wrapped one would size the table far below the cells written into it.
    const std::uint64_t limit = strict ? count : 4 * std::uint64_t{count} + 1024;
    std::uint64_t cells = 1;
    for (std::size_t extent : table.shape) {
        if (__builtin_mul_overflow(cells, std::uint64_t{extent}, &cells) || cells > limit) {
            return std::nullopt;
        }
    }
    table.numbers.assign(cells, -1);
    for (std::size_t k = 0; k < count; ++k) {
        std::uint64_t cell = 0;
        for (std::size_t d = 0; d < g.rank; ++d) {
            cell = cell * table.shape[d] + g.indexes[k * g.rank + d];
        }
        if (strict && table.numbers[cell] >= 0) {
            return std::nullopt;  // one cell named twice, as x[0] and x[00]
        }
        table.numbers[cell] = g.numbers[k];
    }
    return table;
}

}  // namespace

std::optional<std::vector<variable_table>> build_mapping_tables(
    const var_mapping& mapping, std::span<const std::string> auxiliary_prefixes, bool strict) {
    if (mapping.size() == 0) {
        return std::nullopt;
    }
    std::vector<group> groups;
    std::unordered_map<std::string_view, std::size_t> group_of;
    std::vector<std::uint64_t> scratch;
    interrupt_gate gate;
    for (std::size_t i = 0; i < mapping.size(); ++i) {
        gate.tick();
        const std::string_view key = mapping.key(i);
        if (is_auxiliary(key, auxiliary_prefixes)) {
            continue;
        }
        scratch.clear();
        const auto parts = split_key(key);
        if (!parts || !parse_indexes(parts->indexes, scratch)) {
            if (strict) {
                return std::nullopt;
            }
            continue;
        }
        auto [it, fresh] = group_of.try_emplace(parts->name, groups.size());
        if (fresh) {
            groups.push_back(group{parts->name, scratch.size(), true, {}, {}});
        }
        group& g = groups[it->second];
        if (scratch.size() != g.rank) {
            if (strict) {
                return std::nullopt;
            }
            g.consistent = false;
            continue;
        }
        g.indexes.insert(g.indexes.end(), scratch.begin(), scratch.end());
        g.numbers.push_back(mapping.number(i));
    }
    std::vector<variable_table> tables;
    tables.reserve(groups.size());
    for (const group& g : groups) {
        auto table = g.consistent ? fill_table(g, strict) : std::nullopt;
        if (table) {
            tables.push_back(std::move(*table));
        } else if (strict) {
            return std::nullopt;
        }
    }
    return tables;
}

}  // namespace zorv::cnf
