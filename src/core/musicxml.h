#pragma once

// MusicXML 4.0 (score-partwise) for notation programs: the events of the conversion written as staff
// notation, one part with a score instrument for every program it plays, in divisions of a quarter note that
// make every tick and every 256th note whole.
//
// How the notation's events become notes, as a musician would write them:
// - keys after the transposition, a white key by its plain letter, a black key with a sharp where the score
//   wrote ＃ and a flat where it wrote ♭ or ↓, else C♯ E♭ F♯ A♭ B♭; in the treble clef an octave down (the
//   keys as the MIDI file plays them), or the bass clef where that needs fewer ledger lines; in the treble
//   clef, passages that stay two ledger lines or more above the staff under an 8va line;
// - ○ a rest; ー a note tied from the sounding note before it, or a rest after a rest or at the start;
// - measures at the bar lines ｜ and at the start of every line set, inside a tuplet too; a bar line that
//   would leave a measure without time moves to the next event that has time. Measures last whole 64th notes
//   (notation programs round other lengths up): one that the music begins off that grid begins at the 64th
//   note before, with a rest up to its first note, or with the event before (a bar line moved by less than a
//   32nd note) where short notes before it leave no point of the grid within 1.75 ticks of that note; where
//   no such move keeps a measure's notes in place (after a measure shorter than a 64th note between short
//   notes), the measure is written together with the one before it, the score's bar line between them as a
//   bar line inside the measure (location middle), so that no note sounds late;
// - a tuplet group whose durations are those of a whole group over a plain note value (＋３＋ over an
//   eighth, ＝＝５＝＝ over a sixteenth, ＋＋＋７＋＋＋ over an eighth...), that no bar line cuts and that
//   begins on a 64th note is written as a tuplet of that value with its bracket; so is a whole group after
//   durations that the grid only comes near, from the point where they are written, inside a measure and
//   where its places then begin within 1.75 ticks of their ticks; a group cut
//   short by the end of the score is completed with rests of the group, and so is one cut at the start that
//   is all the score (its notes take the group's first places, so that they begin where they sound);
// - any other duration (a truncated triplet over a triplet's value, another group cut at the start of the
//   score, a group that shares events with another or that a bar line cuts) is written as tied plain notes:
//   exactly where its ticks fall on the grid of 32nd notes, else between the nearest points of the coarsest
//   grid down to 128th notes, at least a 256th note after the note before, so that every note begins within
//   two ticks of where the MIDI file plays it and every measure adds up;
// - notes shorter than a quarter are beamed by beat (a tuplet's notes together);
// - a note of no time (a duration unit the notation does not know, a tuplet marker without a base) makes no
//   sound and is left out, unless a ー with time holds it on; a rest or ー of no time writes nothing;
// - a timbre number 0 to 127 of a note, when the score's timbres are used and the program differs, is shown
//   above the note as the instrument list's row (number and name, a long one on two lines), and the note
//   and those after it are played by a score instrument of that program; numbers above 127 change nothing,
//   as in the MIDI players.

#include "core/conversion.h"
#include "core/failure.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace nagisora {

inline constexpr std::int32_t MusicXmlDivisions = 960; // per quarter note: one beat, eight to a tick

struct MusicXmlExport {
    std::string text;               // the whole document, UTF-8; empty when the score was refused
    std::optional<Failure> refusal; // why the score was refused, as the conversion refuses it

    bool Refused() const { return refusal.has_value(); }
};

// The text of the first comment line that has any after its "//", without the spaces around it: code page 932
// bytes, for the caller to turn into UTF-8 as the work title. Empty when no comment line has text.
std::string_view FirstCommentText(std::span<const std::string_view> lines);

// The score lines (code page 932 bytes, without line ends) as MusicXML, with the tempo, transposition,
// volume, instrument and timbre switch of the settings; title is UTF-8 (empty: no title), kept whole as the
// work title and shown as the movement title, shortened to 40 columns (a wide character takes two). Text
// that is not UTF-8 or that XML cannot hold is written as U+FFFD or left out, and so are variation selectors.
MusicXmlExport ExportMusicXml(std::span<const std::string_view> lines, const ConversionSettings& settings,
                              std::string_view title = {});

} // namespace nagisora
