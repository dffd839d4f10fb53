#pragma once

// Real-time scheduling for the audio threads of the preview, the way a desktop grants it: SCHED_FIFO where
// the process may set it itself (root, a realtime group with an rtprio limit), else through RealtimeKit over
// the system's D-Bus, which grants a real-time priority to the thread of an ordinary user within its own
// limits. Only the media sources include this header.

#include <atomic>
#include <sys/types.h>
#include <thread>

namespace nagisora::media {

// How the thread got its real-time priority; None when nothing granted one (it runs as any other thread).
enum class RealtimeGrant {
    Pending,
    Scheduler,
    RealtimeKit,
    None,
};

// Asks for a real-time priority for one audio thread, once. Owned by the output whose thread it raises.
class RealtimeRequest {
  public:
    explicit RealtimeRequest(int priority) : priority_(priority) {}
    // Waits for a RealtimeKit request still on its way.
    ~RealtimeRequest();
    RealtimeRequest(const RealtimeRequest&) = delete;
    RealtimeRequest& operator=(const RealtimeRequest&) = delete;

    // Called on the audio thread, at each of its callbacks: the first sets SCHED_FIFO, or, when the system
    // refuses that, starts a request to RealtimeKit on a thread of its own so that the audio thread does not
    // wait for the D-Bus round trips. Later calls return at once.
    void ForThisThread();

    RealtimeGrant Grant() const { return grant_.load(); }

  private:
    const int priority_;
    bool asked_ = false; // touched by the audio thread only
    std::atomic<RealtimeGrant> grant_{RealtimeGrant::Pending};
    std::thread kit_;
};

// Asks RealtimeKit to make the thread of this process real-time at the priority, lowered to what RealtimeKit
// allows; first limits the process's RLIMIT_RTTIME to RealtimeKit's maximum, which RealtimeKit requires.
// Whether it was granted.
bool MakeRealtimeThroughKit(pid_t thread, int priority);

} // namespace nagisora::media
