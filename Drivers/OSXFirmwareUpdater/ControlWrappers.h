#ifndef CONTROLWRAPPERS_H
#define CONTROLWRAPPERS_H

// One small object per window and per control. A control wrapper names its control by
// signature and id, finds it in its window on first use and keeps it; a missing window or
// control makes every operation a no-op (reads leave their target unchanged). Safe to call
// from the worker thread: the toolkit keeps each control's values and hands widget changes
// to the GUI thread.

#include "nvtoolkit.h"

class NVString;

class CWindow {
public:
    CWindow();
    virtual ~CWindow();

    WindowRef getWindow() const { return mWindow; }
    void SetWindowText(const char* text);   // null counts as ""
    void GetWindowText(NVString& text);     // "" without a window

protected:
    WindowRef mWindow;
};

class CControl {
public:
    CControl(CWindow* parent, unsigned long signature, long id);
    virtual ~CControl();

    bool init();
    void ShowWindow(bool show);
    void EnableWindow(bool enable);
    void SetWindowText(const char* text);
    void GetWindowText(NVString& text);     // at most 255 bytes
    void SetFocus();                        // binds only; the keyboard focus stays
    void lockText(bool lock) { mTextLocked = lock; }

protected:
    ControlRef mControl;
    ControlID mID;
    CWindow* mParent;
    bool mTextLocked;
};

class CButton : public CControl {
public:
    CButton(CWindow* parent, long id) : CControl(parent, NVFourCC("push"), id) {}
    ~CButton() override {}
};

class CComboBox : public CControl {
public:
    CComboBox(CWindow* parent, long id) : CControl(parent, NVFourCC("popb"), id) {}
    ~CComboBox() override {}
};

class CProgressCtrl : public CControl {
public:
    CProgressCtrl(CWindow* parent, long id) : CControl(parent, NVFourCC("prgb"), id) {}
    ~CProgressCtrl() override {}

    // The control takes 16-bit signed values: each argument keeps its low 16 bits.
    void SetRange(int min, int max);
    void SetPos(int pos);
};

class CStatic : public CControl {
public:
    CStatic(CWindow* parent, long id) : CControl(parent, NVFourCC("stxt"), id) {}
    ~CStatic() override {}
};

#endif
