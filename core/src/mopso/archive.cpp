#include "kestrelopt/mopso/archive.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

#include "kestrelopt/failure.hpp"
#include "kestrelopt/mopso/dominance_scan.hpp"

namespace kestrelopt {

Archive::Archive(ArchiveStrategy strategy, std::size_t capacity)
    : strategy_(strategy), capacity_(capacity) {
    if (capacity == 0) fail("the archive capacity must be >= 1");
}

void Archive::insert(std::span<const double> position, std::span<const double> objectives) {
    if (!columnar_) rebuild_columns();
    bool removes = false;
    bool duplicate = false;
    bool kept = false;
    if (ordered_usable(objectives)) {
        kept = scan_ordered(objectives, removes, duplicate);
    } else {
        const bool fits = columnar_ && (members_.empty() || columns_.size() == objectives.size());
        kept = fits ? scan_columns(objectives, removes, duplicate)
                    : scan_members(objectives, removes, duplicate);
    }
    if (!kept) return;
    if (removes) {
        // Carrying the crowding order through every insertion would cost more than the
        // sort it saves; only pruning carries it, from its first computation to its second.
        crowding_work_.hint.clear();
        remove_flagged();
    }
    if (!duplicate) {
        append(position, objectives);
        order_appended();
    }
}

// Equal members can never be among the removed ones (they would dominate them too), so the
// duplicate test over the survivors can use the same scan.
bool Archive::scan_columns(std::span<const double> objectives, bool& removes, bool& duplicate) {
    const std::size_t n = members_.size();
    DominanceScan totals;
    if (columns_.size() == 2) {
        flags_.resize(n);
        totals = scan_two_objectives(columns_[0].data(), columns_[1].data(), n, objectives[0],
                                     objectives[1], flags_.data());
    } else {
        // flags_ first collects "worse than the candidate somewhere".
        flags_.assign(n, 0);
        better_.assign(n, 0);
        equal_.assign(n, 1);
        unsigned char* __restrict worse = flags_.data();
        unsigned char* __restrict better = better_.data();
        unsigned char* __restrict equal = equal_.data();
        for (std::size_t k = 0; k < columns_.size(); ++k) {
            const double c = objectives[k];
            const double* __restrict column = columns_[k].data();
            for (std::size_t i = 0; i < n; ++i) {
                better[i] |= static_cast<unsigned char>(column[i] < c);
                worse[i] |= static_cast<unsigned char>(c < column[i]);
                equal[i] &= static_cast<unsigned char>(column[i] == c);
            }
        }
        for (std::size_t i = 0; i < n; ++i) {
            totals.dominated = totals.dominated || (better[i] && !worse[i]);
            worse[i] = static_cast<unsigned char>(worse[i] & (better[i] ^ 1));
            totals.removes = totals.removes || worse[i];
            totals.equal = totals.equal || equal[i];
        }
    }
    removes = totals.removes;
    duplicate = totals.equal;
    return !totals.dominated;
}

bool Archive::scan_members(std::span<const double> objectives, bool& removes, bool& duplicate) {
    const std::size_t n = members_.size();
    flags_.assign(n, 0);
    for (std::size_t i = 0; i < n; ++i) {
        const MutualDominance relation = mutual_dominance(members_[i].objectives, objectives);
        if (relation.first_dominates) return false;
        if (relation.second_dominates) {
            flags_[i] = 1;
            removes = true;
        }
        duplicate = duplicate || relation.equal;
    }
    return true;
}

void Archive::rebuild_columns() {
    if (!members_.empty()) {
        const std::size_t m = members_.front().objectives.size();
        for (const ArchiveMember& member : members_)
            if (member.objectives.size() != m) return;
        columns_.resize(m);
        for (std::size_t k = 0; k < m; ++k) {
            columns_[k].clear();
            for (const ArchiveMember& member : members_)
                columns_[k].push_back(member.objectives[k]);
        }
    }
    columnar_ = true;
}

void Archive::append(std::span<const double> position, std::span<const double> objectives) {
    if (columnar_ && members_.empty()) {
        columns_.resize(objectives.size());
        for (std::vector<double>& column : columns_) column.clear();
    }
    if (columnar_ && columns_.size() == objectives.size()) {
        for (std::size_t k = 0; k < objectives.size(); ++k) columns_[k].push_back(objectives[k]);
    } else {
        columnar_ = false;
    }
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
    else if (strategy_.directional())
        prune_and_hypervolume();
    else
        prune_and_crowding();
    return scores_;
}

void Archive::prune_and_crowding() {
    // Ordered by the first objective, the members come already sorted for the crowding.
    if (ordered_ && by_first_.size() == members_.size())
        crowding_work_.hint.assign(by_first_.begin(), by_first_.end());
    refresh_views();
    crowding_distance_into(views_, crowding_work_, distances_);
    const std::size_t n = members_.size();
    if (n <= capacity_) {
        scores_.assign(distances_.begin(), distances_.end());
        return;
    }
    // Largest distance first; equal distances keep index order, so older members win
    // ties; NaN distances go last. The keys with the index are a strict total order, so
    // the members to keep are exactly the first `capacity_` of it, whatever their order
    // among themselves: a selection finds them without sorting.
    sorted_.resize(n);
    for (std::size_t i = 0; i < n; ++i) sorted_[i] = {detail::descending_key(distances_[i]), i};
    std::nth_element(sorted_.begin(), sorted_.begin() + static_cast<std::ptrdiff_t>(capacity_),
                     sorted_.end());
    flags_.assign(n, 1);
    for (std::size_t r = 0; r < capacity_; ++r) flags_[sorted_[r].index] = 0;
    remove_flagged();
    refresh_views();
    crowding_distance_into(views_, crowding_work_, scores_);
}

void Archive::prune_and_grid() {
    refresh_views();
    grid_populations_into(views_, strategy_.divisions, grid_work_, populations_);
    // Members removed without a new grid are only flagged, and leave together at the end;
    // meanwhile the populations are read from the cells' counts.
    const std::vector<std::size_t>& groups = grid_work_.groups;
    std::vector<std::size_t>& counts = grid_work_.counts;
    flags_.assign(members_.size(), 0);
    index_cells();
    std::size_t live = members_.size();
    bool flagged = false;
    while (live > capacity_) {
        // The member to go is the last one, in member order, of the largest population:
        // the last live member of one of the fullest cells, the one latest in order.
        std::size_t fullest = 0;
        std::size_t top = 0;
        for (const std::size_t cell : cells_) {
            const std::size_t last = cell_last_[cell];
            if (last == kNoMember) continue;
            const std::size_t population = counts[cell];
            if (population > top || (population == top && last > fullest)) {
                top = population;
                fullest = last;
            }
        }
        // A member strictly inside the box (or NaN where it is not) leaves the box, and so
        // every other member's cell, as it was: only its cell loses one.
        bool local = columnar_;
        for (std::size_t k = 0; local && k < grid_work_.objectives; ++k) {
            const double value = members_[fullest].objectives[k];
            local = !(value == grid_work_.lo[k] || value == grid_work_.hi[k]);
        }
        flags_[fullest] = 1;
        --live;
        if (local) {
            const std::size_t cell = groups[fullest];
            --counts[cell];
            cell_last_[cell] = cell_previous_[fullest];
            flagged = true;
        } else {
            // The box may change with the member gone.
            remove_flagged();
            refresh_views();
            grid_populations_into(views_, strategy_.divisions, grid_work_, populations_);
            flags_.assign(members_.size(), 0);
            index_cells();
            flagged = false;
        }
    }
    if (flagged) {
        std::size_t kept = 0;
        for (std::size_t i = 0; i < groups.size(); ++i)
            if (!flags_[i]) populations_[kept++] = counts[groups[i]];
        populations_.resize(kept);
        remove_flagged();
    }
    scores_.resize(populations_.size());
    for (std::size_t i = 0; i < populations_.size(); ++i)
        scores_[i] = 1.0 / static_cast<double>(populations_[i]);
}

void Archive::index_cells() {
    const std::vector<std::size_t>& groups = grid_work_.groups;
    const std::size_t n = groups.size();
    cells_.clear();
    cell_last_.assign(n, kNoMember);
    cell_previous_.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t cell = groups[i];
        if (cell_last_[cell] == kNoMember) cells_.push_back(cell);
        cell_previous_[i] = cell_last_[cell];
        cell_last_[cell] = i;
    }
}

void Archive::refresh_views() {
    views_.clear();
    for (const ArchiveMember& member : members_) views_.emplace_back(member.objectives);
}

void Archive::clear() {
    flags_.assign(members_.size(), 1);
    remove_flagged();
}

void Archive::remove_flagged() {
    const std::size_t n = members_.size();
    std::size_t first = 0;  // members before the first flagged one stay where they are
    while (first < n && !flags_[first]) ++first;
    // Survivors move down run by run: a pruning or an insertion removes few members, so
    // the runs are long and the columns move by block copies.
    std::size_t kept = first;
    std::size_t i = first;
    while (i < n) {
        if (flags_[i]) {
            ++i;
            continue;
        }
        std::size_t end = i + 1;
        while (end < n && !flags_[end]) ++end;
        if (columnar_) {
            for (std::vector<double>& column : columns_)
                std::copy(column.begin() + static_cast<std::ptrdiff_t>(i),
                          column.begin() + static_cast<std::ptrdiff_t>(end),
                          column.begin() + static_cast<std::ptrdiff_t>(kept));
        }
        // Swapping the vectors' buffers, not whole members, spares the moves' bookkeeping.
        for (; i < end; ++i, ++kept) {
            members_[kept].position.swap(members_[i].position);
            members_[kept].objectives.swap(members_[i].objectives);
        }
    }
    if (columnar_)
        for (std::vector<double>& column : columns_) column.resize(kept);
    for (std::size_t i = kept; i < n; ++i) spare_.push_back(std::move(members_[i]));
    members_.resize(kept);
    // The orders of the survivors are the old ones without the removed members.
    if (ordered_) renumber(by_first_, n, kept, first);
    retry_order_ = !ordered_;
    if (!crowding_work_.hint.empty()) renumber(crowding_work_.hint, n, kept, first);
}

}  // namespace kestrelopt
