#include "platform/media_midi_file.h"

#include <algorithm>
#include <cmath>

namespace nagisora {
namespace {

constexpr std::size_t HeaderBytes = 14;
constexpr std::size_t ChunkHeadBytes = 8;
constexpr int MaxDeltaBytes = 4;
constexpr unsigned char MetaStatus = 0xFF;
constexpr unsigned char SysExStatus = 0xF0;
constexpr unsigned char SysExContinuation = 0xF7;
constexpr unsigned char EndOfTrackType = 0x2F;
constexpr unsigned char SetTempoType = 0x51;
constexpr std::uint32_t SetTempoLength = 3;

// Reads bytes front to back; every read fails once the end is reached.
class ByteReader {
  public:
    explicit ByteReader(std::string_view bytes) : bytes_(bytes) {}

    bool AtEnd() const { return pos_ >= bytes_.size(); }
    std::size_t Remaining() const { return bytes_.size() - pos_; }

    std::optional<unsigned char> Byte() {
        if (AtEnd()) return std::nullopt;
        return static_cast<unsigned char>(bytes_[pos_++]);
    }

    std::optional<std::string_view> Take(std::size_t count) {
        if (count > Remaining()) return std::nullopt;
        const std::string_view piece = bytes_.substr(pos_, count);
        pos_ += count;
        return piece;
    }

    bool Skip(std::size_t count) { return Take(count).has_value(); }

    // A variable-length quantity of at most four bytes.
    std::optional<std::uint32_t> VariableLength() {
        std::uint32_t value = 0;
        for (int i = 0; i < MaxDeltaBytes; ++i) {
            const std::optional<unsigned char> b = Byte();
            if (!b) return std::nullopt;
            value = (value << 7) | (*b & 0x7Fu);
            if ((*b & 0x80) == 0) return value;
        }
        return std::nullopt;
    }

  private:
    std::string_view bytes_;
    std::size_t pos_ = 0;
};

std::uint32_t BigEndian(std::string_view four) {
    std::uint32_t value = 0;
    for (const char c : four)
        value = (value << 8) | static_cast<unsigned char>(c);
    return value;
}

// Data bytes that follow a channel status.
std::size_t ChannelDataBytes(unsigned char status) {
    const unsigned char kind = status & 0xF0;
    return kind == 0xC0 || kind == 0xD0 ? 1 : 2;
}

// What one event of a track is, once read.
struct TrackEvent {
    bool endOfTrack = false;
    std::optional<MidiChannelEvent> channel;
    std::optional<std::uint32_t> tempo; // microseconds a quarter note
    std::optional<MidiMetaEvent> meta;
};

bool DescribesMusic(unsigned char type) {
    return type == 0x03 || type == 0x58 || type == 0x59;
}

// The data bytes of a channel message whose status is known; the first may have been read already (running
// status).
inline std::optional<MidiChannelEvent> ChannelEvent(ByteReader& track, unsigned char status,
                                                    std::optional<std::uint8_t> first) {
    MidiChannelEvent event;
    event.status = status;
    if (!first) first = track.Byte();
    if (!first) return std::nullopt;
    event.data1 = *first;
    if (ChannelDataBytes(status) == 2) {
        const std::optional<std::uint8_t> second = track.Byte();
        if (!second) return std::nullopt;
        event.data2 = *second;
    }
    return event;
}

// Reads one event after its delta time; nothing when it cannot be read.
std::optional<TrackEvent> ReadEvent(ByteReader& track, unsigned char& runningStatus) {
    const std::optional<unsigned char> first = track.Byte();
    if (!first) return std::nullopt;
    const unsigned char status = *first;
    TrackEvent event;
    if (status < 0x80) {
        // A data byte: the running status applies, and this byte is its first data byte.
        if (runningStatus == 0) return std::nullopt;
        event.channel = ChannelEvent(track, runningStatus, status);
        return event.channel ? std::optional(event) : std::nullopt;
    }
    if (status == MetaStatus) {
        const std::optional<unsigned char> type = track.Byte();
        const std::optional<std::uint32_t> length = type ? track.VariableLength() : std::nullopt;
        if (!length) return std::nullopt;
        if (*type == SetTempoType && *length != SetTempoLength) return std::nullopt;
        runningStatus = 0;
        const std::optional<std::string_view> body = track.Take(*length);
        if (!body) return std::nullopt;
        event.endOfTrack = *type == EndOfTrackType;
        if (*type == SetTempoType) event.tempo = BigEndian(*body);
        if (DescribesMusic(*type)) event.meta = MidiMetaEvent{0, 0, *type, std::string(*body)};
        return event;
    }
    if (status == SysExStatus || status == SysExContinuation) {
        const std::optional<std::uint32_t> length = track.VariableLength();
        runningStatus = 0;
        if (!length || !track.Skip(*length)) return std::nullopt;
        return event;
    }
    if (status >= 0xF0) return std::nullopt; // system common and real-time messages have no place in a file
    runningStatus = status;
    event.channel = ChannelEvent(track, status, std::nullopt);
    return event.channel ? std::optional(event) : std::nullopt;
}

// Reads one track into the file's events and tempo changes; returns its length in ticks, or nothing when it
// cannot be read. Events after the end of track are ignored, as the sequencer ignores them.
std::optional<std::int64_t> ReadTrack(std::string_view body, std::int32_t trackIndex, MidiFile& file) {
    // The bytes are read through a local cursor, kept in a register: a reader held in memory is loaded and
    // stored again for every byte. The rare events other than channel messages go through a ByteReader.
    const auto* const data = reinterpret_cast<const unsigned char*>(body.data());
    const std::size_t size = body.size();
    std::size_t pos = 0;
    std::int64_t ticks = 0;
    unsigned char runningStatus = 0;
    // Room for the track's events (most take three bytes or more), doubling over many tracks; at most 65536
    // at a time, so that a large track of other data reserves nothing, and one of more events grows as read.
    constexpr std::size_t MostReserved = std::size_t{1} << 16;
    if (const std::size_t room = file.events.size() + std::min(size / 3, MostReserved);
        room > file.events.capacity())
        file.events.reserve(std::max(room, 2 * file.events.capacity()));
    while (pos < size) {
        // The delta time: a variable-length quantity of at most four bytes.
        std::uint32_t delta = 0;
        for (int i = 0;; ++i) {
            if (i == MaxDeltaBytes || pos == size) return std::nullopt;
            const unsigned char b = data[pos++];
            delta = (delta << 7) | (b & 0x7Fu);
            if ((b & 0x80) == 0) break;
        }
        ticks += delta;
        if (pos == size) {
            // A track that ends after a delta time: under a running status of one data byte it ends with a
            // message of the data byte 0, as this reader has always read it; otherwise the event is cut off.
            if (runningStatus == 0 || ChannelDataBytes(runningStatus) == 2) return std::nullopt;
            file.events.push_back(
                MidiChannelEvent{ticks, runningStatus, 0, 0, static_cast<std::uint8_t>(trackIndex)});
            break;
        }
        // A channel message, most of any track, is read straight into the events.
        const unsigned char next = data[pos];
        if (next < 0xF0 && (next >= 0x80 || runningStatus != 0)) {
            // Without a branch on whether the status byte is there: files mix both at random.
            const bool statusByte = next >= 0x80;
            runningStatus = statusByte ? next : runningStatus;
            pos += statusByte;
            const bool two = ChannelDataBytes(runningStatus) == 2;
            if (size - pos < 1 + std::size_t(two)) return std::nullopt;
            const unsigned char first = data[pos];
            const unsigned char second = two ? data[pos + 1] : 0;
            pos += 1 + std::size_t(two);
            // Its fields are written one by one where the event stays: an event put together elsewhere and
            // copied in is read back through the narrow stores of its bytes, which stalls on every event.
            MidiChannelEvent& added = file.events.emplace_back();
            added.tick = ticks;
            added.status = runningStatus;
            added.data1 = first;
            added.data2 = second;
            added.track = static_cast<std::uint8_t>(trackIndex);
            continue;
        }
        ByteReader track(body.substr(pos));
        const std::optional<TrackEvent> event = ReadEvent(track, runningStatus);
        if (!event) return std::nullopt;
        pos = size - track.Remaining();
        if (event->channel) {
            file.events.push_back(*event->channel);
            file.events.back().tick = ticks;
            file.events.back().track = static_cast<std::uint8_t>(trackIndex);
        }
        if (event->tempo) file.tempos.push_back(MidiTempoChange{ticks, *event->tempo});
        if (event->meta) {
            file.metas.push_back(*event->meta);
            file.metas.back().tick = ticks;
            file.metas.back().track = trackIndex;
        }
        if (event->endOfTrack) break;
    }
    return ticks;
}

bool IsAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return (static_cast<unsigned char>(c) & 0x80) == 0; });
}

template <class Event>
void SortByTick(std::vector<Event>& events) {
    std::stable_sort(events.begin(), events.end(),
                     [](const Event& a, const Event& b) { return a.tick < b.tick; });
}

// The file into an empty MidiFile; false when it cannot be read.
bool ReadMidiFileInto(std::string_view bytes, MidiFile& file) {
    ByteReader reader(bytes);
    const std::optional<std::string_view> header = reader.Take(HeaderBytes);
    if (!header || header->substr(0, 4) != "MThd" || BigEndian(header->substr(4, 4)) != 6) return false;

    MidiFileFacts& facts = file.facts;
    facts.format = static_cast<std::int32_t>(BigEndian(header->substr(8, 2)));
    const auto declaredTracks = static_cast<std::int32_t>(BigEndian(header->substr(10, 2)));
    const unsigned char divisionHigh = static_cast<unsigned char>((*header)[12]);
    facts.division = static_cast<std::int32_t>(BigEndian(header->substr(12, 2)));
    if (facts.format > 2 || (divisionHigh & 0x80) != 0 || facts.division == 0) return false;
    if (declaredTracks > MaxMidiTracks) return false;

    while (facts.trackCount < declaredTracks) {
        const std::optional<std::string_view> head = reader.Take(ChunkHeadBytes);
        if (!head || !IsAscii(head->substr(0, 4))) return false;
        const std::optional<std::string_view> body = reader.Take(BigEndian(head->substr(4, 4)));
        if (!body) return false;
        if (head->substr(0, 4) != "MTrk") continue; // a chunk of another kind is passed over
        const std::optional<std::int64_t> ticks = ReadTrack(*body, facts.trackCount, file);
        if (!ticks) return false;
        facts.totalTicks = std::max(facts.totalTicks, *ticks);
        ++facts.trackCount;
    }
    if (facts.trackCount > 1) {
        SortByTick(file.events);
        SortByTick(file.tempos);
        SortByTick(file.metas);
    }
    return true;
}

} // namespace

std::optional<MidiFile> ReadMidiFile(std::string_view bytes) {
    MidiFile file;
    if (!ReadMidiFile(bytes, file)) return std::nullopt;
    return file;
}

bool ReadMidiFile(std::string_view bytes, MidiFile& file) {
    file.facts = {};
    file.events.clear();
    file.tempos.clear();
    file.metas.clear();
    if (!ReadMidiFileInto(bytes, file)) {
        file.facts = {};
        file.events.clear();
        file.tempos.clear();
        file.metas.clear();
        return false;
    }
    return true;
}

std::optional<MidiFileFacts> ReadMidiFileFacts(std::string_view bytes) {
    const std::optional<MidiFile> file = ReadMidiFile(bytes);
    if (!file) return std::nullopt;
    return file->facts;
}

std::int64_t FirstNoteEventTick(const MidiFile& file) {
    const auto note = std::find_if(file.events.begin(), file.events.end(),
                                   [](const MidiChannelEvent& e) { return e.IsNote(); });
    return note == file.events.end() ? file.facts.totalTicks : note->tick;
}

std::optional<std::int64_t> FirstSoundingTick(const MidiFile& file) {
    const auto note = std::find_if(file.events.begin(), file.events.end(), [](const MidiChannelEvent& e) {
        return e.Kind() == 0x90 && e.data1 < 128 && e.data2 > 0;
    });
    if (note == file.events.end()) return std::nullopt;
    return note->tick;
}

MidiClock::MidiClock(const MidiFile& file, int sampleRate) : sampleRate_(sampleRate) {
    const double division = file.facts.division;
    const auto framesPerTick = [&](std::uint32_t microsecondsPerQuarter) {
        return microsecondsPerQuarter / division * sampleRate / 1e6;
    };
    segments_.push_back(Segment{0, 0.0, framesPerTick(DefaultMicrosecondsPerQuarter)});
    for (const MidiTempoChange& change : file.tempos) {
        const Segment& last = segments_.back();
        const double frame = last.frame + static_cast<double>(change.tick - last.tick) * last.framesPerTick;
        if (change.tick == last.tick) segments_.pop_back(); // the later change at a tick holds
        segments_.push_back(Segment{change.tick, frame, framesPerTick(change.microsecondsPerQuarter)});
    }
}

const MidiClock::Segment& MidiClock::SegmentOfTick(std::int64_t tick) const {
    const auto after = std::upper_bound(segments_.begin(), segments_.end(), tick,
                                        [](std::int64_t t, const Segment& s) { return t < s.tick; });
    return after == segments_.begin() ? segments_.front() : *(after - 1);
}

std::int64_t MidiClock::FrameOf(std::int64_t tick) const {
    const Segment& segment = SegmentOfTick(tick);
    return static_cast<std::int64_t>(
        std::llround(segment.frame + static_cast<double>(tick - segment.tick) * segment.framesPerTick));
}

std::int64_t MidiClock::TickAt(std::int64_t frame) const {
    if (frame <= 0) return 0;
    const auto after = std::upper_bound(segments_.begin(), segments_.end(), static_cast<double>(frame),
                                        [](double f, const Segment& s) { return f < s.frame; });
    const Segment& segment = after == segments_.begin() ? segments_.front() : *(after - 1);
    if (segment.framesPerTick <= 0) return segment.tick;
    return segment.tick + static_cast<std::int64_t>(std::floor(
                              (static_cast<double>(frame) - segment.frame + 0.5) / segment.framesPerTick));
}

} // namespace nagisora
