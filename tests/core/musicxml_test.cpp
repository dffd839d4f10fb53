#include "core/musicxml.h"
#include "core/score_reader.h"
#include "musicxml_notes.h"
#include "score_text.h"

#include <gtest/gtest.h>

namespace nagisora {
namespace {

using test::ScoreLines;

struct Case {
    const char* what;
    ScoreLines score;
    std::string part;
    ConversionSettings settings = {};
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.what;
}

class MusicXmlPart : public testing::TestWithParam<Case> {};

TEST_P(MusicXmlPart, WritesTheEventsAsNotation) {
    const MusicXmlExport musicXml = ExportMusicXml(GetParam().score, GetParam().settings);
    EXPECT_EQ(test::ReadPart(musicXml.text).part, GetParam().part);
}

// Keys: ロ 50 (D3), ツ 53 (F3), レ 55 (G3), チ 57 (A3), ハ 60 (C4); ー holds, ○ rests.
INSTANTIATE_TEST_SUITE_P(
    Cases, MusicXmlPart,
    testing::Values(
        Case{"SpellingFollowsTheWrittenAccidental",
             {"", "＃ロ♭ハ↓ツ↓チウリ♭ツツ", "－－－－－－－－－－－－－"},
             "D#3(s)=120q B3=120q Eb4(f)=120q G4=120q Ab4(f)=120q C#4(s)=120q E4(n)=120q F4=120q"},
        Case{"TranspositionSpellsWithoutAccidentalsAsUsual",
             {"", "ロ＃ロ", "－－－"},
             "Eb3(f)=120q E3(n)=120q",
             {.transpose = 1}},
        Case{"HoldsTieRestsAndValuesSplitByBeat",
             {"", "ーローー○ー", "＋　－＋＋－"},
             "r=60e D3=60e~ D3=180q.~ D3=60e~ (D3=60e~ D3=60e) r=60e r=60e r=60e"},
        Case{"NotesOfNoTimeAreLeftOutOrStartTheirHold",
             {"", "ロツーー○ーレ", "｜｜｜－｜－＋"},
             "F3=120q r=120q G3=60e"},
        Case{"CourtesyAccidentalsAfterATieOverABar",
             {"", "＃ツ｜ーツ＃ツ", "　＋｜＋＋"},
             "F#3(s)=60e~ | (F#3=60e F3(n)=60e) F#3(s)=240h"},
        Case{"WholeTupletsOfAPlainValue",
             {"", "ロツレ｜チチチチチ｜ロツレチハロツ", "＋３＋｜＝＝５＝＝｜＋＋＋７＋＋＋"},
             "([D3=40e{3:2} F3=40e{3:2} G3=40e{3:2}]) | ([A3=24s{5:4} A3=24s{5:4} A3=24s{5:4} A3=24s{5:4} "
             "A3=24s{5:4}]) | ([D3=69e{7:8} F3=69e{7:8} G3=69e{7:8} A3=69e{7:8} C4=68e{7:8} D4=68e{7:8} "
             "F4=68e{7:8}])"},
        // Onsets 0 40 80 106 132 (158) written at 0 41.25 78.75 105 131.25 (157.5), and a whole triplet
        // after them bracketed from 157.5.
        Case{"TruncatedTripletsAsNearestTiedValuesAndAWholeOneAfterThemBracketed",
             {"", "ロツレチハヒロツレ", "＋３＋３＋＋３＋－"},
             "(D3=30s~ D3=11.25x. F3=30s~ F3=7.5x G3=22.5t.~ G3=3.75y A3=15t~) (A3=11.25x. C4=22.5t.~ "
             "C4=3.75y) ([D4=40e{3:2} D4=40e{3:2} F4=40e{3:2}]) G4=120q"},
        Case{"GroupCutByTheStartBeforeMoreMusicAsNearestTiedValues",
             {"", "ロツレチハ", "＋５＋＋－"},
             "(D3=45s.~ D3=3.75y F3=45s.~ F3=3.75y G3=45s.) (A3=45s.~ A3=3.75y C4=90e.~) (C4=22.5t.~ "
             "C4=3.75y)"},
        Case{"GroupCutByTheEndIsCompletedWithRests",
             {"", "ロツ", "＋３"},
             "([D3=40e{3:2} F3=40e{3:2}) r=40e{3:2}]"},
        // A group cut at the start that is all the score: its notes take the first places, rests the others.
        Case{"GroupCutByTheStartThatIsAllTheScoreIsCompletedWithRests",
             {"", "ロツレチハ", "＋＋７＋＋"},
             "([D3=69e{7:8} F3=69e{7:8} G3=69e{7:8} A3=68e{7:8} C4=68e{7:8}) r=69e{7:8} r=68e{7:8}]"},
        // The bar line inside the triplet stays: the measure of 80 ticks is written as 78.75, the next one
        // begins with a 128th rest to put its first note 1.25 ticks early.
        Case{"BarsAndLineSetsCutMeasuresAndTuplets",
             {"", "ロ｜ツ｜｜レ", "－｜－｜｜－", "", "ロツ｜レチ", "＋３｜＋－", "", "ハ", "－"},
             "D3=120q | F3=120q | G3=120q | (D3=30s~ D3=11.25x. F3=30s~ F3=3.75y) | r=3.75y (G3=30s~ "
             "G3=11.25x. "
             "A3=60e~ A3=15t~) A3=45s. | C4=120q"},
        // Onsets 0 10 20 26 30 34 | 38 42: no 64th note near 42 after the note at 38, so the second line set
        // begins with the note before it; notes of two ticks as 256th notes, each in its place.
        Case{"AMeasureBeginsEarlierWhereItsNoteWouldBeLate",
             {"", "ヒリチレツレリ", "＊３３３＋５５", "", "ツ", "３"},
             "(D4=11.25x. C#4(s)=7.5x A3=7.5x G3=3.75y F3=3.75y G3=3.75y) | (C#4(s)=3.75y F4=3.75y)"},
        // Onsets 0 10 20 26 | 30 | 34 38: the measure of four ticks and the one after it are written as one,
        // with the bar line between them inside it.
        Case{"AMeasureShorterThanA64thIsWrittenWithTheNextOne",
             {"", "ヒリチレ｜ツ｜レリ", "＊３３３｜＋｜５５"},
             "(D4=11.25x. C#4(s)=7.5x A3=7.5x G3=3.75y) | F3=3.75y : (G3=3.75y C#4(s)=7.5x)"},
        // An 8va line over the high notes that stay high, not over a single one.
        Case{"HighPassagesUnderAnOctaveShift",
             {"", "ロ大ロツレチツ乙ロ大ツ乙ロ", "＋＋＋＋＋＋＋＋＋＋＋"},
             "(D3=60e D3=60e) 8va (F5=60e G5=60e) (A5=60e F5=60e) loco (D3=60e F5=60e) D3=240h"},
        // A second high passage half a beat after the first keeps its ledger lines: two 8va lines that close
        // come back from MuseScore with the second's notes an octave low.
        Case{"NoSecondOctaveShiftWithinABeatOfTheFirst",
             {"", "大ツレチツ乙ロ大ツレチツ", "＋＋＋＋＋＋＋＋＋"},
             "8va (F5=60e G5=60e) (A5=60e F5=60e) loco (D3=60e F5=60e) G5=240h A5=240h F5=240h"},
        Case{"NotesShorterThanA128thAs256ths",
             {"", "ヒーロ○○四タピ", "＊３３３　３７３"},
             "(D4=11.25x.~ D4=7.5x D4=7.5x) r=7.5x r=3.75y 8va (E5=3.75y Eb5(f)=1.875z D5=1.875z) loco"},
        Case{"ProgramChangesWhereTheTimbreChanges",
             {"161620FF", "ロツレチ", "－－－－"},
             "P22 D3=120q F3=120q P32 G3=120q A3=120q"},
        Case{"ProgramOfTheSettingsAndTimbresSwitchedOff",
             {"1616", "ロツ", "－－"},
             "D3=120q F3=120q",
             {.instrument = 0x16}},
        Case{"ScoreTimbresIgnoredWhenSwitchedOff",
             {"16", "ロ", "－"},
             "D3=120q",
             {.useScoreTimbres = false}}));

TEST(MusicXml, DocumentCarriesTitleInstrumentTempoAndVolume) {
    const ScoreLines score{"ロ//x", "//　", "//　 尺八 \"1\" & <2>　", "//y", "", "ロ", "－"};
    EXPECT_EQ(FirstCommentText(score), test::Sjis("尺八 \"1\" & <2>"));
    const ConversionSettings settings{.tempo = 120, .volume = 100, .instrument = 0x51};
    // Bytes that are no UTF-8 and the window's marks for bytes that are no code page 932 (U+EF01) become
    // U+FFFD; variation selectors (﨑 with VS13) are left out.
    const std::string text =
        ExportMusicXml(score, settings,
                       "A&B <\"x\"> 'y'\x01\xFF\xEF\xBF\xBE\xEE\xBC\x81\xEF\xA8\x91\xEF\xB8\x8C")
            .text;
    for (const char* part : {"<work-title>A&amp;B &lt;&quot;x&quot;&gt; "
                             "&apos;y&apos;\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xA8\x91</",
                             "<part-name>Lead2(sawtooth</part-name>", "<midi-program>82</midi-program>",
                             "<per-minute>120</per-minute>", "<sound tempo=\"120\" dynamics=\"111.11\"/>"})
        EXPECT_TRUE(test::Has(text, part)) << part;
    EXPECT_FALSE(test::Has(ExportMusicXml(score, settings).text, "<work>"));
    // 40 columns shown, a kanji and "…" taking two.
    const std::string title = std::string(12, 'a') + "尺八尺八尺八尺八尺八尺八尺八";
    EXPECT_TRUE(test::Has(ExportMusicXml(score, settings, title).text, "<movement-title>" + title + "</"));
    EXPECT_TRUE(test::Has(ExportMusicXml(score, settings, title + "x").text,
                          "<movement-title>" + title.substr(0, title.size() - 3) + "…</movement-title>\n"));
}

// The clef that needs the fewest ledger lines: the treble clef an octave down (乙 and 甲: D3 to D5), the bass
// clef an octave lower.
TEST(MusicXml, ClefFitsTheNotes) {
    const struct {
        ScoreLines score;
        std::int32_t transpose;
        const char* clef;
    } cases[] = {
        {{"", "ロツレチハ", "－－－－－"},
         0,
         "<sign>G</sign>\n          <line>2</line>\n          <clef-octave-change>-1<"},
        {{"", "ロツレチハ甲ロツレ", "－－－－－－－－"}, 0, "<sign>G</sign>"},
        {{"", "ロツレチハ", "－－－－－"}, -12, "<sign>F</sign>\n          <line>4</line>"},
        {{"", "ロツレチハ", "－－－－－"}, -5, "<sign>F</sign>"},
    };
    for (const auto& c : cases)
        EXPECT_TRUE(test::Has(ExportMusicXml(c.score, {.transpose = c.transpose}).text, c.clef))
            << c.transpose;
}

// The instrument list's row at a timbre change, a long one on two lines so that it keeps within the margin.
TEST(MusicXml, LongTimbreTextsGoOnToASecondLine) {
    const struct {
        const char* timbre;
        const char* text;
    } cases[] = {
        {"1C", "1C ElectricGuitar\n(muted)"}, {"00", "00 AcousticGrand\nPiano"}, {"16", "16 Harmonica"}};
    for (const auto& c : cases)
        EXPECT_TRUE(test::Has(ExportMusicXml(ScoreLines{c.timbre, "ロ", "－"}, {.instrument = 0x51}).text,
                              std::string("<words font-weight=\"bold\">") + c.text + "</words>"))
            << c.timbre;
}

TEST(MusicXml, RefusesWhatTheConversionRefuses) {
    std::string notes;
    for (int k = 0; k < 100; ++k)
        notes += test::Sjis("ロ");
    const MusicXmlExport refused = ExportMusicXml(ScoreLines(std::vector<std::string>(41, notes)), {});
    ASSERT_TRUE(refused.Refused());
    EXPECT_EQ(refused.refusal->Message(), TooManyNotesMessage);
    EXPECT_TRUE(refused.text.empty());
}

} // namespace
} // namespace nagisora
