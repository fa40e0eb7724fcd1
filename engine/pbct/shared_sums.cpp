#include "pbct/shared_sums.hpp"

#include <algorithm>
#include <map>
#include <optional>

#include "common/interrupt.hpp"
#include "pbct/adder_gates.hpp"

namespace zorv::pbct {

namespace {

std::vector<int> bits_of(u128 mask) {
    std::vector<int> bits;
    for (int j = 0; mask != 0; ++j, mask >>= 1) {
        if ((mask & 1) != 0) {
            bits.push_back(j);
        }
    }
    return bits;
}

// How many items hold each pair of columns, kept up to date as masks change.
class PairCounts {
public:
    explicit PairCounts(int width) : width_(width), counts_(static_cast<std::size_t>(width * width), 0) {}

    // Returns the work done, in pair updates.
    std::int64_t update(u128 mask, std::int64_t delta) {
        const std::vector<int> bits = bits_of(mask);
        for (std::size_t x = 0; x < bits.size(); ++x) {
            for (std::size_t y = x + 1; y < bits.size(); ++y) {
                counts_[static_cast<std::size_t>(bits[x] * width_ + bits[y])] += delta;
            }
        }
        return static_cast<std::int64_t>(bits.size() * bits.size() / 2 + 1);
    }

    // The most shared pair as a two-bit mask, or 0 when no pair is held three times.
    u128 best() const {
        std::int64_t top = 3;
        u128 pair = 0;
        for (int a = 0; a < width_; ++a) {
            for (int b = a + 1; b < width_; ++b) {
                const std::int64_t c = counts_[static_cast<std::size_t>(a * width_ + b)];
                if (c >= top) {
                    top = c;
                    pair = (u128{1} << a) | (u128{1} << b);
                }
            }
        }
        return pair;
    }

private:
    int width_;
    std::vector<std::int64_t> counts_;
};

class Sharing {
public:
    Sharing(const Cap& cap, ClauseSink& sink) : cap_(cap), width_(bit_width(cap.cap)), sink_(sink) {}

    // Items with equal masks: add them up three at a time, as a counter per mask.
    std::vector<Item> equal_masks(const std::vector<Item>& items) {
        std::map<u128, std::vector<std::int64_t>> by_mask;
        for (const Item& it : items) {
            by_mask[it.mask].push_back(it.lit);
        }
        std::vector<Item> out;
        for (auto& [mask, lits] : by_mask) {  // carries go to larger masks, met later
            std::size_t i = 0;
            if (popcount(mask) >= 2) {
                for (; lits.size() - i >= 3; i += 3) {
                    const Added sum = add3(lits[i], lits[i + 1], lits[i + 2], mask);
                    lits.push_back(sum.sum);
                    if (sum.carry) {
                        by_mask[mask << 1].push_back(*sum.carry);
                    }
                }
            }
            for (; i < lits.size(); ++i) {
                out.push_back({lits[i], mask});
            }
        }
        return out;
    }

    // Then, greedily, the pair of columns held by the most items, three items at a time.
    // Wide coefficients make this search costly, so it stops after a fixed amount of work
    // (the same for every run, so the encoding stays deterministic).
    std::vector<Item> common_pairs(std::vector<Item> items) {
        PairCounts counts(width_);
        std::int64_t work = 0;
        for (const Item& it : items) {
            work += counts.update(it.mask, 1);
        }
        std::vector<std::size_t> holders;
        // Counted in items scanned, as `work` is.
        interrupt_gate gate(1 << 18);
        for (u128 pair = counts.best(); pair != 0 && work < work_budget; pair = counts.best()) {
            work += static_cast<std::int64_t>(items.size());
            gate.tick(static_cast<std::uint32_t>(std::min<std::size_t>(items.size(), 1 << 18)));
            holders.clear();
            for (std::size_t i = 0; i < items.size(); ++i) {
                if ((items[i].mask & pair) == pair) {
                    holders.push_back(i);
                }
            }
            // Neighbours in mask order share the most digits.
            std::sort(holders.begin(), holders.end(),
                      [&](std::size_t x, std::size_t y) { return items[x].mask < items[y].mask; });
            for (std::size_t h = 0; h + 3 <= holders.size(); h += 3) {
                Item& a = items[holders[h]];
                Item& b = items[holders[h + 1]];
                Item& c = items[holders[h + 2]];
                const u128 common = a.mask & b.mask & c.mask;
                for (Item* it : {&a, &b, &c}) {
                    work += counts.update(it->mask, -1);
                    it->mask &= ~common;
                    work += counts.update(it->mask, 1);
                }
                const Added sum = add3(a.lit, b.lit, c.lit, common);
                items.push_back({sum.sum, common});
                work += counts.update(common, 1);
                if (sum.carry) {
                    items.push_back({*sum.carry, common << 1});
                    work += counts.update(common << 1, 1);
                }
            }
            std::erase_if(items, [](const Item& it) { return it.mask == 0; });
        }
        return items;
    }

private:
    static constexpr std::int64_t work_budget = std::int64_t{1} << 26;

    struct Added {
        std::int64_t sum;
        std::optional<std::int64_t> carry;
    };

    // Three items worth `mask` each: a sum worth mask and a carry worth twice as much,
    // unless that is more than the cap.
    Added add3(std::int64_t a, std::int64_t b, std::int64_t c, u128 mask) {
        const bool over = (mask << 1) > cap_.cap || bit_width(mask) >= 127;
        if (over && cap_.overflow == Overflow::forbidden) {
            return {full_adder_without_carry(a, b, c, sink_), std::nullopt};
        }
        const SumCarry sc = full_adder(a, b, c, sink_);
        if (over) {
            cap_.satisfied->push_back(sc.carry);
            return {sc.sum, std::nullopt};
        }
        return {sc.sum, sc.carry};
    }

    Cap cap_;
    int width_;
    ClauseSink& sink_;
};

}  // namespace

std::vector<Item> share_sums(std::vector<Item> items, const Cap& cap, ClauseSink& sink) {
    Sharing sharing(cap, sink);
    return sharing.common_pairs(sharing.equal_masks(items));
}

}  // namespace zorv::pbct
