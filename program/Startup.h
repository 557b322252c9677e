// korvamon's way from the process start to the message loop and on to its
// end, as the program entry runs it: the single-instance guard, the OPC
// server, then the application with its seven windows in their order, the
// loop, and the end. Tests run the same steps in-process. This is where the
// monitor and the OPC server meet: the monitor itself knows nothing of it.
#pragma once

#include <cstdint>
#include <string>

namespace program {

// The OPC server: its classes creatable by name, the server object with korvamon's identity, COM
// for the process (multithreaded, its security set up; a failure does not stop the program), and
// the server's class object registered. It runs once the message loop handles its first messages,
// after every window is made.
void StartOPCServer();

// The application ("DI-ZOD") and, in this order, the main window, the
// settings dialog, the history window, the about box, the UDP data module,
// the device-list dialog and the OPC provider window. The main window shows
// (and does its first showing's work) before the others exist.
void CreateProgramWindows();
// The message loop, until the main window closes.
void RunProgram();
// Shuts the OPC server down (every client told and disconnected, the class
// object revoked, calls in progress finished), frees the windows, frees the
// server, ends COM, then gives the single-instance mutex back.
void EndProgram();

// A request of a later instance: message `msg` for the window of class
// `formClass`, delivered as the window system would. Unknown classes are ignored.
void DeliverInstanceRequest(const std::string& formClass, uint32_t msg, uintptr_t wParam,
                            intptr_t lParam);

// The system asks the program to end: it closes as from its own menu.
void CloseOnRequest();
// The system ends the session (POSIX: SIGTERM): the main window is asked as
// Windows asks it (WM_QUERYENDSESSION), then told (WM_ENDSESSION) and closes.
void EndSessionOnRequest();

}  // namespace program
