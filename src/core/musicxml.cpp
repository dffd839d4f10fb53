#include "musicxml.h"

#include "instruments.h"
#include "line_sets.h"
#include "score_map.h"
#include "score_reader.h"
#include "tuplets.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <optional>
#include <utility>
#include <vector>

namespace nagisora {
namespace {

// The note types the notation's durations reach, longest first: ＊ is a 32nd note.
struct NoteType {
    std::int32_t ticks;
    std::string_view name;
};
constexpr std::array<NoteType, 6> NoteTypes{
    {{480, "whole"}, {240, "half"}, {120, "quarter"}, {60, "eighth"}, {30, "16th"}, {15, "32nd"}}};
constexpr std::int32_t WholeTicks = NoteTypes.front().ticks;
constexpr std::int32_t ShortestTicks = NoteTypes.back().ticks;
constexpr std::uint8_t GraceType = 3; // an eighth

// How a written note shows its ticks: a type, maybe dotted, in the time modification actual:normal.
struct NoteValue {
    std::uint8_t type = 0; // index in NoteTypes
    bool dotted = false;
    std::int32_t actual = 1;
    std::int32_t normal = 1;
};

enum class PieceKind : std::uint8_t { Note, Rest, Grace };

// One note element of the document.
struct Piece {
    PieceKind kind = PieceKind::Rest;
    std::uint8_t accidental = 0; // what the score wrote before the note: 0 none, 1 ＃, 2 ♭, 3 ↓
    bool tieStop = false;
    bool tieStart = false;
    bool tupletStart = false;
    bool tupletStop = false;
    std::int32_t key = 0;
    std::int32_t ticks = 0;
    std::int32_t program = -1; // the MIDI program (0..127) that changes at this note
    NoteValue value;
};

// A tuplet group written as one, with its bracket: events first to last (from 0) and, for a group cut short
// by the end of the score, the rests that complete it.
struct WrittenTuplet {
    std::int32_t first = 0;
    std::int32_t last = 0;
    NoteValue value;
    std::vector<std::int32_t> completion; // ticks of the missing places
};

std::int32_t NormalNotesOf(std::int32_t marker) {
    return marker == 3 ? 2 : marker == 5 ? 4 : 8;
}

// The groups that are whole tuplets of a plain note value, or such tuplets cut short by the end of the score.
// A group cut at the start of the score, one whose durations fit no note value (a base that was itself part
// of a tuplet) and one that shares events with a group already written are left to the plain durations.
std::vector<WrittenTuplet> WrittenTuplets(const ScoreMap& map, std::vector<std::int32_t>& tupletOf) {
    std::vector<WrittenTuplet> written;
    for (const TupletGroup& group : map.tuplets) {
        const std::int32_t start = group.k - group.marker / 2; // the group's first place, from 1
        if (!group.hasBase || start < 1) continue;
        const auto claimed = [&](std::int32_t e) { return tupletOf[static_cast<std::size_t>(e - 1)] >= 0; };
        bool free = true;
        for (std::int32_t e = group.first; e <= group.last; ++e)
            free = free && !claimed(e);
        if (!free) continue;
        for (std::uint8_t type = 0; type < NoteTypes.size(); ++type) {
            std::int32_t values[7];
            tuplets_detail::GroupValues(group.marker, NoteTypes[type].ticks, values);
            bool fits = true;
            for (std::int32_t e = group.first; e <= group.last && fits; ++e)
                fits = map.timed[static_cast<std::size_t>(e - 1)].Oncho == values[e - start];
            if (!fits) continue;
            WrittenTuplet tuplet{group.first - 1,
                                 group.last - 1,
                                 NoteValue{type, false, group.marker, NormalNotesOf(group.marker)},
                                 {}};
            for (std::int32_t place = group.last + 1 - start; place < group.marker; ++place)
                tuplet.completion.push_back(values[place]);
            for (std::int32_t e = group.first; e <= group.last; ++e)
                tupletOf[static_cast<std::size_t>(e - 1)] = static_cast<std::int32_t>(written.size());
            written.push_back(std::move(tuplet));
            break;
        }
    }
    return written;
}

std::optional<NoteValue> PlainValue(std::int32_t ticks) {
    for (std::uint8_t type = 0; type < NoteTypes.size(); ++type) {
        const std::int32_t t = NoteTypes[type].ticks;
        if (ticks == t) return NoteValue{type};
        if (t % 2 == 0 && ticks == t + t / 2) return NoteValue{type, true};
    }
    return std::nullopt;
}

// The values of tied notes that together last exactly ticks (more than 0): whole notes for what is longer
// than a whole note, then one plain or dotted note, else plain and dotted notes down to 32nd notes, else one
// note of the shortest type at least as long, in the time modification that makes it last exactly ticks.
template <class Emit>
void SplitTicks(std::int32_t ticks, Emit&& emit) {
    for (; ticks > WholeTicks; ticks -= WholeTicks)
        emit(WholeTicks, NoteValue{0});
    if (const std::optional<NoteValue> plain = PlainValue(ticks)) {
        emit(ticks, *plain);
        return;
    }
    if (ticks % ShortestTicks == 0) {
        for (std::uint8_t type = 0; type < NoteTypes.size() && ticks > 0; ++type) {
            const std::int32_t t = NoteTypes[type].ticks;
            if (t % 2 == 0 && ticks >= t + t / 2) {
                emit(t + t / 2, NoteValue{type, true});
                ticks -= t + t / 2;
            }
            for (; ticks >= t; ticks -= t)
                emit(t, NoteValue{type});
        }
        return;
    }
    std::uint8_t type = 0;
    while (type + 1u < NoteTypes.size() && NoteTypes[type + 1u].ticks >= ticks)
        ++type;
    const std::int32_t common = std::gcd(NoteTypes[type].ticks, ticks);
    emit(ticks, NoteValue{type, false, NoteTypes[type].ticks / common, ticks / common});
}

// Whether a note of no time is held on by a ー with time after it (ー of no time between them hold nothing).
bool HeldAfter(std::span<const TOnpu> events, std::size_t e) {
    for (std::size_t j = e + 1; j < events.size() && events[j].Onko == -1; ++j)
        if (events[j].Oncho > 0) return true;
    return false;
}

struct Pieces {
    std::vector<Piece> pieces;
    std::vector<std::size_t> firstOf; // per event, the first piece it wrote (or the next piece written)
};

// The note elements of the events, in order: notes, tied notes for ー, rests, grace notes, tuplets.
Pieces PiecesOf(std::span<const TOnpu> events, const std::vector<EventPlace>& places,
                const std::vector<WrittenTuplet>& tuplets, const std::vector<std::int32_t>& tupletOf,
                const ConversionSettings& settings) {
    Pieces result;
    std::vector<Piece>& pieces = result.pieces;
    pieces.reserve(events.size() + events.size() / 4);
    result.firstOf.resize(events.size());

    // The note that sounds: its key and spelling, and its last piece, which a ー ties on from.
    bool sounding = false;
    Piece note;
    std::ptrdiff_t tieFrom = -1;
    std::int32_t program = settings.instrument;
    std::int32_t programChange = -1;

    const auto add = [&](Piece piece) {
        piece.program = std::exchange(programChange, -1);
        pieces.push_back(piece);
    };

    for (std::size_t e = 0; e < events.size(); ++e) {
        result.firstOf[e] = pieces.size();
        const TOnpu& event = events[e];
        const bool isNote = event.Onko > 0;
        const bool isHold = event.Onko == -1;
        if (isNote) {
            if (settings.useScoreTimbres && event.Onshoku >= 0 && event.Onshoku <= 127 &&
                event.Onshoku != program)
                programChange = program = event.Onshoku;
            sounding = true;
            note = Piece{};
            note.kind = PieceKind::Note;
            note.accidental = places[e].accidental;
            note.key = event.Onko;
            tieFrom = -1;
        } else if (!isHold) {
            sounding = false;
        }
        if (event.Oncho <= 0) {
            if (isNote && !HeldAfter(events, e)) {
                Piece grace = note;
                grace.kind = PieceKind::Grace;
                grace.value = NoteValue{GraceType};
                add(grace);
            }
            continue;
        }

        Piece piece = sounding ? note : Piece{};
        const std::size_t first = pieces.size();
        const std::int32_t tuplet = tupletOf[e];
        if (tuplet >= 0) {
            piece.ticks = event.Oncho;
            piece.value = tuplets[static_cast<std::size_t>(tuplet)].value;
            piece.tupletStart =
                tuplets[static_cast<std::size_t>(tuplet)].first == static_cast<std::int32_t>(e);
            add(piece);
        } else {
            SplitTicks(event.Oncho, [&](std::int32_t ticks, NoteValue value) {
                piece.ticks = ticks;
                piece.value = value;
                add(piece);
            });
        }
        if (!sounding) continue;
        for (std::size_t p = first; p < pieces.size(); ++p) {
            pieces[p].tieStop = p > first || (isHold && tieFrom >= 0);
            pieces[p].tieStart = p + 1 < pieces.size();
        }
        if (isHold && tieFrom >= 0) pieces[static_cast<std::size_t>(tieFrom)].tieStart = true;
        tieFrom = static_cast<std::ptrdiff_t>(pieces.size() - 1);
    }

    for (const WrittenTuplet& tuplet : tuplets) {
        Piece& last = pieces[result.firstOf[static_cast<std::size_t>(tuplet.last)]];
        if (tuplet.completion.empty()) {
            last.tupletStop = true;
            continue;
        }
        for (const std::int32_t ticks : tuplet.completion) {
            Piece rest;
            rest.ticks = ticks;
            rest.value = tuplet.value;
            add(rest);
        }
        pieces.back().tupletStop = true;
    }
    return result;
}

// The events (from 0) that begin measures: the first, those after a bar line and those that begin a line set;
// never inside a written tuplet, never leaving a measure without time, and before the events of no time that
// lead into a note.
std::vector<std::size_t> MeasureStarts(const ScoreMap& map, const std::vector<WrittenTuplet>& tuplets,
                                       const std::vector<std::int32_t>& tupletOf) {
    const std::span<const TOnpu> events = map.timed;
    const std::size_t n = events.size();
    std::vector<std::int64_t> ticksBefore(n + 1, 0);
    for (std::size_t e = 0; e < n; ++e)
        ticksBefore[e + 1] = ticksBefore[e] + std::max(events[e].Oncho, 0);

    std::vector<std::size_t> cuts;
    cuts.reserve(map.bars.size() + map.sets.size());
    for (const BarPlace& bar : map.bars)
        cuts.push_back(static_cast<std::size_t>(bar.eventsBefore));
    for (std::size_t e = 1; e < n; ++e)
        if (map.events[e].set != map.events[e - 1].set) cuts.push_back(e);
    std::sort(cuts.begin(), cuts.end());

    std::vector<std::size_t> starts{0};
    for (std::size_t cut : cuts) {
        if (cut == 0 || cut >= n) continue;
        const std::int32_t tuplet = tupletOf[cut];
        if (tuplet >= 0 && tuplet == tupletOf[cut - 1])
            cut = static_cast<std::size_t>(tuplets[static_cast<std::size_t>(tuplet)].last) + 1;
        while (cut > starts.back() && events[cut - 1].Oncho <= 0)
            --cut;
        if (cut >= n || ticksBefore[cut] == ticksBefore[starts.back()]) continue;
        starts.push_back(cut);
    }
    if (starts.size() > 1 && ticksBefore[n] == ticksBefore[starts.back()]) starts.pop_back();
    return starts;
}

// The letter, alteration and octave of a key: with a sharp after ＃ and a flat after ♭ or ↓ where one names
// it, else the usual names without a key signature.
struct Spelled {
    std::uint8_t step; // C D E F G A B: 0 to 6
    std::int8_t alter;
    std::int32_t octave;
};

// Per pitch class from C: the letter of a white key (-1 for a black one), and the usual name of every key.
constexpr std::array<std::int8_t, 12> WhiteStep{0, -1, 1, -1, 2, 3, -1, 4, -1, 5, -1, 6};
constexpr std::array<std::uint8_t, 12> UsualStep{0, 0, 1, 2, 2, 3, 3, 4, 5, 5, 6, 6};    // C C# D Eb E F F#
constexpr std::array<std::int8_t, 12> UsualAlter{0, 1, 0, -1, 0, 0, 1, 0, -1, 0, -1, 0}; // G Ab A Bb B

std::size_t PitchClass(std::int32_t key) {
    return static_cast<std::size_t>(((key % 12) + 12) % 12);
}

Spelled Spell(std::int32_t key, std::uint8_t accidental) {
    Spelled spelled{UsualStep[PitchClass(key)], UsualAlter[PitchClass(key)], 0};
    const std::int8_t below = WhiteStep[PitchClass(key - 1)];
    const std::int8_t above = WhiteStep[PitchClass(key + 1)];
    if (accidental == 1 && below >= 0) spelled = {static_cast<std::uint8_t>(below), 1, 0};
    if (accidental >= 2 && above >= 0) spelled = {static_cast<std::uint8_t>(above), -1, 0};
    spelled.octave = (key - spelled.alter) / 12 - 1;
    return spelled;
}

void AppendNumber(std::string& out, std::int64_t value) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, end);
}

// The length of the valid UTF-8 sequence at the start of text, 0 when there is none.
std::size_t Utf8SequenceAt(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    }
    if (length == 0 || text.size() < length || byte(1) < low || byte(1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
    return length;
}

// Text as XML character data: markup characters escaped, control characters that XML cannot hold left out,
// and every byte that is no UTF-8 character (or no XML character) written as U+FFFD.
void AppendEscaped(std::string& out, std::string_view text) {
    while (!text.empty()) {
        const auto byte = static_cast<unsigned char>(text.front());
        std::size_t used = 1;
        switch (byte) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&apos;";
            break;
        default:
            if (byte >= 0x80) {
                used = Utf8SequenceAt(text);
                // U+FFFE and U+FFFF are no XML characters either.
                const bool noCharacter = used == 3 && text.substr(0, 2) == "\xEF\xBF" &&
                                         static_cast<unsigned char>(text[2]) >= 0xBE;
                if (used == 0 || noCharacter)
                    out += "\xEF\xBF\xBD";
                else
                    out.append(text.substr(0, used));
                used = std::max<std::size_t>(used, 1);
            } else if (byte >= 0x20 || byte == '\t' || byte == '\n' || byte == '\r') {
                out += static_cast<char>(byte);
            }
        }
        text.remove_prefix(used);
    }
}

// The text of one note element, written without a check of its room: the longest element, with a program
// change and every mark, takes some 700 bytes, and the numbers in it have at most 11 characters.
class NoteText {
  public:
    template <std::size_t N>
    NoteText& operator<<(const char (&literal)[N]) {
        std::memcpy(end_, literal, N - 1); // a copy of known length, which the compiler writes out
        end_ += N - 1;
        return *this;
    }
    void Put(std::string_view text) {
        std::memcpy(end_, text.data(), text.size());
        end_ += text.size();
    }
    void Number(std::int32_t value) { end_ = std::to_chars(end_, end_ + 11, value).ptr; }
    std::string_view Text() const { return {text_, static_cast<std::size_t>(end_ - text_)}; }

  private:
    char text_[1024];
    char* end_ = text_;
};

constexpr std::string_view Steps = "CDEFGAB";

class Document {
  public:
    explicit Document(std::size_t pieces) { out_.reserve(2048 + pieces * 300); }

    void Head(const ConversionSettings& settings, std::string_view title) {
        out_ += "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n"
                "<!DOCTYPE score-partwise PUBLIC \"-//Recordare//DTD MusicXML 4.0 Partwise//EN\" "
                "\"http://www.musicxml.org/dtds/partwise.dtd\">\n"
                "<score-partwise version=\"4.0\">\n";
        if (!title.empty()) {
            out_ += "  <work>\n    <work-title>";
            AppendEscaped(out_, title);
            out_ += "</work-title>\n  </work>\n";
        }
        const std::string_view name = InstrumentName(static_cast<std::size_t>(settings.instrument));
        out_ += "  <identification>\n    <encoding>\n      <software>nagisora</software>\n    </encoding>\n"
                "  </identification>\n  <part-list>\n    <score-part id=\"P1\">\n      <part-name>";
        AppendEscaped(out_, name);
        out_ += "</part-name>\n      <score-instrument id=\"P1-I1\">\n        <instrument-name>";
        AppendEscaped(out_, name);
        out_ += "</instrument-name>\n      </score-instrument>\n      <midi-instrument id=\"P1-I1\">\n"
                "        <midi-channel>1</midi-channel>\n        <midi-program>";
        AppendNumber(out_, settings.instrument + 1);
        out_ += "</midi-program>\n      </midi-instrument>\n    </score-part>\n  </part-list>\n"
                "  <part id=\"P1\">\n";
    }

    // The first measure's attributes: the divisions, no key, no time signature, the treble clef; then the
    // tempo as a metronome mark and for playback, with the volume as dynamics (100 is a velocity of 90).
    void Opening(const ConversionSettings& settings) {
        out_ +=
            "      <attributes>\n        <divisions>120</divisions>\n        <key>\n"
            "          <fifths>0</fifths>\n        </key>\n        <time>\n          <senza-misura/>\n"
            "        </time>\n        <clef>\n          <sign>G</sign>\n          <line>2</line>\n"
            "        </clef>\n      </attributes>\n      <direction placement=\"above\">\n"
            "        <direction-type>\n          <metronome>\n            <beat-unit>quarter</beat-unit>\n"
            "            <per-minute>";
        AppendNumber(out_, settings.tempo);
        out_ += "</per-minute>\n          </metronome>\n        </direction-type>\n        <sound tempo=\"";
        AppendNumber(out_, settings.tempo);
        out_ += "\" dynamics=\"";
        const std::int32_t hundredths = (settings.volume * 10000 + 45) / 90;
        AppendNumber(out_, hundredths / 100);
        out_ += '.';
        out_ += static_cast<char>('0' + hundredths / 10 % 10);
        out_ += static_cast<char>('0' + hundredths % 10);
        out_ += "\"/>\n      </direction>\n";
    }

    void Measure(std::size_t number, std::span<const Piece> pieces, const ConversionSettings& settings,
                 bool last) {
        out_ += "    <measure number=\"";
        AppendNumber(out_, static_cast<std::int64_t>(number));
        out_ += "\">\n";
        if (number == 1) Opening(settings);
        shown_.fill(0);
        for (const Piece& piece : pieces)
            Note(piece);
        if (last)
            out_ += "      <barline location=\"right\">\n        <bar-style>light-heavy</bar-style>\n"
                    "      </barline>\n";
        out_ += "    </measure>\n";
    }

    std::string Finish() {
        out_ += "  </part>\n</score-partwise>\n";
        return std::move(out_);
    }

  private:
    // One note element, with the program change before it, put together in a buffer of its own and appended
    // at once: a long score has thousands of them, and the pieces are small.
    void Note(const Piece& piece) {
        NoteText t;
        if (piece.program >= 0) {
            t << "      <sound>\n        <midi-instrument id=\"P1-I1\">\n          <midi-program>";
            t.Number(piece.program + 1);
            t << "</midi-program>\n        </midi-instrument>\n      </sound>\n";
        }
        t << "      <note>\n";
        std::string_view accidental;
        if (piece.kind == PieceKind::Rest) {
            t << "        <rest/>\n";
        } else {
            if (piece.kind == PieceKind::Grace) t << "        <grace slash=\"yes\"/>\n";
            const Spelled pitch = Spell(piece.key, piece.accidental);
            t << "        <pitch>\n          <step>";
            t.Put(Steps.substr(pitch.step, 1));
            if (pitch.alter != 0) {
                t << "</step>\n          <alter>";
                t.Number(pitch.alter);
                t << "</alter>\n          <octave>";
            } else {
                t << "</step>\n          <octave>";
            }
            t.Number(pitch.octave);
            t << "</octave>\n        </pitch>\n";
            if (!piece.tieStop) accidental = AccidentalShown(pitch);
        }
        if (piece.kind != PieceKind::Grace) {
            t << "        <duration>";
            t.Number(piece.ticks);
            t << "</duration>\n";
        }
        if (piece.tieStop) t << "        <tie type=\"stop\"/>\n";
        if (piece.tieStart) t << "        <tie type=\"start\"/>\n";
        t << "        <type>";
        t.Put(NoteTypes[piece.value.type].name);
        t << "</type>\n";
        if (piece.value.dotted) t << "        <dot/>\n";
        if (!accidental.empty()) {
            t << "        <accidental>";
            t.Put(accidental);
            t << "</accidental>\n";
        }
        if (piece.value.actual != piece.value.normal) {
            t << "        <time-modification>\n          <actual-notes>";
            t.Number(piece.value.actual);
            t << "</actual-notes>\n          <normal-notes>";
            t.Number(piece.value.normal);
            t << "</normal-notes>\n        </time-modification>\n";
        }
        if (piece.tieStop || piece.tieStart || piece.tupletStart || piece.tupletStop) {
            t << "        <notations>\n";
            if (piece.tieStop) t << "          <tied type=\"stop\"/>\n";
            if (piece.tieStart) t << "          <tied type=\"start\"/>\n";
            if (piece.tupletStart) t << "          <tuplet type=\"start\" bracket=\"yes\"/>\n";
            if (piece.tupletStop) t << "          <tuplet type=\"stop\"/>\n";
            t << "        </notations>\n";
        }
        t << "      </note>\n";
        out_.append(t.Text());
    }

    // The accidental sign a note needs in its measure: where its letter in its octave was last shown with
    // another alteration (none at the start of every measure, there being no key signature).
    std::string_view AccidentalShown(const Spelled& pitch) {
        const std::size_t octave = static_cast<std::size_t>(std::clamp(pitch.octave, 0, 9));
        std::int8_t& shown = shown_[octave * 7 + pitch.step];
        if (shown == pitch.alter) return {};
        shown = pitch.alter;
        return pitch.alter > 0 ? "sharp" : pitch.alter < 0 ? "flat" : "natural";
    }

    std::string out_;
    std::array<std::int8_t, 70> shown_{};
};

bool IsSpace(std::string_view character) {
    return character == " " || character == "\t" || character == "\x81\x40";
}

// The text without the half-width and full-width spaces around it, walking its characters so that the second
// byte of a character is never taken for a space.
std::string_view TrimSpaces(std::string_view text) {
    std::size_t begin = text.size();
    std::size_t end = 0;
    for (std::size_t b = 0; b < text.size();) {
        const auto lead = static_cast<unsigned char>(text[b]);
        const bool pair =
            b + 1 < text.size() && ((lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC));
        const std::size_t next = b + (pair ? 2 : 1);
        if (!IsSpace(text.substr(b, next - b))) {
            begin = std::min(begin, b);
            end = next;
        }
        b = next;
    }
    return begin < end ? text.substr(begin, end - begin) : std::string_view{};
}

} // namespace

std::string_view FirstCommentText(std::span<const std::string_view> lines) {
    for (const std::string_view line : lines) {
        const std::string_view trimmed = TrimLine(ScoreLine(line));
        if (KindOfLine(trimmed) != LineKindOf::Comment) continue;
        // The comment begins at the first "//" unit, the one that made the line a comment.
        std::size_t at = 0;
        while (trimmed.substr(at, 2) != "//")
            at += 2;
        const std::string_view text = TrimSpaces(trimmed.substr(at + 2));
        if (!text.empty()) return text;
    }
    return {};
}

MusicXmlExport ExportMusicXml(std::span<const std::string_view> lines, const ConversionSettings& settings,
                              std::string_view title) {
    MusicXmlExport result;
    const ScoreMap map = MapScore(lines, settings.transpose);
    if (map.timed.size() > OnpuCapacity) {
        result.refusal = TooManyNotesMessage;
        return result;
    }
    std::vector<std::int32_t> tupletOf(map.timed.size(), -1);
    const std::vector<WrittenTuplet> tuplets = WrittenTuplets(map, tupletOf);
    const Pieces pieces = PiecesOf(map.timed, map.events, tuplets, tupletOf, settings);
    const std::vector<std::size_t> starts = MeasureStarts(map, tuplets, tupletOf);

    Document document(pieces.pieces.size());
    document.Head(settings, title);
    const std::span<const Piece> all = pieces.pieces;
    for (std::size_t m = 0; m < starts.size(); ++m) {
        const bool last = m + 1 == starts.size();
        const std::size_t begin = m == 0 ? 0 : pieces.firstOf[starts[m]];
        const std::size_t end = last ? all.size() : pieces.firstOf[starts[m + 1]];
        document.Measure(m + 1, all.subspan(begin, end - begin), settings, last);
    }
    result.text = document.Finish();
    return result;
}

} // namespace nagisora
