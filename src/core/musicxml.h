#pragma once

// MusicXML 4.0 (score-partwise) for notation programs: the events of the conversion written as staff
// notation, one part for the selected instrument, in the time of the conversion itself (120 divisions a
// beat, so that every tick is a whole division and every measure sums exactly to the ticks it holds).
//
// How the notation's events become notes:
// - keys after the transposition, spelled with a sharp where the score wrote ＃ and with a flat where it
//   wrote ♭ or ↓, as far as a letter with a single sharp or flat names the key; otherwise, and for notes
//   without an accidental, C C♯ D E♭ E F F♯ G A♭ A B♭ B;
// - ○ a rest; ー a note tied from the sounding note before it, or a rest after a rest or at the start;
// - measures at the bar lines ｜ and at the start of every line set. A bar line inside a tuplet moves to the
//   tuplet's end, and one that would leave a measure without time moves to the next event that has time;
// - a tuplet group whose durations are those of a whole group over a plain note value (＋３＋ over an
//   eighth, ＝＝５＝＝ over a sixteenth, ＋＋＋７＋＋＋ over an eighth...) is written as a tuplet of that
//   value with its bracket; a group cut short by the end of the score is completed with rests of the group;
// - any other duration (a truncated triplet over a triplet's value, a group cut at the start of the score, a
//   group that shares events with another) keeps its exact ticks: one plain note, or tied plain notes, where
//   that many ticks are sums of 32nd notes, else one note of the shortest type at least as long with the
//   time modification that gives exactly its ticks (26 ticks: a sixteenth at 15:13);
// - a note of no time (a duration unit the notation does not know, a tuplet marker without a base) is a
//   grace note, or starts the tied note of the ー after it; a rest or ー of no time writes nothing;
// - a timbre number 0 to 127 of a note changes the MIDI program at that note when the score's timbres are
//   used and the program differs; numbers above 127 change nothing, as in the MIDI file's players.

#include "conversion.h"

#include <span>
#include <string>
#include <string_view>

namespace nagisora {

inline constexpr std::int32_t MusicXmlDivisions = 120; // per quarter note: one beat, one tick

struct MusicXmlExport {
    std::string text;    // the whole document, UTF-8; empty when the score was refused
    std::string refusal; // why the score was refused (UTF-8), as the conversion refuses it

    bool Refused() const { return !refusal.empty(); }
};

// The text of the first comment line that has any after its "//", without the spaces around it: code page 932
// bytes, for the caller to turn into UTF-8 as the work title. Empty when no comment line has text.
std::string_view FirstCommentText(std::span<const std::string_view> lines);

// The score lines (code page 932 bytes, without line ends) as MusicXML, with the tempo, transposition,
// volume, instrument and timbre switch of the settings; title is UTF-8 (empty: no title). Text that is not
// UTF-8 or that XML cannot hold is written as U+FFFD or left out.
MusicXmlExport ExportMusicXml(std::span<const std::string_view> lines, const ConversionSettings& settings,
                              std::string_view title = {});

} // namespace nagisora
