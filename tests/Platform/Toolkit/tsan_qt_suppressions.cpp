// Qt is not built with ThreadSanitizer: its pooled painting threads synchronise through
// atomics the tool cannot see. Reports from inside Qt are not ours to act on.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libQt6Gui.so\n"
           "race:libQt6Core.so\n"
           "race:libQt6Widgets.so\n";
}
