#pragma once

class MessageReceiver;
class TesterPort;

// Fetches the whole test record over an open port and posts the nine result messages to `window`
// in the window's layout order: date, battery, grounding, starter, avg2K, charging3K, charging2K,
// registration number, capacity. Every message is posted, also when its exchanges failed or the
// device went away, except after a stop request: then the query ends at once and posts no more.
void runTesterQuery(TesterPort &port, MessageReceiver &window);
