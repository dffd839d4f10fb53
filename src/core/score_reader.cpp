#include "core/score_reader.h"

#include "core/score_walk.h"

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

namespace {

// How much pitch text is gathered before it is walked and dropped.
constexpr std::size_t PieceBytes = std::size_t{1} << 20;

std::size_t TotalBytes(std::span<const std::string_view> lines) {
    std::size_t bytes = 0;
    for (const std::string_view line : lines)
        bytes += line.size();
    return bytes;
}

std::size_t TotalBytes(const ScoreFileLines& lines) {
    return lines.Bytes();
}

// The aligned texts of a score, gathered and walked a piece at a time: what is walked is dropped. A neighbour
// text runs ahead of the pitch text where a neighbour line is longer than its pitch line; nothing past the
// whole pitch text's length is ever walked, so for a large score, whose neighbours could pile up, that length
// is found first and the neighbour texts are cut there.
class PiecewiseWalk {
  public:
    PiecewiseWalk(std::int32_t transpose, NoteEventList& list, std::size_t pieceBytes)
        : transpose_(transpose), store_(list), pieceBytes_(pieceBytes) {}

    // Reads every line set; false when the store refuses an event.
    template <class Lines>
    bool Read(const Lines& lines) {
        if (TotalBytes(lines) > pieceBytes_) {
            std::size_t pitchBytes = 0;
            ForEachLineSet(lines,
                           [&](std::size_t, std::string_view, std::string_view pitch, std::string_view) {
                               pitchBytes += pitch.size();
                               return true;
                           });
            pitchTotal_ = pitchBytes;
        }
        bool held = true;
        ForEachLineSet(
            lines, [&](std::size_t, std::string_view above, std::string_view pitch, std::string_view below) {
                Append(above, pitch, below);
                if (pitch_.size() - walked_ >= pieceBytes_) held = Walk();
                return held;
            });
        return held && Walk();
    }

    std::size_t Events() const { return at_.events; }

  private:
    void Append(std::string_view above, std::string_view pitch, std::string_view below) {
        pitch_.append(pitch);
        AppendNeighbour(timbre_, above, pitch.size(), Room(timbre_));
        AppendNeighbour(duration_, below, pitch.size(), Room(duration_));
    }

    // How many more bytes a neighbour text may take.
    std::size_t Room(const std::string& text) const {
        const std::size_t length = dropped_ + text.size();
        return pitchTotal_ > length ? pitchTotal_ - length : 0;
    }

    // Walks the units gathered, then drops what is walked once it is the larger part.
    bool Walk() {
        const auto unwalked = [this](const std::string& text) {
            return std::string_view(text).substr(walked_);
        };
        const std::size_t before = at_.units;
        if (!walk::WalkUnits(unwalked(pitch_), unwalked(timbre_), unwalked(duration_), transpose_, store_,
                             walk::IgnoreUnits{}, at_))
            return false;
        walked_ += 2 * (at_.units - before);
        if (2 * walked_ >= std::max(timbre_.size(), duration_.size())) {
            for (std::string* text : {&pitch_, &timbre_, &duration_})
                text->erase(0, walked_);
            dropped_ += walked_;
            walked_ = 0;
        }
        return true;
    }

    std::int32_t transpose_;
    walk::FixedStore store_;
    std::size_t pieceBytes_;
    walk::WalkPosition at_;
    std::string pitch_;
    std::string timbre_;
    std::string duration_;
    std::size_t walked_ = 0;  // bytes at the front of each text already walked
    std::size_t dropped_ = 0; // bytes dropped from the front of each text
    std::size_t pitchTotal_ = std::string::npos;
};

template <class Lines>
std::optional<std::int32_t> ReadLines(const Lines& lines, std::int32_t transpose, NoteEventList& list,
                                      std::size_t pieceBytes = PieceBytes) {
    PiecewiseWalk walk(transpose, list, pieceBytes);
    if (!walk.Read(lines)) {
        list.fill(NoteEvent{});
        return std::nullopt;
    }
    std::fill(list.begin() + static_cast<std::ptrdiff_t>(walk.Events()), list.end(), NoteEvent{});
    return static_cast<std::int32_t>(walk.Events());
}

} // namespace

std::optional<std::int32_t> ReadScore(std::span<const std::string_view> lines, std::int32_t transpose,
                                      NoteEventList& list) {
    return ReadLines(lines, transpose, list);
}

std::optional<std::int32_t> ReadScore(const ScoreFileLines& lines, std::int32_t transpose,
                                      NoteEventList& list) {
    return ReadLines(lines, transpose, list);
}

std::optional<std::int32_t> detail::ReadScoreInPieces(std::span<const std::string_view> lines,
                                                      std::int32_t transpose, NoteEventList& list,
                                                      std::size_t pieceBytes) {
    return ReadLines(lines, transpose, list, pieceBytes);
}

} // namespace nagisora
