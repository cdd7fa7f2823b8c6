// Controls by (signature, id), their values, and image views.

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPixmap>
#include <QProgressBar>

#include <algorithm>
#include <cstring>

#include "nvtoolkit_p.h"

namespace {

void applyRecord(NVControl* c) {
    QWidget* w = c->widget;
    if (!w)
        return;
    std::string text;
    bool enabled, visible;
    int16_t minimum, maximum, value;
    {
        std::lock_guard<std::mutex> hold(c->lock);
        text = c->text;
        enabled = c->enabled;
        visible = c->visible;
        minimum = c->minimum;
        maximum = c->maximum;
        value = c->value;
    }
    QString qtext = QString::fromStdString(text);
    if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        if (b->text() != qtext)
            b->setText(qtext);
    } else if (auto* l = qobject_cast<QLabel*>(w)) {
        if (l->pixmap().isNull() && l->text() != qtext)
            l->setText(qtext);
    } else if (auto* p = qobject_cast<QProgressBar*>(w)) {
        p->setRange(minimum, maximum);
        p->setValue(value);
    } else if (auto* cb = qobject_cast<QComboBox*>(w)) {
        if (cb->isEditable())
            cb->setCurrentText(qtext);
    } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
        if (e->text() != qtext)
            e->setText(qtext);
    }
    w->setEnabled(enabled);
    w->setVisible(visible);
}

template <typename F>
void change(ControlRef control, F&& edit) {
    if (!control)
        return;
    {
        std::lock_guard<std::mutex> hold(control->lock);
        edit(*control);
    }
    NVControlSync(control);
}

template <typename T, typename F>
T read(ControlRef control, T fallback, F&& get) {
    if (!control)
        return fallback;
    std::lock_guard<std::mutex> hold(control->lock);
    return get(*control);
}

}  // namespace

void NVControlSync(NVControl* control) {
    if (NVToolkitOnGUIThread()) {
        control->syncQueued = false;
        applyRecord(control);
        return;
    }
    // One pending update is enough: it applies whatever the record holds when it runs.
    if (!control->syncQueued.exchange(true)) {
        QMetaObject::invokeMethod(
            qApp,
            [control] {
                control->syncQueued = false;
                applyRecord(control);
            },
            Qt::QueuedConnection);
    }
}

OSStatus GetControlByID(WindowRef window, const ControlID* id, ControlRef* outControl) {
    if (!outControl)
        return paramErr;
    *outControl = nullptr;
    if (!window || !id)
        return paramErr;
    for (auto& c : window->controls) {
        if (c->key.signature == id->signature && c->key.id == id->id) {
            *outControl = c.get();
            return noErr;
        }
    }
    return errUnknownControl;
}

void ShowControl(ControlRef control) { change(control, [](NVControl& c) { c.visible = true; }); }
void HideControl(ControlRef control) { change(control, [](NVControl& c) { c.visible = false; }); }
void EnableControl(ControlRef control) { change(control, [](NVControl& c) { c.enabled = true; }); }
void DisableControl(ControlRef control) { change(control, [](NVControl& c) { c.enabled = false; }); }

bool IsControlVisible(ControlRef control) {
    return read(control, false, [](NVControl& c) { return c.visible; });
}

bool IsControlEnabled(ControlRef control) {
    return read(control, false, [](NVControl& c) { return c.enabled; });
}

OSStatus SetControlData(ControlRef control, ControlPartCode part, FourCharCode tag, size_t size,
                        const void* data) {
    if (!control || part != kControlEntireControl || tag != kControlStaticTextTextTag ||
        (size && !data))
        return paramErr;
    change(control, [&](NVControl& c) { c.text.assign(static_cast<const char*>(data), size); });
    return noErr;
}

OSStatus GetControlData(ControlRef control, ControlPartCode part, FourCharCode tag,
                        size_t bufferSize, void* outData, size_t* outActualSize) {
    if (!control || part != kControlEntireControl || tag != kControlStaticTextTextTag ||
        (bufferSize && !outData))
        return paramErr;
    std::lock_guard<std::mutex> hold(control->lock);
    size_t n = std::min(bufferSize, control->text.size());
    if (n)
        memcpy(outData, control->text.data(), n);
    if (outActualSize)
        *outActualSize = control->text.size();
    return noErr;
}

void SetControlMinimum(ControlRef control, int16_t minimum) {
    change(control, [=](NVControl& c) { c.minimum = minimum; });
}

void SetControlMaximum(ControlRef control, int16_t maximum) {
    change(control, [=](NVControl& c) { c.maximum = maximum; });
}

void SetControlValue(ControlRef control, int16_t value) {
    change(control, [=](NVControl& c) { c.value = value; });
}

int16_t GetControlMinimum(ControlRef control) {
    return read(control, int16_t(0), [](NVControl& c) { return c.minimum; });
}

int16_t GetControlMaximum(ControlRef control) {
    return read(control, int16_t(0), [](NVControl& c) { return c.maximum; });
}

int16_t GetControlValue(ControlRef control) {
    return read(control, int16_t(0), [](NVControl& c) { return c.value; });
}

CGImageRef CGImageCreateWithPNGData(const void* data, size_t size) {
    if (!data || !size || size > size_t(INT32_MAX))
        return nullptr;
    auto* image = new NVImage;
    if (!image->image.loadFromData(static_cast<const uchar*>(data), int(size), "PNG")) {
        delete image;
        return nullptr;
    }
    return image;
}

void CGImageRelease(CGImageRef image) { delete image; }

OSStatus HIImageViewSetImage(HIViewRef view, CGImageRef image, float alpha) {
    if (!view || !image || !NVToolkitOnGUIThread())
        return paramErr;
    auto* label = qobject_cast<QLabel*>(view->widget.data());
    if (!label)
        return paramErr;
    label->setAutoFillBackground(false);
    label->setAttribute(Qt::WA_TranslucentBackground);
    label->setPixmap(QPixmap::fromImage(image->image));
    if (alpha < 1.0f) {
        auto* effect = new QGraphicsOpacityEffect(label);
        effect->setOpacity(qreal(std::max(0.0f, alpha)));
        label->setGraphicsEffect(effect);
    } else {
        label->setGraphicsEffect(nullptr);
    }
    label->lower();
    change(view, [](NVControl& c) { c.visible = true; });
    return noErr;
}

bool HIImageViewHasImage(HIViewRef view) {
    if (!view || !view->widget || !NVToolkitOnGUIThread())
        return false;
    auto* label = qobject_cast<QLabel*>(view->widget.data());
    return label && !label->pixmap().isNull();
}
