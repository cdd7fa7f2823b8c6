#include <cstdio>

#include "FWUpdater.h"

int main(int, char**) {
    NVToolkitInit();
    // Device notifications arrive as GLib sources: without a GLib dispatcher they never would.
    if (!NVToolkitLoopDispatchesGLib()) {
        fprintf(stderr,
                "updater: the event loop (%s) does not serve GLib sources, so devices would "
                "never be seen; unset QT_NO_GLIB and start again.\n",
                NVToolkitDispatcherName());
        return 1;
    }
    {
        FWUpdater updater;
        // Ctrl-C or a logout goes the way of closing the window, so the marker is taken
        // away and the device closed instead of the process just ending.
        NVToolkitOnTerminationSignal(
            [](void* self) {
                auto* u = static_cast<FWUpdater*>(self);
                if (u->getWindow() && IsWindowVisible(u->getWindow()))
                    CloseWindow(u->getWindow());
                else
                    FWUpdater::mainWindowClosedHandler(nullptr, nullptr, u);
            },
            &updater);
        updater.run();
    }
    return 0;
}
