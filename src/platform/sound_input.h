#pragma once

// Sound from a source of the sound server (PulseAudio, or PipeWire through its PulseAudio service): the
// sources it offers, and one of them read as mono 32-bit float samples on a thread of its own, a few
// milliseconds at a time.

#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <thread>
#include <vector>

struct pa_simple;

namespace nagisora {

// Why sound input is not to be had.
enum class InputProblem : std::uint8_t {
    None,
    NoServer,     // no sound server answers
    NoSource,     // the server has no source, or not the one asked for
    NoPermission, // the server refused access
    Failed,       // any other failure; the message says what
};

struct SoundSource {
    std::string name;        // the server's name of the source
    std::string description; // what the server shows the user
    bool monitor = false;    // the sound an output plays, not an input
};

struct SourceList {
    std::vector<SoundSource> sources;
    std::string defaultSource;
    InputProblem problem = InputProblem::None;
    std::string message; // the server's words for a problem
};

// The sources the server offers now; the problem when it cannot be asked.
SourceList ListSoundSources();

class SoundInput {
  public:
    // Receives each block of samples on the input's thread; seconds counts the samples read before it.
    using Block = std::function<void(std::span<const float> samples, double seconds)>;

    static constexpr std::uint32_t Rate = 44100;
    static constexpr std::uint32_t BlockFrames = 256; // 5.8 ms

    // Opens the source (empty: the server's default) and starts reading it; Problem() tells when it did not.
    SoundInput(const std::string& source, Block block);
    ~SoundInput();
    SoundInput(const SoundInput&) = delete;
    SoundInput& operator=(const SoundInput&) = delete;

    InputProblem Problem() const { return problem_; }
    const std::string& Message() const { return message_; }
    // The time the server says a sound takes from the source to the reader, in microseconds, as the input
    // began.
    std::uint64_t LatencyMicroseconds() const { return latency_; }
    // Set when the stream broke off after it had started (the source went away).
    bool Broken() const { return broken_; }

  private:
    void Read();

    pa_simple* stream_ = nullptr;
    Block block_;
    InputProblem problem_ = InputProblem::None;
    std::string message_;
    std::uint64_t latency_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<bool> broken_{false};
    std::thread reader_;
};

} // namespace nagisora
