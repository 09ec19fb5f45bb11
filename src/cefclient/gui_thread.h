// Work that belongs to the Qt GUI thread (widgets, desktop services, the main window's files),
// handed there from the runtime's threads.
#pragma once

#include <functional>

namespace cefclient {

// Runs fn on the GUI thread: at once when called there, else in a later turn of its event loop.
// Dropped when there is no application.
void RunOnGuiThread(std::function<void()> fn);
// Always in a later turn of the GUI thread's event loop, also when called there.
void PostToGuiThread(std::function<void()> fn);

} // namespace cefclient
