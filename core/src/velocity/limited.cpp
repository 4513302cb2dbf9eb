#include "kestrelopt/velocity/limited.hpp"

#include <string>
#include <utility>

#include "kestrelopt/failure.hpp"
#include "kestrelopt/format.hpp"

namespace kestrelopt {

LimitedVelocity::LimitedVelocity(std::unique_ptr<Velocity> rule, std::vector<double> limits)
    : rule_(std::move(rule)), limits_(std::move(limits)) {
    for (std::size_t d = 0; d < limits_.size(); ++d)
        if (!(limits_[d] >= 0))
            fail("velocity limit " + std::to_string(d) + " must be >= 0 (got " +
                 format_float(limits_[d]) + ")");
}

void LimitedVelocity::update_into(const VelocityContext& context, RandomSource& gen,
                                  std::span<double> out) const {
    if (out.size() != limits_.size())
        fail("velocity limits cover " + std::to_string(limits_.size()) +
             " dimensions, the particle has " + std::to_string(out.size()));
    rule_->update_into(context, gen, out);
    clamp_speed(out, limits_);
}

}  // namespace kestrelopt
