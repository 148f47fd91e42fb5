// Arrays indexed like the formulas: Mat X(1, N, 0, 2K+1) has rows 1..N and
// columns 0..2K+1. Every index is checked in checked builds.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

namespace talvo {

// Zero-filled storage for the work arrays. Large blocks come straight from
// the system as fresh pages, which read as zero until they are first
// written, so no page is touched before the run uses it.
template <class T>
class ZeroedArray {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    ZeroedArray() = default;
    ZeroedArray(const ZeroedArray& o) { *this = o; }
    ZeroedArray(ZeroedArray&& o) noexcept : p_(std::exchange(o.p_, nullptr)), n_(std::exchange(o.n_, 0)) {}
    ZeroedArray& operator=(const ZeroedArray& o) {
        if (this != &o) {
            assign(o.n_);
            if (n_) std::memcpy(p_, o.p_, n_ * sizeof(T));
        }
        return *this;
    }
    ZeroedArray& operator=(ZeroedArray&& o) noexcept {
        std::swap(p_, o.p_);
        std::swap(n_, o.n_);
        return *this;
    }
    ~ZeroedArray() { std::free(p_); }

    // n elements, all zero, in place of the old ones. Throws std::bad_alloc
    // when the memory cannot be had.
    void assign(std::size_t n) {
        std::free(std::exchange(p_, nullptr));
        n_ = 0;
        if (n == 0) return;
        p_ = static_cast<T*>(std::calloc(n, sizeof(T)));
        if (!p_) throw std::bad_alloc();
        n_ = n;
    }
    // n elements: the old ones kept, the new ones zero.
    void resize(std::size_t n) {
        if (n <= n_) return;
        if (n > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
        T* p = static_cast<T*>(std::realloc(p_, n * sizeof(T)));
        if (!p) throw std::bad_alloc();
        std::memset(static_cast<void*>(p + n_), 0, (n - n_) * sizeof(T));
        p_ = p;
        n_ = n;
    }
    // The first n elements kept, the rest given back.
    void shrink(std::size_t n) {
        if (n >= n_) return;
        if (n == 0) {
            std::free(std::exchange(p_, nullptr));
            n_ = 0;
            return;
        }
        if (T* p = static_cast<T*>(std::realloc(p_, n * sizeof(T)))) p_ = p;
        n_ = n;
    }
    T* data() { return p_; }
    const T* data() const { return p_; }
    std::size_t size() const { return n_; }
    bool empty() const { return n_ == 0; }
    T& operator[](std::size_t i) { return p_[i]; }
    const T& operator[](std::size_t i) const { return p_[i]; }

private:
    T* p_ = nullptr;
    std::size_t n_ = 0;
};

template <class T>
class Matrix {
public:
    Matrix() = default;

    // Allocates rows r0..r1 and columns c0..c1, all zero. Throws
    // std::bad_alloc when the memory cannot be had.
    void allocate(std::int64_t r0, std::int64_t r1, std::int64_t c0, std::int64_t c1) {
        r0_ = r0;
        r1_ = r1;
        c0_ = c0;
        cols_ = static_cast<std::size_t>(c1 - c0 + 1);
        a_.assign(static_cast<std::size_t>(r1 - r0 + 1) * cols_);
    }
    void release() {
        a_ = ZeroedArray<T>();
        r1_ = r0_ - 1;
    }
    // More rows at the end (zero), keeping the others.
    void grow_rows(std::int64_t r1) {
        a_.resize(static_cast<std::size_t>(r1 - r0_ + 1) * cols_);
        r1_ = r1;
    }
    // Rows r0..r1 only, from more: the others given back.
    void shrink_rows(std::int64_t r1) {
        a_.shrink(static_cast<std::size_t>(r1 - r0_ + 1) * cols_);
        r1_ = r1;
    }

    T& operator()(std::int64_t i, std::int64_t j) {
        assert(in_range(i, j));
        return a_[static_cast<std::size_t>(i - r0_) * cols_ + static_cast<std::size_t>(j - c0_)];
    }
    const T& operator()(std::int64_t i, std::int64_t j) const {
        assert(in_range(i, j));
        return a_[static_cast<std::size_t>(i - r0_) * cols_ + static_cast<std::size_t>(j - c0_)];
    }
    // Row i as a pointer to its first column (c0), for the inner loops.
    T* row(std::int64_t i) {
        assert(i >= r0_ && i <= r1_);
        return a_.data() + static_cast<std::size_t>(i - r0_) * cols_;
    }
    const T* row(std::int64_t i) const {
        assert(i >= r0_ && i <= r1_);
        return a_.data() + static_cast<std::size_t>(i - r0_) * cols_;
    }

    std::int64_t first_row() const { return r0_; }
    std::int64_t last_row() const { return r1_; }
    std::int64_t first_col() const { return c0_; }
    std::int64_t last_col() const { return c0_ + static_cast<std::int64_t>(cols_) - 1; }
    bool empty() const { return a_.empty(); }

private:
    bool in_range(std::int64_t i, std::int64_t j) const {
        return i >= r0_ && i <= r1_ && j >= c0_ && j < c0_ + static_cast<std::int64_t>(cols_);
    }
    std::int64_t r0_ = 0, r1_ = -1, c0_ = 0;
    std::size_t cols_ = 0;
    ZeroedArray<T> a_;
};

// A vector indexed lo..hi.
template <class T>
class Vector {
public:
    void allocate(std::int64_t lo, std::int64_t hi) {
        lo_ = lo;
        a_.assign(static_cast<std::size_t>(hi - lo + 1), T{});
    }
    T& operator()(std::int64_t i) {
        assert(i >= lo_ && i < lo_ + static_cast<std::int64_t>(a_.size()));
        return a_[static_cast<std::size_t>(i - lo_)];
    }
    const T& operator()(std::int64_t i) const {
        assert(i >= lo_ && i < lo_ + static_cast<std::int64_t>(a_.size()));
        return a_[static_cast<std::size_t>(i - lo_)];
    }

private:
    std::int64_t lo_ = 0;
    std::vector<T> a_;
};

using Mat = Matrix<double>;
using IMat = Matrix<std::int32_t>;
using FlagMat = Matrix<std::uint8_t>;

}  // namespace talvo
