#include "score_reader.h"

#include "score_walk.h"

#include <algorithm>

namespace nagisora {
namespace walk {
namespace {

using detail::SymbolInfo;

// The register rules, applied before the key of a note symbol other than ○ and ー is computed.
constexpr void ApplyRegisterRules(State& state, const SymbolInfo& p) {
    using namespace detail;
    if (state.LastMark != MarkOtsu && state.CurRegister == 0 && state.PrevNote == PrevHaHiRi &&
        (p.traits & IsRoTsu))
        state.CurRegister = 1; // R1: a step up from ハ ヒ リ to ロ ツ goes into 甲
    else if (state.LastMark != MarkKan && state.CurRegister == 1 && state.PrevNote == PrevRoTsu &&
             (p.traits & IsHaHiRi))
        state.CurRegister = 0; // R2: a step down from ロ ツ to ハ ヒ リ goes back to 乙
    if (p.traits & TakesKan) state.CurRegister = 1; // R3
}

constexpr Step StepOf(State state, const SymbolInfo& p) {
    Step step;
    switch (p.symbolClass) {
    case ClassRegisterMarker:
        state.CurRegister = p.value;
        state.LastMark = (p.traits & detail::IsOtsu)  ? MarkOtsu
                         : (p.traits & detail::IsKan) ? MarkKan
                                                      : MarkOther;
        break;
    case ClassAccidental:
        state.PendingAccidental = p.value;
        break;
    case ClassNoteSymbol:
        step.makesEvent = 1;
        // ○ and ー take neither the register rules nor the accidental, and leave the marks as they are.
        if (!(p.traits & detail::IsRestOrHold)) ApplyRegisterRules(state, p);
        step.key = std::int8_t(detail::KeyOf(p, state.CurRegister, state.PendingAccidental));
        if (!(p.traits & detail::IsRestOrHold)) {
            state.LastMark = MarkOther;
            state.PrevNote = (p.traits & detail::IsHaHiRi)  ? PrevHaHiRi
                             : (p.traits & detail::IsRoTsu) ? PrevRoTsu
                                                            : PrevOther;
        }
        state.PendingAccidental = 0;
        break;
    default:
        break;
    }
    step.next = std::uint16_t(state.Number() * detail::SymbolIdCount);
    return step;
}

constexpr StepTable MakeSteps() {
    StepTable steps{};
    for (std::size_t number = 0; number < State::Count; ++number)
        for (std::size_t id = 0; id < detail::SymbolIdCount; ++id)
            steps[number * detail::SymbolIdCount + id] =
                StepOf(State::FromNumber(number), detail::Symbols[id]);
    return steps;
}

} // namespace

constinit const StepTable Steps = MakeSteps();

} // namespace walk

std::optional<std::int32_t> ReadScore(std::span<const std::string_view> lines, std::int32_t onteiOffset,
                                      OnpuList& list) {
    walk::FixedStore store(list);
    std::size_t n = 0;
    if (!walk::WalkUnits(GatherLineSets(lines), onteiOffset, store, walk::IgnoreUnits{}, n)) {
        list.fill(TOnpu{});
        return std::nullopt;
    }
    std::fill(list.begin() + static_cast<std::ptrdiff_t>(n), list.end(), TOnpu{});
    return static_cast<std::int32_t>(n);
}

} // namespace nagisora
