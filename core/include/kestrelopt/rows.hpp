// Rows of doubles kept in one buffer: Rows holds one snapshot (a swarm, a front), Trace a
// run's snapshots one after the other, RowsView looks at one snapshot of either. Rows may
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

namespace kestrelopt {

class Rows;

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

// Rows [0, size()) of a snapshot; row i runs from ends[i - 1] (or `start` for the first)
// to ends[i] in `values`.
class RowsView {
  public:
    RowsView() = default;
    RowsView(const double* values, std::span<const std::size_t> ends, std::size_t start)
        : values_(values), ends_(ends), start_(start) {}
    RowsView(const Rows& rows);  // NOLINT: every Rows is viewable as it is

    std::size_t size() const { return ends_.size(); }
    bool empty() const { return ends_.empty(); }
    std::span<const double> operator[](std::size_t i) const {
        const std::size_t begin = i == 0 ? start_ : ends_[i - 1];
        return {values_ + begin, ends_[i] - begin};
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
    std::span<const std::size_t> ends_;
    std::size_t start_ = 0;
};

inline RowsView::Iterator RowsView::begin() const {
    return {*this, 0};
}
inline RowsView::Iterator RowsView::end() const {
    return {*this, size()};
}

// One snapshot: two allocations, however many rows it has.
class Rows {
  public:
    void reserve(std::size_t rows, std::size_t values) {
        ends_.reserve(rows);
        values_.reserve(values);
    }
    void push_back(std::span<const double> row) {
        values_.insert(values_.end(), row.begin(), row.end());
        ends_.push_back(values_.size());
    }
    std::size_t size() const { return ends_.size(); }
    bool empty() const { return ends_.empty(); }
    std::span<const double> operator[](std::size_t i) const { return view()[i]; }
    RowsView view() const { return {values_.data(), ends_, 0}; }
    RowsView::Iterator begin() const { return view().begin(); }
    RowsView::Iterator end() const { return view().end(); }
    friend bool operator==(const Rows& a, const Rows& b) { return a.view() == b.view(); }

  private:
    std::vector<double> values_;
    std::vector<std::size_t> ends_;
};

inline RowsView::RowsView(const Rows& rows) : RowsView(rows.view()) {}

// Snapshots of rows, all in one buffer: what a run records once per iteration. A snapshot
// is opened, then filled row by row; growth is amortised, so recording allocates only now
// and then.
class Trace {
  public:
    void open_snapshot() { snapshot_ends_.push_back(row_ends_.size()); }
    // Adds a row to the last snapshot opened.
    void push_row(std::span<const double> row) {
        values_.insert(values_.end(), row.begin(), row.end());
        row_ends_.push_back(values_.size());
        snapshot_ends_.back() = row_ends_.size();
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
        const std::size_t start = first == 0 ? 0 : row_ends_[first - 1];
        return {values_.data(), std::span(row_ends_).subspan(first, snapshot_ends_[t] - first),
                start};
    }
    // Every value of every snapshot, in order.
    std::span<const double> values() const { return values_; }

    // (rows, columns) when every snapshot has the same number of rows, all of one length;
    // (0, 0) for an empty trace; none when the snapshots are ragged.
    std::optional<std::pair<std::size_t, std::size_t>> uniform_shape() const {
        if (empty()) return std::pair<std::size_t, std::size_t>{0, 0};
        const std::size_t rows = snapshot_ends_[0];
        const std::size_t columns = rows == 0 ? 0 : row_ends_[0];
        for (std::size_t t = 0; t < size(); ++t)
            if (snapshot_ends_[t] != (t + 1) * rows) return std::nullopt;
        for (std::size_t r = 0; r < row_ends_.size(); ++r)
            if (row_ends_[r] != (r + 1) * columns) return std::nullopt;
        return std::pair{rows, columns};
    }

    friend bool operator==(const Trace&, const Trace&) = default;

    using Iterator = IndexIterator<const Trace*, RowsView>;
    Iterator begin() const { return {this, 0}; }
    Iterator end() const { return {this, size()}; }

  private:
    std::vector<double> values_;
    std::vector<std::size_t> row_ends_;       // end offset in values_ of each row
    std::vector<std::size_t> snapshot_ends_;  // end index in row_ends_ of each snapshot
};

}  // namespace kestrelopt
