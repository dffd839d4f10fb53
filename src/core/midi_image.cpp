#include "midi_image.h"

#include <algorithm>

namespace nagisora {
namespace {

constexpr unsigned char NoteOff = 0x80;
constexpr unsigned char NoteOn = 0x90;
constexpr unsigned char ProgramChange = 0xC0;

// The most bytes one event group can take: note-off (4), program change (3), note-on with a 4-byte delta (7).
constexpr std::size_t MaxGroupBytes = 14;

unsigned char LowByte(std::int32_t value) {
    return static_cast<unsigned char>(value & 0xFF);
}

// Writes the delta time at out and returns the position after it.
unsigned char* PutDeltaTime(unsigned char* out, std::uint32_t value) {
    value &= 0x0FFFFFFF;
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

    void Rest(const TOnpu& e) {
        Put(NoteOff, LowByte(lastKey_), 0x00);
        out_ = PutDeltaTime(out_, static_cast<std::uint32_t>(e.Oncho));
    }

    // The filler event only carries the delta time; whatever sounds keeps sounding.
    void Hold(const TOnpu& e) {
        Put(NoteOn, 0xFF, 0x00);
        out_ = PutDeltaTime(out_, static_cast<std::uint32_t>(e.Oncho));
    }

    void Note(const TOnpu& e, bool first) {
        if (!first) EmitNoteOff();
        if (e.Onshoku != -1 && useScoreTimbres_) Put(ProgramChange, LowByte(e.Onshoku), 0x00);
        Put(NoteOn, LowByte(e.Onko), velocity_);
        out_ = PutDeltaTime(out_, static_cast<std::uint32_t>(e.Oncho));
        lastKey_ = e.Onko;
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
    const char header[14] = {'M', 'T',
                             'h', 'd',
                             0,   0,
                             0,   6,
                             0,   0,
                             0,   static_cast<char>(LowByte(trackCount)),
                             0,   static_cast<char>(LowByte(tempo))};
    return std::string(header, sizeof header);
}

void AppendTrackChunk(std::string& out, const OnpuList& list, std::int32_t onpuCount,
                      const TrackSettings& settings) {
    const std::int32_t count = std::clamp<std::int32_t>(onpuCount, 0, static_cast<std::int32_t>(list.size()));
    constexpr std::size_t LeadBytes = 12; // "MTrk", length, 00 C0 instrument 20
    const std::size_t start = out.size();
    out.resize(start + LeadBytes + MaxGroupBytes * (static_cast<std::size_t>(count) + 1));
    auto* const lead = reinterpret_cast<unsigned char*>(out.data() + start);
    unsigned char* const bodyStart = lead + LeadBytes;

    TrackBody body(bodyStart, settings);
    for (std::int32_t i = 0; i < count; ++i) {
        const TOnpu& e = list[static_cast<std::size_t>(i)];
        if (e.Onko == 0)
            body.Rest(e);
        else if (e.Onko == -1)
            body.Hold(e);
        else
            body.Note(e, i == 0);
    }
    body.EmitNoteOff();

    const auto bodyBytes = static_cast<std::uint32_t>(body.End() - bodyStart);
    unsigned char* p = lead;
    *p++ = 'M';
    *p++ = 'T';
    *p++ = 'r';
    *p++ = 'k';
    p = PutBigEndian32(p, bodyBytes + 7);
    *p++ = 0x00;
    *p++ = ProgramChange;
    *p++ = LowByte(settings.instrument);
    *p++ = 0x20;
    out.resize(start + LeadBytes + bodyBytes);
}

std::string MakeTrackChunk(const OnpuList& list, std::int32_t onpuCount, const TrackSettings& settings) {
    std::string track;
    AppendTrackChunk(track, list, onpuCount, settings);
    return track;
}

} // namespace nagisora
