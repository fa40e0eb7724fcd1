#pragma once
#include <array>
#include <cstdint>
#include <vector>

#include "bxpr/node.hpp"

namespace zorv::bxpr {

// Open-addressing hash set of node ids whose keys live elsewhere (in the arena): the
// caller supplies each key's hash and an equality test, the table stores only ids and
// the hash, so rehashing never has to look at the keys. Id and hash share one slot,
// so a probe costs one cache line.
class IdTable {
public:
    template <class Eq>
    NodeId find(std::uint64_t hash, Eq&& same) const {
        if (slots_.empty()) return no_node;
        const auto h = static_cast<std::uint32_t>(hash);
        for (std::size_t i = h & mask(); slots_[i].id != no_node; i = (i + 1) & mask()) {
            if (slots_[i].hash == h && same(slots_[i].id)) return slots_[i].id;
        }
        return no_node;
    }

    // The caller has checked that no equal key is present.
    void insert(std::uint64_t hash, NodeId id) {
        if (full(count_ + 1)) grow(2 * slots_.size());
        place({id, static_cast<std::uint32_t>(hash)});
        ++count_;
    }

    // The id of an equal key, or else the id that `create` returns, stored: one probe
    // sequence for both.
    template <class Eq, class Create>
    NodeId find_or_insert(std::uint64_t hash, Eq&& same, Create&& create) {
        if (full(count_ + 1)) grow(2 * slots_.size());
        const auto h = static_cast<std::uint32_t>(hash);
        std::size_t i = h & mask();
        for (; slots_[i].id != no_node; i = (i + 1) & mask()) {
            if (slots_[i].hash == h && same(slots_[i].id)) return slots_[i].id;
        }
        slots_[i] = {create(), h};
        ++count_;
        return slots_[i].id;
    }

    // Start loading the slot a lookup of `hash` will read first.
    void prefetch(std::uint64_t hash) const {
        if (!slots_.empty()) __builtin_prefetch(&slots_[static_cast<std::uint32_t>(hash) & mask()]);
    }

    // Room for `extra` more ids without rehashing.
    void reserve(std::size_t extra) {
        std::size_t cap = slots_.empty() ? 16 : slots_.size();
        while (4 * (count_ + extra) > 3 * cap) cap *= 2;
        if (cap > slots_.size()) grow(cap);
    }

private:
    struct Slot {
        NodeId id;
        std::uint32_t hash;
    };

    std::size_t mask() const { return slots_.size() - 1; }
    // Linear probing stays short up to a load of 3/4; slots share cache lines.
    bool full(std::size_t count) const { return 4 * count > 3 * slots_.size(); }

    void place(Slot s) {
        std::size_t i = s.hash & mask();
        while (slots_[i].id != no_node) i = (i + 1) & mask();
        slots_[i] = s;
    }

    void grow(std::size_t capacity) {
        std::vector<Slot> old(capacity < 16 ? 16 : capacity, Slot{no_node, 0});
        old.swap(slots_);
        for (const Slot& s : old) {
            if (s.id != no_node) place(s);
        }
    }

    std::vector<Slot> slots_;
    std::size_t count_ = 0;
};

// Map from node id to a small integer, for the builders' per-call bookkeeping. Up
// to `inline_size` entries live in the object itself, so the common short operand
// lists cost no allocation.
class IdMap {
public:
    explicit IdMap(std::size_t expected) {
        if (expected > inline_size) rehash(expected);
    }

    // Value stored for `key`, or no_node.
    NodeId get(NodeId key) const {
        if (keys_.empty()) {
            for (std::size_t i = 0; i < count_; ++i) {
                if (small_keys_[i] == key) return small_values_[i];
            }
            return no_node;
        }
        for (std::size_t i = slot(key); keys_[i] != no_node; i = (i + 1) & mask()) {
            if (keys_[i] == key) return values_[i];
        }
        return no_node;
    }

    bool contains(NodeId key) const { return get(key) != no_node; }

    void set(NodeId key, NodeId value) {
        if (keys_.empty()) {
            for (std::size_t i = 0; i < count_; ++i) {
                if (small_keys_[i] == key) {
                    small_values_[i] = value;
                    return;
                }
            }
            if (count_ < inline_size) {
                small_keys_[count_] = key;
                small_values_[count_++] = value;
                return;
            }
            rehash(2 * inline_size);
        } else if (2 * (count_ + 1) > keys_.size()) {
            rehash(keys_.size());
        }
        std::size_t i = slot(key);
        while (keys_[i] != no_node && keys_[i] != key) i = (i + 1) & mask();
        if (keys_[i] == no_node) ++count_;
        keys_[i] = key;
        values_[i] = value;
    }

private:
    static constexpr std::size_t inline_size = 8;

    std::size_t mask() const { return keys_.size() - 1; }
    std::size_t slot(NodeId key) const {
        return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> 32) & mask();
    }

    // Hashed storage for at least `expected` entries, keeping what is stored.
    void rehash(std::size_t expected) {
        std::size_t cap = 16;
        while (cap < 2 * expected) cap *= 2;
        std::vector<NodeId> old_keys(cap, no_node);
        std::vector<NodeId> old_values(cap);
        old_keys.swap(keys_);
        old_values.swap(values_);
        const std::size_t small = old_keys.empty() ? count_ : 0;
        count_ = 0;
        for (std::size_t i = 0; i < small; ++i) set(small_keys_[i], small_values_[i]);
        for (std::size_t i = 0; i < old_keys.size(); ++i) {
            if (old_keys[i] != no_node) set(old_keys[i], old_values[i]);
        }
    }

    std::array<NodeId, inline_size> small_keys_{};
    std::array<NodeId, inline_size> small_values_{};
    std::vector<NodeId> keys_;
    std::vector<NodeId> values_;
    std::size_t count_ = 0;
};

}  // namespace zorv::bxpr
