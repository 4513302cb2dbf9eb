#include "kestrelopt/mopso/archive.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

#include "kestrelopt/failure.hpp"

namespace kestrelopt {

Archive::Archive(ArchiveStrategy strategy, std::size_t capacity)
    : strategy_(strategy), capacity_(capacity) {
    if (capacity == 0) fail("the archive capacity must be >= 1");
}

void Archive::insert(std::span<const double> position, std::span<const double> objectives) {
    const std::size_t n = members_.size();
    flags_.assign(n, 0);
    bool removes = false;
    bool duplicate = false;
    // One scan finds dominating, dominated and equal members. An equal member is never
    // among the removed ones (it would dominate them too), so the duplicate test over the
    // survivors can use this scan.
    for (std::size_t i = 0; i < n; ++i) {
        const MutualDominance relation = mutual_dominance(members_[i].objectives, objectives);
        if (relation.first_dominates) return;
        if (relation.second_dominates) {
            flags_[i] = 1;
            removes = true;
        }
        duplicate = duplicate || relation.equal;
    }
    if (removes) remove_flagged();
    if (duplicate) return;
    if (spare_.empty()) {
        members_.push_back(
            {{position.begin(), position.end()}, {objectives.begin(), objectives.end()}});
        return;
    }
    ArchiveMember recycled = std::move(spare_.back());
    spare_.pop_back();
    recycled.position.assign(position.begin(), position.end());
    recycled.objectives.assign(objectives.begin(), objectives.end());
    members_.push_back(std::move(recycled));
}

const std::vector<double>& Archive::prune_and_scores() {
    if (strategy_.kind == ArchiveStrategy::Kind::Grid)
        prune_and_grid();
    else
        prune_and_crowding();
    return scores_;
}

void Archive::prune_and_crowding() {
    refresh_views();
    crowding_distance_into(views_, crowding_work_, distances_);
    const std::size_t n = members_.size();
    if (n <= capacity_) {
        scores_.assign(distances_.begin(), distances_.end());
        return;
    }
    // Largest distance first; equal distances keep index order, so older members win
    // ties. The index tie-break makes the sort stable without a temporary buffer; NaN
    // distances go last.
    order_.resize(n);
    for (std::size_t i = 0; i < n; ++i) order_[i] = i;
    const std::vector<double>& d = distances_;
    std::sort(order_.begin(), order_.end(), [&d](std::size_t a, std::size_t b) {
        if (d[a] > d[b]) return true;
        if (d[b] > d[a]) return false;
        const bool a_nan = std::isnan(d[a]);
        const bool b_nan = std::isnan(d[b]);
        if (a_nan != b_nan) return b_nan;
        return a < b;
    });
    flags_.assign(n, 1);
    for (std::size_t r = 0; r < capacity_; ++r) flags_[order_[r]] = 0;
    remove_flagged();
    refresh_views();
    crowding_distance_into(views_, crowding_work_, scores_);
}

void Archive::prune_and_grid() {
    while (members_.size() > capacity_) {
        // The box is that of the current members, so it adapts after every removal.
        refresh_views();
        grid_populations_into(views_, strategy_.divisions, grid_work_, populations_);
        std::size_t fullest = 0;
        for (std::size_t i = 1; i < populations_.size(); ++i)
            if (populations_[i] >= populations_[fullest]) fullest = i;
        std::rotate(members_.begin() + static_cast<std::ptrdiff_t>(fullest),
                    members_.begin() + static_cast<std::ptrdiff_t>(fullest) + 1, members_.end());
        spare_.push_back(std::move(members_.back()));
        members_.pop_back();
    }
    refresh_views();
    grid_populations_into(views_, strategy_.divisions, grid_work_, populations_);
    scores_.resize(populations_.size());
    for (std::size_t i = 0; i < populations_.size(); ++i)
        scores_[i] = 1.0 / static_cast<double>(populations_[i]);
}

void Archive::refresh_views() {
    views_.clear();
    for (const ArchiveMember& member : members_) views_.emplace_back(member.objectives);
}

void Archive::remove_flagged() {
    const std::size_t n = members_.size();
    std::size_t kept = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (flags_[i]) continue;
        if (kept != i) std::swap(members_[kept], members_[i]);
        ++kept;
    }
    for (std::size_t i = kept; i < n; ++i) spare_.push_back(std::move(members_[i]));
    members_.resize(kept);
}

}  // namespace kestrelopt
