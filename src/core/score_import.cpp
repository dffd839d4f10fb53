#include "core/score_import.h"

#include "core/score_file_lines.h"
#include "core/score_walk.h"
#include "core/symbol_tables.h"
#include "core/tuplets.h"
#include "core/written_list.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <span>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

namespace nagisora {
namespace {

using walk::Steps;

constexpr std::int64_t Grid = 15; // the shortest unit, ＊: every plain boundary lies on it
constexpr std::int64_t SoftMeasureTicks = 4 * ImportTicksPerQuarter;
constexpr std::array<std::int32_t, 5> UnitTicks{240, 120, 60, 30, 15};
constexpr std::array<std::int32_t, 3> TupletSizes{3, 5, 7};
constexpr std::int64_t Tolerance = 1; // ticks a tuplet's boundary may stray in a file's rounding
constexpr std::size_t MaxUnitsPerSet = 40;

// Words of the comment lines, code page 932.
constexpr std::string_view CommentStart = "// ";
constexpr std::string_view TempoWord = "\x83\x65\x83\x93\x83\x7C ";             // "テンポ "
constexpr std::string_view PipeWord = "\x8E\xDA\x94\xAA ";                      // "尺八 "
constexpr std::string_view ShakuOpen = "\x8E\xDA\x81\x69";                      // "尺（"
constexpr std::string_view TransposeWord = "\x81\x6A\x81\x45\x89\xB9\x92\xF6 "; // "）・音程 "
constexpr std::string_view ChosenWord =
    "\x81\x69\x8E\xA9\x93\xAE\x82\xC5\x91\x49\x91\xF0\x81\x6A"; // "（自動で選択）"

// The duration unit that the reader reads as these ticks (or as the tuplet marker 3, 5, 7): the reader's
// table inverted over the full-width units, the later of two (－ before ―).
Unit DurationUnitOf(std::int32_t ticks) {
    static const std::array<Unit, 241> units = [] {
        std::array<Unit, 241> found{};
        for (unsigned u = 0x82FF; u >= 0x8100; --u) {
            const std::int32_t t = DurationOf(Unit(u));
            if (t > 0 && t <= 240 && found[std::size_t(t)] == 0) found[std::size_t(t)] = Unit(u);
        }
        return found;
    }();
    return units[std::size_t(ticks)];
}

// The ends of the slots of a tuplet of n over the base, from its start, as the tuplet pass times them.
std::array<std::int64_t, 7> TupletEnds(std::int32_t n, std::int32_t base) {
    std::array<NoteEvent, 7> group{};
    for (std::int32_t i = 0; i < n; ++i)
        group[std::size_t(i)].ticks = base;
    group[std::size_t(n / 2)].ticks = n;
    ApplyTuplets(group, n);
    std::array<std::int64_t, 7> ends{};
    std::int64_t at = 0;
    for (std::int32_t i = 0; i < n; ++i)
        ends[std::size_t(i)] = at += group[std::size_t(i)].ticks;
    return ends;
}

// The ends of the slots of every tuplet the notation writes: [size][base].
using SlotTable = std::array<std::array<std::array<std::int64_t, 7>, 5>, 3>;
const SlotTable& Slots();

struct Group {
    std::int64_t start;
    std::int32_t n;
    std::int32_t base;
    const std::array<std::int64_t, 7>* ends; // its entry of Slots()
    std::int64_t end;                        // the end of its last slot
    std::size_t firstCut = 0; // the cut its first slot begins at: slot k begins at cut firstCut + k
};

// A tuplet that holds the raw boundaries from raw[i] on, each within the tolerance of one of its slots'
// ends, up to its own end: the group, its span, how many boundaries it holds and the first one after it.
struct GroupFit {
    Group group{};
    std::int64_t span = 0;
    std::size_t held = 0;
    std::size_t next = 0;
    const std::uint64_t* onSlot = nullptr; // its entry of NearSlots() without tolerance
};

// What one unit of the pitch line spells: the symbols the reader needs for a key from its state.
struct Spelled {
    std::array<Unit, 3> units{};
    std::size_t count = 0;
    std::size_t nextRow = 0;
    bool dai = false;
};

constexpr std::array<Unit, 4> Markers{0, symbol::Otsu, symbol::Kan, symbol::Dai};
constexpr std::array<Unit, 4> Accidentals{0, symbol::Sharp, symbol::Flat, symbol::Down};

int AccidentalCost(std::size_t accidental, Spelling spelling) {
    static constexpr std::array<std::array<int, 4>, 3> costs{{
        {0, 3, 2, 4}, // none: natural first, then the flat (meri) before the sharp (kari)
        {1, 0, 3, 4}, // sharp
        {2, 3, 0, 1}, // flat
    }};
    return costs[std::size_t(spelling)][accidental];
}

// The fewest symbols that make the reader, in the state of the row, give the key: no register mark where
// the register in force or the reader's own rules reach the key, the source's accidental where it has one.
std::optional<Spelled> Spell(std::size_t row, std::int32_t key, Spelling spelling) {
    std::optional<Spelled> best;
    int bestCost = std::numeric_limits<int>::max();
    const std::uint8_t registerBefore = walk::StateOfRow(row).CurRegister;
    for (std::size_t m = 0; m < Markers.size(); ++m) {
        const std::size_t afterMark = m ? Steps[row + detail::SymbolIdOf(Markers[m])].next : row;
        for (std::size_t a = 0; a < Accidentals.size(); ++a) {
            const std::size_t afterAccidental =
                a ? Steps[afterMark + detail::SymbolIdOf(Accidentals[a])].next : afterMark;
            for (const detail::SymbolRow& symbolRow : detail::SymbolRows) {
                if (symbolRow.info.symbolClass != ClassNoteSymbol ||
                    (symbolRow.info.traits & detail::IsRestOrHold))
                    continue;
                const walk::Step& step = Steps[afterAccidental + detail::SymbolIdOf(symbolRow.unit)];
                if (!step.makesEvent || step.key != key) continue;
                const std::uint8_t registerAfter = walk::StateOfRow(step.next).CurRegister;
                const int cost =
                    (m ? 10 : 0) + 6 * AccidentalCost(a, spelling) + (registerAfter != registerBefore);
                if (cost >= bestCost) continue;
                bestCost = cost;
                Spelled s;
                if (m) s.units[s.count++] = Markers[m];
                if (a) s.units[s.count++] = Accidentals[a];
                s.units[s.count++] = symbolRow.unit;
                s.nextRow = step.next;
                s.dai = registerAfter == 2 && symbolRow.info.keys[2] != symbolRow.info.keys[0];
                best = s;
            }
        }
    }
    return best;
}

// A spelling of Spell kept for the next notes and imports: its units, how many, and the row they lead to.
struct KnownSpelling {
    std::array<Unit, 3> units{};
    std::uint8_t count = 0;
    bool known = false;
    std::uint16_t nextRow = 0;
};

// Spell of a row, key and spelling, found once by the thread and then looked up in one table by state, key
// and spelling: one load from the row to the next one. The table takes a few hundred kilobytes, made when the
// thread first imports.
class KnownSpellings {
  public:
    static KnownSpellings& OfThread() {
        thread_local KnownSpellings known;
        return known;
    }

    const KnownSpelling& Of(std::size_t row, std::int32_t key, Spelling spelling) {
        if (key < 0 || key >= 128) [[unlikely]] { // outside the MIDI keys: spelled each time
            outside_ = Find(row, key, spelling);
            return outside_;
        }
        KnownSpelling& s =
            table_[row / detail::SymbolIdCount * PerState + std::size_t(key) * 3 + std::size_t(spelling)];
        if (!s.known) [[unlikely]]
            s = Find(row, key, spelling);
        return s;
    }

  private:
    static constexpr std::size_t PerState = 128 * 3;

    static KnownSpelling Find(std::size_t row, std::int32_t key, Spelling spelling) {
        KnownSpelling s;
        s.known = true;
        s.nextRow = std::uint16_t(row);
        if (const std::optional<Spelled> found = Spell(row, key, spelling)) {
            s.units = found->units;
            s.count = std::uint8_t(found->count);
            s.nextRow = std::uint16_t(found->nextRow);
        }
        return s;
    }

    std::unique_ptr<KnownSpelling[]> table_ =
        std::make_unique<KnownSpelling[]>(walk::State::Count * PerState);
    KnownSpelling outside_;
};

// Whether some spelling reaches the key from the start of a score (a mark makes every register reachable).
const std::array<bool, 128>& WritableKeys() {
    static const std::array<bool, 128> writable = [] {
        std::array<bool, 128> w{};
        for (std::int32_t k = 0; k < 128; ++k)
            w[std::size_t(k)] = Spell(walk::StartRow, k, Spelling::None).has_value();
        return w;
    }();
    return writable;
}

bool Writable(std::int32_t key) {
    return key >= 0 && key < 128 && WritableKeys()[std::size_t(key)];
}

// A key written back into the pipe's range by whole octaves; the octaves moved.
std::int32_t OctavesIntoRange(std::int32_t key) {
    std::int32_t octaves = 0;
    while (!Writable(key + 12 * octaves) && key + 12 * octaves < 60)
        ++octaves;
    while (!Writable(key + 12 * octaves) && key + 12 * octaves > 60)
        --octaves;
    return octaves;
}

std::string NoteName(std::int32_t key) {
    static constexpr std::array<std::string_view, 12> names{"C",  "C#", "D",  "D#", "E",  "F",
                                                            "F#", "G",  "G#", "A",  "A#", "B"};
    return std::string(names[std::size_t(((key % 12) + 12) % 12)]) + std::to_string(key / 12 - 1);
}

std::string Format(const char* format, auto... values) {
    char buffer[256];
    std::snprintf(buffer, sizeof buffer, format, values...);
    return buffer;
}

enum class Kind : std::uint8_t { Note, Hold, Rest };

// Kept small: a long score has one for each of its thousands of notes, holds and rests. Its symbols are
// spelled as it is made (the units of the pitch line); what it keeps is what the layout writes.
struct Event {
    std::int64_t start;
    std::int32_t line;   // of its symbol in the text, from 1
    std::int32_t column; // from 1
    std::int16_t ticks;
    std::int16_t program; // -1: none
    std::int16_t base;
    std::int8_t tupletN; // the group's size, 0 for a plain event
    std::int8_t slot;    // place in the group
};

// The events of a measure, [first, last), and how many units their pitch symbols take.
struct Measure {
    std::size_t first;
    std::size_t last;
    std::size_t units;
};

struct MelodyNote {
    std::int64_t start;
    std::int64_t end;
    std::int32_t key;
    std::int32_t program;
    Spelling spelling;
};

// The order of a part's notes: by start, and the highest first in a chord.
bool Earlier(const ImportNote* a, const ImportNote* b) {
    return a->start != b->start ? a->start < b->start : a->key > b->key;
}

struct PendingFinding {
    ImportIssue issue;
    std::int64_t tick;
    std::string message;
};

// The working lists of an import, kept by the thread from one import to the next: a long score's lists take a
// few hundred kilobytes, which the C library would otherwise give back to the system after each import and
// fault in page by page at the next. A list grown past KeptBytes is let go.
struct WorkingLists {
    static constexpr std::size_t KeptBytes = std::size_t{1} << 20;

    std::vector<const ImportNote*> partNotes;
    WrittenList<MelodyNote> melody;
    WrittenList<std::int64_t> raw;
    WrittenList<std::int64_t> merging;
    std::vector<std::int64_t> markTicks;
    WrittenList<std::int64_t> rawCuts;
    WrittenList<std::int64_t> cuts;
    std::vector<Group> groups;
    WrittenList<Event> events;
    WrittenList<Unit> units;
    WrittenList<std::uint32_t> unitStarts;
    std::vector<std::int64_t> barTicks;
    std::vector<Measure> measures;

    // Exchanges every list with the other's: the lists move, their room with them.
    void Swap(WorkingLists& other) { std::swap(*this, other); }
    // Empties every list, keeping its room unless it is larger than KeptBytes.
    void Clear() {
        const auto clear = [](auto& list) {
            if (list.capacity() * sizeof(list[0]) > KeptBytes)
                std::decay_t<decltype(list)>().swap(list);
            else
                list.clear();
        };
        std::apply([&](auto&... lists) { (clear(lists), ...); },
                   std::tie(partNotes, melody, raw, merging, markTicks, rawCuts, cuts, groups, events, units,
                            unitStarts, barTicks, measures));
    }
};

thread_local WorkingLists keptLists;

class Importer {
  public:
    Importer(const ImportSource& source, const ImportOptions& options) : source_(source), options_(options) {
        lists_.Swap(keptLists);
    }
    ~Importer() {
        lists_.Clear();
        lists_.Swap(keptLists);
    }
    Importer(const Importer&) = delete;
    Importer& operator=(const Importer&) = delete;

    ImportResult Run();

  private:
    bool ChoosePart();
    void TakeMelody();
    template <bool checkPlain, class List, class Note>
    bool TakeNotes(List notes, Note noteOf);
    void ChoosePipe();
    std::int32_t WrittenKey(const MelodyNote& n, const std::array<bool, 128>& writable);
    [[gnu::noinline]] std::int32_t MovedIntoRange(const MelodyNote& n, std::int32_t written);
    void BuildTimeline();
    void BuildEvents();
    bool SnapNote(const MelodyNote& n, std::int64_t start, std::int64_t end, std::int32_t key);
    void ListBarTicks();
    void LayOut();
    void PlaceFindings();

    // The cut of a tick: that of the last raw boundary at or before it (0 before the first), found onward
    // from a cursor, for ticks asked for in rising order. The lists are given as spans, whose sizes stay in
    // registers while events are written.
    static std::int64_t SnapOnward(std::span<const std::int64_t> raw, std::span<const std::int64_t> cuts,
                                   std::size_t& cursor, std::int64_t tick) {
        while (cursor + 1 < raw.size() && raw[cursor + 1] <= tick)
            ++cursor;
        return cursor < raw.size() && raw[cursor] <= tick ? cuts[cursor] : 0;
    }
    std::int64_t Snap(std::int64_t tick) const {
        const auto after = std::upper_bound(raw_.begin(), raw_.end(), tick);
        return after == raw_.begin() ? 0 : rawCuts_[std::size_t(after - raw_.begin() - 1)];
    }
    // A line of the text, with its end.
    void AddLine(std::string_view line) {
        result_.text.append(line).append(LineEnd);
        ++lineCount_;
    }
    void Find(ImportIssue issue, std::int64_t tick, std::string message) {
        pending_.push_back(PendingFinding{issue, tick, std::move(message)});
    }
    bool Hard() const { return !measures_.empty(); }
    bool InsideTuplet(std::int64_t m) const;
    std::optional<GroupFit> BestGroup(std::size_t i, std::int64_t t, std::int64_t anchor,
                                      std::int64_t limit) const;
    std::int64_t MeasureStartAt(std::int64_t tick) const;

    const ImportSource& source_;
    const ImportOptions& options_;
    ImportResult result_;
    std::int32_t part_ = 0;
    WorkingLists lists_;
    WrittenList<MelodyNote>& melody_ = lists_.melody;
    std::vector<std::int64_t> measures_;
    std::int64_t end_ = 0;
    WrittenList<std::int64_t>& raw_ = lists_.raw;         // every boundary of the source, ascending
    WrittenList<std::int64_t>& rawCuts_ = lists_.rawCuts; // the cut each is snapped to
    WrittenList<std::int64_t>& cuts_ = lists_.cuts;
    std::vector<Group>& groups_ = lists_.groups;
    WrittenList<Event>& events_ = lists_.events;
    std::vector<PendingFinding> pending_;
    std::array<std::size_t, 128> keyCounts_{}; // the melody's notes by key
    std::vector<std::int32_t> otherKeys_;      // its keys outside the MIDI keys, a note each
    std::int32_t pipeShift_ = 0;               // semitones from the source's keys to the written ones
    bool chosenPipe_ = false;
    std::int32_t lineCount_ = 0; // of the text
};

std::int64_t Importer::MeasureStartAt(std::int64_t tick) const {
    if (!Hard()) return tick - tick % SoftMeasureTicks;
    const auto after = std::upper_bound(measures_.begin(), measures_.end(), tick);
    return after == measures_.begin() ? 0 : *std::prev(after);
}

bool Importer::ChoosePart() {
    const auto melodic = [&](std::int32_t part) {
        return !source_.parts[std::size_t(part)].drums &&
               std::any_of(source_.notes.begin(), source_.notes.end(),
                           [&](const ImportNote& n) { return n.part == part && !n.grace; });
    };
    const auto partCount = std::int32_t(source_.parts.size());
    if (options_.part) {
        if (*options_.part < 1 || *options_.part > partCount) {
            result_.refusal =
                Failure::Refused(Format("パート %d はありません（1 から %d）", *options_.part, partCount));
            return false;
        }
        part_ = *options_.part - 1;
        if (!melodic(part_)) {
            result_.refusal =
                Failure::Refused(Format("パート %d に読み込める音符がありません", *options_.part));
            return false;
        }
    } else {
        part_ = 0;
        while (part_ < partCount && !melodic(part_))
            ++part_;
        if (part_ == partCount) {
            const bool drums =
                std::any_of(source_.notes.begin(), source_.notes.end(),
                            [&](const ImportNote& n) { return source_.parts[std::size_t(n.part)].drums; });
            result_.refusal = Failure::Refused(drums ? "打楽器のパートしかありません" : "音符がありません");
            return false;
        }
    }
    result_.part = part_ + 1;
    result_.settings.instrument = source_.parts[std::size_t(part_)].program;
    result_.settings.volume = source_.parts[std::size_t(part_)].velocity;
    std::string others;
    for (std::int32_t p = 0; p < partCount; ++p) {
        if (p == part_ || !std::any_of(source_.notes.begin(), source_.notes.end(),
                                       [&](const ImportNote& n) { return n.part == p; }))
            continue;
        others += Format("%s%d「%s」", others.empty() ? "" : "、", p + 1,
                         source_.parts[std::size_t(p)].name.c_str());
    }
    if (!others.empty())
        Find(ImportIssue::OtherParts, 0,
             "パート " + std::to_string(part_ + 1) + " だけを読み込みました。ほかのパート: " + others);
    return true;
}

void Importer::TakeMelody() {
    // A source of this part's notes alone, in order and none a grace note nor empty, as the program's own
    // images and most melodies: taken as it is, without a list of the part's notes. At the first note that
    // is not, what was taken is dropped and the part's notes are listed.
    const std::size_t findingsBefore = pending_.size();
    if (TakeNotes</*checkPlain=*/true>(std::span<const ImportNote>(source_.notes),
                                       [](const ImportNote& n) -> const ImportNote& { return n; }))
        return;
    melody_.clear();
    pending_.resize(findingsBefore);
    keyCounts_.fill(0);
    otherKeys_.clear();
    std::vector<const ImportNote*>& notes = lists_.partNotes;
    notes.reserve(source_.notes.size());
    for (const ImportNote& n : source_.notes) {
        if (n.part != part_) continue;
        if (n.grace) {
            Find(ImportIssue::Grace, n.start, "装飾音 " + NoteName(n.key) + " を省きました");
            continue;
        }
        if (n.length <= 0) continue;
        notes.push_back(&n);
    }
    if (!std::is_sorted(notes.begin(), notes.end(), Earlier))
        std::stable_sort(notes.begin(), notes.end(), Earlier);
    TakeNotes</*checkPlain=*/false>(std::span<const ImportNote* const>(notes),
                                    [](const ImportNote* n) -> const ImportNote& { return *n; });
}

// The melody from the part's notes in order: the highest of a chord, each cut at the next one's start; its
// notes counted by key. With checkPlain, false at the first note that is of another part, a grace note,
// empty or out of order.
template <bool checkPlain, class List, class Note>
bool Importer::TakeNotes(List notes, Note noteOf) {
    // Written by index through a cursor held in a register, into room for every note, and cut to what was
    // taken.
    melody_.resize(notes.size());
    MelodyNote* const melody = melody_.data();
    std::size_t count = 0;
    for (std::size_t i = 0; i < notes.size(); ++i) {
        const ImportNote& n = noteOf(notes[i]);
        if constexpr (checkPlain)
            if (n.part != part_ || n.grace || n.length <= 0 || (i > 0 && Earlier(&n, &noteOf(notes[i - 1]))))
                return false;
        if (count > 0) {
            MelodyNote& last = melody[count - 1];
            if (last.start == n.start) {
                Find(ImportIssue::Chord, n.start,
                     "和音: いちばん高い " + NoteName(last.key) + " だけを残し、" + NoteName(n.key) +
                         " を省きました");
                continue;
            }
            if (last.end > n.start) {
                Find(ImportIssue::Overlap, n.start,
                     NoteName(last.key) + " が次の音 " + NoteName(n.key) +
                         " と重なるので、次の音の始まりで切りました（" + std::to_string(last.end - n.start) +
                         " ティック）");
                last.end = n.start;
            }
        }
        MelodyNote& m = melody[count++]; // field by field, as the events (see BuildEvents)
        m.start = n.start;
        m.end = n.start + n.length;
        m.key = n.key;
        m.program = n.program;
        m.spelling = n.spelling;
        if (n.key >= 0 && n.key < 128)
            ++keyCounts_[std::size_t(n.key)];
        else
            otherKeys_.push_back(n.key);
    }
    melody_.resize(count);
    return true;
}

void Importer::ChoosePipe() {
    struct Choice {
        PipeLength pipe;
        std::int32_t octave;
        std::size_t outOfRange;
        std::size_t dai;
    };
    // A choice is weighed over the melody's keys as counted (TakeNotes), not over every note; a source
    // outside the MIDI keys is weighed note by note.
    const std::array<std::size_t, 128>& notesOfKey = keyCounts_;
    const std::vector<std::int32_t>& otherKeys = otherKeys_;
    const auto evaluate = [&](const PipeLength& pipe, std::int32_t octave) {
        Choice c{pipe, octave, 0, 0};
        const auto weigh = [&](std::int32_t source, std::size_t count) {
            const std::int32_t key = source - pipe.semitones + octave;
            const bool writable = Writable(key);
            c.outOfRange += writable ? 0 : count;
            c.dai += key > 77 && writable ? count : 0;
        };
        for (std::int32_t source = 0; source < 128; ++source)
            if (notesOfKey[std::size_t(source)] > 0) weigh(source, notesOfKey[std::size_t(source)]);
        for (const std::int32_t source : otherKeys)
            weigh(source, 1);
        return c;
    };
    Choice chosen{};
    if (options_.pipe) {
        chosen = evaluate(PipeOfLength(*options_.pipe).value_or(*PipeOfLength(StandardPipeTenths)), 0);
    } else {
        chosenPipe_ = true;
        bool any = false;
        for (const PipeLength& pipe : PipeLengths)
            for (const std::int32_t octave : {0, -12, 12, -24, 24}) {
                if (std::abs(pipe.semitones - octave) > 16) continue;
                const Choice c = evaluate(pipe, octave);
                const auto rank = [](const Choice& x) {
                    return std::tuple(x.outOfRange, x.dai, std::abs(x.octave), std::abs(x.pipe.semitones));
                };
                if (!any || rank(c) < rank(chosen)) chosen = c;
                any = true;
            }
    }
    result_.pipe = chosen.pipe;
    result_.octaveShift = chosen.octave;
    result_.settings.transpose = chosen.pipe.semitones - chosen.octave;
    pipeShift_ = chosen.octave - chosen.pipe.semitones; // the keys are written so as the melody is snapped
}

// The key a note of the source is written with on the chosen pipe: out of its range, moved in by octaves,
// which a finding says.
std::int32_t Importer::WrittenKey(const MelodyNote& n, const std::array<bool, 128>& writable) {
    const std::int32_t written = n.key + pipeShift_;
    if (written >= 0 && written < 128 && writable[std::size_t(written)]) [[likely]]
        return written;
    return MovedIntoRange(n, written);
}

std::int32_t Importer::MovedIntoRange(const MelodyNote& n, std::int32_t written) {
    const std::int32_t octaves = OctavesIntoRange(written);
    if (octaves != 0)
        Find(ImportIssue::OutOfRange, n.start,
             NoteName(n.key) + " は管の音域の外なので、" + std::to_string(std::abs(octaves)) + " オクターブ" +
                 (octaves > 0 ? "上げて" : "下げて") + "書きました");
    return written + 12 * octaves;
}

const SlotTable& Slots() {
    static const SlotTable slots = [] {
        SlotTable table{};
        for (std::size_t n = 0; n < TupletSizes.size(); ++n)
            for (std::size_t b = 0; b < UnitTicks.size(); ++b)
                table[n][b] = TupletEnds(TupletSizes[n], UnitTicks[b]);
        return table;
    }();
    return slots;
}

// A group that may hold a boundary at the end of its slot: of the size and base (indices into TupletSizes
// and UnitTicks), whose start lies the slot's end before the boundary, moved by the shift.
struct Candidate {
    std::uint8_t size;
    std::uint8_t base;
    std::int8_t shift;
    std::int64_t slotEnd;
};
// The candidates of a boundary within each tolerance that start on the grid, by how far the boundary lies
// past the grid: [tolerance][ticks past the grid], in the order in which they are tried.
using CandidateTable = std::array<std::array<std::vector<Candidate>, Grid>, Tolerance + 1>;

const CandidateTable& Candidates() {
    static const CandidateTable table = [] {
        CandidateTable t;
        const SlotTable& slots = Slots();
        for (std::int64_t tolerance = 0; tolerance <= Tolerance; ++tolerance)
            for (std::int64_t phase = 0; phase < Grid; ++phase)
                for (std::size_t n = 0; n < TupletSizes.size(); ++n)
                    for (std::size_t b = 0; b < UnitTicks.size(); ++b)
                        for (std::int32_t k = 0; k < TupletSizes[n]; ++k)
                            for (std::int64_t d = -tolerance; d <= tolerance; ++d) {
                                const std::int64_t slotEnd = slots[n][b][std::size_t(k)];
                                if ((phase + d - slotEnd) % Grid == 0)
                                    t[std::size_t(tolerance)][std::size_t(phase)].push_back(
                                        Candidate{std::uint8_t(n), std::uint8_t(b), std::int8_t(d), slotEnd});
                            }
        return t;
    }();
    return table;
}

const std::array<std::int64_t, 7>& SlotsOf(const Group& g) {
    return *g.ends;
}

std::int64_t GroupEnd(const Group& g) {
    return g.end;
}

// Which ticks from a group's start lie within the tolerance of one of its slots' ends, up to its span and the
// tolerance: one bit a tick, [tolerance][size][base], so that a boundary is tried against all slots at once.
using NearSlotTable = std::array<std::array<std::array<std::vector<std::uint64_t>, 5>, 3>, Tolerance + 1>;

const NearSlotTable& NearSlots() {
    static const NearSlotTable table = [] {
        NearSlotTable t;
        const SlotTable& slots = Slots();
        for (std::int64_t tolerance = 0; tolerance <= Tolerance; ++tolerance)
            for (std::size_t n = 0; n < TupletSizes.size(); ++n)
                for (std::size_t b = 0; b < UnitTicks.size(); ++b) {
                    const std::array<std::int64_t, 7>& ends = slots[n][b];
                    const std::int64_t last = ends[std::size_t(TupletSizes[n] - 1)] + tolerance;
                    std::vector<std::uint64_t>& bits = t[std::size_t(tolerance)][n][b];
                    bits.assign(std::size_t(last / 64 + 1), 0);
                    for (std::int64_t at = 0; at <= last; ++at)
                        if (std::any_of(ends.begin(), ends.begin() + TupletSizes[n],
                                        [&](std::int64_t e) { return std::abs(at - e) <= tolerance; }))
                            bits[std::size_t(at / 64)] |= std::uint64_t{1} << (at % 64);
                }
        return t;
    }();
    return table;
}

// The tables are given by the caller, which takes them once for all its tries.
std::optional<GroupFit> FitGroup(std::span<const std::int64_t> raw, std::size_t i, std::size_t n,
                                 std::size_t b, std::int64_t start, std::int64_t tolerance,
                                 std::int64_t limit, const SlotTable& slots, const NearSlotTable& nearSlots) {
    const std::int32_t size = TupletSizes[n];
    const std::array<std::int64_t, 7>& slotEnds = slots[n][b];
    const std::int64_t span = slotEnds[std::size_t(size - 1)];
    if (start + span > limit + tolerance || start + span < raw[i] - tolerance) return std::nullopt;
    GroupFit fit{Group{start, size, UnitTicks[b], &slotEnds, start + span}, span, 0, i,
                 nearSlots[0][n][b].data()};
    const std::uint64_t* const near = nearSlots[std::size_t(tolerance)][n][b].data();
    for (; fit.next < raw.size() && raw[fit.next] <= start + span + tolerance; ++fit.next, ++fit.held) {
        // The boundaries from raw[i] lie at or after the start (the start lies a slot's end before raw[i])
        // and by the loop's test within the span and the tolerance.
        const std::int64_t at = raw[fit.next] - start;
        if (at < 0 || (near[std::size_t(at / 64)] >> (at % 64) & 1) == 0) return std::nullopt;
    }
    if (fit.held == 0) return std::nullopt;
    return fit;
}

// The slot end of the group nearest to a raw boundary it holds.
std::int64_t SlotCut(const Group& group, std::int64_t raw) {
    const std::array<std::int64_t, 7>& ends = SlotsOf(group);
    std::int64_t best = group.start + ends[0];
    for (std::int32_t k = 1; k < group.n; ++k)
        if (std::abs(raw - (group.start + ends[std::size_t(k)])) < std::abs(raw - best))
            best = group.start + ends[std::size_t(k)];
    return best;
}

// Whether the bar line at m lies inside a note that begins or ends off the grid of the measure before it: a
// tuplet goes on over the bar line there (the score's own ｜ may stand inside one), and a file that counts
// in its own units put its measure's end a little off the note's; the measure goes on over it.
bool Importer::InsideTuplet(std::int64_t m) const {
    if (measures_.empty()) return false;
    const auto after = std::partition_point(melody_.begin(), melody_.end(),
                                            [&](const MelodyNote& n) { return n.start < m; });
    if (after == melody_.begin()) return false;
    const MelodyNote& n = *std::prev(after);
    const std::int64_t anchor = measures_.back();
    return m < n.end && ((n.start - anchor) % Grid != 0 || (n.end - anchor) % Grid != 0);
}

void Importer::BuildTimeline() {
    end_ = source_.end;
    for (const MelodyNote& n : melody_)
        end_ = std::max(end_, n.end);
    if (!source_.measures.empty()) {
        for (const std::int64_t m : source_.measures)
            if (m < end_ && (measures_.empty() || m > measures_.back()) && !InsideTuplet(m))
                measures_.push_back(m);
        if (measures_.empty() || measures_.front() > 0) measures_.insert(measures_.begin(), 0);
    }
    // Every boundary, ascending and each once: the melody's starts and ends are in order already (a note
    // ends by the next one's start), as are the measures; the marks are sorted unless the source gave them
    // in order. Each list is merged into the boundaries in one pass, through the kept second list.
    WrittenList<std::int64_t>& raw = raw_;
    WrittenList<std::int64_t>& merging = lists_.merging;
    raw.resize(2 * melody_.size());
    std::size_t count = 0;
    for (const MelodyNote& n : melody_) {
        if (count == 0 || raw[count - 1] != n.start) raw[count++] = n.start;
        raw[count++] = n.end;
    }
    raw.resize(count);
    const auto mergeIntoRaw = [&raw, &merging](std::span<const std::int64_t> more) {
        if (more.empty()) return;
        merging.resize(raw.size() + more.size());
        std::size_t a = 0, b = 0, out = 0;
        const auto put = [&](std::int64_t tick) {
            if (out == 0 || merging[out - 1] != tick) merging[out++] = tick;
        };
        while (a < raw.size() && b < more.size())
            put(raw[a] <= more[b] ? raw[a++] : more[b++]);
        for (; a < raw.size(); ++a)
            put(raw[a]);
        for (; b < more.size(); ++b)
            put(more[b]);
        merging.resize(out);
        raw.swap(merging);
    };
    std::vector<std::int64_t>& marks = lists_.markTicks;
    for (const ImportMark& m : source_.marks)
        if (m.part == part_ && m.tick < end_) marks.push_back(m.tick);
    if (!std::is_sorted(marks.begin(), marks.end())) std::sort(marks.begin(), marks.end());
    mergeIntoRaw(marks);
    mergeIntoRaw(measures_);
    if (raw.empty() || raw.back() < end_) raw.push_back(end_);

    // The cuts are written by index into room for one a boundary, grown where tuplets add more.
    WrittenList<std::int64_t>& cuts = cuts_;
    cuts.resize(raw.size() + 1);
    std::size_t cutCount = 0;
    const auto addCut = [&cuts, &cutCount](std::int64_t cut) {
        if (cutCount == cuts.size()) [[unlikely]]
            cuts.resize(2 * cuts.size());
        cuts[cutCount++] = cut;
    };
    rawCuts_.resize(raw.size());
    const std::span<std::int64_t> rawCuts(rawCuts_);
    const std::span<const std::int64_t> measures(measures_);
    const bool hard = Hard();
    std::int64_t t = 0;
    addCut(0);
    std::size_t i = 0;
    std::size_t measure = 0; // the last measure that starts at or before t
    while (i < raw.size()) {
        const std::int64_t r = raw[i];
        if (r <= t) {
            rawCuts[i] = t;
            ++i;
            continue;
        }
        // t only grows: the measure that holds it is found onward from the last one.
        while (measure + 1 < measures.size() && measures[measure + 1] <= t)
            ++measure;
        // Four beats are whole units of the grid: without the source's measures the grid is the one from 0,
        // and the boundary's place on it does not wait for t.
        static_assert(SoftMeasureTicks % Grid == 0);
        const std::int64_t anchor = hard ? measures[measure] : 0;
        const std::int64_t measureEnd = measure + 1 < measures.size() ? measures[measure + 1] : end_;
        const std::int64_t onGrid = anchor + (r - anchor + Grid / 2) / Grid * Grid;
        // A boundary off the grid lies in a tuplet.
        if (r != onGrid) [[unlikely]] {
            if (const std::optional<GroupFit> best = BestGroup(i, t, anchor, hard ? measureEnd : end_)) {
                const Group& g = best->group;
                if (g.start > t) addCut(g.start);
                groups_.push_back(g);
                groups_.back().firstCut = cutCount - 1;
                const std::array<std::int64_t, 7>& slotEnds = SlotsOf(g);
                for (std::int32_t k = 0; k < g.n; ++k)
                    addCut(g.start + slotEnds[std::size_t(k)]);
                for (std::size_t j = i; j < best->next; ++j) {
                    // A boundary on a slot's end is its own cut.
                    const std::int64_t at = raw[j] - g.start;
                    const bool onSlot =
                        at >= 0 && at <= best->span && (best->onSlot[std::size_t(at / 64)] >> (at % 64) & 1);
                    rawCuts[j] = onSlot ? raw[j] : SlotCut(g, raw[j]);
                }
                t = g.start + best->span;
                i = best->next;
                continue;
            }
        }
        std::int64_t cut = onGrid;
        if (hard && (r == measureEnd || cut > measureEnd)) cut = std::min(r, measureEnd);
        rawCuts[i] = std::max(cut, t);
        if (cut > t) {
            addCut(cut);
            t = cut;
        }
        ++i;
    }
    cuts.resize(cutCount);
    end_ = cuts.back();
}

// The tuplet that holds the raw boundary i, off the grid, past t: the group starts at t or, inside a note
// that goes on into it, at a later point of the grid, the nearest to the boundary first; exact fits before
// fits within the rounding of a file's ticks. The group holds the boundary at the end of one of its slots:
// its start lies that far before it, on the grid and not before t. Of the groups that hold the boundaries,
// the one that holds the most, then the one starting at t, then the shortest.
std::optional<GroupFit> Importer::BestGroup(std::size_t i, std::int64_t t, std::int64_t anchor,
                                            std::int64_t limit) const {
    const std::span<const std::int64_t> raw(raw_);
    const std::int64_t r = raw[i];
    std::optional<GroupFit> best;
    const auto rank = [&](const GroupFit& f) { return std::tuple(f.held, f.group.start == t, -f.span); };
    const std::size_t phase = std::size_t(((r - anchor) % Grid + Grid) % Grid);
    const CandidateTable& candidates = Candidates();
    const SlotTable& slots = Slots();
    const NearSlotTable& nearSlots = NearSlots();
    for (std::int64_t tolerance = 0; tolerance <= Tolerance && !best; ++tolerance)
        for (const Candidate& c : candidates[std::size_t(tolerance)][phase]) {
            const std::int64_t start = r - c.slotEnd + c.shift;
            if (start < t) continue;
            std::optional<GroupFit> fit =
                FitGroup(raw, i, c.size, c.base, start, tolerance, limit, slots, nearSlots);
            if (fit && (!best || rank(*fit) > rank(*best))) best = fit;
        }
    return best;
}

// Whether a note of the source snapped from its start and end to these stays, written with the key; a note
// too short to write is left out, and a note moved is said.
bool Importer::SnapNote(const MelodyNote& n, std::int64_t start, std::int64_t end, std::int32_t key) {
    if (end <= start) {
        Find(ImportIssue::TooShort, n.start,
             NoteName(key) + " は短すぎて書けないので省きました（" + std::to_string(n.end - n.start) +
                 " ティック）");
        return false;
    }
    Find(ImportIssue::Quantised, n.start,
         Format("長さを記譜の単位に丸めました（始まり %+lld、終わり %+lld ティック、4 分音符 = 120）",
                static_cast<long long>(start - n.start), static_cast<long long>(end - n.end)));
    return true;
}

// Where bar lines stand: at each measure's start, or, where the source has no measures, every four beats.
// A bar line goes before the first event at or after its tick that begins outside a tuplet.
void Importer::ListBarTicks() {
    std::vector<std::int64_t>& bars = lists_.barTicks;
    for (const std::int64_t m : measures_)
        if (m != 0) bars.push_back(m);
    if (!Hard())
        for (std::int64_t m = SoftMeasureTicks; m < end_; m += SoftMeasureTicks)
            bars.push_back(m);
}

void Importer::BuildEvents() {
    const std::span<const std::int64_t> cuts(cuts_);
    const std::span<const Group> groups(groups_);
    // The holds' cuts: their ticks in order, snapped by one cursor (a source's marks come in order).
    std::vector<std::int64_t> holds;
    for (const ImportMark& m : source_.marks)
        if (m.part == part_ && m.kind == MarkKind::Hold) holds.push_back(m.tick);
    if (!std::is_sorted(holds.begin(), holds.end())) std::sort(holds.begin(), holds.end());
    std::size_t cursor = 0;
    for (std::int64_t& h : holds)
        h = SnapOnward(raw_, rawCuts_, cursor, h);
    if (!std::is_sorted(holds.begin(), holds.end())) std::sort(holds.begin(), holds.end());
    ListBarTicks();

    // Each event is spelled as it is made: its units follow the last event's, from the state the reader is
    // in after them; a bar line before it begins a measure. The events, their units and where each event's
    // units begin are written by index through cursors held in registers, into room for the events the cuts
    // make and three units an event (a whole spelling, written without a branch on its length); the lists
    // grow when full and are cut to what was written.
    WrittenList<Unit>& units = lists_.units;
    WrittenList<std::uint32_t>& unitStarts = lists_.unitStarts;
    std::vector<Measure>& measures = lists_.measures;
    const std::span<const std::int64_t> bars(lists_.barTicks);
    std::size_t room = 0;
    Event* eventList = nullptr;
    Unit* unitList = nullptr;
    std::uint32_t* unitStartList = nullptr;
    const auto makeRoom = [&](std::size_t events) {
        room = events;
        events_.resize(room);
        unitStarts.resize(room + 1);
        units.resize(3 * room);
        eventList = events_.data();
        unitList = units.data();
        unitStartList = unitStarts.data();
    };
    makeRoom(std::max<std::size_t>(cuts.size() + cuts.size() / 2, 16));
    measures.reserve(bars.size() + 1);
    std::size_t count = 0;   // events written
    std::size_t written = 0; // units written
    std::size_t measureFirst = 0;
    std::size_t measureUnits = 0;
    std::size_t bar = 0;
    std::size_t row = walk::StartRow;
    KnownSpellings& known = KnownSpellings::OfThread();
    // The notes of the melody one after the other, snapped to the cuts and with their keys as written.
    // Each note ends by the next one's start: one cursor finds the starts and ends in turn.
    const std::span<const std::int64_t> raw(raw_);
    const std::span<const std::int64_t> rawCuts(rawCuts_);
    const std::span<const MelodyNote> melody(melody_);
    const std::array<bool, 128>& writable = WritableKeys();
    std::size_t nextNote = 0;
    std::size_t snapCursor = 0;
    const auto nextOf = [&](MelodyNote& note) {
        while (nextNote < melody.size()) {
            const MelodyNote& n = melody[nextNote++];
            const std::int32_t key = WrittenKey(n, writable);
            const std::int64_t start = SnapOnward(raw, rawCuts, snapCursor, n.start);
            const std::int64_t end = SnapOnward(raw, rawCuts, snapCursor, n.end);
            if ((start != n.start || end != n.end) && !SnapNote(n, start, end, key)) continue;
            note.start = start;
            note.end = end;
            note.key = key;
            note.program = n.program;
            note.spelling = n.spelling;
            return true;
        }
        return false;
    };
    MelodyNote note{};
    bool sounding = nextOf(note);
    std::size_t group = 0;
    std::size_t hold = 0; // the cuts rise: the holds are passed over once
    for (std::size_t c = 0; c + 1 < cuts.size(); ++c) {
        const std::int64_t a = cuts[c];
        const std::int64_t b = cuts[c + 1];
        while (sounding && note.end <= a)
            sounding = nextOf(note);
        Kind kind = Kind::Rest;
        std::int32_t key = 0;
        std::int32_t program = -1;
        Spelling spelling = Spelling::None;
        if (sounding && note.start <= a) {
            kind = note.start == a ? Kind::Note : Kind::Hold;
            key = note.key;
            program = kind == Kind::Note ? note.program : -1;
            spelling = note.spelling;
        } else {
            while (hold < holds.size() && holds[hold] < a)
                ++hold;
            kind = hold < holds.size() && holds[hold] == a ? Kind::Hold : Kind::Rest;
        }
        while (group < groups.size() && GroupEnd(groups[group]) <= a)
            ++group;
        // A slot of a tuplet is one event. Otherwise the longest unit as often as it fits, then at most one
        // of each shorter one: the bits of what is left counted in the shortest unit, highest first.
        static_assert(UnitTicks ==
                      std::array<std::int32_t, 5>{16 * Grid, 8 * Grid, 4 * Grid, 2 * Grid, Grid});
        const Group* const inGroup =
            group < groups.size() && groups[group].start <= a ? &groups[group] : nullptr;
        const std::int32_t slot = inGroup ? std::int32_t(c - inGroup->firstCut) : 0;
        std::int64_t start = a;
        std::int64_t left = b - a;
        while (inGroup || left >= Grid) {
            const std::int64_t ticks = inGroup ? left
                                       : left >= UnitTicks[0]
                                           ? UnitTicks[0]
                                           : Grid * std::bit_floor(std::uint64_t(left / Grid));
            if (count == room) [[unlikely]]
                makeRoom(2 * room);
            // The event's symbols, spelled from the state the reader is in after the last event's; a bar
            // line before it begins a measure.
            if (slot == 0 && bar < bars.size() && bars[bar] <= start) {
                if (count > 0) {
                    measures.push_back(Measure{measureFirst, count, measureUnits});
                    measureFirst = count;
                    measureUnits = 0;
                }
                while (bar < bars.size() && bars[bar] <= start)
                    ++bar;
            }
            unitStartList[count] = std::uint32_t(written);
            Unit* const to = unitList + written;
            const std::size_t before = written;
            if (kind == Kind::Note) {
                const KnownSpelling& s = known.Of(row, key, spelling);
                // Unit by unit: a copy of the three as one piece is a call of memmove for six bytes.
                to[0] = s.units[0];
                to[1] = s.units[1];
                to[2] = s.units[2];
                written += s.count;
                row = s.nextRow;
            } else {
                const Unit symbol = kind == Kind::Hold ? symbol::Hold : symbol::Rest;
                to[0] = symbol;
                ++written;
                row = Steps[row + detail::SymbolIdOf(symbol)].next;
            }
            measureUnits += written - before;
            // Written field by field where it stays: a whole event put together first and then copied in
            // is read back through its narrow fields' stores, which stalls on every event.
            Event& e = eventList[count++];
            e.start = start;
            e.line = 0;
            e.column = 0;
            e.ticks = std::int16_t(ticks);
            e.program = std::int16_t(program);
            e.slot = std::int8_t(slot);
            e.tupletN = inGroup ? std::int8_t(inGroup->n) : 0;
            e.base = inGroup ? std::int16_t(inGroup->base) : 0;
            if (inGroup) break;
            start += ticks;
            left -= ticks;
            kind = kind == Kind::Note ? Kind::Hold : kind;
            program = -1;
        }
    }
    // The notes after the last cut are snapped too, for what they say.
    while (sounding)
        sounding = nextOf(note);
    if (count > 0) measures.push_back(Measure{measureFirst, count, measureUnits});
    unitStartList[count] = std::uint32_t(written);
    events_.resize(count);
    unitStarts.resize(count + 1);
    units.resize(written);
    if (count > NoteEventCapacity)
        Find(ImportIssue::TooManyEvents, events_[NoteEventCapacity].start,
             Format("音符・休符が %zu 個あり、%zu 個を超える分は変換されません", count, NoteEventCapacity));
}

void Importer::LayOut() {
    const std::span<Event> events(events_);
    const std::vector<Measure>& measures = lists_.measures;
    const WrittenList<Unit>& units = lists_.units;
    const WrittenList<std::uint32_t>& at = lists_.unitStarts;
    const std::span<const Unit> unitList(units);
    const std::span<const std::uint32_t> unitStarts(at);

    // Line sets of one measure, or two where they are short; a set whose pitch line would hold no symbol
    // that makes a line a pitch line (only ○, ヰ, 大, ＃...) goes with the set before it, or the one after.
    std::vector<std::pair<std::size_t, std::size_t>> sets; // first measure, measures
    sets.reserve(measures.size());
    for (std::size_t m = 0; m < measures.size();) {
        const std::size_t count =
            m + 1 < measures.size() && measures[m].units + measures[m + 1].units + 2 <= MaxUnitsPerSet ? 2
                                                                                                       : 1;
        sets.emplace_back(m, count);
        m += count;
    }
    const auto marksPitchLine = [&](const std::pair<std::size_t, std::size_t>& set) {
        const std::size_t from = at[measures[set.first].first];
        const std::size_t to = at[measures[set.first + set.second - 1].last];
        return std::any_of(units.begin() + std::ptrdiff_t(from), units.begin() + std::ptrdiff_t(to),
                           IsPitchLineSymbol);
    };
    for (std::size_t k = 0; k < sets.size() && sets.size() > 1;) {
        if (marksPitchLine(sets[k])) {
            ++k;
            continue;
        }
        const std::size_t into = k > 0 ? k - 1 : k;
        sets[into] = {sets[into].first, sets[into].second + sets[into + 1].second};
        sets.erase(sets.begin() + std::ptrdiff_t(into + 1));
        k = into;
    }

    // The three lines of a set are written side by side through cursors: the timbre line into a scratch
    // line of its full length, cut after its last number; the pitch and duration lines, each with its line
    // end, into one scratch block of their full lengths. Both go into the text, one text for the whole
    // score, not a string a line.
    std::string& text = result_.text;
    text.reserve(text.size() + 6 * (units.size() + measures.size()) + 6 * sets.size());
    const std::span<const Measure> measureList(measures);
    std::string timbre, block;

    static constexpr char Hex[] = "0123456789ABCDEF";
    for (const auto& [m, count] : sets) {
        const std::size_t setUnits = at[measures[m + count - 1].last] - at[measures[m].first] + count;
        timbre.assign(2 * setUnits, ' ');
        block.resize(2 * (2 * setUnits + LineEnd.size()));
        char* timbreAt = timbre.data();
        char* timbreEnd = timbreAt; // past the last timbre number: the line ends there, without its blanks
        char* pitchAt = block.data();
        char* durationAt = pitchAt + 2 * setUnits + LineEnd.size();
        // A unit's two bytes, lead byte first, as one store.
        const auto put = [](char*& at, Unit unit) {
            const std::array<char, 2> bytes{char(unit >> 8), char(unit & 0xFF)};
            std::memcpy(at, bytes.data(), 2);
            at += 2;
        };
        const std::int32_t pitchLine = lineCount_ + 2;
        std::int32_t column = 1;
        for (std::size_t k = m; k < m + count; ++k) {
            const Measure& measure = measureList[k];
            for (std::size_t i = measure.first; i < measure.last; ++i) {
                const std::uint32_t from = unitStarts[i];
                const std::uint32_t to = unitStarts[i + 1];
                if (from == to) continue;
                // The units before the last stand over blanks; the last over the timbre and the duration.
                for (std::uint32_t u = from; u + 1 < to; ++u) {
                    put(pitchAt, unitList[u]);
                    timbreAt += 2;
                    put(durationAt, symbol::Space);
                    ++column;
                }
                put(pitchAt, unitList[to - 1]);
                Event& ev = events[i];
                if (ev.program >= 0) {
                    timbreAt[0] = Hex[(ev.program >> 4) & 0xF];
                    timbreAt[1] = Hex[ev.program & 0xF];
                    timbreEnd = timbreAt + 2;
                }
                timbreAt += 2;
                const std::int32_t ticks = ev.tupletN == 0             ? ev.ticks
                                           : ev.slot == ev.tupletN / 2 ? ev.tupletN
                                                                       : ev.base;
                put(durationAt, DurationUnitOf(ticks));
                ev.line = pitchLine;
                ev.column = column++;
            }
            put(pitchAt, symbol::BarLine);
            put(durationAt, symbol::BarLine);
            timbreAt += 2;
            ++column;
        }
        // Every unit of the set stands in the pitch and duration lines: they are full.
        std::memcpy(pitchAt, LineEnd.data(), LineEnd.size());
        std::memcpy(durationAt, LineEnd.data(), LineEnd.size());
        AddLine(std::string_view(timbre.data(), std::size_t(timbreEnd - timbre.data())));
        text.append(block);
        lineCount_ += 2;
    }
}

void Importer::PlaceFindings() {
    for (const ImportChange& k : source_.keys)
        if (k.tick > 0)
            Find(ImportIssue::KeyChange, k.tick,
                 Format("調号が変わります（%+d）: 臨時記号で書きました", k.value));
    for (const ImportChange& t : source_.tempoChanges)
        Find(ImportIssue::TempoChange, t.tick,
             Format("テンポが %d に変わりますが、楽譜はテンポ %d のままです", t.value,
                    result_.settings.tempo));
    std::stable_sort(pending_.begin(), pending_.end(),
                     [](const PendingFinding& a, const PendingFinding& b) { return a.tick < b.tick; });
    for (PendingFinding& p : pending_) {
        ImportFinding f;
        f.issue = p.issue;
        const std::int64_t measureStart = MeasureStartAt(p.tick);
        f.measure = Hard() ? std::int32_t(std::upper_bound(measures_.begin(), measures_.end(), p.tick) -
                                          measures_.begin())
                           : std::int32_t(p.tick / SoftMeasureTicks + 1);
        f.tickInMeasure = p.tick - measureStart;
        const std::int64_t at = Snap(p.tick);
        auto ev = std::upper_bound(events_.begin(), events_.end(), at,
                                   [](std::int64_t t, const Event& x) { return t < x.start; });
        if (ev != events_.begin()) --ev;
        if (ev != events_.end()) {
            f.line = ev->line;
            f.column = ev->column;
        }
        f.message = std::move(p.message);
        result_.findings.push_back(std::move(f));
    }
}

ImportResult Importer::Run() {
    result_.settings = source_.settings;
    if (!ChoosePart()) return std::move(result_);
    TakeMelody();
    ChoosePipe();
    BuildTimeline();
    BuildEvents();
    if (events_.empty()) {
        result_.refusal = Failure::Refused("音符がありません");
        return std::move(result_);
    }
    if (!source_.title.empty()) AddLine(std::string(CommentStart) + source_.title);
    AddLine(std::string(CommentStart) + std::string(TempoWord) + std::to_string(result_.settings.tempo));
    const PipeLength& pipe = result_.pipe;
    AddLine(std::string(CommentStart) + std::string(PipeWord) +
            Format("%d.%d", pipe.tenths / 10, pipe.tenths % 10) + std::string(ShakuOpen) +
            std::string(pipe.note) + std::string(TransposeWord) + std::to_string(result_.settings.transpose) +
            (chosenPipe_ ? std::string(ChosenWord) : ""));
    LayOut();
    PlaceFindings();
    return std::move(result_);
}

} // namespace

std::vector<std::string_view> ImportResult::Lines() const {
    return SplitScoreFileLines(text);
}

std::string SourcePlaceText(const ImportFinding& finding) {
    const std::int64_t whole = finding.tickInMeasure / ImportTicksPerQuarter + 1;
    const std::int64_t part = finding.tickInMeasure % ImportTicksPerQuarter;
    if (part == 0) return Format("%d 小節 %lld 拍", finding.measure, static_cast<long long>(whole));
    return Format("%d 小節 %lld 拍 + %lld/120", finding.measure, static_cast<long long>(whole),
                  static_cast<long long>(part));
}

ImportResult ImportScore(const ImportSource& source, const ImportOptions& options) {
    return Importer(source, options).Run();
}

} // namespace nagisora
