#include "app/Shutdown.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace Shutdown {

namespace {

int wakePipe[2] = {-1, -1};
std::atomic<long long> deadlineMs{0}; // monotonic milliseconds; 0: no quit yet
std::atomic<long long> engineGroup{0};
std::atomic<bool> ready{false};

long long nowMs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

[[noreturn]] void guard()
{
    for (;;) {
        const long long deadline = deadlineMs.load();
        const long long now = nowMs();
        if (deadline != 0 && now >= deadline) {
            if (const long long group = engineGroup.load(); group > 0) {
                ::kill(-pid_t(group), SIGKILL);
                ::kill(pid_t(group), SIGKILL);
            }
            ::_exit(0);
        }
        pollfd p{wakePipe[0], POLLIN, 0};
        const int wait = deadline == 0 ? -1 : int(deadline - now);
        if (::poll(&p, 1, wait) > 0) {
            char buf[16];
            while (::read(wakePipe[0], buf, sizeof buf) > 0) {
            }
        }
    }
}

} // namespace

void install()
{
    if (ready.exchange(true))
        return;
    if (::pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        ready = false;
        return;
    }
    std::thread(guard).detach();
}

bool installed()
{
    return ready.load();
}

void begin(double seconds)
{
    if (!ready.load())
        return;
    const long long wanted = nowMs() + static_cast<long long>(seconds * 1000);
    long long current = deadlineMs.load();
    while ((current == 0 || wanted < current) && !deadlineMs.compare_exchange_weak(current, wanted)) {
    }
    const char byte = 1;
    const int saved = errno;
    if (::write(wakePipe[1], &byte, 1) < 0) {
        // A full pipe already holds a wake-up.
    }
    errno = saved;
}

void setEngineGroup(qint64 pid)
{
    engineGroup = pid;
}

} // namespace Shutdown
