#include "score_reader.h"

#include "line_sets.h"
#include "symbol_tables.h"

#include <algorithm>

namespace nagisora {
namespace {

using detail::SymbolInfo;

// The running state of the notation, small enough to number: the register (3 values), the pending accidental
// (4), what LastMark is as far as the rules ask (乙, 甲 or anything else: 3) and what PrevNote is (ハ ヒ リ,
// ロ ツ or anything else: 3). The walk then is one table lookup per unit, state and symbol to the next state
// and the event to make, instead of a chain of tests whose outcome the processor cannot guess.
enum Mark : std::uint8_t { MarkOther, MarkOtsu, MarkKan };
enum Prev : std::uint8_t { PrevOther, PrevHaHiRi, PrevRoTsu };

struct Walk {
    std::uint8_t CurRegister = 0;
    std::uint8_t PendingAccidental = 0;
    std::uint8_t LastMark = MarkOther;
    std::uint8_t PrevNote = PrevOther;

    static constexpr std::size_t StateCount = 3 * 4 * 3 * 3;

    constexpr std::uint8_t Number() const {
        return std::uint8_t(CurRegister + 3 * (PendingAccidental + 4 * (LastMark + 3 * PrevNote)));
    }
    static constexpr Walk FromNumber(std::size_t number) {
        return Walk{std::uint8_t(number % 3), std::uint8_t(number / 3 % 4), std::uint8_t(number / 12 % 3),
                    std::uint8_t(number / 36)};
    }

    // The register rules, applied before the key of a note symbol other than ○ and ー is computed.
    constexpr void ApplyRegisterRules(const SymbolInfo& p) {
        using namespace detail;
        if (LastMark != MarkOtsu && CurRegister == 0 && PrevNote == PrevHaHiRi && (p.traits & IsRoTsu))
            CurRegister = 1; // R1: a step up from ハ ヒ リ to ロ ツ goes into 甲
        else if (LastMark != MarkKan && CurRegister == 1 && PrevNote == PrevRoTsu && (p.traits & IsHaHiRi))
            CurRegister = 0; // R2: a step down from ロ ツ to ハ ヒ リ goes back to 乙
        if (p.traits & TakesKan) CurRegister = 1; // R3
    }
};

// What one unit does in one state: the next state, and whether it makes an event with which key. The key of
// a pitched note is above 0 and still lacks the transposition; ○ and ー give 0 and -1.
struct Step {
    std::uint16_t next = 0; // the next state's first row: its number times SymbolIdCount
    std::int8_t key = 0;
    std::uint8_t makesEvent = 0;
};

std::int32_t KeyOf(const Step& step, std::int32_t onteiOffset) {
    const std::int32_t pitched = step.key > 0;
    return step.key + (onteiOffset & -pitched);
}

constexpr Step StepOf(Walk walk, const SymbolInfo& p) {
    Step step;
    switch (p.symbolClass) {
    case ClassRegisterMarker:
        walk.CurRegister = p.value;
        walk.LastMark = (p.traits & detail::IsOtsu)  ? MarkOtsu
                        : (p.traits & detail::IsKan) ? MarkKan
                                                     : MarkOther;
        break;
    case ClassAccidental:
        walk.PendingAccidental = p.value;
        break;
    case ClassNoteSymbol:
        step.makesEvent = 1;
        if (p.traits & detail::IsRestOrHold) {
            step.key = p.keys[0]; // 0 and -1, whatever the register and accidental
        } else {
            walk.ApplyRegisterRules(p);
            step.key =
                std::int8_t(p.keys[walk.CurRegister] + detail::AccidentalShift[walk.PendingAccidental]);
            walk.LastMark = MarkOther;
            walk.PrevNote = (p.traits & detail::IsHaHiRi)  ? PrevHaHiRi
                            : (p.traits & detail::IsRoTsu) ? PrevRoTsu
                                                           : PrevOther;
        }
        walk.PendingAccidental = 0;
        break;
    default:
        break;
    }
    step.next = std::uint16_t(walk.Number() * detail::SymbolIdCount);
    return step;
}

using StepTable = std::array<Step, Walk::StateCount * detail::SymbolIdCount>;

constexpr StepTable MakeSteps() {
    StepTable steps{};
    for (std::size_t state = 0; state < Walk::StateCount; ++state)
        for (std::size_t id = 0; id < detail::SymbolIdCount; ++id)
            steps[state * detail::SymbolIdCount + id] = StepOf(Walk::FromNumber(state), detail::Symbols[id]);
    return steps;
}

constinit const StepTable Steps = MakeSteps();

} // namespace

std::optional<std::int32_t> ReadScore(std::span<const std::string_view> lines, std::int32_t onteiOffset,
                                      OnpuList& list) {
    const AlignedTexts texts = GatherLineSets(lines);
    const std::string_view pitchText = texts.PitchText;
    const std::string_view timbreText = texts.TimbreText;
    const std::string_view durationText = texts.DurationText;

    // Every unit writes the entry after the last event, and only a unit that makes an event moves past it:
    // the walk then has no branch that depends on the score. A unit after the last entry writes to spare.
    std::size_t row = Walk{}.Number() * detail::SymbolIdCount;
    std::size_t n = 0;
    TOnpu spare;
    const std::size_t units = pitchText.size() / 2;
    for (std::size_t c = 1; c <= units; ++c) {
        const Step& step = Steps[row + detail::SymbolIdOf(UnitAt(pitchText, c))];
        row = step.next;
        TOnpu& entry = n < OnpuCapacity ? list[n] : spare;
        entry = TOnpu{TimbreOf(UnitAt(timbreText, c)), KeyOf(step, onteiOffset),
                      DurationOf(UnitAt(durationText, c))};
        n += step.makesEvent;
        if (n > OnpuCapacity) [[unlikely]] {
            list.fill(TOnpu{});
            return std::nullopt;
        }
    }
    std::fill(list.begin() + static_cast<std::ptrdiff_t>(n), list.end(), TOnpu{});
    return static_cast<std::int32_t>(n);
}

} // namespace nagisora
