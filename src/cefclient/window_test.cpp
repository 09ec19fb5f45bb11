#include "cefclient/window_test.h"

namespace window_test {

void CreateMessageHandlers(ClientHandler::MessageHandlerSet& /*handlers*/) {}

} // namespace window_test
