// Application object, event loop and event-loop timers.

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QThread>
#include <QTimer>

#include <glib-unix.h>
#include <signal.h>
#include <unistd.h>

#include <string>

#include "nvtoolkit_p.h"

struct NVEventLoopTimer {
    QTimer* timer = nullptr;
    EventLoopTimerProcPtr proc = nullptr;
    void* userData = nullptr;
    int intervalMs = 0;
};

void NVToolkitInit() {
    if (QCoreApplication::instance())
        return;
    // The application object lives until the process ends, as its windows do.
    static std::string name = [] {
        char buffer[4096];
        ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
        std::string path = n > 0 ? std::string(buffer, size_t(n)) : std::string("nvapp");
        return path.substr(path.rfind('/') + 1);
    }();
    static int argc = 1;
    static char* argv[] = {&name[0], nullptr};
    auto* app = new QApplication(argc, argv);
    app->setQuitOnLastWindowClosed(false);
}

bool NVToolkitOnGUIThread() {
    QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

const char* NVToolkitDispatcherName() {
    NVToolkitInit();
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    return dispatcher ? dispatcher->metaObject()->className() : "none";
}

bool NVToolkitLoopDispatchesGLib() {
    return std::string(NVToolkitDispatcherName()).find("Glib") != std::string::npos;
}

void NVToolkitOnTerminationSignal(void (*handler)(void* userData), void* userData) {
    NVToolkitInit();
    struct Target {
        void (*handler)(void*);
        void* userData;
    };
    // Lives as long as the process, as the signal sources do.
    static Target target;
    target = Target{handler, userData};
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        g_unix_signal_add(signal, [](gpointer) -> gboolean {
            if (target.handler)
                target.handler(target.userData);
            return G_SOURCE_CONTINUE;
        }, nullptr);
    }
}

void RunApplicationEventLoop() {
    NVToolkitInit();
    QApplication::exec();
}

void QuitApplicationEventLoop() {
    if (QCoreApplication::instance())
        QCoreApplication::quit();
}

OSStatus InstallEventLoopTimer(double delay, double interval, EventLoopTimerProcPtr proc,
                               void* userData, EventLoopTimerRef* outTimer) {
    if (!proc || !outTimer || delay < 0 || interval < 0)
        return paramErr;
    NVToolkitInit();
    auto* t = new NVEventLoopTimer;
    t->proc = proc;
    t->userData = userData;
    t->intervalMs = int(interval * 1000.0 + 0.5);
    t->timer = new QTimer;
    // Coarse timers may fire up to 5% early; the redraw timer's delays are exact figures.
    t->timer->setTimerType(Qt::PreciseTimer);
    t->timer->setInterval(int(delay * 1000.0 + 0.5));
    QObject::connect(t->timer, &QTimer::timeout, [t] {
        if (t->intervalMs > 0)
            t->timer->setInterval(t->intervalMs);
        else
            t->timer->stop();
        t->proc(t, t->userData);
    });
    t->timer->start();
    *outTimer = t;
    return noErr;
}

OSStatus RemoveEventLoopTimer(EventLoopTimerRef timer) {
    if (!timer)
        return paramErr;
    timer->timer->stop();
    delete timer->timer;
    delete timer;
    return noErr;
}
