#include "frame/signalwatch.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {
int g_pipe[2] = {-1, -1};
std::function<void(int)> g_callback;
QSocketNotifier* g_notifier = nullptr;

void onSignal(int signo)
{
    const unsigned char b = static_cast<unsigned char>(signo);
    // Only write(2) here: it is safe inside a signal handler.
    [[maybe_unused]] ssize_t n = ::write(g_pipe[1], &b, 1);
}
} // namespace

bool SignalWatch::catchSignals()
{
    if (g_pipe[0] < 0) {
        if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
            return false;
    }
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    return ::sigaction(SIGINT, &sa, nullptr) == 0 && ::sigaction(SIGTERM, &sa, nullptr) == 0;
}

bool SignalWatch::install(std::function<void(int)> callback)
{
    if (!catchSignals())
        return false;
    g_callback = std::move(callback);
    if (!g_notifier) {
        g_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, QCoreApplication::instance());
        QObject::connect(g_notifier, &QSocketNotifier::activated, g_notifier, [] {
            unsigned char b = 0;
            while (::read(g_pipe[0], &b, 1) == 1)
                if (g_callback)
                    g_callback(b);
        });
    }
    return true;
}
