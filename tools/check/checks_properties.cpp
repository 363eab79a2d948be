// Properties: values inside the limits reach the device, values outside are
// refused and change nothing, white balance, unknown and missing records.
#include "harness.h"
#include "kwhost/property.h"

namespace kwcheck {

namespace {

struct Limited {
    const char* name;
    int property;
    float MvsimDeviceState::*value;
    float min;
    float max;
};

const Limited kExposure = {"exposure", CameraPropertyExposureTime, &MvsimDeviceState::exposure, cameras::kExposureMin,
                           cameras::kExposureMax};
const Limited kGain = {"gain", CameraPropertyGain, &MvsimDeviceState::gain, cameras::kGainMin, cameras::kGainMax};

using kwhost::setProperty;

enum class Side { Inside, Outside };

// Values inside the limits must reach the device. Values outside must be
// refused and leave the device at the value inside that was set before them.
Outcome limits(Context& context, const Limited* limited, Side side)
{
    Verdict verdict;
    Session session(context, context.key);
    const int device = context.sim->device(context.key);
    if (!session.open(&verdict))
        return verdict.outcome();
    const int min = static_cast<int>(limited->min);
    const int max = static_cast<int>(limited->max);
    const auto set = [&](int value) { return setProperty(session.camera(), limited->property, value); };
    const auto held = [&]() { return context.sim->state(device).*limited->value; };
    if (side == Side::Inside) {
        for (int value : {min, max, (min + max) / 2, min + 1, max - 1}) {
            const bool accepted = set(value);
            const float reached = held();
            verdict.expect(accepted && reached == static_cast<float>(value),
                           QStringLiteral("%1 %2 (limits %3..%4): result %5, the device has %6")
                               .arg(limited->name)
                               .arg(value)
                               .arg(min)
                               .arg(max)
                               .arg(accepted)
                               .arg(reached));
        }
        return verdict.outcome();
    }
    const int inside = (min + max) / 2;
    verdict.expect(set(inside), QStringLiteral("%1 %2 inside the limits refused").arg(limited->name).arg(inside));
    for (int value : {min - 1, max + 1, min - 1000, max + 1000}) {
        const bool accepted = set(value);
        const float now = held();
        verdict.expect(!accepted,
                       QStringLiteral("%1 %2 outside %3..%4 accepted").arg(limited->name).arg(value).arg(min).arg(max));
        verdict.expect(now == static_cast<float>(inside),
                       QStringLiteral("refused %1 %2 changed the device to %3").arg(limited->name).arg(value).arg(now));
    }
    return verdict.outcome();
}

Outcome whiteBalance(Context& context)
{
    Verdict verdict;
    Session session(context, context.key);
    const int device = context.sim->device(context.key);
    if (!session.open(&verdict))
        return verdict.outcome();
    const int red = 1100, green = 1200, blue = 1300;
    verdict.expect(setProperty(session.camera(), CameraPropertyBalanceRatioRed, red) &&
                       setProperty(session.camera(), CameraPropertyBalanceRatioGreen, green) &&
                       setProperty(session.camera(), CameraPropertyBalanceRatioBlue, blue),
                   QStringLiteral("a white-balance ratio was refused"));
    const MvsimDeviceState state = context.sim->state(device);
    verdict.expect(state.balanceWhiteAuto == 0, QStringLiteral("automatic white balance still on"));
    verdict.expect(state.balanceRatioRed == red && state.balanceRatioGreen == green && state.balanceRatioBlue == blue,
                   QStringLiteral("the device has ratios %1, %2, %3 for %4, %5, %6")
                       .arg(state.balanceRatioRed)
                       .arg(state.balanceRatioGreen)
                       .arg(state.balanceRatioBlue)
                       .arg(red)
                       .arg(green)
                       .arg(blue));
    return verdict.outcome();
}

Outcome unknownCodes(Context& context)
{
    Verdict verdict;
    Session session(context, context.key);
    if (!session.open(&verdict))
        return verdict.outcome();
    if (context.sim != nullptr)
        context.sim->clearCallLog();
    for (int code : {0, 5, 6, 0xFFFF, 0x10001, -1, 0x7FFFFFFF})
        verdict.expect(
            setProperty(session.camera(), code, 7),
            QStringLiteral("unknown property code %1 refused: hosts expect it accepted and ignored").arg(code));
    if (context.sim != nullptr) {
        const QStringList log = context.sim->callLog();
        verdict.expect(log.isEmpty(), QStringLiteral("unknown codes reached the SDK: %1").arg(log.join(", ")));
    }
    verdict.expect(!session->ISetProperty(nullptr), QStringLiteral("ISetProperty(nullptr) reported success"));
    return verdict.outcome();
}

Outcome applyParameters(Context& context)
{
    Verdict verdict;
    Session session(context, context.key);
    const int device = context.sim->device(context.key);
    if (!session.open(&verdict))
        return verdict.outcome();
    session.config.nExposureTime = 1234;
    session.config.nGain = 3;
    session->IApplyParameters();
    const MvsimDeviceState state = context.sim->state(device);
    verdict.expect(state.exposure == 1234.0f && state.gain == 3.0f,
                   QStringLiteral("IApplyParameters with exposure 1234 and gain 3 left the device at %1 and %2")
                       .arg(state.exposure)
                       .arg(state.gain));
    return verdict.outcome();
}

}  // namespace

void addPropertyChecks(std::vector<CheckInfo>* checks)
{
    const QString group = QStringLiteral("properties");
    const char* state = "the simulator's device state";
    checks->push_back({QStringLiteral("properties.exposure-inside-limits"), group, state,
                       withValues<limits, &kExposure, Side::Inside>});
    checks->push_back({QStringLiteral("properties.exposure-outside-limits"), group, state,
                       withValues<limits, &kExposure, Side::Outside>});
    checks->push_back(
        {QStringLiteral("properties.gain-inside-limits"), group, state, withValues<limits, &kGain, Side::Inside>});
    checks->push_back(
        {QStringLiteral("properties.gain-outside-limits"), group, state, withValues<limits, &kGain, Side::Outside>});
    checks->push_back({QStringLiteral("properties.white-balance"), group, state, whiteBalance});
    checks->push_back({QStringLiteral("properties.unknown-codes"), group, nullptr, unknownCodes});
    checks->push_back({QStringLiteral("properties.apply-parameters"), group, state, applyParameters});
}

}  // namespace kwcheck
