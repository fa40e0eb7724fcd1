#include "cnf/mapping_tables.hpp"

#include <algorithm>
#include <charconv>
#include <string_view>
#include <unordered_map>

#include "common/free_aside.hpp"
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

// What the first pass learns of one name; the keys themselves are read again to fill the table,
// so that no per-key index is held beside the mapping.
struct group {
    std::string_view name;
    std::size_t rank = 0;
    bool consistent = true;
    std::size_t count = 0;            // keys of the group's rank
    std::vector<std::size_t> shape;   // largest index + 1 per position
    std::optional<variable_table> table;
};

std::size_t table_bytes(const std::vector<group>& groups) noexcept {
    std::size_t bytes = 0;
    for (const group& g : groups) {
        bytes += g.table ? g.table->numbers.size() * sizeof(std::int64_t) : 0;
    }
    return bytes;
}

bool is_auxiliary(std::string_view key, std::span<const std::string> prefixes) {
    return std::any_of(prefixes.begin(), prefixes.end(),
                       [key](const std::string& p) { return key.starts_with(p); });
}

// An empty row-major table for a group, every cell -1; nothing when it does not fit (see
// build_mapping_tables).
std::optional<variable_table> empty_table(const group& g, bool strict) {
    // An extent can reach 2^40 and the limit 2^24 with a few million keys, so the product is
    // checked: a wrapped one would size the table far below the cells written into it.
    const std::uint64_t limit = strict ? g.count : 4 * std::uint64_t{g.count} + 1024;
    std::uint64_t cells = 1;
    for (std::size_t extent : g.shape) {
        if (__builtin_mul_overflow(cells, std::uint64_t{extent}, &cells) || cells > limit) {
            return std::nullopt;
        }
    }
    // Filled a slice at a time: tens of megabytes at once would hold Ctrl-C up.
    std::vector<std::int64_t> numbers;
    const free_aside_when_stopped<std::vector<std::int64_t>> free_numbers(
        numbers, [](const std::vector<std::int64_t>& v) noexcept { return v.size() * sizeof(v[0]); });
    numbers.reserve(static_cast<std::size_t>(cells));
    constexpr std::uint64_t slice = std::uint64_t{1} << 16;
    for (std::uint64_t filled = 0; filled < cells; filled += slice) {
        poll_interrupt();
        numbers.insert(numbers.end(), static_cast<std::size_t>(std::min(slice, cells - filled)), -1);
    }
    return variable_table{std::string(g.name), g.shape, std::move(numbers)};
}

// Walks the model-variable keys of a mapping: calls visit(entry, group) for every key that
// parses, with its indexes in `indexes`; the groups are made in order of first appearance.
// False, at once, for a key that does not parse when `strict`; others are skipped.
class key_walk {
public:
    key_walk(const var_mapping& mapping, std::span<const std::string> auxiliary_prefixes)
        : mapping_(mapping), prefixes_(auxiliary_prefixes) {}

    std::vector<group> groups;
    std::vector<std::uint64_t> indexes;

    template <class Visit>
    bool run(bool strict, Visit&& visit) {
        interrupt_gate gate;
        std::size_t last = 0;  // keys of one name mostly come together
        for (std::size_t i = 0; i < mapping_.size(); ++i) {
            gate.tick();
            const std::string_view key = mapping_.key(i);
            if (is_auxiliary(key, prefixes_)) {
                continue;
            }
            indexes.clear();
            const auto parts = split_key(key);
            if (!parts || !parse_indexes(parts->indexes, indexes)) {
                if (strict) {
                    return false;
                }
                continue;
            }
            // Checked: a walk after the first starts with the groups it made.
            if (groups.empty() || groups.at(last).name != parts->name) {
                auto [it, fresh] = group_of_.try_emplace(parts->name, groups.size());
                if (fresh) {
                    groups.push_back(group{parts->name, indexes.size(), true, 0,
                                           std::vector<std::size_t>(indexes.size(), 0), std::nullopt});
                }
                last = it->second;
            }
            if (!visit(i, groups[last])) {
                return false;
            }
        }
        return true;
    }

private:
    const var_mapping& mapping_;
    std::span<const std::string> prefixes_;
    std::unordered_map<std::string_view, std::size_t> group_of_;
};

}  // namespace

std::optional<std::vector<variable_table>> build_mapping_tables(
    const var_mapping& mapping, std::span<const std::string> auxiliary_prefixes, bool strict) {
    if (mapping.size() == 0) {
        return std::nullopt;
    }
    key_walk walk(mapping, auxiliary_prefixes);
    const free_aside_when_stopped free_tables(walk.groups, table_bytes);
    // First pass: the groups, their ranks and shapes.
    const bool parsed = walk.run(strict, [&](std::size_t, group& g) {
        if (walk.indexes.size() != g.rank) {
            g.consistent = false;
            return !strict;
        }
        ++g.count;
        for (std::size_t d = 0; d < g.rank; ++d) {
            g.shape[d] = std::max<std::size_t>(g.shape[d], walk.indexes[d] + 1);
        }
        return true;
    });
    if (!parsed) {
        return std::nullopt;
    }
    for (group& g : walk.groups) {
        g.table = g.consistent ? empty_table(g, strict) : std::nullopt;
        if (!g.table && strict) {
            return std::nullopt;
        }
    }
    // Second pass: every key into its cell.
    const bool filled = walk.run(strict, [&](std::size_t entry, group& g) {
        if (!g.table) {
            return true;
        }
        std::uint64_t cell = 0;
        for (std::size_t d = 0; d < g.rank; ++d) {
            cell = cell * g.shape[d] + walk.indexes[d];
        }
        std::int64_t& number = g.table->numbers[cell];
        if (strict && number >= 0) {
            return false;  // one cell named twice, as x[0] and x[00]
        }
        number = mapping.number(entry);
        return true;
    });
    if (!filled) {
        return std::nullopt;
    }
    std::vector<variable_table> tables;
    tables.reserve(walk.groups.size());
    for (group& g : walk.groups) {
        if (g.table) {
            tables.push_back(std::move(*g.table));
        }
    }
    return tables;
}

std::optional<std::uint64_t> tables_token(const var_mapping& mapping,
                                          std::span<const std::string> auxiliary_prefixes) {
    if (mapping.prefix_token() == 0) {
        return std::nullopt;
    }
    for (std::size_t i = mapping.prefix_size(); i < mapping.size(); ++i) {
        if (!is_auxiliary(mapping.key(i), auxiliary_prefixes)) {
            return std::nullopt;
        }
    }
    return mapping.prefix_token();
}

}  // namespace zorv::cnf
