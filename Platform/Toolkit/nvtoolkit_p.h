#ifndef NVTOOLKIT_P_H
#define NVTOOLKIT_P_H

// Toolkit internals shared by its units.

#include <QImage>
#include <QPointer>
#include <QWidget>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "nvtoolkit.h"

// The values last set on a control; the widget follows them on the GUI thread.
struct NVControl {
    QPointer<QWidget> widget;
    ControlID key{0, 0};
    std::mutex lock;
    std::string text;
    bool enabled = true;
    bool visible = true;
    int16_t minimum = 0;
    int16_t maximum = 0;
    int16_t value = 0;
    std::atomic<bool> syncQueued{false};
};

struct NVEventHandler {
    NVWindow* window = nullptr;
    EventHandlerProcPtr proc = nullptr;
    std::vector<EventTypeSpec> types;
    void* userData = nullptr;
};

struct NVWindow {
    QPointer<QWidget> widget;
    std::vector<std::unique_ptr<NVControl>> controls;   // fixed once the window is made
    std::mutex lock;
    std::string title;
    std::atomic<bool> syncQueued{false};
    std::vector<NVEventHandler*> handlers;              // GUI thread only
};

struct NVEvent {
    FourCharCode eventClass = 0;
    uint32_t eventKind = 0;
    bool hasCommand = false;
    HICommand command{};
};

struct NVImage {
    QImage image;
};

bool NVToolkitOnGUIThread();
// Brings the widget up to date from the record, now or on the GUI thread.
void NVControlSync(NVControl* control);
void NVWindowSync(NVWindow* window);
// Makes the window of a loaded widget: its controls, commands and close event.
NVWindow* NVWindowCreate(QWidget* widget);

#endif
