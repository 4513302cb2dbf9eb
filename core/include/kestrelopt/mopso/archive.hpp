// Archive: the bounded external memory of the multi-objective search. An ordered list of
// (position, objectives) members, none dominating or equal to another, kept in insertion
// order (removals only, never re-sorted). insert never prunes, so the list may exceed the
// capacity until the next prune_and_scores, which cuts it back and scores the members as
// leaders (higher is better).
//
// Cost: insert is one scan of the common objective prefix per member plus at most one
// equality test per member; while all members have as many objectives as the candidate it
// runs over contiguous objective columns, and with two objectives it stops at the first
// member that dominates the candidate. With two objectives and no NaN the members are also
// kept ordered by the first objective, and insert is a binary search plus a walk over the
// members it removes. Crowding pruning is one crowding computation and one
// selection; the second crowding computation of a pruning starts from the first one's
// order without the removed members, which only needs checking, not sorting. Grid pruning
// takes the grid once, then per removed member either updates the population of the
// removed member's cell (when the member held no extreme of the box, so the box and every
// other cell stay as they were) or recomputes the whole grid; the member to remove is found
// by a scan over the cells, not the members. Removed members' storage is recycled for later
// insertions and all working memory is kept, so once the archive has reached its largest
// size neither operation allocates.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "kestrelopt/mopso/contributions.hpp"
#include "kestrelopt/mopso/pareto.hpp"

namespace kestrelopt {

struct ArchiveStrategy {
    enum class Kind : std::uint8_t {
        // Keep the most isolated members; score = crowding distance.
        Crowding = 0,
        // Empty the fullest cell of the adaptive grid first; score = 1 / cell population.
        Grid = 1,
        // With two or three objectives, drop the member of least exclusive hypervolume
        // contribution, one at a time (score = contribution); with more, keep per Das-Dennis
        // reference direction the members nearest to it (score = 1 / members of its
        // direction). prune_and_hypervolume tells the details.
        Hypervolume = 2,
        // Hypervolume's pruning with two or three objectives; above, the same reference
        // directions with the distance from a direction weighted 1 instead of 5
        // (kDecompositionTheta), so that a member nearer the front keeps its direction, the
        // objectives normalized by the extreme points' nadir, and a run led by the
        // Tchebycheff value along each particle's direction (run.hpp).
        Decomposition = 3,
    };
    Kind kind = Kind::Crowding;
    std::size_t divisions = 0;  // grid divisions per objective (Grid only; 0 behaves as 1)

    static constexpr ArchiveStrategy crowding() { return {Kind::Crowding, 0}; }
    static constexpr ArchiveStrategy grid(std::size_t divisions) { return {Kind::Grid, divisions}; }
    static constexpr ArchiveStrategy hypervolume() { return {Kind::Hypervolume, 0}; }
    static constexpr ArchiveStrategy decomposition() { return {Kind::Decomposition, 0}; }
    // Whether the strategy goes by reference directions above three objectives.
    constexpr bool directional() const {
        return kind == Kind::Hypervolume || kind == Kind::Decomposition;
    }
};

struct ArchiveMember {
    std::vector<double> position;  // internal position, before decoding
    std::vector<double> objectives;
};

class Archive {
  public:
    // Stops when capacity is 0.
    Archive(ArchiveStrategy strategy, std::size_t capacity);

    // Offers a candidate: discarded when a member dominates it; otherwise the members it
    // dominates go, and it is appended unless a remaining member has equal objectives.
    void insert(std::span<const double> position, std::span<const double> objectives);

    // Prunes to the capacity, then scores every member, in member order. The reference
    // stays valid, and its values unchanged, until the next call.
    const std::vector<double>& prune_and_scores();

    // Removes every member, keeping their storage for later insertions.
    void clear();

    const std::vector<ArchiveMember>& members() const { return members_; }
    // Whether the last prune_and_scores went by reference directions (the hypervolume
    // or decomposition strategy above three objectives); then the unit directions (row-major,
    // one value per objective) and the ideal and nadir it normalized the objectives by: the
    // members' best and worst values (the decomposition strategy: the worst values of its
    // extreme points).
    bool by_directions() const { return by_directions_; }
    const std::vector<double>& directions() const { return directions_; }
    const std::vector<double>& ideal() const { return lo_; }
    const std::vector<double>& nadir() const { return reference_; }
    ArchiveStrategy strategy() const { return strategy_; }
    std::size_t capacity() const { return capacity_; }

  private:
    // The scan of insert over the objective columns (all members as long as `objectives`)
    // or member by member: false when a member dominates the candidate; otherwise flags_
    // marks the members it dominates and `duplicate` tells whether one has equal objectives.
    bool scan_columns(std::span<const double> objectives, bool& removes, bool& duplicate);
    bool scan_members(std::span<const double> objectives, bool& removes, bool& duplicate);
    // Makes the columns mirror the members when all have the same number of objectives.
    void rebuild_columns();
    void append(std::span<const double> position, std::span<const double> objectives);
    void prune_and_crowding();
    void prune_and_grid();
    // archive_hypervolume.cpp: the hypervolume strategy, by contributions (2 or 3
    // objectives) or by reference directions (more); its reference point from the members;
    // and the association of every member with its nearest direction.
    void prune_and_hypervolume();
    void prune_by_directions(std::size_t objectives);
    void member_bounds();
    void contribution_reference();
    void associate();
    // The decomposition strategy's nadir (into reference_) from the extreme points.
    void extreme_nadir();
    // Removes member i alone.
    void remove_one(std::size_t i);
    void refresh_views();
    // The order by the first objective (archive_order.cpp): whether an insertion of
    // `objectives` can use it (retrying to build it when it may have become possible),
    // the insertion test by it, its upkeep after an append, and the renumbering of a list
    // of member indices after remove_flagged kept `kept` of n members (the first removed
    // one being `first_removed`), dropping the removed ones.
    bool ordered_usable(std::span<const double> objectives);
    bool scan_ordered(std::span<const double> objectives, bool& removes, bool& duplicate);
    void try_order();
    void order_appended();
    void renumber(std::vector<std::size_t>& indices, std::size_t n, std::size_t kept,
                  std::size_t first_removed);
    // Lists the grid's cells and chains each cell's members, from grid_work_.groups.
    void index_cells();
    // Removes the flagged members (the others keep their order), recycling their storage.
    void remove_flagged();

    ArchiveStrategy strategy_;
    std::size_t capacity_;
    std::vector<ArchiveMember> members_;
    std::vector<ArchiveMember> spare_;
    // columns_[k][i] is objective k of member i, valid while `columnar_`: every member has
    // exactly columns_.size() objectives.
    std::vector<std::vector<double>> columns_;
    bool columnar_ = true;
    // Two objectives and no NaN: member indices by ascending first objective, valid while
    // `ordered_`; `retry_order_` asks to try building it again after removals.
    std::vector<std::size_t> by_first_;
    bool ordered_ = true;
    bool retry_order_ = false;

    std::vector<double> scores_;
    std::vector<unsigned char> flags_;
    std::vector<unsigned char> better_;  // per member: better than the candidate somewhere
    std::vector<unsigned char> equal_;   // per member: equal to the candidate so far
    std::vector<ObjectiveView> views_;
    std::vector<double> distances_;
    std::vector<detail::KeyedIndex> sorted_;
    std::vector<std::size_t> populations_;
    std::vector<std::size_t> renumbered_;  // old index -> index after a removal
    // Grid pruning: the cells (each named by its first member), each cell's last live
    // member, and per member the previous member of its cell (kNoMember: none).
    static constexpr std::size_t kNoMember = static_cast<std::size_t>(-1);
    std::vector<std::size_t> cells_;
    std::vector<std::size_t> cell_last_;
    std::vector<std::size_t> cell_previous_;
    // The hypervolume strategy: the reference point, the contributions' work; the unit
    // directions (row-major, for `directions_of_` objectives and the capacity), each
    // member's direction and penalty, and each direction's member count.
    std::vector<double> reference_;
    std::vector<double> lo_;
    ContributionWork contribution_work_;
    std::vector<double> dropped_;
    std::vector<double> directions_;
    std::size_t directions_of_ = 0;
    bool by_directions_ = false;
    std::vector<std::size_t> direction_of_;
    std::vector<double> penalties_;
    std::vector<std::size_t> direction_counts_;
    // The decomposition strategy: the members holding the extreme points, one per objective.
    std::vector<std::size_t> extremes_;
    // The members' worst value per objective (member_bounds), which reference_ may move from.
    std::vector<double> members_max_;
    CrowdingWork crowding_work_;
    GridWork grid_work_;
};

}  // namespace kestrelopt
