#ifndef NVTOOLKIT_H
#define NVTOOLKIT_H

// The window toolkit the applications are written against, on Qt 6 Widgets.
//
// A window description is a Qt Designer .ui file in the bundle's resources, loaded at run
// time. Its top-level widget is the window; a menu bar and the controls are found by object
// name. A control's key is its object name "sign:id" (for example "push:3"). A button or a
// menu action that carries a "command" property issues that four-character command to its
// window when triggered.
//
// Every window and control keeps the values last set (text, title, enabled, shown, range,
// value) as its own record. Setters may be called from any thread: on the GUI thread the
// widget follows at once, from another thread the widget is brought up to date from the
// record on the GUI thread, so the widget always ends on the value set last. Getters read
// the record and never wait for the GUI thread. Everything else is for the GUI thread only.
//
// Nothing here throws; failures are statuses (noErr is 0) or null.

#include <cstddef>
#include <cstdint>

using OSStatus = int32_t;
using FourCharCode = uint32_t;

enum : OSStatus {
    noErr = 0,
    eventNotHandledErr = -9874,
    eventParameterNotFoundErr = -9870,
    errUnknownControl = -30584,
    paramErr = -50,
    resNotFound = -192,
};

// 'abcd' style constants without multi-character literals.
constexpr FourCharCode NVFourCC(const char (&c)[5]) {
    return (FourCharCode(uint8_t(c[0])) << 24) | (FourCharCode(uint8_t(c[1])) << 16) |
           (FourCharCode(uint8_t(c[2])) << 8) | FourCharCode(uint8_t(c[3]));
}

struct NVNib;
struct NVWindow;
struct NVControl;
struct NVEvent;
struct NVEventHandler;
struct NVEventLoopTimer;
struct NVImage;
struct NVEventHandlerCall;

using IBNibRef = NVNib*;
using WindowRef = NVWindow*;
using ControlRef = NVControl*;
using HIViewRef = NVControl*;
using EventRef = NVEvent*;
using EventHandlerRef = NVEventHandler*;
using EventHandlerCallRef = NVEventHandlerCall*;
using EventLoopTimerRef = NVEventLoopTimer*;
using CGImageRef = NVImage*;
using ControlPartCode = int16_t;

struct ControlID {
    FourCharCode signature;
    int32_t id;
};

// The command record that a command event carries as its direct object.
struct HICommand {
    uint32_t attributes;
    uint32_t commandID;
    void* menuRef;
    uint16_t menuItemIndex;
};

constexpr FourCharCode kEventClassCommand = NVFourCC("cmds");
constexpr FourCharCode kEventClassWindow = NVFourCC("wind");
constexpr uint32_t kEventCommandProcess = 1;
constexpr uint32_t kEventWindowClosed = 73;
constexpr FourCharCode kEventParamDirectObject = NVFourCC("----");
constexpr FourCharCode typeHICommand = NVFourCC("hcmd");
constexpr FourCharCode kControlEditTextCFStringTag = NVFourCC("text");
constexpr FourCharCode kControlStaticTextTextTag = NVFourCC("text");
constexpr ControlPartCode kControlEntireControl = 0;

struct EventTypeSpec {
    FourCharCode eventClass;
    uint32_t eventKind;
};

using EventHandlerProcPtr = OSStatus (*)(EventHandlerCallRef, EventRef, void* userData);
using EventLoopTimerProcPtr = void (*)(EventLoopTimerRef, void* userData);

// --- application ------------------------------------------------------------------------

// Makes the application object when there is none yet (with the process's own arguments);
// the window does not quit the application when it closes. Every call below does this too.
void NVToolkitInit();
// True when the event loop also dispatches GLib sources (the run loop of the driver API).
bool NVToolkitLoopDispatchesGLib();
// The name of the event dispatcher in use, for messages.
const char* NVToolkitDispatcherName();

// Calls `handler` on the event loop when the process gets SIGINT, SIGTERM or SIGHUP, instead
// of the process ending on the spot.
void NVToolkitOnTerminationSignal(void (*handler)(void* userData), void* userData);

void RunApplicationEventLoop();
void QuitApplicationEventLoop();

// Event-loop timer on the main loop: first after `delay` seconds, then every `interval`
// seconds (0: once).
OSStatus InstallEventLoopTimer(double delay, double interval, EventLoopTimerProcPtr proc,
                               void* userData, EventLoopTimerRef* outTimer);
OSStatus RemoveEventLoopTimer(EventLoopTimerRef timer);

// --- window descriptions ----------------------------------------------------------------

// Loads the description `name` (the resource name.ui of the main bundle).
OSStatus CreateNibReference(const char* name, IBNibRef* outNib);
// Checks that the description holds a menu bar of that name; it stays with its window.
OSStatus SetMenuBarFromNib(IBNibRef nib, const char* name);
// Takes the window of that name out of the description.
OSStatus CreateWindowFromNib(IBNibRef nib, const char* name, WindowRef* outWindow);
void DisposeNibReference(IBNibRef nib);

// --- windows ----------------------------------------------------------------------------

void ShowWindow(WindowRef window);
void CloseWindow(WindowRef window);           // as the user closing it
bool IsWindowVisible(WindowRef window);
// Title as a counted string (first byte the length).
void SetWTitle(WindowRef window, const unsigned char* title);
void GetWTitle(WindowRef window, unsigned char* title);  // 256 bytes
// Repaints every control of the window.
void Draw1Control(ControlRef control);
void DrawControls(WindowRef window);
// Saves the window as it looks now to a PNG file.
bool NVWindowSaveImage(WindowRef window, const char* path);

// --- events -----------------------------------------------------------------------------

// Handlers of a window run in the order they were installed; the first that does not
// return eventNotHandledErr ends the dispatch.
OSStatus InstallWindowEventHandler(WindowRef window, EventHandlerProcPtr handler,
                                   uint32_t numTypes, const EventTypeSpec* types,
                                   void* userData, EventHandlerRef* outRef);
OSStatus RemoveEventHandler(EventHandlerRef handler);

// A command event; `withCommand` false makes one without the command record.
EventRef NVCreateCommandEvent(uint32_t commandID, bool withCommand = true);
EventRef NVCreateEvent(FourCharCode eventClass, uint32_t eventKind);
void ReleaseEvent(EventRef event);
OSStatus GetEventParameter(EventRef event, FourCharCode name, FourCharCode type,
                           FourCharCode* outActualType, size_t bufferSize, size_t* outActualSize,
                           void* outData);
// Runs the window's handler chain for the event; eventNotHandledErr when none handled it.
OSStatus SendEventToWindow(EventRef event, WindowRef window);
// A command to the window, as its buttons and menu items send it.
OSStatus NVSendCommand(WindowRef window, uint32_t commandID);

// --- controls ---------------------------------------------------------------------------

OSStatus GetControlByID(WindowRef window, const ControlID* id, ControlRef* outControl);
void ShowControl(ControlRef control);
void HideControl(ControlRef control);
void EnableControl(ControlRef control);
void DisableControl(ControlRef control);
bool IsControlVisible(ControlRef control);
bool IsControlEnabled(ControlRef control);
// Tag "text" of the whole control: the text's bytes, without a terminating zero.
OSStatus SetControlData(ControlRef control, ControlPartCode part, FourCharCode tag,
                        size_t size, const void* data);
OSStatus GetControlData(ControlRef control, ControlPartCode part, FourCharCode tag,
                        size_t bufferSize, void* outData, size_t* outActualSize);
void SetControlMinimum(ControlRef control, int16_t minimum);
void SetControlMaximum(ControlRef control, int16_t maximum);
void SetControlValue(ControlRef control, int16_t value);
int16_t GetControlMinimum(ControlRef control);
int16_t GetControlMaximum(ControlRef control);
int16_t GetControlValue(ControlRef control);

// --- images -----------------------------------------------------------------------------

// Decodes PNG data; null when it is not a PNG picture.
CGImageRef CGImageCreateWithPNGData(const void* data, size_t size);
void CGImageRelease(CGImageRef image);
// Gives the image to an image view, non-opaque with that alpha, below its siblings, shown.
OSStatus HIImageViewSetImage(HIViewRef view, CGImageRef image, float alpha);
bool HIImageViewHasImage(HIViewRef view);

#endif
