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
        updater.run();
    }
    return 0;
}
