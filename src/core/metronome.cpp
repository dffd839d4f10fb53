#include "core/metronome.h"

#include <algorithm>

namespace nagisora {
namespace {

// Division rounded up, for negative numerators too.
std::int64_t CeilDiv(std::int64_t a, std::int64_t b) {
    return a >= 0 ? (a + b - 1) / b : -((-a) / b);
}

class BeatGrid {
  public:
    explicit BeatGrid(std::span<const std::int64_t> barTicks) : bars_(barTicks.begin(), barTicks.end()) {
        std::sort(bars_.begin(), bars_.end());
        bars_.erase(std::unique(bars_.begin(), bars_.end()), bars_.end());
    }

    bool HasBars() const { return !bars_.empty(); }
    bool IsBar(std::int64_t tick) const { return std::binary_search(bars_.begin(), bars_.end(), tick); }

    // The first beat at or after the tick: counted from the bar line before it (back from the first bar line
    // before that), and never past the next bar line, where a measure begins anew.
    std::int64_t BeatAtOrAfter(std::int64_t tick) const {
        const auto next = std::upper_bound(bars_.begin(), bars_.end(), tick);
        const std::int64_t origin = next != bars_.begin() ? *(next - 1) : HasBars() ? bars_.front() : 0;
        const std::int64_t beat =
            origin + CeilDiv(tick - origin, MetronomeTicksPerBeat) * MetronomeTicksPerBeat;
        return next != bars_.end() ? std::min(beat, *next) : beat;
    }

    // The beats of the measure the tick stands in: that of its own bar lines when it has both, else that of
    // the first measure between two bar lines, else the count of a score without bar lines.
    std::int64_t MeasureBeats(std::int64_t tick) const {
        const auto next = std::upper_bound(bars_.begin(), bars_.end(), tick);
        std::int64_t length = 0;
        if (next != bars_.begin() && next != bars_.end())
            length = *next - *(next - 1);
        else if (bars_.size() >= 2)
            length = bars_[1] - bars_[0];
        if (length <= 0) return CountInBeatsWithoutBars;
        return std::clamp(CeilDiv(length, MetronomeTicksPerBeat), std::int64_t{1}, MaxCountInBeats);
    }

  private:
    std::vector<std::int64_t> bars_;
};

} // namespace

std::vector<BeatClick> MetronomeClicks(std::span<const std::int64_t> barTicks,
                                       const MetronomeRequest& request) {
    const BeatGrid grid(barTicks);
    std::vector<BeatClick> clicks;
    const std::int64_t first = grid.BeatAtOrAfter(request.from);
    if (request.countIn) {
        // Measures of one or two beats are counted until three beats or more have been heard.
        const std::int64_t measure = grid.MeasureBeats(request.from);
        const std::int64_t beats = measure * ((MinCountInBeats + measure - 1) / measure);
        for (std::int64_t k = beats; k >= 1; --k)
            clicks.push_back(
                BeatClick{first - k * MetronomeTicksPerBeat, k % measure == 0 && grid.HasBars()});
    }
    if (request.everyBeat)
        for (std::int64_t beat = first; beat < request.to; beat = grid.BeatAtOrAfter(beat + 1))
            clicks.push_back(BeatClick{beat, grid.IsBar(beat)});
    return clicks;
}

} // namespace nagisora
