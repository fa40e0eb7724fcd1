#pragma once
#include <cstdint>
#include <vector>

#include "bxpr/node.hpp"

namespace zorv::bxpr {

// Open-addressing hash set of node ids whose keys live elsewhere (in the arena): the
// caller supplies each key's hash and an equality test, the table stores only ids and
// the hash, so rehashing never has to look at the keys.
class IdTable {
public:
    template <class Eq>
    NodeId find(std::uint64_t hash, Eq&& same) const {
        if (ids_.empty()) return no_node;
        const auto h = static_cast<std::uint32_t>(hash);
        for (std::size_t i = h & mask(); ids_[i] != no_node; i = (i + 1) & mask()) {
            if (hashes_[i] == h && same(ids_[i])) return ids_[i];
        }
        return no_node;
    }

    // The caller has checked that no equal key is present.
    void insert(std::uint64_t hash, NodeId id) {
        if (2 * (count_ + 1) > ids_.size()) grow();
        place(static_cast<std::uint32_t>(hash), id);
        ++count_;
    }

private:
    std::size_t mask() const { return ids_.size() - 1; }

    void place(std::uint32_t h, NodeId id) {
        std::size_t i = h & mask();
        while (ids_[i] != no_node) i = (i + 1) & mask();
        ids_[i] = id;
        hashes_[i] = h;
    }

    void grow() {
        std::vector<NodeId> old_ids(ids_.empty() ? 16 : 2 * ids_.size(), no_node);
        std::vector<std::uint32_t> old_hashes(old_ids.size());
        old_ids.swap(ids_);
        old_hashes.swap(hashes_);
        for (std::size_t i = 0; i < old_ids.size(); ++i) {
            if (old_ids[i] != no_node) place(old_hashes[i], old_ids[i]);
        }
    }

    std::vector<NodeId> ids_;
    std::vector<std::uint32_t> hashes_;
    std::size_t count_ = 0;
};

// Map from node id to a small integer, for the builders' per-call bookkeeping.
class IdMap {
public:
    explicit IdMap(std::size_t expected) {
        std::size_t cap = 16;
        while (cap < 2 * expected) cap *= 2;
        keys_.assign(cap, no_node);
        values_.resize(cap);
    }

    // Value stored for `key`, or no_node.
    NodeId get(NodeId key) const {
        for (std::size_t i = slot(key); keys_[i] != no_node; i = (i + 1) & mask()) {
            if (keys_[i] == key) return values_[i];
        }
        return no_node;
    }

    bool contains(NodeId key) const { return get(key) != no_node; }

    void set(NodeId key, NodeId value) {
        if (2 * (count_ + 1) > keys_.size()) grow();
        std::size_t i = slot(key);
        while (keys_[i] != no_node && keys_[i] != key) i = (i + 1) & mask();
        if (keys_[i] == no_node) ++count_;
        keys_[i] = key;
        values_[i] = value;
    }

private:
    std::size_t mask() const { return keys_.size() - 1; }
    std::size_t slot(NodeId key) const {
        return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> 32) & mask();
    }

    void grow() {
        std::vector<NodeId> old_keys(2 * keys_.size(), no_node);
        std::vector<NodeId> old_values(old_keys.size());
        old_keys.swap(keys_);
        old_values.swap(values_);
        count_ = 0;
        for (std::size_t i = 0; i < old_keys.size(); ++i) {
            if (old_keys[i] != no_node) set(old_keys[i], old_values[i]);
        }
    }

    std::vector<NodeId> keys_;
    std::vector<NodeId> values_;
    std::size_t count_ = 0;
};

}  // namespace zorv::bxpr
