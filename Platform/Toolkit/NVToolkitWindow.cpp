// Window descriptions, windows, their handler chains and commands.

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QMetaObject>
#include <QPixmap>
#include <QProgressBar>
#include <QRegularExpression>
#include <QtUiTools/QUiLoader>

#include <algorithm>
#include <cstring>

#include "nvbundle.h"
#include "nvtoolkit_p.h"

struct NVNib {
    QWidget* root = nullptr;   // owned until a window takes it
};

namespace {

bool fourCharCode(const QString& text, FourCharCode& code) {
    QByteArray bytes = text.toLatin1();
    if (bytes.size() != 4)
        return false;
    code = (FourCharCode(uint8_t(bytes[0])) << 24) | (FourCharCode(uint8_t(bytes[1])) << 16) |
           (FourCharCode(uint8_t(bytes[2])) << 8) | FourCharCode(uint8_t(bytes[3]));
    return true;
}

// Control keys are object names "sign:id".
bool controlKey(const QString& name, ControlID& key) {
    static const QRegularExpression pattern(QStringLiteral("^(.{4}):(-?[0-9]{1,10})$"));
    QRegularExpressionMatch m = pattern.match(name);
    if (!m.hasMatch() || !fourCharCode(m.captured(1), key.signature))
        return false;
    bool ok = false;
    key.id = m.captured(2).toInt(&ok);
    return ok;
}

void seedRecord(NVControl* c, QWidget* w) {
    c->enabled = w->isEnabled();
    c->visible = !w->isHidden();
    if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        c->text = b->text().toStdString();
    } else if (auto* l = qobject_cast<QLabel*>(w)) {
        l->setTextFormat(Qt::PlainText);   // status texts carry line breaks, not markup
        c->text = l->text().toStdString();
    } else if (auto* p = qobject_cast<QProgressBar*>(w)) {
        c->minimum = int16_t(p->minimum());
        c->maximum = int16_t(p->maximum());
        c->value = int16_t(p->value());
    } else if (auto* cb = qobject_cast<QComboBox*>(w)) {
        c->text = cb->currentText().toStdString();
    }
}

// Sends the window-closed event once the close has gone through.
class CloseWatcher : public QObject {
public:
    CloseWatcher(NVWindow* window, QObject* parent) : QObject(parent), mWindow(window) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Close) {
            NVWindow* window = mWindow;
            QMetaObject::invokeMethod(
                this,
                [window] {
                    if (window->widget && window->widget->isVisible())
                        return;   // the close was refused
                    EventRef closed = NVCreateEvent(kEventClassWindow, kEventWindowClosed);
                    SendEventToWindow(closed, window);
                    ReleaseEvent(closed);
                },
                Qt::QueuedConnection);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    NVWindow* mWindow;
};

void connectCommand(NVWindow* window, QObject* sender) {
    FourCharCode code = 0;
    if (!fourCharCode(sender->property("command").toString(), code))
        return;
    auto send = [window, code] { NVSendCommand(window, code); };
    if (auto* button = qobject_cast<QAbstractButton*>(sender))
        QObject::connect(button, &QAbstractButton::clicked, button, send);
    else if (auto* action = qobject_cast<QAction*>(sender))
        QObject::connect(action, &QAction::triggered, action, send);
}

}  // namespace

OSStatus CreateNibReference(const char* name, IBNibRef* outNib) {
    if (!name || !outNib)
        return paramErr;
    *outNib = nullptr;
    NVToolkitInit();
    std::string path = NVBundleCopyResourcePath(name, "ui");
    if (path.empty())
        return resNotFound;
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        return resNotFound;
    QUiLoader loader;
    QWidget* root = loader.load(&file);
    if (!root)
        return resNotFound;
    *outNib = new NVNib{root};
    return noErr;
}

OSStatus SetMenuBarFromNib(IBNibRef nib, const char* name) {
    if (!nib || !nib->root || !name)
        return paramErr;
    return nib->root->findChild<QMenuBar*>(QString::fromLatin1(name)) ? noErr : resNotFound;
}

OSStatus CreateWindowFromNib(IBNibRef nib, const char* name, WindowRef* outWindow) {
    if (!nib || !nib->root || !name || !outWindow)
        return paramErr;
    *outWindow = nullptr;
    if (nib->root->objectName() != QString::fromLatin1(name))
        return resNotFound;
    *outWindow = NVWindowCreate(nib->root);
    nib->root = nullptr;
    return noErr;
}

void DisposeNibReference(IBNibRef nib) {
    if (!nib)
        return;
    delete nib->root;
    delete nib;
}

NVWindow* NVWindowCreate(QWidget* widget) {
    auto* window = new NVWindow;
    window->widget = widget;
    window->title = widget->windowTitle().toStdString();
    for (QWidget* child : widget->findChildren<QWidget*>()) {
        ControlID key;
        if (!controlKey(child->objectName(), key))
            continue;
        auto control = std::make_unique<NVControl>();
        control->widget = child;
        control->key = key;
        seedRecord(control.get(), child);
        window->controls.push_back(std::move(control));
    }
    for (QObject* child : widget->findChildren<QObject*>())
        connectCommand(window, child);
    widget->installEventFilter(new CloseWatcher(window, widget));
    return window;
}

void ShowWindow(WindowRef window) {
    if (window && window->widget)
        window->widget->show();
}

void CloseWindow(WindowRef window) {
    if (window && window->widget)
        window->widget->close();
}

bool IsWindowVisible(WindowRef window) {
    return window && window->widget && window->widget->isVisible();
}

void NVWindowSync(NVWindow* window) {
    auto apply = [window] {
        window->syncQueued = false;
        if (!window->widget)
            return;
        std::string title;
        {
            std::lock_guard<std::mutex> hold(window->lock);
            title = window->title;
        }
        window->widget->setWindowTitle(QString::fromStdString(title));
    };
    if (NVToolkitOnGUIThread())
        apply();
    else if (!window->syncQueued.exchange(true))
        QMetaObject::invokeMethod(qApp, apply, Qt::QueuedConnection);
}

void SetWTitle(WindowRef window, const unsigned char* title) {
    if (!window || !title)
        return;
    {
        std::lock_guard<std::mutex> hold(window->lock);
        window->title.assign(reinterpret_cast<const char*>(title + 1), title[0]);
    }
    NVWindowSync(window);
}

void GetWTitle(WindowRef window, unsigned char* title) {
    if (!title)
        return;
    title[0] = 0;
    if (!window)
        return;
    std::lock_guard<std::mutex> hold(window->lock);
    size_t n = std::min<size_t>(window->title.size(), 255);
    title[0] = static_cast<unsigned char>(n);
    memcpy(title + 1, window->title.data(), n);
}

void Draw1Control(ControlRef control) {
    if (control && control->widget && NVToolkitOnGUIThread())
        control->widget->update();
}

void DrawControls(WindowRef window) {
    if (!window || !NVToolkitOnGUIThread())
        return;
    for (auto& control : window->controls)
        Draw1Control(control.get());
}

bool NVWindowSaveImage(WindowRef window, const char* path) {
    if (!window || !window->widget || !path || !NVToolkitOnGUIThread())
        return false;
    QApplication::processEvents();
    return window->widget->grab().save(QString::fromLocal8Bit(path), "PNG");
}

OSStatus InstallWindowEventHandler(WindowRef window, EventHandlerProcPtr handler,
                                   uint32_t numTypes, const EventTypeSpec* types,
                                   void* userData, EventHandlerRef* outRef) {
    if (!window || !handler || (numTypes && !types))
        return paramErr;
    auto* h = new NVEventHandler;
    h->window = window;
    h->proc = handler;
    h->types.assign(types, types + numTypes);
    h->userData = userData;
    window->handlers.push_back(h);
    if (outRef)
        *outRef = h;
    return noErr;
}

OSStatus RemoveEventHandler(EventHandlerRef handler) {
    if (!handler)
        return paramErr;
    auto& list = handler->window->handlers;
    list.erase(std::remove(list.begin(), list.end(), handler), list.end());
    delete handler;
    return noErr;
}

EventRef NVCreateEvent(FourCharCode eventClass, uint32_t eventKind) {
    auto* event = new NVEvent;
    event->eventClass = eventClass;
    event->eventKind = eventKind;
    return event;
}

EventRef NVCreateCommandEvent(uint32_t commandID, bool withCommand) {
    EventRef event = NVCreateEvent(kEventClassCommand, kEventCommandProcess);
    event->hasCommand = withCommand;
    event->command.commandID = commandID;
    return event;
}

void ReleaseEvent(EventRef event) { delete event; }

OSStatus GetEventParameter(EventRef event, FourCharCode name, FourCharCode type,
                           FourCharCode* outActualType, size_t bufferSize, size_t* outActualSize,
                           void* outData) {
    if (!event || !outData)
        return paramErr;
    if (name != kEventParamDirectObject || type != typeHICommand || !event->hasCommand)
        return eventParameterNotFoundErr;
    if (bufferSize < sizeof(HICommand))
        return paramErr;
    memcpy(outData, &event->command, sizeof(HICommand));
    if (outActualType)
        *outActualType = typeHICommand;
    if (outActualSize)
        *outActualSize = sizeof(HICommand);
    return noErr;
}

OSStatus SendEventToWindow(EventRef event, WindowRef window) {
    if (!event || !window)
        return paramErr;
    // A handler may install or remove handlers: walk a copy.
    std::vector<NVEventHandler*> chain = window->handlers;
    for (NVEventHandler* h : chain) {
        bool wanted = std::any_of(h->types.begin(), h->types.end(), [event](const EventTypeSpec& t) {
            return t.eventClass == event->eventClass && t.eventKind == event->eventKind;
        });
        if (!wanted)
            continue;
        OSStatus status = h->proc(nullptr, event, h->userData);
        if (status != eventNotHandledErr)
            return status;
    }
    return eventNotHandledErr;
}

OSStatus NVSendCommand(WindowRef window, uint32_t commandID) {
    EventRef event = NVCreateCommandEvent(commandID);
    OSStatus status = SendEventToWindow(event, window);
    ReleaseEvent(event);
    return status;
}
