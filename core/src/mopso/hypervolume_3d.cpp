// The 3-objective sweep: the volume, every exclusive contribution, and the rank set they keep
// their staircase in.
#include <algorithm>
#include <bit>
#include <cstdint>

#include "hypervolume_sweep_detail.hpp"

namespace kestrelopt::hv_sweep {

void RankSet::reset(std::size_t n) {
    sizes_.clear();
    offsets_.clear();
    std::size_t total = 0;
    std::size_t count = std::max<std::size_t>(n, 1);
    do {
        count = (count + 63) / 64;
        offsets_.push_back(total);
        sizes_.push_back(count);
        total += count;
    } while (count > 1);
    words_.assign(total, 0);
}

void RankSet::insert(std::size_t r) {
    for (std::size_t level = 0; level < sizes_.size(); ++level) {
        std::uint64_t& word = words_[offsets_[level] + (r >> 6)];
        const bool had_bits = word != 0;
        word |= std::uint64_t{1} << (r & 63);
        if (had_bits) return;  // the levels above know of this word already
        r >>= 6;
    }
}

void RankSet::erase(std::size_t r) {
    for (std::size_t level = 0; level < sizes_.size(); ++level) {
        std::uint64_t& word = words_[offsets_[level] + (r >> 6)];
        word &= ~(std::uint64_t{1} << (r & 63));
        if (word != 0) return;
        r >>= 6;
    }
}

std::size_t RankSet::after(std::size_t r) const {
    std::size_t level = 0;
    std::size_t pos = r;
    for (;; ++level) {
        if (level == sizes_.size()) return kNone;
        const std::size_t w = pos >> 6;
        const unsigned b = pos & 63;
        const std::uint64_t mask = b == 63 ? 0 : ~std::uint64_t{0} << (b + 1);
        const std::uint64_t bits = words_[offsets_[level] + w] & mask;
        if (bits != 0) {
            pos = (w << 6) + static_cast<std::size_t>(std::countr_zero(bits));
            break;
        }
        pos = w;
    }
    while (level > 0) {
        --level;
        pos =
            (pos << 6) + static_cast<std::size_t>(std::countr_zero(words_[offsets_[level] + pos]));
    }
    return pos;
}

std::size_t RankSet::before(std::size_t r) const {
    std::size_t level = 0;
    std::size_t pos = r;
    for (;; ++level) {
        if (level == sizes_.size()) return kNone;
        const std::size_t w = pos >> 6;
        const unsigned b = pos & 63;
        const std::uint64_t mask = (std::uint64_t{1} << b) - 1;
        const std::uint64_t bits = words_[offsets_[level] + w] & mask;
        if (bits != 0) {
            pos = (w << 6) + 63 - static_cast<std::size_t>(std::countl_zero(bits));
            break;
        }
        pos = w;
    }
    while (level > 0) {
        --level;
        const std::uint64_t word = words_[offsets_[level] + pos];
        pos = (pos << 6) + 63 - static_cast<std::size_t>(std::countl_zero(word));
    }
    return pos;
}

namespace {

// Points visited between two reports to the observer.
constexpr std::size_t kReportEvery = 1024;

}  // namespace

double Sweep3::own_area(std::size_t r, double right, double top) {
    // The rectangle only ever shrinks, so steps of the shadow outside it leave for good.
    std::size_t& begin = shadow_begin_[r];
    std::size_t& end = shadow_end_[r];
    while (begin < end && shadow_[begin].y >= top) ++begin;
    while (begin < end && shadow_[end - 1].x >= right) --end;
    const double py = ys_[r];
    double x = xs_[r];
    double height = top;
    double area = 0.0;
    for (std::size_t k = begin; k < end; ++k) {
        area += box(shadow_[k].x - x, height - py);
        x = shadow_[k].x;
        height = shadow_[k].y;
    }
    return area + box(right - x, height - py);
}

void Sweep3::rank_rows(const double* rows, std::size_t n) {
    // Sorted by value, not through indices: the rows are read once, in order.
    by_rank_.resize(n);
    for (std::size_t i = 0; i < n; ++i)
        by_rank_[i] = {rows[3 * i], rows[3 * i + 1], rows[3 * i + 2], i};
    std::sort(by_rank_.begin(), by_rank_.end(), [](const Row& p, const Row& q) {
        if (p.x != q.x) return p.x < q.x;
        if (p.y != q.y) return p.y < q.y;
        if (p.z != q.z) return p.z < q.z;
        return p.index < q.index;
    });
    rank_.resize(n);
    xs_.resize(n);
    ys_.resize(n);
    zs_.resize(n);
    for (std::size_t k = 0; k < n; ++k) {
        const Row& p = by_rank_[k];
        rank_[p.index] = k;
        xs_[k] = p.x;
        ys_[k] = p.y;
        zs_[k] = p.z;
    }
}

double Sweep3::volume(const double* rows, std::size_t n, const double* reference,
                      WorkObserver* observer) {
    if (n == 0) return 0.0;
    by_z_.resize(n);
    for (std::size_t i = 0; i < n; ++i) by_z_[i] = {rows[3 * i + 2], i};
    std::sort(by_z_.begin(), by_z_.end(),
              [](const Keyed& a, const Keyed& b) { return a.key < b.key; });
    rank_rows(rows, n);
    set_.reset(n);
    double area = 0.0;
    double volume = 0.0;
    double z_prev = by_z_[0].key;
    for (std::size_t k = 0; k < n; ++k) {
        if (observer != nullptr && k % kReportEvery == kReportEvery - 1)
            observer->progress(kReportEvery);
        const double z = by_z_[k].key;
        if (z > z_prev) {
            volume += box(area, z - z_prev);
            z_prev = z;
        }
        const std::size_t r = rank_[by_z_[k].index];
        const double px = xs_[r];
        const double py = ys_[r];
        const std::size_t left = set_.before(r);
        if (left != kNone && ys_[left] <= py) continue;  // weakly dominated in (x, y)
        // The steps p covers leave; each adds the strip between it and the step before.
        double top = left != kNone ? ys_[left] : reference[1];
        double x = px;
        double gain = 0.0;
        std::size_t s = set_.after(r);
        while (s != kNone && ys_[s] >= py) {
            gain += box(xs_[s] - x, top - py);
            top = ys_[s];
            x = xs_[s];
            set_.erase(s);
            s = set_.after(s);
        }
        gain += box((s != kNone ? xs_[s] : reference[0]) - x, top - py);
        set_.insert(r);
        area += gain;
    }
    return volume + box(area, reference[2] - z_prev);
}

void Sweep3::contributions(const double* rows, std::size_t n, const double* reference, double* out,
                           WorkObserver* observer) {
    if (n == 0) return;
    rank_rows(rows, n);
    // The sweep order (z, x, y): every point comes after the points that weakly dominate it,
    // and copies of a point come together.
    // With one z for all (two objectives lifted to three), the ranks are that order already.
    by_z_.resize(n);
    bool level = true;
    for (std::size_t k = 0; k < n; ++k) {
        by_z_[k] = {zs_[k], k};
        level = level && zs_[k] == zs_[0];
    }
    if (!level) {
        std::sort(by_z_.begin(), by_z_.end(), [](const Keyed& a, const Keyed& b) {
            return a.key != b.key ? a.key < b.key : a.index < b.index;
        });
    }
    acc_.assign(n, 0.0);
    area_.assign(n, 0.0);
    since_.assign(n, 0.0);
    copies_.assign(n, 0);
    lone_.assign(n, 0);
    shadow_begin_.resize(n);
    shadow_end_.resize(n);
    shadow_.clear();
    shadow_.reserve(n);
    set_.reset(n);
    const double rx = reference[0];
    const double ry = reference[1];
    for (std::size_t k = 0; k < n; ++k) {
        if (observer != nullptr && k % kReportEvery == kReportEvery - 1)
            observer->progress(kReportEvery);
        const std::size_t r = by_z_[k].index;
        const double px = xs_[r];
        const double py = ys_[r];
        const double z = zs_[r];
        const std::size_t left = set_.before(r);
        if (left != kNone && ys_[left] <= py) {
            if (xs_[left] == px && ys_[left] == py && zs_[left] == z) {
                ++copies_[left];  // a copy: it owns nothing, nor does the first
                continue;
            }
            // Dominated. By `left` alone, unless the step before it dominates p too (a
            // dominator that left the staircase was covered by one still there, which then
            // dominates p as well).
            const std::size_t second = set_.before(left);
            if (second == kNone || ys_[second] > py) lone_[left] = 1;
            continue;
        }
        const double top = left != kNone ? ys_[left] : ry;
        std::size_t right = set_.after(r);
        // The steps p covers leave the staircase, and their volume ends; their boxes still
        // take from p's own rectangle (p's shadow).
        shadow_begin_[r] = shadow_.size();
        while (right != kNone && ys_[right] >= py) {
            flush(right, z);
            area_[right] = 0.0;
            shadow_.push_back({xs_[right], ys_[right]});
            set_.erase(right);
            right = set_.after(right);
        }
        shadow_end_[r] = shadow_.size();
        // The neighbours' own rectangles now end at p.
        if (left != kNone) {
            flush(left, z);
            const std::size_t above = set_.before(left);
            area_[left] = own_area(left, px, above != kNone ? ys_[above] : ry);
        }
        if (right != kNone) {
            flush(right, z);
            const std::size_t beyond = set_.after(right);
            area_[right] = own_area(right, beyond != kNone ? xs_[beyond] : rx, py);
        }
        area_[r] = own_area(r, right != kNone ? xs_[right] : rx, top);
        since_[r] = z;
        copies_[r] = 1;
        set_.insert(r);
    }
    // The steps still there run up to the reference (those gone have no area left).
    lone_rows_.clear();
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t r = rank_[i];
        out[i] = 0.0;
        if (copies_[r] != 1) continue;
        if (lone_[r]) {
            lone_rows_.push_back(i);
            continue;
        }
        flush(r, reference[2]);
        out[i] = acc_[r];
    }
    // Each point that alone dominates another: its box less the volume of its limit set.
    // Only the rows that can survive that set's own filter enter it: a row worse than p in
    // one objective k only becomes p with its value at k, which covers every limit row
    // beyond that value at k.
    for (const std::size_t i : lone_rows_) {
        const double* p = rows + 3 * i;
        double bound[3] = {reference[0], reference[1], reference[2]};
        for (std::size_t j = 0; j < n; ++j) {
            const double* q = rows + 3 * j;
            const int worse = (p[0] < q[0]) + (p[1] < q[1]) + (p[2] < q[2]);
            if (worse != 1) continue;
            const int k = p[0] < q[0] ? 0 : p[1] < q[1] ? 1 : 2;
            bound[k] = std::min(bound[k], q[k]);
        }
        limit_.clear();
        for (std::size_t j = 0; j < n; ++j) {
            const double* q = rows + 3 * j;
            if (j == i || q[0] > bound[0] || q[1] > bound[1] || q[2] > bound[2]) continue;
            limit_.push_back(std::max(p[0], q[0]));
            limit_.push_back(std::max(p[1], q[1]));
            limit_.push_back(std::max(p[2], q[2]));
        }
        const double own = (reference[0] - p[0]) * (reference[1] - p[1]) * (reference[2] - p[2]);
        out[i] = own - volume(limit_.data(), limit_.size() / 3, reference, observer);
    }
}

}  // namespace kestrelopt::hv_sweep
