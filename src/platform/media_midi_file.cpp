#include "media_midi_file.h"

#include <algorithm>

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

// Reads one event after its delta time. Returns false when the event cannot be read; sets endOfTrack when it
// is the end-of-track meta event.
bool ReadEvent(ByteReader& track, unsigned char& runningStatus, bool& endOfTrack) {
    const std::optional<unsigned char> first = track.Byte();
    if (!first) return false;
    const unsigned char status = *first;
    if (status < 0x80) {
        // A data byte: the running status applies, and this byte is its first data byte.
        if (runningStatus == 0) return false;
        return track.Skip(ChannelDataBytes(runningStatus) - 1);
    }
    if (status == MetaStatus) {
        const std::optional<unsigned char> type = track.Byte();
        const std::optional<std::uint32_t> length = type ? track.VariableLength() : std::nullopt;
        if (!length) return false;
        if (*type == SetTempoType && *length != SetTempoLength) return false;
        endOfTrack = *type == EndOfTrackType;
        runningStatus = 0;
        return track.Skip(*length);
    }
    if (status == SysExStatus || status == SysExContinuation) {
        const std::optional<std::uint32_t> length = track.VariableLength();
        runningStatus = 0;
        return length && track.Skip(*length);
    }
    if (status >= 0xF0) return false; // system common and real-time messages have no place in a file
    runningStatus = status;
    return track.Skip(ChannelDataBytes(status));
}

// The length of one track in ticks, or nothing when it cannot be read. Events after the end of track are
// ignored, as the sequencer ignores them.
std::optional<std::int64_t> TrackTicks(std::string_view body) {
    ByteReader track(body);
    std::int64_t ticks = 0;
    unsigned char runningStatus = 0;
    bool endOfTrack = false;
    while (!track.AtEnd() && !endOfTrack) {
        const std::optional<std::uint32_t> delta = track.VariableLength();
        if (!delta) return std::nullopt;
        ticks += *delta;
        if (!ReadEvent(track, runningStatus, endOfTrack)) return std::nullopt;
    }
    return ticks;
}

bool IsAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return (static_cast<unsigned char>(c) & 0x80) == 0; });
}

} // namespace

std::optional<MidiFileFacts> ReadMidiFileFacts(std::string_view bytes) {
    ByteReader file(bytes);
    const std::optional<std::string_view> header = file.Take(HeaderBytes);
    if (!header || header->substr(0, 4) != "MThd" || BigEndian(header->substr(4, 4)) != 6)
        return std::nullopt;

    MidiFileFacts facts;
    facts.format = static_cast<std::int32_t>(BigEndian(header->substr(8, 2)));
    const auto declaredTracks = static_cast<std::int32_t>(BigEndian(header->substr(10, 2)));
    const unsigned char divisionHigh = static_cast<unsigned char>((*header)[12]);
    facts.division = static_cast<std::int32_t>(BigEndian(header->substr(12, 2)));
    if (facts.format > 2 || (divisionHigh & 0x80) != 0 || facts.division == 0) return std::nullopt;
    if (declaredTracks > MaxMidiTracks) return std::nullopt;

    while (facts.trackCount < declaredTracks) {
        const std::optional<std::string_view> head = file.Take(ChunkHeadBytes);
        if (!head || !IsAscii(head->substr(0, 4))) return std::nullopt;
        const std::optional<std::string_view> body = file.Take(BigEndian(head->substr(4, 4)));
        if (!body) return std::nullopt;
        if (head->substr(0, 4) != "MTrk") continue; // a chunk of another kind is passed over
        const std::optional<std::int64_t> ticks = TrackTicks(*body);
        if (!ticks) return std::nullopt;
        facts.totalTicks = std::max(facts.totalTicks, *ticks);
        ++facts.trackCount;
    }
    return facts;
}

} // namespace nagisora
