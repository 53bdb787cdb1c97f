#include "cli/config_steps.hpp"

#include <ostream>

namespace korvane::cli {

int GateEnd(CliOperator& op, ConfigEnd end) {
    switch (end) {
    case ConfigEnd::NoReply:
        op.error(std::string(text::kNoRespond));
        break;
    case ConfigEnd::Cancelled:
        if (!op.unanswered())
            op.error("cancelled");
        break;
    default:
        break;
    }
    return kExitFailure;
}

} // namespace korvane::cli
