#include "core/score_file_lines.h"
#include "core/score_part.h"
#include "platform/media_midi_file.h"
#include "score_text.h"

#include <gtest/gtest.h>
#include <map>
#include <tuple>

namespace nagisora {
namespace {

using test::ScoreLines;

// A note as a listener hears it: when it sounds from and to (ticks of the image), its key and the program
// in force when it began.
struct HeardNote {
    std::int64_t from = 0;
    std::int64_t to = 0;
    int key = 0;
    int program = 0;
    bool operator==(const HeardNote&) const = default;
};

void PrintTo(const HeardNote& n, std::ostream* os) {
    *os << "{" << n.from << "-" << n.to << " key " << n.key << " program " << n.program << "}";
}

// The notes of an image as the program's own MIDI reader gives them, from tick `from` on, counted from there.
std::vector<HeardNote> NotesHeard(std::string_view image, std::int64_t from, std::int64_t until) {
    const std::optional<MidiFile> file = ReadMidiFile(image);
    EXPECT_TRUE(file);
    std::vector<HeardNote> notes;
    std::map<int, HeardNote> sounding;
    int program = 0;
    for (const MidiChannelEvent& e : file ? file->events : std::vector<MidiChannelEvent>{}) {
        if (e.Kind() == 0xC0) program = e.data1;
        if (!e.IsNote() || e.data1 > 127) continue;
        if (e.Kind() == 0x90 && e.data2 > 0) {
            sounding[e.data1] = HeardNote{e.tick, 0, e.data1, program};
        } else if (const auto on = sounding.find(e.data1); on != sounding.end()) {
            HeardNote note = on->second;
            sounding.erase(on);
            note.from = std::max(note.from, from) - from;
            note.to = std::min(e.tick, until) - from;
            if (note.to > note.from) notes.push_back(note);
        }
    }
    return notes;
}

constexpr std::int64_t LeadIn = midi::LeadInDelta;

// The notes played from note k to note j equal the whole piece's notes heard in that stretch of time: keys,
// times from the start point and the program in force. Every range of each score is tried.
TEST(PartOfScore, SoundsAsTheWholePieceInItsStretch) {
    const std::string startFile = test::ReadExample("start-score.txt");
    const std::vector<std::string_view> startLines = SplitScoreFileLines(startFile);
    const ScoreLines start(std::vector<std::string>(startLines.begin(), startLines.end()));
    const ScoreLines holds = {"  10        20  30  40", "ーロ　ー○ーツーー｜ハ", "－＋－＋－＋＝＝５＝＝－"};
    ConversionSettings instrument77;
    instrument77.useScoreTimbres = false;
    instrument77.instrument = 77;
    ConversionSettings transposed;
    transposed.transpose = -5;
    const struct {
        const char* name;
        const ScoreLines& lines;
        ConversionSettings settings;
    } cases[] = {
        {"start score", start, {}},
        {"start score, instrument alone", start, instrument77},
        {"holds and rests", holds, transposed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Conversion whole = ConvertScore(c.lines, c.settings);
        const std::span<const NoteEvent> events = whole.Events();
        ASSERT_GT(events.size(), 5u);
        const std::vector<std::int64_t> starts = EventStarts(events);
        for (std::size_t k = 0; k < events.size(); ++k)
            for (std::size_t j = k + 1; j <= events.size(); ++j) {
                const ScorePart part = PartOfScore(events, {k, j}, c.settings);
                ASSERT_EQ(part.startTick, starts[k]);
                const std::int64_t length = starts[j] - starts[k];
                EXPECT_EQ(NotesHeard(MidiImageOf(part.events, part.settings), LeadIn, LeadIn + length),
                          NotesHeard(whole.midiData, LeadIn + starts[k], LeadIn + starts[j]))
                    << "events " << k << " to " << j;
            }
    }
}

// The caret and the selection in each kind of line give the events the reader makes there.
TEST(EventsOfText, CaretAndSelectionFindTheirNotes) {
    const std::string file = test::ReadExample("start-score.txt");
    const std::vector<std::string_view> lines = SplitScoreFileLines(file);
    const ScoreMap map = MapScore(lines);
    const auto at = [&](std::int32_t line, std::int32_t column) {
        return TextPoint{line, ByteOfColumn(lines[static_cast<std::size_t>(line - 1)], column)};
    };
    const struct {
        const char* name;
        TextPoint point;
        std::size_t event;
    } carets[] = {
        {"on the first note", at(4, 2), 0},
        {"on 乙 before it", at(4, 1), 0},
        {"on a bar line", at(4, 4), 1},
        {"on a duration unit", at(5, 9), 4},
        {"on the second digit of a timbre number", at(3, 4), 0},
        {"on the comment between the sets", at(7, 5), 25},
        {"at the end of a pitch line", at(4, 40), 25},
        {"after the last set", at(11, 1), 41},
    };
    for (const auto& c : carets)
        EXPECT_EQ(EventAtOrAfter(map, c.point), c.event) << c.name;

    const struct {
        const char* name;
        TextPoint from, to;
        EventRange events;
    } selections[] = {
        {"レレレ in the pitch line", at(4, 8), at(4, 11), {3, 6}},
        {"＋３＋ under it", at(5, 8), at(5, 11), {3, 6}},
        {"half of a timbre number", at(3, 4), at(3, 5), {0, 1}},
        {"from the duration line to the next set", at(5, 30), at(9, 4), {21, 27}},
        {"a bar line alone", at(4, 4), at(4, 5), {1, 1}},
        {"the whole score", at(1, 1), at(12, 1), {0, 41}},
    };
    for (const auto& s : selections)
        EXPECT_EQ(EventsBetween(map, s.from, s.to), s.events) << s.name;
}

} // namespace
} // namespace nagisora
