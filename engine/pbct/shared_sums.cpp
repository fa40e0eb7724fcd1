#include "pbct/shared_sums.hpp"

#include <algorithm>
#include <map>

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

    void update(u128 mask, std::int64_t delta) {
        const std::vector<int> bits = bits_of(mask);
        for (std::size_t x = 0; x < bits.size(); ++x) {
            for (std::size_t y = x + 1; y < bits.size(); ++y) {
                counts_[static_cast<std::size_t>(bits[x] * width_ + bits[y])] += delta;
            }
        }
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
    Sharing(int width, ClauseSink& sink) : width_(width), sink_(sink) {}

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
                    const SumCarry sc = full_adder(lits[i], lits[i + 1], lits[i + 2], sink_);
                    lits.push_back(sc.sum);
                    if (keep_carry(sc.carry, mask << 1)) {
                        by_mask[mask << 1].push_back(sc.carry);
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
    std::vector<Item> common_pairs(std::vector<Item> items) {
        PairCounts counts(width_);
        for (const Item& it : items) {
            counts.update(it.mask, 1);
        }
        std::vector<std::size_t> holders;
        for (u128 pair = counts.best(); pair != 0; pair = counts.best()) {
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
                    counts.update(it->mask, -1);
                    it->mask &= ~common;
                    counts.update(it->mask, 1);
                }
                const SumCarry sc = full_adder(a.lit, b.lit, c.lit, sink_);
                items.push_back({sc.sum, common});
                counts.update(common, 1);
                if (keep_carry(sc.carry, common << 1)) {
                    items.push_back({sc.carry, common << 1});
                    counts.update(common << 1, 1);
                }
            }
            std::erase_if(items, [](const Item& it) { return it.mask == 0; });
        }
        return items;
    }

private:
    // A carry worth 2^width or more can only be false.
    bool keep_carry(std::int64_t carry, u128 mask) {
        if (bit_width(mask) > width_) {
            sink_.add({-carry});
            return false;
        }
        return true;
    }

    int width_;
    ClauseSink& sink_;
};

}  // namespace

std::vector<Item> share_sums(std::vector<Item> items, int width, ClauseSink& sink) {
    Sharing sharing(width, sink);
    return sharing.common_pairs(sharing.equal_masks(items));
}

}  // namespace zorv::pbct
