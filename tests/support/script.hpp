#ifndef VANTREL_TESTS_SCRIPT_HPP
#define VANTREL_TESTS_SCRIPT_HPP

/// The script that the scripted builds of the tool follow instead of the
/// network: VANTREL_SCRIPT holds comma-separated "call=value" items.
///   startup=CODE   the start-up fails with CODE
///   socket=CODE    socket creation fails with CODE
///   connect=CODE   the connect fails with CODE
///   send=COUNT     the send returns COUNT (-1 for a failure)
///   receive=COUNT  the receive returns COUNT, echoing what was sent
/// Calls not named succeed; an unscripted receive reports the peer closed.

/// True, with the value, when the script names `call`.
bool scripted(const char* call, long& value);

/// Logs a call on standard error, one a line, so that a test can check what
/// was called and in which order.
void logCall(const char* call);

#endif
