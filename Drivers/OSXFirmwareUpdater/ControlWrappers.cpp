#include "ControlWrappers.h"

#include <cstring>

#include "nvstring.h"

CWindow::CWindow() : mWindow(nullptr) {}

CWindow::~CWindow() {}

void CWindow::SetWindowText(const char* text) {
    if (!mWindow)
        return;
    NVString title(text ? text : "");
    unsigned char counted[256] = {0};
    title.toStr255(counted);
    SetWTitle(mWindow, counted);
}

void CWindow::GetWindowText(NVString& text) {
    if (!mWindow) {
        text.assign("");
        return;
    }
    unsigned char counted[256] = {0};
    GetWTitle(mWindow, counted);
    text.asString(counted);
}

CControl::CControl(CWindow* parent, unsigned long signature, long id)
    : mControl(nullptr), mID{FourCharCode(signature), int32_t(id)}, mParent(parent),
      mTextLocked(false) {}

CControl::~CControl() {}

bool CControl::init() {
    if (mControl)
        return true;
    if (!mParent || !mParent->getWindow())
        return false;
    ControlRef found = nullptr;
    if (GetControlByID(mParent->getWindow(), &mID, &found) != noErr)
        return false;
    mControl = found;
    return mControl != nullptr;
}

void CControl::ShowWindow(bool show) {
    if (!init())
        return;
    if (show)
        ShowControl(mControl);
    else
        HideControl(mControl);
}

void CControl::EnableWindow(bool enable) {
    if (!init())
        return;
    if (enable)
        EnableControl(mControl);
    else
        DisableControl(mControl);
}

void CControl::SetWindowText(const char* text) {
    if (!init() || mTextLocked)
        return;
    if (!text)
        text = "";
    SetControlData(mControl, kControlEntireControl, kControlStaticTextTextTag, strlen(text), text);
}

void CControl::GetWindowText(NVString& text) {
    if (!init())
        return;
    char buffer[256];
    memset(buffer, 0, sizeof(buffer));
    GetControlData(mControl, kControlEntireControl, kControlStaticTextTextTag, 255, buffer,
                   nullptr);
    text.assign(buffer);
}

void CControl::SetFocus() { init(); }

void CProgressCtrl::SetRange(int min, int max) {
    if (!init())
        return;
    SetControlMinimum(mControl, int16_t(uint16_t(min)));
    SetControlMaximum(mControl, int16_t(uint16_t(max)));
}

void CProgressCtrl::SetPos(int pos) {
    if (!init())
        return;
    SetControlValue(mControl, int16_t(uint16_t(pos)));
}
