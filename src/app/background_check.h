#pragma once

// The checker's work on long scores, on a thread of its own: the newest text handed to it is checked whole,
// texts handed in while it works are dropped for the newest one. What it finds is handed to a function on
// its thread, tagged with the number the text came with.

#include "core/score_check.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace nagisora {

class BackgroundCheck {
  public:
    // done runs on the worker thread.
    using Done = std::function<void(std::uint64_t generation, std::vector<Finding> findings)>;
    explicit BackgroundCheck(Done done);
    ~BackgroundCheck(); // stops the work and waits for the thread
    BackgroundCheck(const BackgroundCheck&) = delete;
    BackgroundCheck& operator=(const BackgroundCheck&) = delete;

    // Checks the lines (code page 932 bytes) and adds the extra findings, in the order of the text.
    void Request(std::uint64_t generation, std::vector<std::string> lines, std::vector<Finding> extra);

    // Frees findings on the worker thread: hundreds of thousands of messages take a while to free.
    void Discard(std::vector<Finding> findings);

  private:
    struct Job {
        std::uint64_t generation = 0;
        std::vector<std::string> lines;
        std::vector<Finding> extra;
    };
    void Run(std::stop_token stop);

    Done done_;
    std::mutex mutex_;
    std::condition_variable_any wake_;
    std::optional<Job> job_;
    std::vector<Finding> discarded_;
    std::jthread thread_; // last: started once the rest is there, stopped first
};

// Findings of the lines merged with others (each in the order of the text) into the order of the text.
void MergeFindings(std::vector<Finding>& findings, std::vector<Finding> extra);

} // namespace nagisora
