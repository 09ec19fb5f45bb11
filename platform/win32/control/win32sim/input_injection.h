// Test controls of the program's own input: the messages posted to windows.
#pragma once

#include "win32sim/messages.h"

namespace win32sim {

// Every message PostMessageW accepted, in order (the latest 10000).
std::vector<SentMessage> postedMessages();
void clearPostedMessages();

} // namespace win32sim
