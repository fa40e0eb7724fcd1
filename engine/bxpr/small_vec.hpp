#pragma once
#include <algorithm>
#include <array>
#include <cstddef>
#include <span>
#include <vector>

namespace zorv::bxpr {

// A vector whose first N elements live in the object itself: builders mostly see two
// or three operands, and a heap allocation per call would cost more than the work.
template <class T, std::size_t N>
class SmallVec {
public:
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    T* data() { return heap_.empty() ? inline_.data() : heap_.data(); }
    const T* data() const { return heap_.empty() ? inline_.data() : heap_.data(); }
    T* begin() { return data(); }
    T* end() { return data() + size_; }
    const T* begin() const { return data(); }
    const T* end() const { return data() + size_; }
    T& operator[](std::size_t i) { return data()[i]; }
    T& front() { return data()[0]; }
    T& back() { return data()[size_ - 1]; }
    operator std::span<const T>() const { return {data(), size_}; }

    void push_back(const T& v) {
        if (heap_.empty() && size_ < N) {
            inline_[size_++] = v;
            return;
        }
        if (heap_.empty()) heap_.assign(inline_.begin(), inline_.end());
        heap_.resize(size_);
        heap_.push_back(v);
        ++size_;
    }

    void pop_back() { --size_; }

    template <class It>
    void append(It first, It last) {
        for (; first != last; ++first) push_back(*first);
    }

    // Drops every element equal to `v`, keeping the order of the others.
    void erase_all(const T& v) { size_ = static_cast<std::size_t>(std::remove(begin(), end(), v) - begin()); }

private:
    std::array<T, N> inline_{};
    std::vector<T> heap_;
    std::size_t size_ = 0;
};

}  // namespace zorv::bxpr
