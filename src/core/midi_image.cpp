#include "core/midi_image.h"

#include <algorithm>

namespace nagisora {
namespace {

using midi::NoteOff;
using midi::NoteOn;
using midi::ProgramChange;

// The most bytes one event group can take: note-off (4), program change (3), note-on with a 4-byte delta (7).
constexpr std::size_t MaxGroupBytes = 14;

unsigned char LowByte(std::int32_t value) {
    return static_cast<unsigned char>(value & 0xFF);
}

// Writes the delta time at out and returns the position after it.
unsigned char* PutDeltaTime(unsigned char* out, std::uint32_t value) {
    value &= midi::MaxDeltaTime;
    if (value >= (1u << 21)) *out++ = static_cast<unsigned char>(0x80 | (value >> 21));
    if (value >= (1u << 14)) *out++ = static_cast<unsigned char>(0x80 | ((value >> 14) & 0x7F));
    if (value >= (1u << 7)) *out++ = static_cast<unsigned char>(0x80 | ((value >> 7) & 0x7F));
    *out++ = static_cast<unsigned char>(value & 0x7F);
    return out;
}

unsigned char* PutBigEndian32(unsigned char* out, std::uint32_t value) {
    *out++ = static_cast<unsigned char>(value >> 24);
    *out++ = static_cast<unsigned char>(value >> 16);
    *out++ = static_cast<unsigned char>(value >> 8);
    *out++ = static_cast<unsigned char>(value);
    return out;
}

// Builds the body of the track: one event group per event and the closing note-off.
class TrackBody {
  public:
    TrackBody(unsigned char* out, const TrackSettings& settings)
        : out_(out), velocity_(LowByte(settings.volume)), useScoreTimbres_(settings.useScoreTimbres) {}

    void Rest(const NoteEvent& e) {
        Put(NoteOff, LowByte(lastKey_), 0x00);
        out_ = PutDeltaTime(out_, static_cast<std::uint32_t>(e.ticks));
    }

    // The filler event only carries the delta time; whatever sounds keeps sounding.
    void Hold(const NoteEvent& e) {
        Put(NoteOn, midi::HoldKey, 0x00);
        out_ = PutDeltaTime(out_, static_cast<std::uint32_t>(e.ticks));
    }

    void Note(const NoteEvent& e, bool first) {
        if (!first) EmitNoteOff();
        if (e.HasProgram() && useScoreTimbres_) Put(ProgramChange, LowByte(e.program), 0x00);
        Put(NoteOn, LowByte(e.key), velocity_);
        out_ = PutDeltaTime(out_, static_cast<std::uint32_t>(e.ticks));
        lastKey_ = e.key;
    }

    void EmitNoteOff() {
        Put(NoteOff, LowByte(lastKey_), velocity_);
        *out_++ = 0x00;
    }

    unsigned char* End() const { return out_; }

  private:
    void Put(unsigned char a, unsigned char b, unsigned char c) {
        out_[0] = a;
        out_[1] = b;
        out_[2] = c;
        out_ += 3;
    }

    unsigned char* out_;
    unsigned char velocity_;
    bool useScoreTimbres_;
    std::int32_t lastKey_ = 0;
};

} // namespace

std::string DeltaTime(std::uint32_t value) {
    unsigned char bytes[4];
    const unsigned char* end = PutDeltaTime(bytes, value);
    return std::string(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(end - bytes));
}

std::string MakeHeaderChunk(std::int32_t trackCount, std::int32_t tempo) {
    std::string header(midi::HeaderType);
    unsigned char fields[midi::HeaderChunkBytes - 4];
    unsigned char* p = PutBigEndian32(fields, midi::HeaderLength);
    *p++ = 0x00; // format, high byte first
    *p++ = midi::Format0;
    *p++ = 0x00; // the track count and the division are one byte each in a 16-bit field
    *p++ = LowByte(trackCount);
    *p++ = 0x00;
    *p++ = LowByte(tempo);
    header.append(reinterpret_cast<const char*>(fields), sizeof fields);
    return header;
}

void AppendTrackChunk(std::string& out, std::span<const NoteEvent> list, std::int32_t eventCount,
                      const TrackSettings& settings) {
    const std::int32_t count =
        std::clamp<std::int32_t>(eventCount, 0, static_cast<std::int32_t>(list.size()));
    const std::size_t start = out.size();
    out.resize(start + midi::TrackLeadBytes + MaxGroupBytes * (static_cast<std::size_t>(count) + 1));
    auto* const lead = reinterpret_cast<unsigned char*>(out.data() + start);
    unsigned char* const bodyStart = lead + midi::TrackLeadBytes;

    TrackBody body(bodyStart, settings);
    for (std::int32_t i = 0; i < count; ++i) {
        const NoteEvent& e = list[static_cast<std::size_t>(i)];
        if (e.IsRest())
            body.Rest(e);
        else if (e.IsHold())
            body.Hold(e);
        else
            body.Note(e, i == 0);
    }
    body.EmitNoteOff();

    const auto bodyBytes = static_cast<std::uint32_t>(body.End() - bodyStart);
    unsigned char* p = std::copy(midi::TrackType.begin(), midi::TrackType.end(), lead);
    p = PutBigEndian32(p, bodyBytes + midi::TrackLengthExtra);
    *p++ = 0x00; // delta time 0 before the opening program change
    *p++ = ProgramChange;
    *p++ = LowByte(settings.instrument);
    *p++ = midi::LeadInDelta;
    out.resize(start + midi::TrackLeadBytes + bodyBytes);
}

std::string MakeTrackChunk(std::span<const NoteEvent> list, std::int32_t eventCount,
                           const TrackSettings& settings) {
    std::string track;
    AppendTrackChunk(track, list, eventCount, settings);
    return track;
}

} // namespace nagisora
