// The page query handler: window requests answered here, every other query forwarded to the
// current view.
#pragma once

#include "cefclient/client_handler.h"

namespace window_test {

// Adds this module's query handler to handlers (owned by the set's holder from then on).
void CreateMessageHandlers(ClientHandler::MessageHandlerSet& handlers);

} // namespace window_test
