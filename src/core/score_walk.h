#pragma once

// The walk of the score reader over the aligned texts, one unit at a time, shared by the conversion and by
// the analyses that place its events in the score (positions, the checker, exports). The conversion runs it
// with an observer that does nothing, which the compiler removes; an analysis watches the same steps.

#include "core/line_sets.h"
#include "core/note_event.h"
#include "core/symbol_tables.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace nagisora::walk {

// The running state of the notation, small enough to number: the register (3 values), the pending accidental
// (4), what LastMark is as far as the rules ask (乙, 甲 or anything else: 3) and what PrevNote is (ハ ヒ リ,
// ロ ツ or anything else: 3). The walk then is one table lookup per unit, state and symbol to the next state
// and the event to make, instead of a chain of tests whose outcome the processor cannot guess.
enum Mark : std::uint8_t { MarkOther, MarkOtsu, MarkKan };
enum Prev : std::uint8_t { PrevOther, PrevHaHiRi, PrevRoTsu };

struct State {
    std::uint8_t CurRegister = 0;
    std::uint8_t PendingAccidental = 0;
    std::uint8_t LastMark = MarkOther;
    std::uint8_t PrevNote = PrevOther;

    static constexpr std::size_t Count = 3 * 4 * 3 * 3;

    constexpr std::uint8_t Number() const {
        return std::uint8_t(CurRegister + 3 * (PendingAccidental + 4 * (LastMark + 3 * PrevNote)));
    }
    static constexpr State FromNumber(std::size_t number) {
        return State{std::uint8_t(number % 3), std::uint8_t(number / 3 % 4), std::uint8_t(number / 12 % 3),
                     std::uint8_t(number / 36)};
    }
};

// What one unit does in one state: the next state, and whether it makes an event with which key. The key
// still lacks the transposition.
struct Step {
    std::uint16_t next = 0; // the next state's first row: its number times SymbolIdCount
    std::int8_t key = 0;
    std::uint8_t makesEvent = 0;
};

using StepTable = std::array<Step, State::Count * detail::SymbolIdCount>;
extern const StepTable Steps;

inline constexpr std::size_t StartRow = State{}.Number() * detail::SymbolIdCount;

// The state a row of the table belongs to.
constexpr State StateOfRow(std::size_t row) {
    return State::FromNumber(row / detail::SymbolIdCount);
}

// One unit of PitchText as the walk meets it.
struct UnitSeen {
    std::size_t c;         // the unit, counted from 1
    std::uint8_t symbolId; // detail::SymbolIdOf of the pitch unit
    std::size_t rowBefore; // the state before the unit (StateOfRow)
    bool makesEvent;       // the unit is a note symbol: event number eventsBefore + 1
    std::size_t eventsBefore;
};

// The conversion's store: the fixed list, refusing a score with more events than it holds.
class FixedStore {
  public:
    explicit FixedStore(NoteEventList& list) : list_(list) {}
    NoteEvent& Slot(std::size_t n) { return n < NoteEventCapacity ? list_[n] : spare_; }
    static bool Holds(std::size_t n) { return n <= NoteEventCapacity; }

  private:
    NoteEventList& list_;
    NoteEvent spare_;
};

// An analysis's store: every event, also past the list's capacity.
class GrowingStore {
  public:
    explicit GrowingStore(std::vector<NoteEvent>& events) : events_(events) {}
    NoteEvent& Slot(std::size_t n) {
        if (n == events_.size()) events_.emplace_back();
        return events_[n];
    }
    static bool Holds(std::size_t) { return true; }

  private:
    std::vector<NoteEvent>& events_;
};

struct IgnoreUnits {
    void operator()(const UnitSeen&) const {}
};

// Where a walk stands after the texts it has walked, to go on with the texts that follow them.
struct WalkPosition {
    std::size_t row = StartRow;
    std::size_t events = 0;
    std::size_t units = 0; // units walked
};

// Walks the units of pitchText, going on from at: each unit writes the entry after the last event, and only a
// unit that makes an event moves past it, so the walk has no branch that depends on the score. The timbre and
// duration texts hold at least the bytes of the pitch text. Moves at past the units and returns true, or
// returns false as soon as the store refuses an event.
template <class Store, class Observer>
bool WalkUnits(std::string_view pitchText, std::string_view timbreText, std::string_view durationText,
               std::int32_t transpose, Store& store, Observer&& observe, WalkPosition& at) {
    std::size_t row = at.row;
    std::size_t n = at.events;
    const std::size_t units = pitchText.size() / 2;
    for (std::size_t c = 1; c <= units; ++c) {
        const std::uint8_t id = detail::SymbolIdOf(UnitAt(pitchText, c));
        const Step& step = Steps[row + id];
        if constexpr (!std::is_same_v<std::decay_t<Observer>, IgnoreUnits>)
            observe(UnitSeen{at.units + c, id, row, step.makesEvent != 0, n});
        row = step.next;
        store.Slot(n) = NoteEvent{TimbreOf(UnitAt(timbreText, c)), detail::Transposed(step.key, transpose),
                                  DurationOf(UnitAt(durationText, c))};
        n += step.makesEvent;
        if (!store.Holds(n)) [[unlikely]]
            return false;
    }
    at = WalkPosition{row, n, at.units + units};
    return true;
}

// The walk of whole aligned texts: sets count to the number of events and returns true, or returns false as
// soon as the store refuses an event.
template <class Store, class Observer>
bool WalkUnits(const AlignedTexts& texts, std::int32_t transpose, Store& store, Observer&& observe,
               std::size_t& count) {
    WalkPosition at;
    if (!WalkUnits(texts.PitchText, texts.TimbreText, texts.DurationText, transpose, store,
                   std::forward<Observer>(observe), at))
        return false;
    count = at.events;
    return true;
}

} // namespace nagisora::walk
