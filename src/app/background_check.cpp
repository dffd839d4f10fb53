#include "app/background_check.h"

#include <algorithm>
#include <string_view>
#include <sys/resource.h>
#include <tuple>
#include <unistd.h>

namespace nagisora {
namespace {

constexpr int BackgroundNice = 10; // added to the program's own (Linux gives each thread its own)

} // namespace

BackgroundCheck::BackgroundCheck(Done done)
    : done_(std::move(done)), thread_([this](std::stop_token stop) { Run(std::move(stop)); }) {}

BackgroundCheck::~BackgroundCheck() {
    thread_.request_stop();
    wake_.notify_all();
}

void BackgroundCheck::Request(std::uint64_t generation, std::vector<std::string> lines,
                              std::vector<Finding> extra) {
    {
        const std::lock_guard lock(mutex_);
        job_ = Job{generation, std::move(lines), std::move(extra)};
    }
    wake_.notify_one();
}

void BackgroundCheck::Discard(std::vector<Finding> findings) {
    {
        const std::lock_guard lock(mutex_);
        if (discarded_.empty()) discarded_.swap(findings); // else freed here: it is rare
    }
    wake_.notify_one();
}

void BackgroundCheck::Run(std::stop_token stop) {
    // Below the window's thread: where the cores are busy, a keystroke is drawn before the check goes on.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), BackgroundNice);
    while (true) {
        std::optional<Job> job;
        std::vector<Finding> discarded;
        {
            std::unique_lock lock(mutex_);
            if (!wake_.wait(lock, stop, [this] { return job_.has_value() || !discarded_.empty(); })) return;
            job.swap(job_);
            discarded.swap(discarded_);
        }
        discarded = {};
        if (!job) continue;
        const std::vector<std::string_view> views(job->lines.begin(), job->lines.end());
        std::vector<Finding> findings = CheckScore(views);
        MergeFindings(findings, std::move(job->extra));
        if (stop.stop_requested()) return;
        done_(job->generation, std::move(findings));
    }
}

void MergeFindings(std::vector<Finding>& findings, std::vector<Finding> extra) {
    if (extra.empty()) return;
    const auto middle = findings.insert(findings.end(), std::make_move_iterator(extra.begin()),
                                        std::make_move_iterator(extra.end()));
    std::inplace_merge(findings.begin(), middle, findings.end(), [](const Finding& a, const Finding& b) {
        return std::tie(a.span.line, a.span.column) < std::tie(b.span.line, b.span.column);
    });
}

} // namespace nagisora
