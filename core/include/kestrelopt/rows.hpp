// Rows of doubles kept in one buffer: Trace holds a run's snapshots (a swarm, a front) one
// after the other, RowsView looks at one snapshot. Rows may
// differ in length. A trace whose snapshots all have the same shape is one (snapshots,
// rows, columns) block of doubles, which callers can hand out without copying.
#pragma once

#include <algorithm>
#include <cstddef>
#include <optional>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

#include "kestrelopt/record_buffer.hpp"

namespace kestrelopt {

// Walks the items [index, size) of a container through its operator[]. `Holder` is the
// container itself when it is a view (a copy is cheap, and iterating over a temporary view
// stays safe) or a pointer to it.
template <class Holder, class Value>
class IndexIterator {
  public:
    using value_type = Value;
    using difference_type = std::ptrdiff_t;
    IndexIterator() = default;
    IndexIterator(Holder holder, std::size_t index) : holder_(holder), index_(index) {}
    Value operator*() const {
        if constexpr (std::is_pointer_v<Holder>)
            return (*holder_)[index_];
        else
            return holder_[index_];
    }
    IndexIterator& operator++() {
        ++index_;
        return *this;
    }
    IndexIterator operator++(int) {
        IndexIterator before = *this;
        ++index_;
        return before;
    }
    bool operator==(const IndexIterator& other) const { return index_ == other.index_; }

  private:
    Holder holder_{};
    std::size_t index_ = 0;
};

// Rows of a snapshot in a buffer of values. Row j is global row r = first + j, which either
// ends at ends[r] (and begins where row r - 1 ended, or at 0) or, when every row has the
// same length, spans [r * columns, (r + 1) * columns).
class RowsView {
  public:
    RowsView() = default;
    // Rows of their own lengths.
    RowsView(const double* values, const std::size_t* ends, std::size_t first, std::size_t count)
        : values_(values), ends_(ends), first_(first), count_(count) {}
    // Rows all `columns` long.
    static RowsView uniform(const double* values, std::size_t first, std::size_t count,
                            std::size_t columns) {
        RowsView view(values, nullptr, first, count);
        view.columns_ = columns;
        return view;
    }

    std::size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    std::span<const double> operator[](std::size_t j) const {
        const std::size_t r = first_ + j;
        if (ends_ == nullptr) return {values_ + r * columns_, columns_};
        const std::size_t begin = r == 0 ? 0 : ends_[r - 1];
        return {values_ + begin, ends_[r] - begin};
    }

    // Same rows, each with the same values (compared as doubles: -0.0 equals 0.0).
    friend bool operator==(const RowsView& a, const RowsView& b) {
        if (a.size() != b.size()) return false;
        for (std::size_t i = 0; i < a.size(); ++i)
            if (!std::ranges::equal(a[i], b[i])) return false;
        return true;
    }

    using Iterator = IndexIterator<RowsView, std::span<const double>>;
    Iterator begin() const;
    Iterator end() const;

  private:
    const double* values_ = nullptr;
    const std::size_t* ends_ = nullptr;  // null: rows of `columns_` values
    std::size_t first_ = 0;
    std::size_t count_ = 0;
    std::size_t columns_ = 0;
};

inline RowsView::Iterator RowsView::begin() const {
    return {*this, 0};
}
inline RowsView::Iterator RowsView::end() const {
    return {*this, size()};
}

// Snapshots of rows, all in one buffer: what a run records once per iteration. A snapshot
// is opened, then filled row by row. While every row has the same length, rows cost
// nothing beyond their values (a swarm's positions: 8 bytes per coordinate); the first row
// of another length makes the trace keep where each row ends.
class Trace {
  public:
    // Room for `values` values in all (a hint from a run that knows its length).
    void reserve(std::size_t values) { values_.reserve(values); }
    void open_snapshot() { snapshot_ends_.push_back(rows_); }
    // Adds a row to the last snapshot opened.
    void push_row(std::span<const double> row) {
        if (row_ends_.empty() && row.size() != columns_) {
            if (rows_ == 0)
                columns_ = row.size();
            else
                keep_row_ends();
        }
        values_.append(row);
        if (!row_ends_.empty()) row_ends_.push_back(values_.size());
        snapshot_ends_.back() = ++rows_;
    }
    // Appends a copy of a whole snapshot.
    void push_back(RowsView rows) {
        open_snapshot();
        for (std::size_t i = 0; i < rows.size(); ++i) push_row(rows[i]);
    }

    std::size_t size() const { return snapshot_ends_.size(); }
    bool empty() const { return snapshot_ends_.empty(); }
    RowsView operator[](std::size_t t) const {
        const std::size_t first = t == 0 ? 0 : snapshot_ends_[t - 1];
        const std::size_t count = snapshot_ends_[t] - first;
        if (row_ends_.empty()) return RowsView::uniform(values_.data(), first, count, columns_);
        return {values_.data(), row_ends_.data(), first, count};
    }
    // Every value of every snapshot, in order.
    std::span<const double> values() const { return values_.values(); }

    // (rows, columns) when every snapshot has the same number of rows, all of one length;
    // (0, 0) for an empty trace; none when the snapshots are ragged.
    std::optional<std::pair<std::size_t, std::size_t>> uniform_shape() const {
        if (empty()) return std::pair<std::size_t, std::size_t>{0, 0};
        if (!row_ends_.empty()) return std::nullopt;
        const std::size_t rows = snapshot_ends_[0];
        for (std::size_t t = 0; t < size(); ++t)
            if (snapshot_ends_[t] != (t + 1) * rows) return std::nullopt;
        return std::pair{rows, rows == 0 ? 0 : columns_};
    }

    // The same snapshots holding the same rows.
    friend bool operator==(const Trace& a, const Trace& b) {
        if (a.size() != b.size()) return false;
        for (std::size_t t = 0; t < a.size(); ++t)
            if (!(a[t] == b[t])) return false;
        return true;
    }

    using Iterator = IndexIterator<const Trace*, RowsView>;
    Iterator begin() const { return {this, 0}; }
    Iterator end() const { return {this, size()}; }

  private:
    // From uniform rows to rows that say where they end.
    void keep_row_ends() {
        row_ends_.reserve(rows_ + 1);
        for (std::size_t r = 1; r <= rows_; ++r) row_ends_.push_back(r * columns_);
    }

    RecordBuffer values_;
    std::size_t rows_ = 0;                    // rows in all snapshots
    std::size_t columns_ = 0;                 // the length of every row, while row_ends_ is empty
    std::vector<std::size_t> row_ends_;       // where each row ends, once rows differ
    std::vector<std::size_t> snapshot_ends_;  // rows up to the end of each snapshot
};

}  // namespace kestrelopt
