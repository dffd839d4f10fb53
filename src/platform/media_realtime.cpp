#include "platform/media_realtime.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

namespace nagisora::media {
namespace {

constexpr char KitService[] = "org.freedesktop.RealtimeKit1";
constexpr char KitPath[] = "/org/freedesktop/RealtimeKit1";
constexpr char KitInterface[] = "org.freedesktop.RealtimeKit1";
constexpr std::uint64_t KitTimeoutUsec = 2'000'000;

struct BusDeleter {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};

// A property of RealtimeKit of the D-Bus type ('i' or 'x'); none when it cannot be read.
template <class Value>
bool KitProperty(sd_bus* bus, const char* name, char type, Value& value) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    const int result =
        sd_bus_get_property_trivial(bus, KitService, KitPath, KitInterface, name, &error, type, &value);
    sd_bus_error_free(&error);
    return result >= 0;
}

// RealtimeKit grants a thread only to a process whose RLIMIT_RTTIME is at most its RTTimeUSecMax: a
// real-time thread that runs that long without sleeping is stopped rather than lock up the machine. An audio
// thread sleeps at every period.
bool LimitRealtimeRunning(sd_bus* bus) {
    std::int64_t most = 0;
    if (!KitProperty(bus, "RTTimeUSecMax", 'x', most) || most <= 0) return false;
    rlimit limit{};
    if (::getrlimit(RLIMIT_RTTIME, &limit) != 0) return false;
    const auto allowed = static_cast<rlim_t>(most);
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max <= allowed) return true;
    limit.rlim_cur = std::min(limit.rlim_cur, allowed);
    limit.rlim_max = allowed;
    return ::setrlimit(RLIMIT_RTTIME, &limit) == 0;
}

} // namespace

bool MakeRealtimeThroughKit(pid_t thread, int priority) {
    sd_bus* opened = nullptr;
    if (sd_bus_open_system(&opened) < 0) return false;
    const std::unique_ptr<sd_bus, BusDeleter> bus(opened);
    // The output's end waits for this request: a bus that does not answer must not hold it up for long.
    sd_bus_set_method_call_timeout(bus.get(), KitTimeoutUsec);
    std::int32_t most = 0;
    if (!KitProperty(bus.get(), "MaxRealtimePriority", 'i', most) || most < 1) return false;
    if (!LimitRealtimeRunning(bus.get())) return false;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    const int result = sd_bus_call_method(bus.get(), KitService, KitPath, KitInterface, "MakeThreadRealtime",
                                          &error, nullptr, "tu", static_cast<std::uint64_t>(thread),
                                          static_cast<std::uint32_t>(std::min(priority, most)));
    sd_bus_error_free(&error);
    return result >= 0;
}

RealtimeRequest::~RealtimeRequest() {
    if (kit_.joinable()) kit_.join();
}

void RealtimeRequest::ForThisThread() {
    if (asked_) return;
    asked_ = true;
    sched_param parameters{};
    parameters.sched_priority = priority_;
    if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &parameters) == 0) {
        grant_.store(RealtimeGrant::Scheduler);
        return;
    }
    kit_ = std::thread([this, thread = ::gettid()] {
        grant_.store(MakeRealtimeThroughKit(thread, priority_) ? RealtimeGrant::RealtimeKit
                                                               : RealtimeGrant::None);
    });
}

} // namespace nagisora::media
