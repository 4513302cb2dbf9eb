#include "kestrelopt/velocity/crossover.hpp"

#include <utility>

#include "kestrelopt/failure.hpp"
#include "kestrelopt/format.hpp"
#include "kestrelopt/velocity/single_leader.hpp"

namespace kestrelopt {

CrossoverVelocity::CrossoverVelocity(std::unique_ptr<Velocity> rule, double probability)
    : rule_(std::move(rule)), probability_(probability) {
    if (!(probability >= 0.0 && probability <= 1.0))
        fail("crossover must be in [0, 1] (got " + format_float(probability) + ")");
    if (rule_->needs_full_neighborhood()) fail("crossover needs a single-leader velocity rule");
}

void CrossoverVelocity::update_into(const VelocityContext& context, RandomSource& gen,
                                    std::span<double> out) const {
    const bool alone = context.neighborhood_best.data() == context.personal_best.data();
    if (alone || !(uniform01(gen) < probability_)) {
        rule_->update_into(context, gen, out);
        return;
    }
    check_context(context, out);
    for (std::size_t d = 0; d < context.position.size(); ++d) {
        const double crossed =
            uniform01(gen) < 0.5 ? context.neighborhood_best[d] : context.personal_best[d];
        out[d] = crossed - context.position[d];
    }
}

}  // namespace kestrelopt
