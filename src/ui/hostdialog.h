// The host dialog "PROPERTY": RUN / STOP, Settings, Exit and Help above the
// effect plug-in's first property page, embedded so its parameters can be
// edited while the loop runs. Modal on the calling thread.
#pragma once

#include <windows.h>
#include <strmif.h>

// Shows the dialog for the plug-in. False at once when the plug-in offers no
// property pages; otherwise true when the dialog ended through Exit or Cancel.
bool showHostDialog(IBaseFilter* plugin);
