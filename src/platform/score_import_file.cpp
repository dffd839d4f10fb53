#include "platform/score_import_file.h"

#include "core/instruments.h"
#include "platform/cp932.h"
#include "platform/media_midi_file.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <libxml/xmlreader.h>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <span>
#include <utility>
#include <zip.h>

namespace nagisora {
namespace {

constexpr std::int32_t DrumChannel = 9; // channel 10 of General MIDI
constexpr std::int32_t MinTempo = 30;
constexpr std::int32_t MaxTempo = 254;
constexpr std::int64_t LeadInTicks = 0x20; // what the program's own images hold before the first event
constexpr unsigned char TrackNameType = 0x03;
constexpr unsigned char TimeSignatureType = 0x58;
constexpr unsigned char KeySignatureType = 0x59;

std::int32_t TempoOf(double microsecondsPerQuarter) {
    const auto bpm = static_cast<std::int32_t>(std::lround(60e6 / microsecondsPerQuarter));
    return std::clamp(bpm, MinTempo, MaxTempo);
}

// A title or name for the text: UTF-8 turned into code page 932, other bytes taken as code page 932 already;
// control characters, which would break the line, left out.
std::string TitleBytes(std::string_view text) {
    std::string bytes =
        LooksLikeUtf8(text) ? EncodeCp932(text, {WindowMarks::AsText, 0, false}).bytes : std::string(text);
    std::erase_if(bytes, [](char c) { return static_cast<unsigned char>(c) < 0x20; });
    return bytes;
}

bool IsBlackKey(std::int32_t key) {
    constexpr unsigned BlackPitchClasses = 1u << 1 | 1u << 3 | 1u << 6 | 1u << 8 | 1u << 10; // C# D# F# G# A#
    return (BlackPitchClasses >> (key % 12) & 1) != 0;
}

// The program's own images: format 0, one track, no tempo and no description, the tempo as the division, the
// opening program change and 32 ticks before the first note event. Their ticks are the score's own.
bool IsOwnImage(const MidiFile& file) {
    const MidiFileFacts& f = file.facts;
    if (f.format != 0 || f.trackCount != 1 || !file.tempos.empty() || !file.metas.empty()) return false;
    if (f.division < MinTempo || f.division > MaxTempo || file.events.empty()) return false;
    const MidiChannelEvent& first = file.events.front();
    return first.tick == 0 && first.Kind() == 0xC0 && FirstNoteEventTick(file) == LeadInTicks;
}

// The thread's MIDI file, read into from one import to the next so that its events' room is allocated once
// (see the working lists of ImportScore); let go after a file of more than KeptEvents.
class KeptMidiFile {
  public:
    static constexpr std::size_t KeptEvents = std::size_t{1} << 16;

    KeptMidiFile() : file_(kept) {}
    ~KeptMidiFile() {
        if (file_.events.capacity() > KeptEvents)
            file_ = MidiFile{};
        else
            file_.metas.clear();
    }
    KeptMidiFile(const KeptMidiFile&) = delete;
    KeptMidiFile& operator=(const KeptMidiFile&) = delete;

    MidiFile& File() { return file_; }

  private:
    static thread_local MidiFile kept;
    MidiFile& file_;
};

thread_local MidiFile KeptMidiFile::kept;

} // namespace

ImportRead ReadMidiSource(std::string_view bytes) {
    KeptMidiFile kept;
    if (!ReadMidiFile(bytes, kept.File()))
        return {std::nullopt, "MIDI ファイルとして読めません（途中で切れているか、壊れています）"};
    const MidiFile* const file = &kept.File();
    const bool own = IsOwnImage(*file);
    const std::int64_t division = file->facts.division;
    const std::int64_t offset = own ? LeadInTicks : 0;
    const auto ticks = [&](std::int64_t t) {
        t = std::max<std::int64_t>(t - offset, 0);
        return own ? t : (t * ImportTicksPerQuarter + division / 2) / division;
    };

    ImportSource source;
    source.settings.tempo = own ? file->facts.division : TempoOf(DefaultMicrosecondsPerQuarter);
    for (const MidiTempoChange& change : file->tempos) {
        if (change.tick == 0)
            source.settings.tempo = TempoOf(change.microsecondsPerQuarter);
        else if (change.microsecondsPerQuarter > 0)
            source.tempoChanges.push_back(
                ImportChange{ticks(change.tick), TempoOf(change.microsecondsPerQuarter)});
    }

    // Measures from the time signatures, keys from the key signatures, the title from the first track's name.
    std::vector<std::pair<std::int64_t, std::int64_t>> meters; // tick, measure length in ticks
    std::int32_t fifths = 0;
    for (const MidiMetaEvent& meta : file->metas) {
        if (meta.type == TimeSignatureType && meta.data.size() >= 2) {
            const auto numerator = static_cast<unsigned char>(meta.data[0]);
            const auto denominatorPower = static_cast<unsigned char>(meta.data[1]);
            if (numerator > 0 && denominatorPower <= 6)
                meters.emplace_back(ticks(meta.tick),
                                    4 * ImportTicksPerQuarter * numerator >> denominatorPower);
        } else if (meta.type == KeySignatureType && !meta.data.empty()) {
            const auto sf = static_cast<std::int32_t>(static_cast<signed char>(meta.data[0]));
            if (source.keys.empty() && meta.tick == 0) fifths = sf;
            if (source.keys.empty() || source.keys.back().value != sf)
                source.keys.push_back(ImportChange{ticks(meta.tick), sf});
        } else if (meta.type == TrackNameType && meta.track == 0 && meta.tick == 0 && source.title.empty()) {
            source.title = TitleBytes(meta.data);
        }
    }

    // The note that each key of each channel sounds, an index into the notes (-1: none), and how many sound.
    std::array<std::array<std::int32_t, 128>, 16> sounding;
    for (std::array<std::int32_t, 128>& keys : sounding)
        keys.fill(-1);
    std::array<std::int32_t, 16> soundingCount{};
    std::array<std::int32_t, 16> program{};
    std::array<std::int32_t, 16> pendingProgram;
    pendingProgram.fill(-1);
    // The parts: a file of several tracks has one a track, the drum channel apart (a notation program plays
    // each instrument of a part on a channel of its own, all in the part's track); a file of one track has
    // one a channel.
    const bool byTrack = file->facts.trackCount > 1;
    std::array<std::int32_t, 2 * MaxMidiTracks> partOf; // by track and drums, or by channel; -1: none yet
    partOf.fill(-1);
    struct Playing {
        std::int32_t channel = -1; // the channel of the part's last note
        std::int32_t program = -1; // the program it sounds with
    };
    std::vector<Playing> playing;
    std::int64_t lastNoteEvent = 0;
    source.notes.reserve(std::min(file->events.size() / 2, MaxImportNotes));
    // The events through a span of their own: the notes' narrow stores could alias the list's own fields,
    // which would be loaded again at every event.
    const std::span<const MidiChannelEvent> events(file->events);
    for (std::size_t i = 0; i < events.size(); ++i) {
        const MidiChannelEvent& e = events[i];
        const std::int32_t channel = e.Channel();
        const std::int64_t at = ticks(e.tick);
        if (e.Kind() == 0xC0) {
            // A program change gives the next note its timbre number, but for the opening one of the
            // program's own images, which is the instrument.
            if (!own || i == 0) program[std::size_t(channel)] = e.data1;
            if (!own || i > 0) pendingProgram[std::size_t(channel)] = e.data1;
            continue;
        }
        if (!e.IsNote()) continue;
        lastNoteEvent = std::max(lastNoteEvent, at);
        const std::int32_t partKey = byTrack ? e.track * 2 + (channel == DrumChannel) : channel;
        std::int32_t& placed = partOf[std::size_t(partKey)];
        const bool added = placed < 0;
        if (added) placed = std::int32_t(source.parts.size());
        const std::int32_t part = placed;
        if (added) {
            ImportPart p;
            p.name = byTrack ? "トラック " + std::to_string(e.track + 1)
                             : "チャンネル " + std::to_string(channel + 1);
            p.drums = channel == DrumChannel;
            p.velocity = -1;
            source.parts.push_back(p);
            playing.emplace_back();
        }
        if (e.data1 >= 128) { // the filler of a hold in the program's own images
            source.marks.push_back(ImportMark{at, part, MarkKind::Hold});
            continue;
        }
        const bool off = (e.Kind() == 0x80) | (e.data2 == 0); // without a branch: offs and ons alternate
        std::int32_t& same = sounding[std::size_t(channel)][e.data1];
        std::int32_t& open = soundingCount[std::size_t(channel)];
        if (same >= 0) { // a note-off, or a note struck again: the sounding one ends
            ImportNote& n = source.notes[std::size_t(same)];
            n.length = at - n.start;
            same = -1;
            --open;
        } else if (off && open == 0) { // a note-off in silence: the program's own images begin a rest so
            source.marks.push_back(ImportMark{at, part, MarkKind::Rest});
        }
        if (off) continue;
        ImportPart& p = source.parts[std::size_t(part)];
        if (p.velocity < 0) { // the part's first note
            p.program = program[std::size_t(channel)];
            p.velocity = e.data2;
        }
        if (source.notes.size() >= MaxImportNotes || source.marks.size() >= MaxImportNotes)
            return {std::nullopt, "音符が多すぎます（" + std::to_string(MaxImportNotes) + " 個まで）"};
        std::int32_t noteProgram = std::exchange(pendingProgram[std::size_t(channel)], -1);
        // A note on another channel of its part than the note before sounds with that channel's program.
        Playing& play = playing[std::size_t(part)];
        if (noteProgram < 0 && play.channel >= 0 && play.channel != channel &&
            program[std::size_t(channel)] != play.program)
            noteProgram = program[std::size_t(channel)];
        play.program = noteProgram >= 0 ? noteProgram : play.program >= 0 ? play.program : p.program;
        play.channel = channel;
        same = std::int32_t(source.notes.size());
        ++open;
        // Written field by field where it stays (see ReadMidiFile).
        ImportNote& note = source.notes.emplace_back();
        note.start = at;
        note.key = e.data1;
        note.part = part;
        note.program = noteProgram;
        note.spelling = !IsBlackKey(note.key) ? Spelling::None
                        : fifths < 0          ? Spelling::Flat
                        : fifths > 0          ? Spelling::Sharp
                                              : Spelling::None;
    }
    for (const std::array<std::int32_t, 128>& keys : sounding)
        for (const std::int32_t note : keys)
            if (note >= 0)
                source.notes[std::size_t(note)].length =
                    lastNoteEvent - source.notes[std::size_t(note)].start;
    source.end = lastNoteEvent;
    if (!meters.empty()) {
        if (meters.front().first > 0) meters.insert(meters.begin(), {0, 4 * ImportTicksPerQuarter});
        for (std::size_t m = 0; m < meters.size(); ++m) {
            const std::int64_t until = m + 1 < meters.size() ? meters[m + 1].first : lastNoteEvent;
            for (std::int64_t t = meters[m].first; t < until; t += meters[m].second)
                source.measures.push_back(t);
        }
    }
    if (source.notes.empty()) return {std::nullopt, "音符がありません"};
    for (ImportPart& p : source.parts)
        p.velocity = std::max(p.velocity, 0);
    return {std::move(source), {}};
}

namespace {

// The reader of MusicXML text: libxml2's streaming reader, with no network, no DTD loaded and no entity
// replaced (a document that declares entities cannot blow up into more than its own bytes).
struct XmlReaderDeleter {
    void operator()(xmlTextReader* reader) const { xmlFreeTextReader(reader); }
};
using XmlReader = std::unique_ptr<xmlTextReader, XmlReaderDeleter>;

constexpr int XmlOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

XmlReader OpenXml(std::string_view xml) {
    return XmlReader(
        xmlReaderForMemory(xml.data(), static_cast<int>(xml.size()), nullptr, nullptr, XmlOptions));
}

std::string Attribute(xmlTextReader* reader, const char* name) {
    xmlChar* value = xmlTextReaderGetAttribute(reader, reinterpret_cast<const xmlChar*>(name));
    if (!value) return {};
    std::string text(reinterpret_cast<const char*>(value));
    xmlFree(value);
    return text;
}

std::string XmlProblem() {
    const xmlError* error = xmlGetLastError();
    std::string problem = "MusicXML として読めません";
    if (error && error->message) {
        std::string message = error->message;
        while (!message.empty() && (message.back() == '\n' || message.back() == ' '))
            message.pop_back();
        problem += "（" + std::to_string(error->line) + " 行: " + message + "）";
    }
    return problem;
}

double Number(const std::string& text) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    return end == text.c_str() || !std::isfinite(value) ? 0.0 : value;
}

constexpr std::array<std::int32_t, 7> StepSemitones{9, 11, 0, 2, 4, 5, 7}; // A B C D E F G

class MusicXmlSource {
  public:
    ImportRead Read(std::string_view xml);

  private:
    // Times in ticks, kept unrounded: a file's divisions need not be whole ticks (an export's 128th notes are
    // 3.75), and rounding each duration would add up; a time is rounded once, where it is taken.
    struct PartState {
        std::int32_t index = -1;
        double measureStart = 0;
        double position = 0;
        double measureEnd = 0;
        std::int64_t divisions = 1;
        double lastStart = 0;
        std::int32_t pendingProgram = -1;
        std::int32_t program = -1;    // the program the part's last note sounds with
        std::string instrument;       // the score instrument it is played with
        std::ptrdiff_t lastNote = -1; // the part's last note, which a rest too short to write belongs to
        bool pitched = false;
        bool unpitched = false;
        bool channelTen = false;
    };
    struct NoteState {
        bool grace = false, chord = false, rest = false, unpitched = false, tieStart = false, tieStop = false;
        std::string step;
        double alter = 0;
        std::int32_t octave = 4;
        std::int64_t duration = 0;
        bool tuplet = false;
        std::string type;
        std::string instrument; // the score instrument it is played with
    };

    void Start(std::string_view name);
    void End(std::string_view name);
    PartState& Part(const std::string& id);
    static double Ticks(const PartState& part, double divisions) {
        return divisions * ImportTicksPerQuarter / static_cast<double>(part.divisions);
    }
    static std::int64_t At(double ticks) { return std::llround(ticks); }
    void EndNote(PartState& part);
    void BeginMeasure(PartState& part);
    void EndMeasure(PartState& part);

    xmlTextReader* reader_ = nullptr;
    ImportSource source_;
    std::map<std::string, PartState> parts_;
    std::vector<std::string> path_;
    std::string text_;
    std::string partId_;           // the part being read
    PartState* current_ = nullptr; // its state, while partId_ names one
    std::string scorePart_;        // the score-part of the part list being read
    bool timewise_ = false;
    NoteState note_;
    std::string workTitle_, movementTitle_;
    std::set<std::string> firstInstrumentSeen_;
    std::string midiInstrument_;                      // the midi-instrument being read
    std::map<std::string, std::int32_t> instruments_; // part and score instrument: its program
    std::int64_t tieOpen_[128]{};                     // per key: 1 + the index of a note whose tie goes on
    std::string problem_;
};

MusicXmlSource::PartState& MusicXmlSource::Part(const std::string& id) {
    PartState& part = parts_[id];
    if (part.index < 0) {
        part.index = static_cast<std::int32_t>(source_.parts.size());
        source_.parts.push_back(ImportPart{id, false, 0, 64});
    }
    return part;
}

void MusicXmlSource::BeginMeasure(PartState& part) {
    part.position = part.measureStart;
    part.measureEnd = part.measureStart;
    if (part.index == 0) source_.measures.push_back(At(part.measureStart));
}

void MusicXmlSource::EndMeasure(PartState& part) {
    part.measureStart = std::max(part.measureEnd, part.position);
}

// Names are compared as views: their lengths first, then their bytes.
void MusicXmlSource::Start(std::string_view name) {
    const std::string_view parent = path_.size() >= 2 ? std::string_view(path_[path_.size() - 2]) : "";
    if (name == "score-timewise") timewise_ = true;
    if (name == "score-part") {
        scorePart_ = Attribute(reader_, "id");
        Part(scorePart_);
    } else if (name == "part" && parent != "part-list") {
        partId_ = Attribute(reader_, "id");
        PartState& part = Part(partId_);
        current_ = &part;
        if (timewise_) BeginMeasure(part);
    } else if (name == "measure" && !timewise_ && !partId_.empty()) {
        BeginMeasure(*current_);
    } else if (name == "note") {
        note_ = NoteState{};
    } else if (name == "tie" && parent == "note") {
        const std::string type = Attribute(reader_, "type");
        (type == "start" ? note_.tieStart : note_.tieStop) = true;
    } else if (name == "sound" && !partId_.empty()) {
        const std::string tempo = Attribute(reader_, "tempo");
        PartState& part = *current_;
        if (!tempo.empty() && part.index == 0 && Number(tempo) > 0) {
            const auto bpm = std::clamp<std::int32_t>(static_cast<std::int32_t>(std::lround(Number(tempo))),
                                                      MinTempo, MaxTempo);
            if (part.position == 0)
                source_.settings.tempo = bpm;
            else if (bpm != (source_.tempoChanges.empty() ? source_.settings.tempo
                                                          : source_.tempoChanges.back().value))
                source_.tempoChanges.push_back(ImportChange{At(part.position), bpm});
        }
    }
    if (name == "grace") note_.grace = true;
    if (name == "chord") note_.chord = true;
    if (name == "rest") note_.rest = true;
    if (name == "unpitched") note_.unpitched = true;
    if (name == "time-modification") note_.tuplet = true;
    if (name == "instrument" && parent == "note") note_.instrument = Attribute(reader_, "id");
    if (name == "midi-instrument") midiInstrument_ = Attribute(reader_, "id");
}

void MusicXmlSource::EndNote(PartState& part) {
    const double exactStart = note_.chord ? part.lastStart : part.position;
    const double exactEnd = exactStart + (note_.grace ? 0 : Ticks(part, static_cast<double>(note_.duration)));
    if (!note_.chord) {
        part.lastStart = part.position;
        part.position = exactEnd;
        part.measureEnd = std::max(part.measureEnd, part.position);
    }
    const std::int64_t start = At(exactStart);
    const std::int64_t length = At(exactEnd) - start;
    if (note_.rest) {
        // A plain 128th rest is no rest a score can hold (its shortest unit is a 32nd): files place one
        // to bring the next note onto their own grid. The note before it sounds on.
        if (!note_.chord && !note_.tuplet && note_.type == "128th" && part.lastNote >= 0) {
            ImportNote& before = source_.notes[std::size_t(part.lastNote)];
            if (before.start + before.length == start) before.length = At(exactEnd) - before.start;
        }
        return;
    }
    if (note_.unpitched) {
        part.unpitched = true;
        source_.notes.push_back(ImportNote{start, std::max<std::int64_t>(length, 1), 60, part.index, -1,
                                           Spelling::None, note_.grace});
        return;
    }
    const std::size_t step = note_.step.empty() ? 7 : std::string_view("ABCDEFG").find(note_.step[0]);
    if (step >= StepSemitones.size()) return;
    part.pitched = true;
    const std::int32_t key = std::clamp<std::int32_t>((note_.octave + 1) * 12 + StepSemitones[step] +
                                                          static_cast<std::int32_t>(std::lround(note_.alter)),
                                                      0, 127);
    if (note_.tieStop && !note_.grace && tieOpen_[key] > 0) {
        ImportNote& tied = source_.notes[std::size_t(tieOpen_[key] - 1)];
        if (tied.part == part.index && tied.start + tied.length == start) {
            tied.length += length;
            part.lastNote = tieOpen_[key] - 1;
            if (!note_.tieStart) tieOpen_[key] = 0;
            return;
        }
    }
    // A note played with another score instrument than the note before takes that instrument's program,
    // unless a timbre change names its own (the program's exports play programs past their last instrument
    // with the instrument before).
    std::int32_t program = std::exchange(part.pendingProgram, -1);
    const auto played = instruments_.find(partId_ + '\x1f' + note_.instrument);
    if (program < 0 && played != instruments_.end() && note_.instrument != part.instrument &&
        played->second != (part.program >= 0 ? part.program : source_.parts[std::size_t(part.index)].program))
        program = played->second;
    if (program >= 0) part.program = program;
    if (!note_.instrument.empty()) part.instrument = note_.instrument;
    const Spelling spelling = note_.alter > 0   ? Spelling::Sharp
                              : note_.alter < 0 ? Spelling::Flat
                                                : Spelling::None;
    const ImportNote n{start, length, key, part.index, program, spelling, note_.grace};
    part.lastNote = static_cast<std::ptrdiff_t>(source_.notes.size());
    source_.notes.push_back(n);
    tieOpen_[key] = note_.tieStart && !note_.grace ? static_cast<std::int64_t>(source_.notes.size()) : 0;
}

void MusicXmlSource::End(std::string_view name) {
    const std::string_view parent = path_.size() >= 2 ? std::string_view(path_[path_.size() - 2]) : "";
    PartState* part = partId_.empty() ? nullptr : current_;
    if (name == "work-title")
        workTitle_ = text_;
    else if (name == "movement-title")
        movementTitle_ = text_;
    else if (name == "part-name" && parent == "score-part")
        source_.parts[std::size_t(Part(scorePart_).index)].name = text_;
    else if (name == "midi-program" && !scorePart_.empty() && partId_.empty()) {
        // The part's program is its first instrument's; a note played with another takes that one's.
        const std::int32_t program = std::clamp(static_cast<std::int32_t>(Number(text_)) - 1, 0, 127);
        if (!firstInstrumentSeen_.contains(scorePart_)) {
            firstInstrumentSeen_.insert(scorePart_);
            source_.parts[std::size_t(Part(scorePart_).index)].program = program;
        }
        instruments_.try_emplace(scorePart_ + '\x1f' + midiInstrument_, program);
    } else if (name == "midi-program" && part)
        part->pendingProgram = std::clamp(static_cast<std::int32_t>(Number(text_)) - 1, 0, 127);
    else if (name == "midi-channel" && !scorePart_.empty() && partId_.empty())
        Part(scorePart_).channelTen = Number(text_) == 10;
    else if (!part)
        ;
    else if (name == "divisions" && Number(text_) > 0)
        part->divisions = static_cast<std::int64_t>(Number(text_));
    else if (name == "fifths" && part->index == 0) {
        const auto fifths = static_cast<std::int32_t>(Number(text_));
        if (source_.keys.empty() || source_.keys.back().value != fifths)
            source_.keys.push_back(ImportChange{At(part->position), fifths});
    } else if (name == "words" && parent == "direction-type") {
        // The program's own exports name a timbre change as the score writes it: the number and the name,
        // a long one broken over two lines.
        std::string words = text_;
        std::erase(words, '\n');
        const auto row = std::find(InstrumentRows.begin(), InstrumentRows.end(), words);
        if (row != InstrumentRows.end())
            part->pendingProgram = static_cast<std::int32_t>(row - InstrumentRows.begin());
    } else if (name == "step" && parent == "pitch")
        note_.step = text_;
    else if (name == "alter" && parent == "pitch")
        note_.alter = Number(text_);
    else if (name == "octave" && parent == "pitch")
        note_.octave = static_cast<std::int32_t>(Number(text_));
    else if (name == "type" && parent == "note")
        note_.type = text_;
    else if (name == "duration" && parent == "note")
        note_.duration = static_cast<std::int64_t>(Number(text_));
    else if (name == "duration" && (parent == "backup" || parent == "forward")) {
        const double ticks = Ticks(*part, Number(text_));
        part->position = std::max(part->measureStart, part->position + (parent == "backup" ? -ticks : ticks));
        part->measureEnd = std::max(part->measureEnd, part->position);
    } else if (name == "note") {
        EndNote(*part);
        if (source_.notes.size() > MaxImportNotes)
            problem_ = "音符が多すぎます（" + std::to_string(MaxImportNotes) + " 個まで）";
    } else if ((name == "measure" && !timewise_) || (name == "part" && timewise_)) {
        EndMeasure(*part);
        if (timewise_) partId_.clear();
    } else if (name == "part" && !timewise_) {
        partId_.clear();
    }
    if (name == "score-part") scorePart_.clear();
}

ImportRead MusicXmlSource::Read(std::string_view xml) {
    if (xml.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()))
        return {std::nullopt, "ファイルが大きすぎます"};
    const XmlReader reader = OpenXml(xml);
    if (!reader) return {std::nullopt, XmlProblem()};
    reader_ = reader.get();
    bool rootSeen = false;
    int status = 0;
    while ((status = xmlTextReaderRead(reader_)) == 1 && problem_.empty()) {
        const int type = xmlTextReaderNodeType(reader_);
        if (type == XML_READER_TYPE_ELEMENT) {
            const std::string name = reinterpret_cast<const char*>(xmlTextReaderConstLocalName(reader_));
            if (!rootSeen) {
                rootSeen = true;
                if (name != "score-partwise" && name != "score-timewise")
                    return {std::nullopt, "MusicXML の楽譜ではありません（最初の要素が <" + name + ">）"};
            }
            const bool empty = xmlTextReaderIsEmptyElement(reader_);
            path_.push_back(name);
            text_.clear();
            Start(name);
            if (empty) {
                End(name);
                path_.pop_back();
            }
        } else if (type == XML_READER_TYPE_END_ELEMENT) {
            if (!path_.empty()) {
                End(path_.back());
                path_.pop_back();
            }
            text_.clear();
        } else if (type == XML_READER_TYPE_TEXT || type == XML_READER_TYPE_CDATA) {
            if (const xmlChar* value = xmlTextReaderConstValue(reader_))
                text_ += reinterpret_cast<const char*>(value);
        }
    }
    if (!problem_.empty()) return {std::nullopt, problem_};
    if (status < 0 || !rootSeen) return {std::nullopt, XmlProblem()};
    for (auto& [id, part] : parts_) {
        ImportPart& p = source_.parts[std::size_t(part.index)];
        p.drums = part.channelTen || (part.unpitched && !part.pitched);
        source_.end = std::max(source_.end, At(part.measureStart));
    }
    source_.title = TitleBytes(workTitle_.empty() ? movementTitle_ : workTitle_);
    if (source_.notes.empty()) return {std::nullopt, "音符がありません"};
    return {std::move(source_), {}};
}

struct ZipDeleter {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct ZipFileDeleter {
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};

// The bytes of one entry, at most MaxUnpackedBytes whatever its header says; nothing when larger or broken.
std::optional<std::string> Unpack(zip_t* archive, zip_int64_t index, std::string& problem) {
    const std::unique_ptr<zip_file_t, ZipFileDeleter> file(
        zip_fopen_index(archive, static_cast<zip_uint64_t>(index), 0));
    if (!file) {
        problem = std::string(".mxl を展開できません（") + zip_strerror(archive) + "）";
        return std::nullopt;
    }
    std::string bytes;
    std::array<char, 65536> buffer;
    for (;;) {
        const zip_int64_t read = zip_fread(file.get(), buffer.data(), buffer.size());
        if (read < 0) {
            problem = std::string(".mxl を展開できません（") + zip_file_strerror(file.get()) + "）";
            return std::nullopt;
        }
        if (read == 0) return bytes;
        if (bytes.size() + static_cast<std::size_t>(read) > MaxUnpackedBytes) {
            problem = ".mxl の中身が大きすぎます（" + std::to_string(MaxUnpackedBytes / (1024 * 1024)) +
                      " MiB まで）";
            return std::nullopt;
        }
        bytes.append(buffer.data(), static_cast<std::size_t>(read));
    }
}

// The score's entry: the root file that META-INF/container.xml names, or else the first .musicxml or .xml
// entry outside META-INF.
zip_int64_t ScoreEntry(zip_t* archive, std::string& problem) {
    const zip_int64_t container = zip_name_locate(archive, "META-INF/container.xml", 0);
    if (container >= 0) {
        const std::optional<std::string> text = Unpack(archive, container, problem);
        if (!text) return -1;
        const XmlReader reader = OpenXml(*text);
        while (reader && xmlTextReaderRead(reader.get()) == 1) {
            if (xmlTextReaderNodeType(reader.get()) != XML_READER_TYPE_ELEMENT) continue;
            if (std::string_view(reinterpret_cast<const char*>(xmlTextReaderConstLocalName(reader.get()))) !=
                "rootfile")
                continue;
            const std::string path = Attribute(reader.get(), "full-path");
            const zip_int64_t index = zip_name_locate(archive, path.c_str(), 0);
            if (index >= 0) return index;
        }
    }
    const zip_int64_t entries = zip_get_num_entries(archive, 0);
    for (zip_int64_t i = 0; i < entries; ++i) {
        const std::string_view name = zip_get_name(archive, static_cast<zip_uint64_t>(i), 0);
        if (!name.starts_with("META-INF/") && (name.ends_with(".musicxml") || name.ends_with(".xml")))
            return i;
    }
    problem = ".mxl に楽譜がありません";
    return -1;
}

} // namespace

ImportRead ReadMusicXmlSource(std::string_view xml) {
    return MusicXmlSource().Read(xml);
}

ImportRead ReadCompressedMusicXmlSource(std::string_view zip) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* buffer = zip_source_buffer_create(zip.data(), zip.size(), 0, &error);
    if (!buffer) return {std::nullopt, ".mxl を開けません"};
    const std::unique_ptr<zip_t, ZipDeleter> archive(zip_open_from_source(buffer, ZIP_RDONLY, &error));
    if (!archive) {
        zip_source_free(buffer);
        const std::string message = std::string(".mxl を開けません（") + zip_error_strerror(&error) + "）";
        zip_error_fini(&error);
        return {std::nullopt, message};
    }
    zip_error_fini(&error);
    std::string problem;
    const zip_int64_t entry = ScoreEntry(archive.get(), problem);
    if (entry < 0) return {std::nullopt, problem};
    const std::optional<std::string> xml = Unpack(archive.get(), entry, problem);
    if (!xml) return {std::nullopt, problem};
    return ReadMusicXmlSource(*xml);
}

ImportRead ReadImportSource(std::string_view bytes) {
    if (bytes.starts_with("MThd")) return ReadMidiSource(bytes);
    if (bytes.starts_with("PK\x03\x04")) return ReadCompressedMusicXmlSource(bytes);
    return ReadMusicXmlSource(bytes);
}

} // namespace nagisora
