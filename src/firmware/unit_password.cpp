#include "firmware/upgrade.hpp"
#include "protocol/password.hpp"

namespace korvane {

UnitGateResult CheckUnitPassword(Context& ctx, Operator& op, DeviceIdentity& record,
                                 StopToken* stop) {
    auto accepted = AcquireUnitPassword(ctx, record.mac(), record.rememberedPassword(), op, stop);
    // The next gate for this device passes without a prompt.
    if (accepted)
        record.setRememberedPassword(*accepted);
    return accepted;
}

FirmwarePasswordGate UnitPasswordGate(Context& ctx, Operator& op) {
    return [&ctx, &op](DeviceIdentity& record, StopToken* stop) {
        return CheckUnitPassword(ctx, op, record, stop);
    };
}

} // namespace korvane
