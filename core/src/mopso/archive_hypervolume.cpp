// The hypervolume strategy of the archive.
//
// Two or three objectives: while the archive is over its capacity, the member of least
// exclusive hypervolume contribution leaves (of equal ones, the latest in member order), and
// the contributions are taken again for the next one. The reference point is the members'
// worst value per objective plus a tenth of its spread (plus 1 where the spread is 0), so
// the extremes' contributions scale with the front and it follows the front as it
// converges. The contributions are taken by one sort (2 objectives) or one dimension sweep
// (3), O(n log n) per removal. The scores are the contributions.
//
// More objectives: contributions cost too much and the members spread over too many
// directions for them. The objectives are normalized to [0, 1] by the members' best and
// worst values; each member belongs to the Das-Dennis direction (the fewest divisions giving
// at least as many directions as the capacity) nearest to it by perpendicular distance d2,
// with the penalty d1 + 5 d2 (d1: its distance along the direction). While over capacity,
// the member of largest penalty in the direction with most members (of equal counts, the
// first direction; of equal penalties, the latest member) leaves. The scores are
// 1 / members of the member's direction, so leaders come from sparse directions. The
// decomposition strategy weights d2 by 1 instead of 5: with 5, a member far beyond the front
// but exactly on a boundary direction (an objective at 0, its particle on a bound) outranks
// the nearer members just beside that direction, and keeps it. It also normalizes by the
// extreme points' nadir (extreme_nadir below) instead of the members' worst values, and
// removing an extreme point takes the association again.
#include <algorithm>
#include <cmath>

#include "kestrelopt/mopso/archive.hpp"

namespace kestrelopt {

void Archive::remove_one(std::size_t i) {
    flags_.assign(members_.size(), 0);
    flags_[i] = 1;
    remove_flagged();
    refresh_views();
}

// The members' best (lo_) and worst (members_max_) value per objective; reference_ starts
// from the worst.
void Archive::member_bounds() {
    const std::size_t m = views_.front().size();
    lo_.assign(views_.front().begin(), views_.front().end());
    members_max_.assign(views_.front().begin(), views_.front().end());
    for (const ObjectiveView view : views_)
        for (std::size_t k = 0; k < m; ++k) {
            lo_[k] = std::min(lo_[k], view[k]);
            members_max_[k] = std::max(members_max_[k], view[k]);
        }
    reference_.assign(members_max_.begin(), members_max_.end());
}

void Archive::contribution_reference() {
    member_bounds();
    for (std::size_t k = 0; k < reference_.size(); ++k) {
        const double spread = reference_[k] - lo_[k];
        reference_[k] += spread > 0 ? spread * 0.1 : 1.0;
    }
}

void Archive::prune_and_hypervolume() {
    refresh_views();
    by_directions_ = false;
    if (members_.empty()) {
        scores_.clear();
        return;
    }
    const std::size_t m = members_.front().objectives.size();
    // Ragged objective vectors (or a single objective) have no hypervolume to share out.
    if (!columnar_ || m < 2) {
        prune_and_crowding();
        return;
    }
    by_directions_ = m > 3;
    if (by_directions_) {
        prune_by_directions(m);
        return;
    }
    contribution_reference();
    hypervolume_contributions(views_, reference_, contribution_work_, scores_);
    while (members_.size() > capacity_) {
        std::size_t worst = 0;
        for (std::size_t i = 1; i < scores_.size(); ++i)
            if (scores_[i] <= scores_[worst]) worst = i;
        remove_one(worst);
        // A member on the box's edge may take the box, and so the reference, with it.
        contribution_reference();
        hypervolume_contributions(views_, reference_, contribution_work_, scores_);
    }
}

// The decomposition strategy's nadir: per objective, the worst value among the extreme
// points, one per axis, each the member of least max_k (f_k - ideal_k) / w_k with w the
// axis (its other components 1e-6). The members' worst values would do on the front itself,
// but a member far beyond it that no other dominates (with many objectives, most) stretches
// them: on DTLZ2 with 5 and 8 objectives up to 2.8 times the front's, which crowds the
// normalized members into fewer directions (a third to a half of them left empty).
// An objective whose extreme points all sit at the ideal keeps the members' worst value.
void Archive::extreme_nadir() {
    const std::size_t m = lo_.size();
    const std::size_t n = views_.size();
    extremes_.resize(m);
    for (std::size_t axis = 0; axis < m; ++axis) {
        std::size_t best = 0;
        double least = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            double value = 0.0;
            for (std::size_t k = 0; k < m; ++k)
                value = std::max(value, (views_[i][k] - lo_[k]) * (k == axis ? 1.0 : 1e6));
            if (i == 0 || value < least) {
                best = i;
                least = value;
            }
        }
        extremes_[axis] = best;
    }
    for (std::size_t k = 0; k < m; ++k) {
        double worst = lo_[k];
        for (const std::size_t e : extremes_) worst = std::max(worst, views_[e][k]);
        if (worst > lo_[k]) reference_[k] = worst;
    }
}

void Archive::associate() {
    const std::size_t m = directions_of_;
    const std::size_t n = views_.size();
    const std::size_t count = directions_.size() / m;
    const double theta = strategy_.kind == ArchiveStrategy::Kind::Decomposition
                             ? kDecompositionTheta
                             : kPenaltyTheta;
    member_bounds();
    if (strategy_.kind == ArchiveStrategy::Kind::Decomposition) extreme_nadir();
    direction_of_.resize(n);
    penalties_.resize(n);
    direction_counts_.assign(count, 0);
    dropped_.resize(m);  // the normalized member
    for (std::size_t i = 0; i < n; ++i) {
        double square = 0.0;
        for (std::size_t k = 0; k < m; ++k) {
            const double spread = reference_[k] - lo_[k];
            dropped_[k] = (views_[i][k] - lo_[k]) / (spread > 0 ? spread : 1.0);
            square += dropped_[k] * dropped_[k];
        }
        std::size_t best = 0;
        double best_d2 = 0.0;
        double best_d1 = 0.0;
        for (std::size_t d = 0; d < count; ++d) {
            const double* unit = directions_.data() + d * m;
            double along = 0.0;
            for (std::size_t k = 0; k < m; ++k) along += dropped_[k] * unit[k];
            const double across = std::sqrt(std::max(square - along * along, 0.0));
            if (d == 0 || across < best_d2) {
                best = d;
                best_d2 = across;
                best_d1 = along;
            }
        }
        direction_of_[i] = best;
        penalties_[i] = best_d1 + theta * best_d2;
        ++direction_counts_[best];
    }
}

void Archive::prune_by_directions(std::size_t m) {
    if (directions_of_ != m) {
        directions_ = das_dennis(m, das_dennis_divisions(m, capacity_));
        for (std::size_t d = 0; d < directions_.size() / m; ++d) {
            double square = 0.0;
            for (std::size_t k = 0; k < m; ++k)
                square += directions_[d * m + k] * directions_[d * m + k];
            const double norm = std::sqrt(square);
            for (std::size_t k = 0; k < m; ++k) directions_[d * m + k] /= norm;
        }
        directions_of_ = m;
    }
    associate();
    while (members_.size() > capacity_) {
        std::size_t fullest = 0;
        for (std::size_t d = 1; d < direction_counts_.size(); ++d)
            if (direction_counts_[d] > direction_counts_[fullest]) fullest = d;
        std::size_t worst = members_.size();
        for (std::size_t i = 0; i < members_.size(); ++i)
            if (direction_of_[i] == fullest &&
                (worst == members_.size() || penalties_[i] >= penalties_[worst]))
                worst = i;
        bool extreme = false;
        for (std::size_t k = 0; k < m; ++k)
            extreme =
                extreme || !(views_[worst][k] > lo_[k]) || !(views_[worst][k] < members_max_[k]);
        for (const std::size_t e : extremes_) extreme = extreme || e == worst;
        remove_one(worst);
        if (extreme) {
            associate();
            continue;
        }
        --direction_counts_[fullest];
        // The extreme points stay the same members, one place earlier after the removed one.
        for (std::size_t& e : extremes_) e -= e > worst ? 1 : 0;
        direction_of_.erase(direction_of_.begin() + static_cast<std::ptrdiff_t>(worst));
        penalties_.erase(penalties_.begin() + static_cast<std::ptrdiff_t>(worst));
    }
    scores_.resize(members_.size());
    for (std::size_t i = 0; i < members_.size(); ++i)
        scores_[i] = 1.0 / static_cast<double>(direction_counts_[direction_of_[i]]);
}

}  // namespace kestrelopt
